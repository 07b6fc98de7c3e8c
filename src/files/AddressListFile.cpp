#include "files/AddressListFile.h"

#include "files/TextFile.h"

#include <new>

namespace AddressListFile {

namespace {

// Collects the lines of a file up to its first zero byte.
class Collector {
public:
    // False once the text has ended or holds too many lines.
    bool Take(QByteArrayView piece) {
        const qsizetype zero = piece.indexOf('\0');
        ended = zero >= 0;
        lines.Feed(ended ? piece.first(zero) : piece, [this](QByteArrayView line) { Add(line); });
        return !ended && !tooMany;
    }
    void Finish() {
        lines.Finish([this](QByteArrayView line) { Add(line); });
    }

    QStringList entries;
    bool tooMany = false;

private:
    void Add(QByteArrayView line) {
        if (entries.size() == MaxEntries)
            tooMany = true;
        else
            entries << files::DecodeTextLine(line);
    }

    files::LineSplitter lines;
    bool ended = false;
};

} // namespace

QStringList Parse(const QByteArray& bytes) {
    Collector collector;
    collector.Take(bytes);
    collector.Finish();
    return collector.entries;
}

QByteArray Format(const QStringList& entries) {
    QByteArray out;
    for (const QString& entry : entries) {
        out += files::EncodeTextLine(entry);
        out += "\r\n";
    }
    return out;
}

files::LoadStatus Read(const QString& path, QStringList& entries, QString& error,
                       files::LoadControl* control) {
    try {
        Collector collector;
        const files::LoadStatus status = files::ReadPieces(
            path, control, [&](QByteArrayView piece) { return collector.Take(piece); }, error);
        if (status != files::LoadStatus::Done)
            return status;
        collector.Finish();
        if (collector.tooMany) {
            error = files::FileReadError(
                path, QStringLiteral("It holds more than %L1 lines, more than this program loads.")
                          .arg(MaxEntries));
            return files::LoadStatus::Failed;
        }
        entries = std::move(collector.entries);
        return files::LoadStatus::Done;
    } catch (const std::bad_alloc&) {
        error = files::FileReadError(path, files::OutOfMemoryReason());
        return files::LoadStatus::Failed;
    }
}

bool Write(const QString& path, const QStringList& entries, QString& error) {
    return files::WriteFileReplacing(path, Format(entries), error);
}

} // namespace AddressListFile

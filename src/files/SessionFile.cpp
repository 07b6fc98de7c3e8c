#include "files/SessionFile.h"

#include "files/IniFile.h"
#include "files/TextFile.h"

#include <new>

namespace files {

namespace {

// Builds the entries from the sections and entry lines of a file.
class Builder : public IniFile::Sink {
public:
    void Section(QString name) override {
        if (entries.size() == SessionFile::MaxEntries) {
            tooMany = true;
            return;
        }
        entries.append({std::move(name), std::nullopt});
    }
    void Entry(QString key, QString value) override {
        if (key.isEmpty() || tooMany)
            return;
        if (++lineCount > SessionFile::MaxLines) {
            tooMany = true;
            return;
        }
        std::optional<QStringList>& lines = entries.back().lines;
        if (!lines)
            lines.emplace();
        lines->append(std::move(value));
    }

    QList<SessionFile::Entry> entries;
    qsizetype lineCount = 0;
    bool tooMany = false;
};

} // namespace

IniFile SessionFile::ToIni(const QList<Entry>& entries) {
    IniFile file;
    file.sections.reserve(entries.size());
    QStringList keys; // shared by every section instead of made again for each line
    for (const Entry& entry : entries) {
        IniFile::Section section{entry.address, {}};
        if (entry.lines && !entry.lines->isEmpty()) {
            section.entries.reserve(entry.lines->size());
            for (qsizetype j = 0; j < entry.lines->size(); ++j) {
                if (j == keys.size())
                    keys.append(QString::number(j));
                section.entries.append({keys[j], entry.lines->at(j)});
            }
        } else {
            section.entries.append({QString(), QString()});
        }
        file.sections.append(std::move(section));
    }
    return file;
}

QList<SessionFile::Entry> SessionFile::FromIni(const IniFile& file) {
    Builder builder;
    for (const IniFile::Section& section : file.sections) {
        builder.Section(section.name);
        for (const IniFile::Entry& line : section.entries)
            builder.Entry(line.key, line.value);
    }
    return std::move(builder.entries);
}

bool SessionFile::Write(const QString& path, const QList<Entry>& entries, QString& error) {
    return ToIni(entries).Write(path, error);
}

LoadStatus SessionFile::Read(const QString& path, QList<Entry>& entries, QString& error,
                             LoadControl* control) {
    try {
        Builder builder;
        IniFile::Reader reader(builder);
        const LoadStatus status = ReadPieces(
            path, control,
            [&](QByteArrayView piece) {
                reader.Feed(piece);
                return !builder.tooMany;
            },
            error);
        if (status != LoadStatus::Done)
            return status;
        reader.Finish();
        if (builder.tooMany) {
            error = FileReadError(
                path, QStringLiteral("It holds more than %L1 addresses or %L2 result lines, more "
                                     "than this program loads.")
                          .arg(MaxEntries)
                          .arg(MaxLines));
            return LoadStatus::Failed;
        }
        entries = std::move(builder.entries);
        return LoadStatus::Done;
    } catch (const std::bad_alloc&) {
        error = FileReadError(path, OutOfMemoryReason());
        return LoadStatus::Failed;
    }
}

} // namespace files

#include "files/SessionFile.h"

#include "files/IniFile.h"
#include "files/TextFile.h"

#include <new>

namespace files {

namespace {

// Builds the entries from the sections and entry lines of a file, handing
// each over when it is complete, its list of lines cut to its size.
class Builder : public IniFile::Sink {
public:
    explicit Builder(const std::function<void(SessionFile::Entry&&)>& take) : take(take) {}

    void Section(QString name) override {
        if (count == SessionFile::MaxEntries) {
            tooMany = true;
            return;
        }
        Close();
        ++count;
        current.emplace(SessionFile::Entry{std::move(name), std::nullopt});
    }
    void Entry(QString key, QString value) override {
        if (key.isEmpty() || tooMany)
            return;
        if (++lineCount > SessionFile::MaxLines) {
            tooMany = true;
            return;
        }
        std::optional<QStringList>& lines = current->lines;
        if (!lines)
            lines.emplace();
        lines->append(std::move(value));
    }
    // Hands over the entry being built, if any.
    void Close() {
        if (!current)
            return;
        if (current->lines)
            current->lines->squeeze();
        take(std::move(*current));
        current.reset();
    }

    bool tooMany = false;

private:
    const std::function<void(SessionFile::Entry&&)>& take;
    std::optional<SessionFile::Entry> current;
    qsizetype count = 0;
    qsizetype lineCount = 0;
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
    QList<Entry> entries;
    const std::function<void(Entry &&)> take = [&entries](Entry&& entry) {
        entries.append(std::move(entry));
    };
    Builder builder(take);
    for (const IniFile::Section& section : file.sections) {
        builder.Section(section.name);
        for (const IniFile::Entry& line : section.entries)
            builder.Entry(line.key, line.value);
    }
    builder.Close();
    return entries;
}

bool SessionFile::Write(const QString& path, const QList<Entry>& entries, QString& error) {
    return ToIni(entries).Write(path, error);
}

LoadStatus SessionFile::Read(const QString& path, QList<Entry>& entries, QString& error,
                             LoadControl* control) {
    QList<Entry> read;
    const LoadStatus status = Read(
        path, [&read](Entry&& entry) { read.append(std::move(entry)); }, error, control);
    if (status == LoadStatus::Done)
        entries = std::move(read);
    return status;
}

LoadStatus SessionFile::Read(const QString& path, const std::function<void(Entry&&)>& take,
                             QString& error, LoadControl* control) {
    try {
        Builder builder(take);
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
        builder.Close();
        if (builder.tooMany) {
            error = FileReadError(
                path, QStringLiteral("It holds more than %L1 addresses or %L2 result lines, more "
                                     "than this program loads.")
                          .arg(MaxEntries)
                          .arg(MaxLines));
            return LoadStatus::Failed;
        }
        return LoadStatus::Done;
    } catch (const std::bad_alloc&) {
        error = FileReadError(path, OutOfMemoryReason());
        return LoadStatus::Failed;
    }
}

} // namespace files

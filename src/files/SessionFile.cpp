#include "files/SessionFile.h"

#include "files/IniFile.h"
#include "files/TextFile.h"

#include <new>

namespace files {

namespace {

void addLine(std::optional<QStringList>& lines, const IniFile::Text& line) {
    if (!lines)
        lines.emplace();
    lines->append(line.ToString());
}

void addLine(std::optional<QString>& joined, const IniFile::Text& line) {
    if (!joined) {
        joined.emplace(line.ToString());
    } else {
        joined->append(u'\n');
        line.AppendTo(*joined);
    }
}

// Adds a watched path read from the head, unless it is empty, a repeat or
// one too many.
void addPathWatch(QStringList& pathWatches, const QString& key, QString value) {
    if (key != QLatin1String(SessionFile::PathWatchKey) || value.isEmpty() ||
        pathWatches.size() >= SessionFile::MaxPathWatches || pathWatches.contains(value))
        return;
    pathWatches.append(std::move(value));
}

// Builds the entries (SessionFile::Entry or JoinedEntry) from the sections
// and entry lines of a file, handing each over when it is complete, its
// lines cut to their size.
template <class Item> class Builder : public IniFile::Sink {
public:
    explicit Builder(const std::function<void(Item&&)>& take) : take(take) {}

    void Section(QString name) override {
        if (count == SessionFile::MaxEntries) {
            tooMany = true;
            return;
        }
        Close();
        ++count;
        current.emplace(Item{std::move(name), std::nullopt});
    }
    void Entry(const IniFile::Text& key, const IniFile::Text& value) override {
        if (key.IsEmpty() || tooMany)
            return;
        if (++lineCount > SessionFile::MaxLines) {
            tooMany = true;
            return;
        }
        addLine(current->lines, value);
    }
    void HeadEntry(const IniFile::Text& key, const IniFile::Text& value) override {
        addPathWatch(pathWatches, key.ToString(), value.ToString());
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
    QStringList pathWatches;

private:
    const std::function<void(Item&&)>& take;
    std::optional<Item> current;
    qsizetype count = 0;
    qsizetype lineCount = 0;
};

template <class Item>
LoadStatus read(const QString& path, const std::function<void(Item&&)>& take, QString& error,
                LoadControl* control, QStringList* pathWatches) {
    try {
        Builder<Item> builder(take);
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
                          .arg(SessionFile::MaxEntries)
                          .arg(SessionFile::MaxLines));
            return LoadStatus::Failed;
        }
        if (pathWatches)
            *pathWatches = std::move(builder.pathWatches);
        return LoadStatus::Done;
    } catch (const std::bad_alloc&) {
        error = FileReadError(path, OutOfMemoryReason());
        return LoadStatus::Failed;
    }
}

} // namespace

IniFile SessionFile::ToIni(const QList<Entry>& entries, const QStringList& pathWatches) {
    IniFile file;
    for (const QString& entry : pathWatches)
        file.head.append({QLatin1String(PathWatchKey), entry});
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
    entries.reserve(file.sections.size());
    for (const IniFile::Section& section : file.sections) {
        Entry entry{section.name, std::nullopt};
        for (const IniFile::Entry& line : section.entries) {
            if (line.key.isEmpty())
                continue;
            if (!entry.lines)
                entry.lines.emplace();
            entry.lines->append(line.value);
        }
        entries.append(std::move(entry));
    }
    return entries;
}

QStringList SessionFile::PathWatchesOf(const IniFile& file) {
    QStringList pathWatches;
    for (const IniFile::Entry& entry : file.head)
        addPathWatch(pathWatches, entry.key, entry.value);
    return pathWatches;
}

bool SessionFile::Write(const QString& path, const QList<Entry>& entries, QString& error) {
    return ToIni(entries).Write(path, error);
}

bool SessionFile::Write(const QString& path, const QList<Entry>& entries,
                        const QStringList& pathWatches, QString& error) {
    return ToIni(entries, pathWatches).Write(path, error);
}

LoadStatus SessionFile::Read(const QString& path, QList<Entry>& entries, QString& error,
                             LoadControl* control, QStringList* pathWatches) {
    QList<Entry> read;
    QStringList watches;
    const LoadStatus status = files::read<Entry>(
        path, [&read](Entry&& entry) { read.append(std::move(entry)); }, error, control, &watches);
    if (status == LoadStatus::Done) {
        entries = std::move(read);
        if (pathWatches)
            *pathWatches = std::move(watches);
    }
    return status;
}

LoadStatus SessionFile::ReadJoined(const QString& path,
                                   const std::function<void(JoinedEntry&&)>& take, QString& error,
                                   LoadControl* control, QStringList* pathWatches) {
    return files::read<JoinedEntry>(path, take, error, control, pathWatches);
}

} // namespace files

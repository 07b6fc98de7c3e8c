#include "files/SessionFile.h"

#include "files/IniFile.h"

#include <QHash>

namespace files {

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
    entries.reserve(file.sections.size());
    QHash<QString, qsizetype> indexOf;
    indexOf.reserve(file.sections.size());
    for (const IniFile::Section& section : file.sections) {
        if (section.name.isEmpty())
            continue;
        const QString folded = section.name.toCaseFolded();
        auto found = indexOf.constFind(folded);
        if (found == indexOf.constEnd()) {
            found = indexOf.insert(folded, entries.size());
            entries.append(Entry{section.name, std::nullopt});
        }
        Entry& entry = entries[*found];
        for (const IniFile::Entry& line : section.entries) {
            if (line.key.isEmpty())
                continue;
            if (!entry.lines) {
                entry.lines.emplace();
                entry.lines->reserve(section.entries.size());
            }
            entry.lines->append(line.value);
        }
    }
    return entries;
}

bool SessionFile::Write(const QString& path, const QList<Entry>& entries, QString& error) {
    return ToIni(entries).Write(path, error);
}

bool SessionFile::Read(const QString& path, QList<Entry>& entries, QString& error) {
    IniFile file;
    if (!IniFile::Read(path, file, error))
        return false;
    entries = FromIni(file);
    return true;
}

} // namespace files

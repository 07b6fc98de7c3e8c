#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace files {

class IniFile;

// A session file: one section per address, one "%d=line" entry per result
// line, the single line "=" for an address without results.
class SessionFile {
public:
    struct Entry {
        QString address;
        // No value: the address has never been run (no result lines at all).
        std::optional<QStringList> lines;
        bool operator==(const Entry&) const = default;
    };

    // The file for the entries, in the order given.
    static IniFile ToIni(const QList<Entry>& entries);
    // The entries of a file, in the order their sections first appear.
    // Sections whose names differ only in case are one address, with the
    // lines of all of them in file order; every keyed entry is one line, in
    // file order, whatever its key (a key that repeats loses nothing); an
    // entry without key yields no line; a section without a name is skipped.
    static QList<Entry> FromIni(const IniFile& file);

    static bool Write(const QString& path, const QList<Entry>& entries, QString& error);
    static bool Read(const QString& path, QList<Entry>& entries, QString& error);
};

} // namespace files

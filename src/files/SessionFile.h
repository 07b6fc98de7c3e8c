#pragma once

#include "files/FileReader.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace files {

class IniFile;

// A session file: one section per address, one "%d=line" entry per result
// line, the single line "=" for an address without results. Before the
// first section, one "PathWatch=address" line for each entry whose path was
// being watched.
//
// The watched paths are not a section of their own: every section of a
// session file is an entry of the list, so a program that knows no watched
// paths would load such a section as one more address. Lines before the
// first section, by contrast, have always been skipped by the reader, so a
// file with them loads in such a program as it would without them.
class SessionFile {
public:
    struct Entry {
        QString address;
        // No value: the address has never been run (no result lines at all).
        std::optional<QStringList> lines;
        bool operator==(const Entry&) const = default;
    };

    // What one file may hold; a file with more is refused whole, so that
    // memory stays bounded by the file's size.
    static constexpr qsizetype MaxEntries = 1'000'000;
    static constexpr qsizetype MaxLines = 64'000'000;
    // Watched paths beyond this many are not read: each opens a window.
    static constexpr qsizetype MaxPathWatches = 32;
    static constexpr const char* PathWatchKey = "PathWatch";

    // The file for the entries, in the order given, and the entries whose
    // path is watched.
    static IniFile ToIni(const QList<Entry>& entries, const QStringList& pathWatches = {});
    // The watched paths of a file, in file order, without empty or repeated
    // ones, at most MaxPathWatches.
    static QStringList PathWatchesOf(const IniFile& file);
    // The entries of a file: every section is one entry, in file order, with
    // the lines of its own section, also when its name repeats (in any case)
    // or is empty. Every keyed entry is one line, in file order, whatever its
    // key (a key that repeats loses nothing); an entry without key yields no
    // line.
    static QList<Entry> FromIni(const IniFile& file);

    static bool Write(const QString& path, const QList<Entry>& entries, QString& error);
    static bool Write(const QString& path, const QList<Entry>& entries,
                      const QStringList& pathWatches, QString& error);
    // Reads the file at path piece by piece (see ReadPieces), checking
    // control between pieces. On anything but Done, entries (and
    // pathWatches) are left alone; on Failed, error names the file and the
    // reason. pathWatches, when given, receives the watched paths.
    static LoadStatus Read(const QString& path, QList<Entry>& entries, QString& error,
                           LoadControl* control = nullptr, QStringList* pathWatches = nullptr);
    // An entry with its lines joined into one text, separated by LF (a line
    // read from a file never holds one).
    struct JoinedEntry {
        QString address;
        std::optional<QString> lines;
    };
    // The same as Read, handing each entry to take as soon as its section
    // is complete, so that no list of all entries nor of each entry's lines
    // is needed. On anything but Done, what take was given must be dropped.
    static LoadStatus ReadJoined(const QString& path,
                                 const std::function<void(JoinedEntry&&)>& take, QString& error,
                                 LoadControl* control = nullptr,
                                 QStringList* pathWatches = nullptr);
};

} // namespace files

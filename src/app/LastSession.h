#pragma once

#include "files/SessionFile.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <utility>

class Tfm_ns;

// What a start at login brings back of the program as it was left: the
// address list with each entry's results and the entries whose path is
// watched, kept as an ordinary session file,
// and beside it the automatic mode's command, the selected entry and the
// option values the mode runs with. Both live in the program's data folder;
// the session file is one the user may also open.
class LastSession {
public:
    // folder: where both files go (created when saving).
    explicit LastSession(QString folder);
    // The program's data folder ($XDG_DATA_HOME/Netsonde).
    static QString DefaultFolder();

    QString SessionPath() const;
    QString StatePath() const;

    // What is kept of the window, taken on the window thread and written
    // on any thread.
    struct Snapshot {
        QList<files::SessionFile::Entry> entries;
        QStringList watched;
        QString command;
        QString selected; // empty: none
        bool resolve = false;
        QList<std::pair<QString, QString>> options; // key, field text
    };
    static Snapshot Take(const Tfm_ns& window);
    // Writes both files, each replaced whole or not at all; false with a
    // text for the user when one of them cannot be written. Safe on any
    // thread, one write at a time.
    bool Write(const Snapshot& snapshot, QString& error) const;
    // Take and Write at once.
    bool Save(const Tfm_ns& window, QString& error) const;
    // Called at the start of every Write, on the writing thread.
    static void SetWriteObserverForTests(std::function<void()> observer);
    // Makes the window what it was: the list from the session file (with the
    // load's own message when the file cannot be read), the options, the
    // selected entry and the automatic mode, which starts with one run at
    // once as from its menu. Missing files leave the window as it is.
    void Restore(Tfm_ns& window) const;

private:
    QString FFolder;
};

#pragma once

#include <QString>

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

    // Writes both files from the window; false with a text for the user
    // when one of them cannot be written.
    bool Save(const Tfm_ns& window, QString& error) const;
    // Makes the window what it was: the list from the session file (with the
    // load's own message when the file cannot be read), the options, the
    // selected entry and the automatic mode, which starts with one run at
    // once as from its menu. Missing files leave the window as it is.
    void Restore(Tfm_ns& window) const;

private:
    QString FFolder;
};

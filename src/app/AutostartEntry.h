#pragma once

#include <QString>

// The entry in the user's autostart folder that starts Netsonde at login
// in the notification area, with the last session and its automatic mode
// (see LastSession). The entry runs the program with StartFlag set in its
// environment; the command line stays what it is, a file at most.
class AutostartEntry {
public:
    // The environment variable that marks a start from the entry.
    static constexpr const char* StartFlag = "NETSONDE_AUTOSTART";

    // netsonde.desktop in $XDG_CONFIG_HOME/autostart (by default
    // ~/.config/autostart).
    static QString Path();
    static bool Exists();
    // The entry's text for the program at programPath, quoted as the
    // desktop entry format asks.
    static QString Text(const QString& programPath);
    // Writes the entry (replacing an earlier one whole) or removes it;
    // false with a text for the user when that failed. Removing an entry
    // that is not there succeeds.
    static bool Write(const QString& programPath, QString& error);
    static bool Remove(QString& error);
};

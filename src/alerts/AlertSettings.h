#pragma once

#include "alerts/HostStates.h"

#include <QString>

namespace alerts {

// The user's choices for the watch over hosts in the automatic mode.
struct AlertSettings {
    Limits Thresholds;
    bool Sounds = true;  // play a clip when hosts change state
    bool Notices = true; // send a desktop notice when hosts change state
    // Watched paths: a notice (and sound, and tray mark) when a route
    // changes, and when forwarded loss from a hop begins or ends.
    bool PathChanges = true;
    bool PathLoss = true;

    bool operator==(const AlertSettings& o) const;

    // The allowed range of each number; 0 switches the degraded tests off.
    static constexpr int MaxFailures = 99;
    static constexpr int MaxAnswers = 99;
    static constexpr int MaxRttLimitMs = 60000;
    static constexpr int MaxBaselineFactor = 100;
    static constexpr int MaxLossWindow = 1000;

    // Reads the settings file at path. Missing keys take their defaults;
    // values that are not numbers or lie outside their range are replaced
    // by the default or the nearest allowed value, never kept.
    static AlertSettings Load(const QString& path);
    // Writes the settings file, creating its folder; false when it could not
    // be written.
    bool Save(const QString& path) const;

    // alerts.conf in the user's configuration folder for the program
    // ($XDG_CONFIG_HOME/Netsonde, by default ~/.config/Netsonde).
    static QString DefaultPath();
};

} // namespace alerts

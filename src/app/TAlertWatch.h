#pragma once

#include "alerts/AlertSettings.h"
#include "alerts/HostStates.h"
#include "alerts/PathAlerts.h"

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QVector>
#include <functional>

class TTrayIcon;

namespace history {
struct RunRecord;
class THistoryStore;
} // namespace history

// The watch over the hosts of the automatic mode: every automatic run goes
// into the host states, and at the end of each round the hosts whose state
// changed make one desktop notice and one sound; the tray icon wears the
// worst state of all hosts after each round: a red mark while one is down,
// an amber one while one is degraded. The settings come from a
// file and go back to it whenever they are changed.
class TAlertWatch : public QObject {
    Q_OBJECT
public:
    explicit TAlertWatch(const QString& settingsPath, QObject* owner = nullptr);
    // Gives the tray icon its unmarked picture back.
    ~TAlertWatch() override;

    const alerts::AlertSettings& Settings() const { return FSettings; }
    // Takes new settings into use at once and saves them; false when they
    // could not be saved (they are in use all the same).
    bool Apply(const alerts::AlertSettings& settings);

    const alerts::THostStates& States() const { return FStates; }

    // A run has ended and been recorded. Only automatic runs count; a
    // cancelled run says nothing about its host. Every automatic command
    // but Check All is a round of one run.
    void RunEnded(const history::RunRecord& record);
    // An automatic Check All has been through every entry.
    void RoundEnded();

    // A round of the watched path of entry has ended with these hops; a
    // notice (and sound) when forwarded loss from a hop begins or ends
    // there, and the tray's amber mark while it lasts.
    void PathRound(const QString& entry, const QVector<alerts::PathHop>& hops, qint64 timeMs);
    // The watched path of entry changed its route, or began to flap.
    void PathRouteChanged(const alerts::PathEvent& change);
    // The path of entry is no longer watched.
    void PathGone(const QString& entry);

    // Where a round's notices go instead of a desktop notice on the session
    // bus (when notices are on).
    void SetNoticeSinkForTests(std::function<void(const alerts::Notice&)> sink) {
        FNoticeSink = std::move(sink);
    }

    // Sends a notice to the freedesktop notification service without
    // waiting for an answer. With suppressSound the desktop is asked not to
    // play a sound of its own.
    static void SendNotice(const alerts::Notice& notice, bool suppressSound);

    // The icon to mark; its current picture is the unmarked one, which it
    // gets back when another icon (or none) is attached.
    void AttachTray(TTrayIcon* tray);
    // Where the changes of state are kept, for the history window's marks
    // and degraded periods; none when nullptr.
    void AttachHistory(history::THistoryStore* store);

private:
    void CloseRound();
    void MarkTray();
    // Plays and sends one notice as the settings say.
    void Tell(const alerts::Notice& notice);

    QString FPath;
    alerts::AlertSettings FSettings;
    alerts::THostStates FStates;
    alerts::PathAlerts FPaths;
    bool FRoundOpen = false;
    QVector<alerts::Change> FRoundChanges;
    QPointer<TTrayIcon> FTray;
    QPointer<history::THistoryStore> FStore;
    QIcon FTrayIcon;
    std::function<void(const alerts::Notice&)> FNoticeSink;
    // The mark the icon wears: Up for none.
    states::HostState FMarked = states::HostState::Unknown;
};

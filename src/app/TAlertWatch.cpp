#include "app/TAlertWatch.h"

#include "desktop/Notices.h"
#include "desktop/Sounds.h"
#include "history/RunRecord.h"
#include "history/THistoryStore.h"

#include "tray/TTrayIcon.h"
#include "tray/TrayMark.h"

#include <algorithm>

TAlertWatch::TAlertWatch(const QString& settingsPath, QObject* owner)
    : QObject(owner), FPath(settingsPath), FSettings(alerts::AlertSettings::Load(settingsPath)),
      FStates(FSettings.Thresholds), FPaths(FSettings.Thresholds) {}

TAlertWatch::~TAlertWatch() {
    if (FTray)
        FTray->SetIcon(FTrayIcon);
}

bool TAlertWatch::Apply(const alerts::AlertSettings& settings) {
    FSettings = settings;
    FStates.SetLimits(settings.Thresholds);
    FPaths.SetLimits(settings.Thresholds);
    MarkTray();
    return settings.Save(FPath);
}

void TAlertWatch::RunEnded(const history::RunRecord& record) {
    if (!record.Automatic || record.Result == history::Outcome::Cancelled)
        return;
    alerts::Run run;
    run.TimeMs = record.TimeMs;
    if (record.Kind == history::Command::Trace) {
        // A trace's echoes go to the hops on the way; the host itself
        // answered when the last one came from it.
        run.Echoes = {history::Answering(record.Result) ? std::max(0, record.AvgRtt) : -1};
    } else {
        for (const history::Echo& e : record.Echoes)
            run.Echoes.append(e.Status == 0 && e.Rtt >= 0 ? e.Rtt : -1);
        if (run.Echoes.isEmpty() && history::Answering(record.Result))
            run.Echoes = {std::max(0, record.AvgRtt)};
    }
    if (auto change = FStates.Feed(record.Entry, run)) {
        FRoundChanges.append(*change);
        if (FStore)
            FStore->RecordState({change->TimeMs, record.Entry, change->To});
    }
    FRoundOpen = true;
    if (record.Kind != history::Command::CheckAll)
        CloseRound();
}

void TAlertWatch::RoundEnded() {
    if (FRoundOpen)
        CloseRound();
}

void TAlertWatch::CloseRound() {
    const alerts::Notice notice = alerts::RoundNotice(FRoundChanges);
    FRoundChanges.clear();
    FRoundOpen = false;
    MarkTray();
    Tell(notice);
}

void TAlertWatch::PathRound(const QString& entry, const QVector<alerts::PathHop>& hops,
                            qint64 timeMs) {
    const auto event = FPaths.Round(entry, hops, timeMs);
    if (!event)
        return;
    MarkTray();
    if (FSettings.PathLoss)
        Tell(alerts::PathNotice(*event));
}

void TAlertWatch::PathRouteChanged(const alerts::PathEvent& change) {
    if (FSettings.PathChanges)
        Tell(alerts::PathNotice(change));
}

void TAlertWatch::PathGone(const QString& entry) {
    FPaths.Forget(entry);
    MarkTray();
}

void TAlertWatch::Tell(const alerts::Notice& notice) {
    if (notice.IsEmpty())
        return;
    if (FSettings.Sounds)
        platform::Player().Play(notice.Sound);
    if (!FSettings.Notices)
        return;
    if (FNoticeSink)
        FNoticeSink(notice);
    else
        SendNotice(notice, FSettings.Sounds);
}

void TAlertWatch::SendNotice(const alerts::Notice& notice, bool suppressSound) {
    platform::SendNotice(notice.Summary, notice.Body, suppressSound);
}

void TAlertWatch::AttachHistory(history::THistoryStore* store) {
    FStore = store;
}

void TAlertWatch::AttachTray(TTrayIcon* tray) {
    if (FTray)
        FTray->SetIcon(FTrayIcon);
    FTray = tray;
    FMarked = states::HostState::Unknown;
    if (tray)
        FTrayIcon = tray->Icon();
    MarkTray();
}

void TAlertWatch::MarkTray() {
    const states::HostState worst = FStates.Worst();
    // A path losing from a hop marks the icon as a degraded host does.
    const states::HostState mark =
        worst == states::HostState::Down || worst == states::HostState::Degraded ? worst
        : FPaths.Losing() ? states::HostState::Degraded
                          : states::HostState::Up;
    if (!FTray || mark == FMarked)
        return;
    FMarked = mark;
    if (mark == states::HostState::Down)
        FTray->SetIcon(tray::MarkedIcon(FTrayIcon, tray::MarkRed));
    else if (mark == states::HostState::Degraded)
        FTray->SetIcon(tray::MarkedIcon(FTrayIcon, tray::MarkAmber));
    else
        FTray->SetIcon(FTrayIcon);
}

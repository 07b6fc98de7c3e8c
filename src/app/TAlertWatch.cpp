#include "app/TAlertWatch.h"

#include "desktop/Sounds.h"
#include "history/RunRecord.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QStringList>
#include <QVariantMap>

TAlertWatch::TAlertWatch(const QString& settingsPath, QObject* owner)
    : QObject(owner), FPath(settingsPath), FSettings(alerts::AlertSettings::Load(settingsPath)),
      FStates(FSettings.Thresholds) {}

bool TAlertWatch::Apply(const alerts::AlertSettings& settings) {
    FSettings = settings;
    FStates.SetLimits(settings.Thresholds);
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
    if (auto change = FStates.Feed(record.Entry, run))
        FRoundChanges.append(*change);
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
    if (notice.IsEmpty())
        return;
    if (FSettings.Sounds)
        platform::Player().Play(notice.Sound);
    if (!FSettings.Notices)
        return;
    if (OnNotice)
        OnNotice(notice);
    else
        SendNotice(notice, FSettings.Sounds);
}

void TAlertWatch::SendNotice(const alerts::Notice& notice, bool suppressSound) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    QVariantMap hints;
    if (suppressSound)
        hints.insert(QStringLiteral("suppress-sound"), true);
    call << QStringLiteral("Netsonde") << 0u << QStringLiteral("netsonde") << notice.Summary
         << notice.Body << QStringList() << hints << -1;
    // The answer (or the bus's error when no service runs) is not waited for.
    bus.asyncCall(call);
}

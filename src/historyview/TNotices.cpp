#include "historyview/TNotices.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDateTime>
#include <QStringList>
#include <QVariantMap>

namespace history {

namespace {

QString ChangeText(const Change& c) {
    return c.Answering ? QStringLiteral("answers again") : QStringLiteral("stopped answering");
}

QString LocalTime(qint64 ms) {
    return QDateTime::fromMSecsSinceEpoch(ms).toLocalTime().toString(QStringLiteral("HH:mm:ss"));
}

} // namespace

TNotices::TNotices(QObject* owner) : QObject(owner) {}

QString TNotices::Summary(const QVector<Change>& changes) {
    if (changes.size() == 1)
        return changes.front().Entry + QLatin1Char(' ') + ChangeText(changes.front());
    return QStringLiteral("%1 hosts changed").arg(changes.size());
}

QString TNotices::Body(const QVector<Change>& changes) {
    if (changes.size() == 1)
        return QStringLiteral("at %1").arg(LocalTime(changes.front().TimeMs));
    QStringList lines;
    for (const Change& c : changes)
        lines << QStringLiteral("%1 %2 at %3").arg(c.Entry, ChangeText(c), LocalTime(c.TimeMs));
    return lines.join(QLatin1Char('\n'));
}

void TNotices::Notify(const QVector<Change>& changes) {
    if (!changes.isEmpty())
        Send(Summary(changes), Body(changes), false);
}

void TNotices::Send(const QString& summary, const QString& body, bool suppressSound) {
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
    call << QStringLiteral("Netsonde") << 0u << QStringLiteral("netsonde") << summary << body
         << QStringList() << hints << -1;
    // The answer (or the bus's error when no service runs) is not waited for.
    bus.asyncCall(call);
}

} // namespace history

#include "desktop/Notices.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace platform {

namespace {

const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString Path = QStringLiteral("/org/freedesktop/Notifications");

QDBusMessage call(const QString& method) {
    return QDBusMessage::createMethodCall(Service, Path, Service, method);
}

// A body for a service that reads markup in it: the three characters that
// would start markup or an entity, as entities.
QString escapedForMarkup(QString body) {
    body.replace(QLatin1Char('&'), QStringLiteral("&amp;"));
    body.replace(QLatin1Char('<'), QStringLiteral("&lt;"));
    body.replace(QLatin1Char('>'), QStringLiteral("&gt;"));
    return body;
}

} // namespace

void SendNotice(const QString& summary, const QString& body, bool suppressSound) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !QCoreApplication::instance())
        return;
    QVariantMap hints;
    if (suppressSound)
        hints.insert(QStringLiteral("suppress-sound"), true);
    // The service says whether it reads markup in bodies; each notice asks
    // (they are few), since the service may have changed. Its answer comes
    // before any later notice's, so the notices keep their order. Nothing
    // is waited for: without the service the error is the answer.
    auto* asked = new QDBusPendingCallWatcher(
        bus.asyncCall(call(QStringLiteral("GetCapabilities"))), QCoreApplication::instance());
    QObject::connect(asked, &QDBusPendingCallWatcher::finished, asked,
                     [summary, body, hints](QDBusPendingCallWatcher* answer) {
                         answer->deleteLater();
                         const QDBusPendingReply<QStringList> capabilities = *answer;
                         if (capabilities.isError())
                             return;
                         const bool markup =
                             capabilities.value().contains(QStringLiteral("body-markup"));
                         QDBusMessage notify = call(QStringLiteral("Notify"));
                         notify << QStringLiteral("Netsonde") << 0u << QStringLiteral("netsonde")
                                << summary << (markup ? escapedForMarkup(body) : body)
                                << QStringList() << hints << -1;
                         QDBusConnection::sessionBus().asyncCall(notify);
                     });
}

} // namespace platform

#include "desktop/Notices.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QStringList>
#include <QVariantMap>

namespace platform {

void SendNotice(const QString& summary, const QString& body, bool suppressSound) {
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

} // namespace platform

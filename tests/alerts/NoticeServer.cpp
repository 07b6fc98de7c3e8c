// A notification service for tests: owns org.freedesktop.Notifications on
// the session bus and prints every Notify call it receives on one line:
//   notify <TAB> app <TAB> icon <TAB> summary <TAB> body (\n as "\\n") <TAB> timeout
// It prints "ready" once it owns the name, and ends when its input closes.
// With --markup it says that it reads markup in bodies, as most desktops'
// services do.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QSocketNotifier>
#include <QVariantMap>
#include <cstdio>
#include <unistd.h>

class NoticeServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public slots:
    uint Notify(const QString& app, uint replaces, const QString& icon, const QString& summary,
                const QString& body, const QStringList& actions, const QVariantMap& hints,
                int timeout) {
        Q_UNUSED(replaces);
        Q_UNUSED(actions);
        Q_UNUSED(hints);
        QString flat = body;
        flat.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
        std::printf("notify\t%s\t%s\t%s\t%s\t%d\n", qPrintable(app), qPrintable(icon),
                    qPrintable(summary), qPrintable(flat), timeout);
        std::fflush(stdout);
        return ++last;
    }
    QStringList GetCapabilities() {
        return markup ? QStringList{QStringLiteral("body"), QStringLiteral("body-markup")}
                      : QStringList{QStringLiteral("body")};
    }

public:
    bool markup = false;

private:
    uint last = 0;
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    NoticeServer server;
    server.markup = argc > 1 && QByteArray(argv[1]) == "--markup";
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &server,
                            QDBusConnection::ExportAllSlots) ||
        !bus.registerService(QStringLiteral("org.freedesktop.Notifications")))
        return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char buffer[64];
        if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0)
            QCoreApplication::quit();
    });
    return QCoreApplication::exec();
}

#include "NoticeServer.moc"

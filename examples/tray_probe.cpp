// Puts one notification-area icon on the display and reports what happens:
//   tray_probe --available   prints "tray available" or "no tray" and ends
//   tray_probe               shows the icon, prints "embedded X Y W H" once
//                            the desktop has placed it, "click" when the
//                            left button is released on it, and ends after
//                            the click (exit 0) or after 20 s (exit 1)
#include "tray/TTrayIcon.h"

#include <QApplication>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QTimer>
#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc > 1 && QString(argv[1]) == "--available") {
        std::printf("%s\n",
                    QSystemTrayIcon::isSystemTrayAvailable() ? "tray available" : "no tray");
        std::fflush(stdout);
        return 0;
    }

    QPixmap picture(22, 22);
    picture.fill(Qt::darkBlue);
    QPainter(&picture).fillRect(6, 6, 10, 10, Qt::yellow);

    QObject owner;
    TTrayIcon tray(&owner);
    tray.SetIcon(QIcon(picture));
    tray.SetToolTip("Netsonde");
    tray.OnClick = [&](QObject*) {
        std::printf("click\n");
        std::fflush(stdout);
        app.exit(0);
    };
    tray.SetActive(true);

    // Reports the icon's place on the screen once it has one.
    QTimer placed;
    QObject::connect(&placed, &QTimer::timeout, [&] {
        auto* icon = tray.Window()->findChild<QSystemTrayIcon*>();
        const QRect at = icon ? icon->geometry() : QRect();
        if (at.isValid() && !at.isEmpty() && at.topLeft() != QPoint(0, 0)) {
            std::printf("embedded %d %d %d %d\n", at.x(), at.y(), at.width(), at.height());
            std::fflush(stdout);
            placed.stop();
        }
    });
    placed.start(100);
    QTimer::singleShot(20000, &app, [&] { app.exit(1); });
    return app.exec();
}

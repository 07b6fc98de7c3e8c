// The window's life on the desktop: the minimise route into the
// notification area and back, the way in without minimising (which some
// desktops never report), a notification area that comes or goes while the
// program runs, the one-time word on what to install where there is none,
// and the start at login with the last session.
#include "app/Tfm_ns.h"

#include "app/AutostartEntry.h"
#include "app/LastSession.h"
#include "controls/TForm.h"
#include "desktop/MessageBoxes.h"
#include "desktop/NotifyArea.h"
#include "dialogs/Tfm_alerts.h"
#include "tray/TTrayIcon.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QSettings>
#include <QThreadPool>
#include <QTimer>
#include <QWindow>
#include <functional>
#include <utility>

namespace {

const QString NoticeKey = QStringLiteral("Tray/NoAreaNoticeShown");

// Reports the window's passage into and out of the minimised state: the
// program's minimise and restore events.
class MinimiseWatch final : public QObject {
public:
    explicit MinimiseWatch(Tfm_ns* window) : QObject(window), FWindow(window) {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == FWindow && event->type() == QEvent::WindowStateChange) {
            const bool minimised = FWindow->isMinimized();
            if (minimised != FMinimised) {
                FMinimised = minimised;
                if (minimised)
                    FWindow->AppMinimize();
                else
                    FWindow->AppRestore();
            }
        }
        return false;
    }

private:
    Tfm_ns* FWindow;
    bool FMinimised = false;
};

// Asks once more for the window to be minimised when it first reaches the
// screen. A Wayland compositor may map a window that asked to be minimised
// before its first frame (Weston does), and Wayland reports no minimised
// state that would tell.
class MinimiseWhenExposed final : public QObject {
public:
    MinimiseWhenExposed(Tfm_ns* window, std::function<void()> minimise)
        : QObject(window), FMinimise(std::move(minimise)) {
        window->windowHandle()->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* window = qobject_cast<QWindow*>(watched);
        if (event->type() == QEvent::Expose && window != nullptr && window->isExposed()) {
            window->removeEventFilter(this);
            // Not inside the compositor's event: the request goes out after it.
            QTimer::singleShot(0, parent(), FMinimise);
            deleteLater();
        }
        return false;
    }

private:
    std::function<void()> FMinimise;
};

} // namespace

void Tfm_ns::FormCreate(QObject*) {
    new MinimiseWatch(this);
}

void Tfm_ns::SetTrayMode(bool On) {
    if (On) {
        // Without a notification area there would be no way back: the
        // window then stays minimised in the task bar.
        if (!platform::NotificationArea().Available()) {
            NoTrayNotice();
            return;
        }
        tray->SetActive(true);
        hide();
    } else {
        tray->SetActive(false);
        if (isHidden() || isMinimized())
            showNormal();
        raise();
        activateWindow();
    }
}

void Tfm_ns::AppMinimize() {
    SetTrayMode(true);
}

void Tfm_ns::AppRestore() {
    // A window that was only minimised (no area to go into) is back already:
    // whoever restored it showed it. Bringing it to the front here would
    // also undo a minimised start, whose first state change from the
    // desktop (Wayland knows no minimised state to report) is no restore
    // by the user.
    if (!tray->Active() && !isHidden())
        return;
    SetTrayMode(false);
}

void Tfm_ns::trayClick(QObject*) {
    // Restoring fires the restore event, which brings the window back.
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    // A window hidden without minimising (Hide1) has no restore event.
    if (isHidden() || tray->Active())
        SetTrayMode(false);
}

QString Tfm_ns::NoTrayNoticeText() {
    return QStringLiteral(
        "This desktop has no notification area, so Netsonde stays a minimised window in the "
        "task bar instead of hiding there; the automatic mode runs on either way.\n\n"
        "On GNOME, install the AppIndicator extension (package "
        "gnome-shell-extension-appindicator) and switch it on in Extensions; KDE Plasma, Xfce "
        "and most other desktops have a notification area of their own.");
}

void Tfm_ns::BuildDesktop() {
    Hide1 = new QAction(QStringLiteral("Hide to Notification Area"), this);
    Hide1->setObjectName(QStringLiteral("Hide1"));
    Hide1->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_H));
    Hide1->setShortcutContext(Qt::WindowShortcut);
    addAction(Hide1);
    connect(Hide1, &QAction::triggered, this, [this] { HideToTray(); });
    platform::OnNotifyAreaChange(this, [this] { NotifyAreaChange(); });
}

void Tfm_ns::HideToTray() {
    if (tray->Active())
        return;
    // Without an area the window goes the minimise way, which keeps it in
    // the task bar and says once why.
    if (!platform::NotificationArea().Available()) {
        showMinimized();
        return;
    }
    SetTrayMode(true);
}

void Tfm_ns::StartInTray() {
    // Straight into the area, never shown: a window shown and hidden at
    // once may be left on the screen by the window manager. The first show
    // applies the option values when the user brings the window out.
    if (platform::NotificationArea().Available()) {
        SetTrayMode(true);
        return;
    }
    // Minimised, where there is no area (yet): the panel may simply not be
    // up at login, so no word on what to install.
    FQuietNoTray = true;
    CentreOnScreen(this);
    showMinimized();
    FQuietNoTray = false;
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland")) && windowHandle())
        new MinimiseWhenExposed(this, [this] {
            FQuietNoTray = true;
            setWindowState(windowState() | Qt::WindowMinimized);
            FQuietNoTray = false;
        });
}

void Tfm_ns::NotifyAreaChange() {
    const bool available = platform::NotificationArea().Available();
    if (tray->Active() && !available) {
        // The icon is gone with its area: the window must stay in reach.
        tray->SetActive(false);
        showMinimized();
    } else if (!tray->Active() && available && isMinimized()) {
        // An area that came after the window was minimised (a panel that
        // starts after the program at login) takes the window in now.
        SetTrayMode(true);
    }
}

void Tfm_ns::NoTrayNotice() {
    if (FQuietNoTray || FNoTrayNoticeShown)
        return;
    FNoTrayNoticeShown = true;
    if (!DesktopSettings.isEmpty()) {
        QSettings settings(DesktopSettings, QSettings::IniFormat);
        if (settings.value(NoticeKey, false).toBool())
            return;
        QDir().mkpath(QFileInfo(DesktopSettings).absolutePath());
        settings.setValue(NoticeKey, true);
    }
    // Not inside the minimise event that asked: the box runs its own loop.
    QTimer::singleShot(0, this, [] { platform::Messages().Information(NoTrayNoticeText()); });
}

void Tfm_ns::OfferStartAtLogin(Tfm_alerts& dialog) {
    if (LastSessionFolder.isEmpty())
        return;
    dialog.SetStartAtLogin(AutostartEntry::Exists());
    dialog.OnStartAtLogin = [this](bool on) { return SetStartAtLogin(on); };
}

bool Tfm_ns::SetStartAtLogin(bool On) {
    QString error;
    bool ok = true;
    if (On) {
        // The entry is only worth having with a session to come back to.
        // The user waits for the answer: written here, after any snapshot
        // still on its way, so that this one is the last.
        WaitForLastSession();
        ok = AutostartEntry::Write(QCoreApplication::applicationFilePath(), error) &&
             LastSession(LastSessionFolder).Save(*this, error);
        QString ignored;
        if (!ok)
            AutostartEntry::Remove(ignored);
    } else {
        ok = AutostartEntry::Remove(error);
    }
    if (!ok)
        platform::Messages().Error(error);
    return ok;
}

void Tfm_ns::SaveLastSession() {
    if (LastSessionFolder.isEmpty() || !AutostartEntry::Exists())
        return;
    if (!FSessionWriter) {
        FSessionWriter = new QThreadPool(this);
        FSessionWriter->setMaxThreadCount(1);
        FSessionWriter->setExpiryTimeout(-1);
    }
    // A slow disk holds up neither the window nor the logout; the one
    // worker writes the snapshots in the order they were taken.
    FSessionWriter->start(
        [last = LastSession(LastSessionFolder), snapshot = LastSession::Take(*this)] {
            QString error;
            // The program is on its way out: a message would hold up the logout.
            if (!last.Write(snapshot, error))
                qWarning("netsonde: %s", qPrintable(error));
        });
}

void Tfm_ns::WaitForLastSession() {
    if (FSessionWriter)
        FSessionWriter->waitForDone();
}

// The automatic mode, which repeats one command every few seconds, and the
// window's life in the notification area.
#include "app/Tfm_ns.h"

#include "desktop/NotifyArea.h"
#include "tray/TTrayIcon.h"

#include <QAction>
#include <QEvent>

namespace {

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

} // namespace

void Tfm_ns::FormCreate(QObject*) {
    new MinimiseWatch(this);
}

void Tfm_ns::SetAutoRun(bool On) {
    FRuns->SetAutoRun(On);
}

void Tfm_ns::CheckOne1Click(QObject*) {
    FRuns->StartAuto(rkCheckOne);
}

void Tfm_ns::CheckAll1Click(QObject*) {
    FRuns->StartAuto(rkCheckAll);
}

void Tfm_ns::Ping1Click(QObject*) {
    FRuns->StartAuto(rkPing);
}

void Tfm_ns::Trace1Click(QObject*) {
    FRuns->StartAuto(rkTrace);
}

void Tfm_ns::Stop1Click(QObject*) {
    FRuns->SetAutoRun(false);
}

void Tfm_ns::popupPopup(QObject*) {
    QAction* const marks[] = {CheckOne1, CheckAll1, Ping1, Trace1, Stop1};
    marks[FRuns->AutoKind()]->setChecked(true);
}

void Tfm_ns::TickTimer(QObject*) {
    FRuns->TickTimer();
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

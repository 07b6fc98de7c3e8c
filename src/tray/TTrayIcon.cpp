#include "tray/TTrayIcon.h"

#include "platform/Component.h"

#include <QCoreApplication>
#include <QCursor>
#include <QMenu>

// The hidden window: hands the program's own messages to the component.
class TTrayWindow final : public QObject {
public:
    explicit TTrayWindow(TTrayIcon* tray) : FTray(tray) { setObjectName("TTrayWindow"); }

    // Goes with its component. A handler may destroy the component while
    // the window is delivering the message that called it; the window then
    // lets the delivery finish and goes afterwards, messages to it unheard.
    void Release() {
        if (FDispatching) {
            FTray = nullptr;
            deleteLater();
        } else {
            delete this;
        }
    }

protected:
    bool event(QEvent* e) override {
        if (e->type() >= static_cast<QEvent::Type>(platform::WM_USER) &&
            e->type() <= static_cast<QEvent::Type>(QEvent::MaxUser)) {
            auto* message = dynamic_cast<platform::WindowMessage*>(e);
            if (message && FTray) {
                ++FDispatching;
                const bool handled = FTray->WndProc(*message);
                --FDispatching;
                if (handled)
                    return true;
            }
        }
        return QObject::event(e);
    }

private:
    TTrayIcon* FTray;
    int FDispatching = 0;
};

TTrayIcon::TTrayIcon(QObject* AOwner) : QObject(AOwner), FWindow(new TTrayWindow(this)) {}

TTrayIcon::~TTrayIcon() {
    if (Shown())
        DeleteIcon();
    // The window's going drops a re-send still waiting for it.
    static_cast<TTrayWindow*>(FWindow)->Release();
}

bool TTrayIcon::Shown() const {
    return platform::IsDesigning(this) ? FShowDesigning : FActive;
}

void TTrayIcon::SetActive(bool Value) {
    if (Value == FActive)
        return;
    FActive = Value;
    if (platform::IsDesigning(this))
        return;
    if (Value)
        AddIcon();
    else
        DeleteIcon();
}

void TTrayIcon::SetShowDesigning(bool Value) {
    if (!platform::IsDesigning(this) || Value == FShowDesigning)
        return;
    FShowDesigning = Value;
    if (Value)
        AddIcon();
    else
        DeleteIcon();
}

void TTrayIcon::SetIcon(const QIcon& Value) {
    if (&Value == &FIcon)
        return;
    FIcon = Value;
    ModifyIcon();
}

void TTrayIcon::SetToolTip(const QString& Value) {
    // The platform's field holds 64 bytes; 62 characters stay clear of it.
    // Characters, not UTF-16 units: a cut never splits a surrogate pair.
    FToolTip = Value;
    int characters = 0;
    for (qsizetype at = 0; at < Value.size(); ++at) {
        if (Value.at(at).isLowSurrogate() && at > 0 && Value.at(at - 1).isHighSurrogate())
            continue;
        if (++characters > MaxToolTip) {
            FToolTip.truncate(at);
            break;
        }
    }
    ModifyIcon();
}

QMenu* TTrayIcon::PopupMenu() const {
    return FPopupMenu;
}

void TTrayIcon::SetPopupMenu(QMenu* Value) {
    FPopupMenu = Value;
    ModifyIcon();
}

void TTrayIcon::FillIconData() {
    FIconData.hWnd = FWindow;
    FIconData.uID = 0;
    FIconData.uFlags =
        platform::NIF_MESSAGE | platform::NIF_ICON | platform::NIF_TIP | platform::NIF_MENU;
    FIconData.uCallbackMessage = WM_TRAYNOTIFY;
    FIconData.hIcon = FIcon;
    FIconData.szTip = FToolTip;
    FIconData.hMenu = FPopupMenu.data();
}

bool TTrayIcon::AddIcon() {
    FillIconData();
    const bool ok = platform::NotificationArea().NotifyIcon(platform::NIM_ADD, FIconData);
    // Some areas show an icon added without a tip only once it is sent again.
    if (FToolTip.isEmpty())
        QCoreApplication::postEvent(FWindow, new platform::WindowMessage(WM_TRAYRETIP, 0, 0));
    return ok;
}

bool TTrayIcon::ModifyIcon() {
    FillIconData();
    if (!FActive)
        return true;
    return platform::NotificationArea().NotifyIcon(platform::NIM_MODIFY, FIconData);
}

bool TTrayIcon::DeleteIcon() {
    return platform::NotificationArea().NotifyIcon(platform::NIM_DELETE, FIconData);
}

bool TTrayIcon::WndProc(platform::WindowMessage& Message) {
    switch (Message.Msg()) {
    case WM_TRAYRETIP:
        SetToolTip(FToolTip);
        return true;
    case WM_TRAYNOTIFY:
        switch (static_cast<unsigned>(Message.lParam)) {
        case platform::WM_LBUTTONUP:
            FireEvent(OnClick, this);
            break;
        case platform::WM_LBUTTONDBLCLK:
            FireEvent(OnDblClick, this);
            break;
        case platform::WM_RBUTTONUP: {
            // The handler may destroy this component; the menu is held apart.
            const QPointer<QMenu> menu = FPopupMenu;
            const QPoint at = QCursor::pos();
            if (OnRightClick)
                FireEvent(OnRightClick, this, mbRight, TShiftState(0), at.x(), at.y());
            if (menu)
                menu->popup(at);
            break;
        }
        default:
            break;
        }
        return true;
    default:
        return false;
    }
}

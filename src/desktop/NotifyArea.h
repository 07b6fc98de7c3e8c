#pragma once

#include <QIcon>
#include <QString>
#include <functional>
#include <memory>

class QMenu;
class QObject;

namespace platform {

// What an icon in the desktop's notification area shows and where the area
// reports mouse actions on it.
struct NOTIFYICONDATA {
    // The object that receives the area's messages; with uID it names the icon.
    QObject* hWnd = nullptr;
    unsigned uID = 0;
    unsigned uFlags = 0;
    // The message number of the mouse notifications: a WindowMessage with the
    // icon's uID as wParam and the mouse message (WM_LBUTTONUP...) as lParam.
    unsigned uCallbackMessage = 0;
    // A null icon when there is no picture.
    QIcon hIcon;
    // At most 63 characters.
    QString szTip;
    // The icon's menu (NIF_MENU), null for none. An area that shows menus
    // itself (a StatusNotifierItem host reads it over D-Bus) shows it and
    // sends no WM_RBUTTONUP for it; elsewhere the receiver opens it on
    // WM_RBUTTONUP. The menu must outlive the icon or be changed first.
    QMenu* hMenu = nullptr;
};

// Operations of NotifyArea::NotifyIcon.
constexpr unsigned NIM_ADD = 0;
constexpr unsigned NIM_MODIFY = 1;
constexpr unsigned NIM_DELETE = 2;

// Which fields of the record are meant.
constexpr unsigned NIF_MESSAGE = 1;
constexpr unsigned NIF_ICON = 2;
constexpr unsigned NIF_TIP = 4;
constexpr unsigned NIF_MENU = 8;

// Mouse messages carried in the notifications.
constexpr unsigned WM_MOUSEMOVE = 0x0200;
constexpr unsigned WM_LBUTTONDOWN = 0x0201;
constexpr unsigned WM_LBUTTONUP = 0x0202;
constexpr unsigned WM_LBUTTONDBLCLK = 0x0203;
constexpr unsigned WM_RBUTTONDOWN = 0x0204;
constexpr unsigned WM_RBUTTONUP = 0x0205;
constexpr unsigned WM_MBUTTONUP = 0x0208;

// The desktop's notification area. Every icon goes through this layer, so
// that tests can see what is added, changed and removed, and click on it,
// without a desktop.
class NotifyArea {
public:
    virtual ~NotifyArea() = default;
    // Adds (NIM_ADD), changes (NIM_MODIFY) or removes (NIM_DELETE) the icon
    // named by data.hWnd and data.uID. False when the area refused: adding an
    // icon that is there, changing or removing one that is not, or no area.
    virtual bool NotifyIcon(unsigned message, const NOTIFYICONDATA& data) = 0;
    // The desktop has a notification area that can show icons now.
    virtual bool Available() const = 0;
};

// Tells handler, on the window thread, whenever a notification area came to
// the desktop or went from it, so that Available() may answer otherwise
// now; a handler goes with its context. Every layer reports through
// NotifyAreaChanged.
void OnNotifyAreaChange(QObject* context, std::function<void()> handler);
void NotifyAreaChanged();

// The layer in use: Qt's system tray icon unless a replacement is installed.
// Its icons go to the XEmbed tray or a StatusNotifierItem host, as Qt finds;
// a host that appears after Qt looked (Qt looks once per process) gets the
// program's own item (StatusNotifierItem.h), and the icons shown then move
// to it.
NotifyArea& NotificationArea();
// Installs a replacement and returns the previous one; nullptr restores Qt's.
std::unique_ptr<NotifyArea> SetNotifyArea(std::unique_ptr<NotifyArea> replacement);

// The mouse message that one of Qt's tray activation reasons stands for
// (QSystemTrayIcon::ActivationReason as an int): a left click is the left
// button's release, a double click the left double click, the context
// request the right button's release, the middle button's click its release.
// 0 for a reason with no mouse message.
unsigned MouseMessageOf(int activationReason);

} // namespace platform

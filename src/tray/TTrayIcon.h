#pragma once

#include "desktop/NotifyArea.h"
#include "platform/Events.h"
#include "platform/WindowMessage.h"

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>

class QMenu;

// The mouse button of a mouse event.
enum TMouseButton { mbLeft, mbRight, mbMiddle };
// The modifier keys and buttons held during a mouse event.
enum TShiftStateFlag {
    ssShift = 0x01,
    ssAlt = 0x02,
    ssCtrl = 0x04,
    ssLeft = 0x08,
    ssRight = 0x10,
    ssMiddle = 0x20,
    ssDouble = 0x40
};
using TShiftState = unsigned;
// A mouse event: button, held keys and the position.
using TMouseEvent =
    std::function<void(QObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y)>;

// The notification area's mouse notifications to the hidden window.
constexpr unsigned WM_TRAYNOTIFY = platform::WM_USER + 1;
// Sends the icon data once more; posted after an icon is added without a tip.
constexpr unsigned WM_TRAYRETIP = platform::WM_USER + 2;

// Shows one icon with a tool tip in the desktop's notification area while
// Active is true, and reports clicks on it: OnClick when the left button is
// released on it, OnDblClick on a left double click, OnRightClick (with the
// cursor's screen position) when the right button is released on it, after
// which its PopupMenu, if it has one, opens at the cursor. Icon
// and ToolTip may change at any time; while inactive a change is only kept
// and goes out with the next activation. Destroying an active component
// removes its icon.
class TTrayIcon : public QObject {
    Q_OBJECT
public:
    explicit TTrayIcon(QObject* AOwner);
    ~TTrayIcon() override;

    bool Active() const { return FActive; }
    void SetActive(bool Value);
    // Showing the icon while the form is being designed; at run time this
    // does nothing and reads false.
    bool ShowDesigning() const { return FShowDesigning; }
    void SetShowDesigning(bool Value);
    const QIcon& Icon() const { return FIcon; }
    void SetIcon(const QIcon& Value);
    // Cut to its first 62 characters.
    const QString& ToolTip() const { return FToolTip; }
    void SetToolTip(const QString& Value);
    // The menu of the icon; not owned, and forgotten when it is destroyed.
    QMenu* PopupMenu() const;
    void SetPopupMenu(QMenu* Value);

    TNotifyEvent OnClick;
    TNotifyEvent OnDblClick;
    TMouseEvent OnRightClick;

    static constexpr int MaxToolTip = 62;

    // The hidden window that receives the notification area's messages.
    QObject* Window() const { return FWindow; }

private:
    friend class TTrayWindow;

    void FillIconData();
    bool AddIcon();
    bool ModifyIcon();
    bool DeleteIcon();
    // The hidden window's procedure; false for a message it leaves alone.
    bool WndProc(platform::WindowMessage& Message);
    bool Shown() const;

    platform::NOTIFYICONDATA FIconData;
    QIcon FIcon;
    QString FToolTip;
    QPointer<QMenu> FPopupMenu;
    QObject* FWindow;
    bool FActive = false;
    bool FShowDesigning = false;
};

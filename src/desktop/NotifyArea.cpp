#include "desktop/NotifyArea.h"

#include "platform/WindowMessage.h"

#include <QCoreApplication>
#include <QHash>
#include <QPair>
#include <QPointer>
#include <QSystemTrayIcon>

namespace platform {

namespace {

// One QSystemTrayIcon per added icon: a StatusNotifierItem on desktops that
// offer one, an icon embedded into the XEmbed tray elsewhere. The tray icon
// object is a child of the receiving object, so it goes when that goes.
// Activations are posted to the receiver as mouse notifications, one per
// activation and in the order Qt reports them; posting keeps a handler that
// removes the icon from running inside the icon's own signal.
class QtNotifyArea final : public NotifyArea {
public:
    bool NotifyIcon(unsigned message, const NOTIFYICONDATA& data) override {
        const Key key(data.hWnd, data.uID);
        auto it = FIcons.find(key);
        if (it != FIcons.end() && it->isNull()) {
            FIcons.erase(it);
            it = FIcons.end();
        }
        switch (message) {
        case NIM_ADD: {
            if (it != FIcons.end() || data.hWnd == nullptr)
                return false;
            auto* icon = new QSystemTrayIcon(data.hWnd);
            apply(icon, data);
            QPointer<QObject> receiver(data.hWnd);
            const unsigned id = data.uID;
            const unsigned callback = data.uCallbackMessage;
            const bool notify = (data.uFlags & NIF_MESSAGE) != 0;
            QObject::connect(icon, &QSystemTrayIcon::activated, icon,
                             [receiver, id, callback, notify](QSystemTrayIcon::ActivationReason r) {
                                 const unsigned mouse = MouseMessageOf(r);
                                 if (notify && mouse != 0 && receiver)
                                     QCoreApplication::postEvent(
                                         receiver, new WindowMessage(callback, id, mouse));
                             });
            FIcons.insert(key, icon);
            icon->show();
            return QSystemTrayIcon::isSystemTrayAvailable();
        }
        case NIM_MODIFY:
            if (it == FIcons.end())
                return false;
            apply(*it, data);
            return true;
        case NIM_DELETE:
            if (it == FIcons.end())
                return false;
            (*it)->hide();
            (*it)->deleteLater();
            FIcons.erase(it);
            return true;
        default:
            return false;
        }
    }

    bool Available() const override { return QSystemTrayIcon::isSystemTrayAvailable(); }

private:
    using Key = QPair<QObject*, unsigned>;

    static void apply(QSystemTrayIcon* icon, const NOTIFYICONDATA& data) {
        if (data.uFlags & NIF_ICON)
            icon->setIcon(data.hIcon);
        if (data.uFlags & NIF_TIP)
            icon->setToolTip(data.szTip.left(63));
    }

    QHash<Key, QPointer<QSystemTrayIcon>> FIcons;
};

std::unique_ptr<NotifyArea>& current() {
    static std::unique_ptr<NotifyArea> layer = std::make_unique<QtNotifyArea>();
    return layer;
}

} // namespace

NotifyArea& NotificationArea() {
    return *current();
}

std::unique_ptr<NotifyArea> SetNotifyArea(std::unique_ptr<NotifyArea> replacement) {
    std::unique_ptr<NotifyArea> previous = std::move(current());
    current() = replacement ? std::move(replacement) : std::make_unique<QtNotifyArea>();
    return previous;
}

unsigned MouseMessageOf(int activationReason) {
    switch (activationReason) {
    case QSystemTrayIcon::Trigger:
        return WM_LBUTTONUP;
    case QSystemTrayIcon::DoubleClick:
        return WM_LBUTTONDBLCLK;
    case QSystemTrayIcon::Context:
        return WM_RBUTTONUP;
    case QSystemTrayIcon::MiddleClick:
        return WM_MBUTTONUP;
    default:
        return 0;
    }
}

} // namespace platform

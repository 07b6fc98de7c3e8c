#include "desktop/NotifyArea.h"

#include "desktop/StatusNotifierItem.h"
#include "platform/WindowMessage.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QHash>
#include <QPair>
#include <QPointer>
#include <QSystemTrayIcon>

namespace platform {

namespace {

// Every mouse notification is posted to the receiver, one per click and in
// the order they came; posting keeps a handler that removes the icon from
// running inside the icon's own signal.
void post(const QPointer<QObject>& receiver, unsigned id, unsigned callback, unsigned mouse) {
    if (mouse != 0 && receiver)
        QCoreApplication::postEvent(receiver, new WindowMessage(callback, id, mouse));
}

// One QSystemTrayIcon per added icon: a StatusNotifierItem on desktops that
// offer one, an icon embedded into the XEmbed tray elsewhere. Qt decides
// which once per process; when a StatusNotifierItem host comes after Qt
// decided against it, the icons move to the program's own item instead.
// Either object is a child of the receiving object, so it goes when that
// goes.
class QtNotifyArea final : public NotifyArea {
public:
    bool NotifyIcon(unsigned message, const NOTIFYICONDATA& data) override {
        Watch();
        const Key key(data.hWnd, data.uID);
        auto it = FIcons.find(key);
        if (it != FIcons.end() && !it->qt && !it->own) {
            FIcons.erase(it);
            it = FIcons.end();
        }
        switch (message) {
        case NIM_ADD: {
            if (it != FIcons.end() || data.hWnd == nullptr)
                return false;
            Held& held = *FIcons.insert(key, Held{{}, {}, data});
            Make(held);
            return Available();
        }
        case NIM_MODIFY:
            if (it == FIcons.end())
                return false;
            it->data.uFlags = data.uFlags;
            if (data.uFlags & NIF_ICON)
                it->data.hIcon = data.hIcon;
            if (data.uFlags & NIF_TIP)
                it->data.szTip = data.szTip;
            if (data.uFlags & NIF_MENU)
                it->data.hMenu = data.hMenu;
            Apply(*it);
            return true;
        case NIM_DELETE:
            if (it == FIcons.end())
                return false;
            Drop(*it);
            FIcons.erase(it);
            return true;
        default:
            return false;
        }
    }

    bool Available() const override {
        Watch();
        if (StatusNotifierItem::WatcherPresent())
            return true;
        NoteQtChoice();
        return QSystemTrayIcon::isSystemTrayAvailable();
    }

private:
    using Key = QPair<QObject*, unsigned>;
    struct Held {
        QPointer<QSystemTrayIcon> qt;
        QPointer<StatusNotifierItem> own;
        NOTIFYICONDATA data;
    };
    // What Qt's tray decided when it first looked.
    enum class QtChoice { Unknown, Host, NoHost };

    // Qt's tray looks for a host the first time it is asked anything, and
    // only once: it reads the watcher's IsStatusNotifierHostRegistered
    // through an introspected interface. The same reading here, at the same
    // moment, tells what Qt decided.
    void NoteQtChoice() const {
        if (FQtChoice != QtChoice::Unknown)
            return;
        FQtChoice = QtChoice::NoHost;
        if (!StatusNotifierItem::WatcherPresent())
            return;
        if (HostDeclaredAndRegistered())
            FQtChoice = QtChoice::Host;
    }

    // IsStatusNotifierHostRegistered, read only when the watcher's
    // introspection declares it, as a QDBusInterface reads it.
    static bool HostDeclaredAndRegistered() {
        const QString service = StatusNotifierItem::WatcherService();
        const QString path = QStringLiteral("/StatusNotifierWatcher");
        QDBusConnection bus = QDBusConnection::sessionBus();
        const QDBusMessage introspection = bus.call(QDBusMessage::createMethodCall(
            service, path, QStringLiteral("org.freedesktop.DBus.Introspectable"),
            QStringLiteral("Introspect")));
        if (introspection.type() != QDBusMessage::ReplyMessage ||
            introspection.arguments().isEmpty() ||
            !introspection.arguments().constFirst().toString().contains(
                QStringLiteral("\"IsStatusNotifierHostRegistered\"")))
            return false;
        QDBusMessage get = QDBusMessage::createMethodCall(
            service, path, QStringLiteral("org.freedesktop.DBus.Properties"),
            QStringLiteral("Get"));
        get << service << QStringLiteral("IsStatusNotifierHostRegistered");
        const QDBusMessage reply = bus.call(get);
        return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
               qvariant_cast<QDBusVariant>(reply.arguments().constFirst()).variant().toBool();
    }

    // Qt's tray icons are items of a StatusNotifierItem host.
    bool QtShowsHostItems() const {
        NoteQtChoice();
        return FQtChoice == QtChoice::Host;
    }

    bool OwnItemNeeded() const {
        NoteQtChoice();
        return FQtChoice == QtChoice::NoHost && StatusNotifierItem::WatcherPresent();
    }

    void Make(Held& held) {
        const QPointer<QObject> receiver(held.data.hWnd);
        const unsigned id = held.data.uID;
        const unsigned callback = held.data.uCallbackMessage;
        const bool notify = (held.data.uFlags & NIF_MESSAGE) != 0;
        if (OwnItemNeeded()) {
            auto* item = new StatusNotifierItem(held.data.hWnd);
            held.own = item;
            Apply(held);
            QObject::connect(item, &StatusNotifierItem::Clicked, item,
                             [receiver, id, callback, notify, item](int reason) {
                                 if (reason == QSystemTrayIcon::Context && item->Menu())
                                     return;
                                 if (notify)
                                     post(receiver, id, callback, MouseMessageOf(reason));
                             });
            item->Register();
            return;
        }
        auto* icon = new QSystemTrayIcon(held.data.hWnd);
        held.qt = icon;
        // Qt's item exports the menu only when it has it as it is shown.
        Apply(held);
        QObject::connect(
            icon, &QSystemTrayIcon::activated, icon,
            [receiver, id, callback, notify, icon](QSystemTrayIcon::ActivationReason r) {
                // A host that has the menu shows it: the
                // receiver's own would be a second one.
                if (r == QSystemTrayIcon::Context && icon->contextMenu())
                    return;
                if (notify)
                    post(receiver, id, callback, MouseMessageOf(r));
            });
        icon->show();
    }

    void Apply(Held& held) const {
        const NOTIFYICONDATA& data = held.data;
        if (held.qt) {
            if (data.uFlags & NIF_ICON)
                held.qt->setIcon(data.hIcon);
            if (data.uFlags & NIF_TIP)
                held.qt->setToolTip(data.szTip.left(63));
            // Over D-Bus the host shows the menu next to the item, as the
            // desktop's own; the XEmbed tray leaves it to the receiver,
            // which opens it at the cursor.
            if ((data.uFlags & NIF_MENU) && QtShowsHostItems())
                held.qt->setContextMenu(data.hMenu);
        }
        if (held.own) {
            if (data.uFlags & NIF_ICON)
                held.own->SetIcon(data.hIcon);
            if (data.uFlags & NIF_TIP)
                held.own->SetToolTip(data.szTip.left(63));
            if (data.uFlags & NIF_MENU)
                held.own->SetMenu(data.hMenu);
        }
    }

    static void Drop(Held& held) {
        if (held.qt) {
            held.qt->hide();
            held.qt->deleteLater();
        }
        if (held.own)
            held.own->deleteLater();
        held.qt = nullptr;
        held.own = nullptr;
    }

    // Follows the StatusNotifierItem watcher on the session bus: a host
    // coming after Qt decided gets the icons shown, and a host going leaves
    // the icons to what Qt finds then.
    void Watch() const {
        if (FWatcher || FWatching || !QCoreApplication::instance())
            return;
        FWatching = true;
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected())
            return;
        auto* watcher = new QDBusServiceWatcher(StatusNotifierItem::WatcherService(), bus,
                                                QDBusServiceWatcher::WatchForOwnerChange,
                                                QCoreApplication::instance());
        FWatcher = watcher;
        auto* self = const_cast<QtNotifyArea*>(this);
        QObject::connect(
            watcher, &QDBusServiceWatcher::serviceOwnerChanged, watcher,
            [self](const QString&, const QString&, const QString&) { self->Remake(); });
    }

    void Remake() {
        for (auto it = FIcons.begin(); it != FIcons.end();) {
            if (!it->qt && !it->own) {
                it = FIcons.erase(it);
                continue;
            }
            // An item of the program's own re-registers by itself; Qt's
            // StatusNotifierItem follows its host by itself too.
            const bool own = OwnItemNeeded();
            if (own != bool(it->own) && (FQtChoice == QtChoice::NoHost || it->own)) {
                Drop(*it);
                Make(*it);
            }
            ++it;
        }
        NotifyAreaChanged();
    }

    QHash<Key, Held> FIcons;
    mutable QtChoice FQtChoice = QtChoice::Unknown;
    mutable QPointer<QDBusServiceWatcher> FWatcher;
    mutable bool FWatching = false;
};

struct ChangeHandler {
    QPointer<QObject> context;
    std::function<void()> handler;
};

QList<ChangeHandler>& changeHandlers() {
    static QList<ChangeHandler> handlers;
    return handlers;
}

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

void OnNotifyAreaChange(QObject* context, std::function<void()> handler) {
    changeHandlers().append({context, std::move(handler)});
}

void NotifyAreaChanged() {
    auto& handlers = changeHandlers();
    handlers.removeIf([](const ChangeHandler& h) { return !h.context; });
    // A handler may add another; those added now wait for the next change.
    const QList<ChangeHandler> now = handlers;
    for (const ChangeHandler& h : now)
        if (h.context)
            h.handler();
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

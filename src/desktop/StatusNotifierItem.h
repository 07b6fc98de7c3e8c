#pragma once

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QString>
#include <memory>

class QMenu;

namespace platform {

// One icon in a StatusNotifierItem host (KDE Plasma's panel, GNOME with the
// AppIndicator extension), made by the program itself. Qt's own tray icon
// decides once per process whether such a host exists; when the host comes
// up after that decision (a panel that starts after the program at login),
// this item is how the icon still reaches it.
//
// The item lives on a bus connection of its own, so that it never meets
// another object of the program on the same path, and registers with the
// watcher whenever one is (or comes) on the session bus. Activate is a left
// click, SecondaryActivate a middle click and ContextMenu a right click, each
// reported through Clicked as the QSystemTrayIcon::ActivationReason (an int)
// that Qt's own tray icon would give. A menu set on the item is exported
// over D-Bus (com.canonical.dbusmenu), so that the host shows it next to the
// item as the desktop's own menus; a right click then reports nothing.
class StatusNotifierItem : public QObject {
    Q_OBJECT
public:
    explicit StatusNotifierItem(QObject* parent = nullptr);
    ~StatusNotifierItem() override;

    // The watcher's well-known name on the session bus.
    static QString WatcherService();
    // Whether a watcher is on the session bus now.
    static bool WatcherPresent();

    void SetIcon(const QIcon& icon);
    void SetToolTip(const QString& text);
    // The menu the host shows for the item; null for none. Its items are
    // read whenever the host asks, and a chosen item is triggered.
    void SetMenu(QMenu* menu);
    QMenu* Menu() const;
    // Registers with the watcher on the bus; false when there is none or it
    // refused. A watcher that appears later is found by the item itself.
    bool Register();
    // The item's own name on the bus (its connection's unique name).
    QString Service() const;

signals:
    void Clicked(int activationReason);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void MenuChanged();
    class Adaptor;
    friend class Adaptor;
    class MenuAdaptor;
    friend class MenuAdaptor;
    struct Bus;

    QIcon FIcon;
    QString FToolTip;
    QPointer<QMenu> FMenu;
    QObject* FMenuObject = nullptr;
    std::unique_ptr<Bus> FBus;
};

} // namespace platform

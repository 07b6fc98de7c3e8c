#include "desktop/StatusNotifierItem.h"

#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QEvent>
#include <QGuiApplication>
#include <QImage>
#include <QList>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QtEndian>

#include <atomic>

namespace platform {

// One picture of the icon: width, height and ARGB32 pixels in network byte
// order, as the protocol carries them.
struct SniPixmap {
    int width = 0;
    int height = 0;
    QByteArray pixels;
};
using SniPixmaps = QList<SniPixmap>;

// The tool tip: icon name, pictures, title and text.
struct SniToolTip {
    QString iconName;
    SniPixmaps pictures;
    QString title;
    QString text;
};

// One entry of a menu's layout as dbusmenu carries it: its id, its
// properties and its children, each child a variant of the same structure.
struct SniMenuLayout {
    int id = 0;
    QVariantMap properties;
    QList<SniMenuLayout> children;
};

// The properties of one entry, for GetGroupProperties.
struct SniMenuProperties {
    int id = 0;
    QVariantMap properties;
};
using SniMenuPropertiesList = QList<SniMenuProperties>;

} // namespace platform

Q_DECLARE_METATYPE(platform::SniPixmap)
Q_DECLARE_METATYPE(platform::SniToolTip)
Q_DECLARE_METATYPE(platform::SniMenuLayout)
Q_DECLARE_METATYPE(platform::SniMenuProperties)

namespace platform {

QDBusArgument& operator<<(QDBusArgument& out, const SniPixmap& p) {
    out.beginStructure();
    out << p.width << p.height << p.pixels;
    out.endStructure();
    return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, SniPixmap& p) {
    in.beginStructure();
    in >> p.width >> p.height >> p.pixels;
    in.endStructure();
    return in;
}

QDBusArgument& operator<<(QDBusArgument& out, const SniToolTip& t) {
    out.beginStructure();
    out << t.iconName << t.pictures << t.title << t.text;
    out.endStructure();
    return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, SniToolTip& t) {
    in.beginStructure();
    in >> t.iconName >> t.pictures >> t.title >> t.text;
    in.endStructure();
    return in;
}

QDBusArgument& operator<<(QDBusArgument& out, const SniMenuLayout& m) {
    out.beginStructure();
    out << m.id << m.properties;
    out.beginArray(qMetaTypeId<QDBusVariant>());
    for (const SniMenuLayout& child : m.children)
        out << QDBusVariant(QVariant::fromValue(child));
    out.endArray();
    out.endStructure();
    return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, SniMenuLayout& m) {
    in.beginStructure();
    in >> m.id >> m.properties;
    in.beginArray();
    while (!in.atEnd()) {
        QDBusVariant child;
        in >> child;
        m.children.append(qdbus_cast<SniMenuLayout>(child.variant()));
    }
    in.endArray();
    in.endStructure();
    return in;
}

QDBusArgument& operator<<(QDBusArgument& out, const SniMenuProperties& p) {
    out.beginStructure();
    out << p.id << p.properties;
    out.endStructure();
    return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, SniMenuProperties& p) {
    in.beginStructure();
    in >> p.id >> p.properties;
    in.endStructure();
    return in;
}

namespace {

const QString ItemPath = QStringLiteral("/StatusNotifierItem");
const QString MenuPath = QStringLiteral("/MenuBar");
const QString WatcherPath = QStringLiteral("/StatusNotifierWatcher");

void registerTypes() {
    static const bool done = [] {
        qDBusRegisterMetaType<SniPixmap>();
        qDBusRegisterMetaType<SniPixmaps>();
        qDBusRegisterMetaType<SniToolTip>();
        qDBusRegisterMetaType<SniMenuLayout>();
        qDBusRegisterMetaType<SniMenuProperties>();
        qDBusRegisterMetaType<SniMenuPropertiesList>();
        return true;
    }();
    (void)done;
}

// The icon's pictures at the sizes panels ask for, each size once.
SniPixmaps picturesOf(const QIcon& icon) {
    SniPixmaps result;
    if (icon.isNull())
        return result;
    QList<QSize> seen;
    for (int side : {16, 22, 24, 32, 48, 64}) {
        QImage image = icon.pixmap(QSize(side, side)).toImage();
        if (image.isNull() || seen.contains(image.size()))
            continue;
        seen.append(image.size());
        image = image.convertToFormat(QImage::Format_ARGB32);
        SniPixmap p{image.width(), image.height(), {}};
        p.pixels.resize(qsizetype(image.width()) * image.height() * 4);
        auto* out = reinterpret_cast<uchar*>(p.pixels.data());
        for (int y = 0; y < image.height(); ++y) {
            const auto* line = reinterpret_cast<const quint32*>(image.constScanLine(y));
            for (int x = 0; x < image.width(); ++x, out += 4)
                qToBigEndian(line[x], out);
        }
        result.append(std::move(p));
    }
    return result;
}

// An action's text as dbusmenu writes it: the mnemonic marked by an
// underscore instead of an ampersand.
QString menuLabel(QString text) {
    QString label;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('_'))
            label += QStringLiteral("__");
        else if (c == QLatin1Char('&') && i + 1 < text.size())
            label +=
                text[++i] == QLatin1Char('&') ? QStringLiteral("&") : QLatin1Char('_') + text[i];
        else
            label += c;
    }
    return label;
}

// The properties of an action as an entry of the exported menu.
QVariantMap entryProperties(const QAction* action) {
    QVariantMap p;
    if (action->isSeparator()) {
        p.insert(QStringLiteral("type"), QStringLiteral("separator"));
    } else {
        p.insert(QStringLiteral("label"), menuLabel(action->text()));
        p.insert(QStringLiteral("enabled"), action->isEnabled());
    }
    p.insert(QStringLiteral("visible"), action->isVisible());
    return p;
}

} // namespace

struct StatusNotifierItem::Bus {
    QString name;
    QDBusConnection connection;
    QDBusServiceWatcher* watcher = nullptr;

    explicit Bus(const QString& connectionName)
        : name(connectionName),
          connection(QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName)) {}
    ~Bus() {
        delete watcher;
        connection.unregisterObject(MenuPath);
        connection.unregisterObject(ItemPath);
        QDBusConnection::disconnectFromBus(name);
    }
};

// The item's interface on the bus.
class StatusNotifierItem::Adaptor final : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ Category)
    Q_PROPERTY(QString Id READ Id)
    Q_PROPERTY(QString Title READ Title)
    Q_PROPERTY(QString Status READ Status)
    Q_PROPERTY(int WindowId READ WindowId)
    Q_PROPERTY(QString IconName READ IconName)
    Q_PROPERTY(platform::SniPixmaps IconPixmap READ IconPixmap)
    Q_PROPERTY(QString OverlayIconName READ Empty)
    Q_PROPERTY(platform::SniPixmaps OverlayIconPixmap READ NoPictures)
    Q_PROPERTY(QString AttentionIconName READ Empty)
    Q_PROPERTY(platform::SniPixmaps AttentionIconPixmap READ NoPictures)
    Q_PROPERTY(platform::SniToolTip ToolTip READ ToolTip)
    Q_PROPERTY(bool ItemIsMenu READ ItemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ Menu)

public:
    explicit Adaptor(StatusNotifierItem* item) : QDBusAbstractAdaptor(item), FItem(item) {}

    QString Category() const { return QStringLiteral("ApplicationStatus"); }
    QString Id() const { return QCoreApplication::applicationName().toLower(); }
    QString Title() const { return QCoreApplication::applicationName(); }
    QString Status() const { return QStringLiteral("Active"); }
    int WindowId() const { return 0; }
    QString IconName() const { return FItem->FIcon.name(); }
    SniPixmaps IconPixmap() const { return picturesOf(FItem->FIcon); }
    QString Empty() const { return {}; }
    SniPixmaps NoPictures() const { return {}; }
    SniToolTip ToolTip() const { return SniToolTip{{}, {}, FItem->FToolTip, {}}; }
    // Clicks are the program's to handle; the host shows the menu, if any.
    bool ItemIsMenu() const { return false; }
    QDBusObjectPath Menu() const {
        return QDBusObjectPath(FItem->FMenu ? MenuPath : QStringLiteral("/NO_DBUSMENU"));
    }

public slots:
    void Activate(int, int) { emit FItem->Clicked(QSystemTrayIcon::Trigger); }
    void SecondaryActivate(int, int) { emit FItem->Clicked(QSystemTrayIcon::MiddleClick); }
    void ContextMenu(int, int) { emit FItem->Clicked(QSystemTrayIcon::Context); }
    void Scroll(int, const QString&) {}

signals:
    void NewTitle();
    void NewIcon();
    void NewToolTip();
    void NewStatus(const QString& status);

private:
    StatusNotifierItem* FItem;
};

// The item's menu on the bus (com.canonical.dbusmenu): the root (id 0) and
// one entry per action of the menu, its id the action's place plus one. The
// entries are read from the menu whenever the host asks; a change of the
// menu's actions tells the host to read them again.
class StatusNotifierItem::MenuAdaptor final : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_PROPERTY(uint Version READ Version)
    Q_PROPERTY(QString TextDirection READ TextDirection)
    Q_PROPERTY(QString Status READ Status)
    Q_PROPERTY(QStringList IconThemePath READ IconThemePath)

public:
    MenuAdaptor(QObject* object, StatusNotifierItem* item)
        : QDBusAbstractAdaptor(object), FItem(item) {}

    uint Version() const { return 3; }
    QString TextDirection() const {
        return QGuiApplication::isRightToLeft() ? QStringLiteral("rtl") : QStringLiteral("ltr");
    }
    QString Status() const { return QStringLiteral("normal"); }
    QStringList IconThemePath() const { return {}; }

    // Called by the item when the menu's actions changed.
    void Changed() { emit LayoutUpdated(++FRevision, 0); }

public slots:
    uint GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                   platform::SniMenuLayout& layout) {
        (void)propertyNames;
        layout = SniMenuLayout{};
        const QList<QAction*> actions = Actions();
        if (parentId > 0 && parentId <= actions.size()) {
            layout.id = parentId;
            layout.properties = entryProperties(actions[parentId - 1]);
            return FRevision;
        }
        layout.properties.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
        if (recursionDepth == 0)
            return FRevision;
        for (int i = 0; i < actions.size(); ++i)
            layout.children.append(SniMenuLayout{i + 1, entryProperties(actions[i]), {}});
        return FRevision;
    }
    platform::SniMenuPropertiesList GetGroupProperties(const QList<int>& ids,
                                                       const QStringList& propertyNames) {
        (void)propertyNames;
        SniMenuPropertiesList result;
        const QList<QAction*> actions = Actions();
        for (int id : ids)
            if (id > 0 && id <= actions.size())
                result.append(SniMenuProperties{id, entryProperties(actions[id - 1])});
        return result;
    }
    QDBusVariant GetProperty(int id, const QString& name) {
        const QList<QAction*> actions = Actions();
        if (id > 0 && id <= actions.size())
            return QDBusVariant(entryProperties(actions[id - 1]).value(name));
        return QDBusVariant(QVariant(QString()));
    }
    void Event(int id, const QString& eventId, const QDBusVariant& data, uint timestamp) {
        (void)data;
        (void)timestamp;
        if (eventId != QLatin1String("clicked"))
            return;
        const QList<QAction*> actions = Actions();
        if (id <= 0 || id > actions.size())
            return;
        // After the answer: the action may open a modal dialog.
        QPointer<QAction> action = actions[id - 1];
        QMetaObject::invokeMethod(
            this,
            [action] {
                if (action && action->isEnabled())
                    action->trigger();
            },
            Qt::QueuedConnection);
    }
    bool AboutToShow(int id) {
        (void)id;
        return false;
    }

signals:
    void ItemsPropertiesUpdated(const platform::SniMenuPropertiesList& updated,
                                const platform::SniMenuPropertiesList& removed);
    void LayoutUpdated(uint revision, int parent);
    void ItemActivationRequested(int id, uint timestamp);

private:
    QList<QAction*> Actions() const {
        return FItem->FMenu ? FItem->FMenu->actions() : QList<QAction*>{};
    }

    StatusNotifierItem* FItem;
    uint FRevision = 1;
};

StatusNotifierItem::StatusNotifierItem(QObject* parent) : QObject(parent) {
    registerTypes();
    static std::atomic<int> serial{0};
    FBus = std::make_unique<Bus>(QStringLiteral("netsonde-sni-%1").arg(++serial));
    auto* adaptor = new Adaptor(this);
    (void)adaptor;
    if (!FBus->connection.isConnected())
        return;
    FBus->connection.registerObject(ItemPath, this, QDBusConnection::ExportAdaptors);
    // The menu has an object of its own, so that its interface's Status does
    // not meet the item's.
    FMenuObject = new QObject(this);
    new MenuAdaptor(FMenuObject, this);
    FBus->connection.registerObject(MenuPath, FMenuObject, QDBusConnection::ExportAdaptors);
    // A panel that starts (or starts again) later gets the item too.
    FBus->watcher = new QDBusServiceWatcher(WatcherService(), FBus->connection,
                                            QDBusServiceWatcher::WatchForRegistration);
    connect(FBus->watcher, &QDBusServiceWatcher::serviceRegistered, this, [this] { Register(); });
}

StatusNotifierItem::~StatusNotifierItem() = default;

QString StatusNotifierItem::WatcherService() {
    return QStringLiteral("org.kde.StatusNotifierWatcher");
}

bool StatusNotifierItem::WatcherPresent() {
    const QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.isConnected() && bus.interface() &&
           bus.interface()->isServiceRegistered(WatcherService()).value();
}

void StatusNotifierItem::SetIcon(const QIcon& icon) {
    FIcon = icon;
    if (auto* adaptor = findChild<Adaptor*>())
        emit adaptor->NewIcon();
}

void StatusNotifierItem::SetToolTip(const QString& text) {
    if (text == FToolTip)
        return;
    FToolTip = text;
    if (auto* adaptor = findChild<Adaptor*>())
        emit adaptor->NewToolTip();
}

QMenu* StatusNotifierItem::Menu() const {
    return FMenu.data();
}

void StatusNotifierItem::SetMenu(QMenu* menu) {
    if (menu == FMenu)
        return;
    if (FMenu)
        FMenu->removeEventFilter(this);
    FMenu = menu;
    if (menu)
        menu->installEventFilter(this);
    MenuChanged();
}

bool StatusNotifierItem::eventFilter(QObject* watched, QEvent* event) {
    if (watched == FMenu &&
        (event->type() == QEvent::ActionAdded || event->type() == QEvent::ActionChanged ||
         event->type() == QEvent::ActionRemoved))
        MenuChanged();
    return QObject::eventFilter(watched, event);
}

void StatusNotifierItem::MenuChanged() {
    if (!FMenuObject)
        return;
    if (auto* menu = FMenuObject->findChild<MenuAdaptor*>())
        menu->Changed();
}

bool StatusNotifierItem::Register() {
    if (!FBus->connection.isConnected() || !FBus->connection.interface() ||
        !FBus->connection.interface()->isServiceRegistered(WatcherService()).value())
        return false;
    QDBusMessage call =
        QDBusMessage::createMethodCall(WatcherService(), WatcherPath, WatcherService(),
                                       QStringLiteral("RegisterStatusNotifierItem"));
    call << Service();
    // Not waited for: a watcher that hangs must not hold up the window.
    return FBus->connection.send(call);
}

QString StatusNotifierItem::Service() const {
    return FBus->connection.baseService();
}

} // namespace platform

#include "StatusNotifierItem.moc"

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
#include <QImage>
#include <QList>
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

} // namespace platform

Q_DECLARE_METATYPE(platform::SniPixmap)
Q_DECLARE_METATYPE(platform::SniToolTip)

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

namespace {

const QString ItemPath = QStringLiteral("/StatusNotifierItem");
const QString WatcherPath = QStringLiteral("/StatusNotifierWatcher");

void registerTypes() {
    static const bool done = [] {
        qDBusRegisterMetaType<SniPixmap>();
        qDBusRegisterMetaType<SniPixmaps>();
        qDBusRegisterMetaType<SniToolTip>();
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
    // Clicks are the program's to handle; there is no menu of the host's.
    bool ItemIsMenu() const { return false; }
    QDBusObjectPath Menu() const { return QDBusObjectPath(QStringLiteral("/NO_DBUSMENU")); }

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

StatusNotifierItem::StatusNotifierItem(QObject* parent) : QObject(parent) {
    registerTypes();
    static std::atomic<int> serial{0};
    FBus = std::make_unique<Bus>(QStringLiteral("netsonde-sni-%1").arg(++serial));
    auto* adaptor = new Adaptor(this);
    (void)adaptor;
    if (!FBus->connection.isConnected())
        return;
    FBus->connection.registerObject(ItemPath, this, QDBusConnection::ExportAdaptors);
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

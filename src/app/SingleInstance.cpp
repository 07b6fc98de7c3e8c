#include "app/SingleInstance.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QFileInfo>

namespace {

// How long a later start waits for the running program's answer.
constexpr int CallTimeoutMs = 10'000;

const char* const IntrospectionXml = "  <interface name=\"%1\">\n"
                                     "    <method name=\"Open\">\n"
                                     "      <arg name=\"file\" type=\"s\" direction=\"in\"/>\n"
                                     "    </method>\n"
                                     "    <method name=\"Present\"/>\n"
                                     "  </interface>\n";

} // namespace

// The object on the bus. Calls arrive on the bus's own thread: each is
// answered there and handed to the window thread.
class SingleInstance::Object : public QDBusVirtualObject {
public:
    explicit Object(SingleInstance* owner) : FOwner(owner) {}

    QString introspect(const QString& path) const override {
        if (path != ObjectPath())
            return {};
        return QString::fromLatin1(IntrospectionXml).arg(ServiceName());
    }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.type() != QDBusMessage::MethodCallMessage ||
            message.interface() != ServiceName())
            return false;
        // A start that only wants to know whether this program runs.
        if (message.member() == QLatin1String("Present")) {
            connection.send(message.createReply());
            return true;
        }
        if (message.member() != QLatin1String("Open"))
            return false;
        const QList<QVariant> args = message.arguments();
        if (args.size() != 1 || args[0].typeId() != QMetaType::QString) {
            connection.send(message.createErrorReply(QDBusError::InvalidArgs,
                                                     QStringLiteral("Open takes one file name")));
            return true;
        }
        const QString file = args[0].toString();
        QMetaObject::invokeMethod(
            FOwner, [owner = FOwner, file] { owner->Request(file); }, Qt::QueuedConnection);
        connection.send(message.createReply());
        return true;
    }

private:
    SingleInstance* FOwner;
};

SingleInstance::SingleInstance(QObject* parent) : QObject(parent) {}

SingleInstance::~SingleInstance() {
    Close();
}

void SingleInstance::Close() {
    if (!FRegistered)
        return;
    FRegistered = false;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterService(ServiceName());
    bus.unregisterObject(ObjectPath());
}

QString SingleInstance::ServiceName() {
    return QStringLiteral(NETSONDE_APP_ID);
}

QString SingleInstance::ObjectPath() {
    return QLatin1Char('/') + ServiceName().replace(QLatin1Char('.'), QLatin1Char('/'));
}

bool SingleInstance::HandOver(const QString& file) {
    return Claim(Ask::Open, file);
}

bool SingleInstance::StandAside() {
    return Claim(Ask::Present, QString());
}

bool SingleInstance::Claim(Ask ask, const QString& file) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    // The object comes first: a later start that sees the name can call it.
    FObject = std::make_unique<Object>(this);
    if (!bus.registerVirtualObject(ObjectPath(), FObject.get()))
        return false;
    const auto claimed =
        bus.interface()->registerService(ServiceName(), QDBusConnectionInterface::DontQueueService,
                                         QDBusConnectionInterface::DontAllowReplacement);
    if (claimed.isValid() && claimed.value() == QDBusConnectionInterface::ServiceRegistered) {
        FRegistered = true;
        return false;
    }
    bus.unregisterObject(ObjectPath());
    FObject.reset();
    QDBusMessage call = QDBusMessage::createMethodCall(
        ServiceName(), ObjectPath(), ServiceName(),
        ask == Ask::Open ? QStringLiteral("Open") : QStringLiteral("Present"));
    if (ask == Ask::Open)
        call << (file.isEmpty() ? QString() : QFileInfo(file).absoluteFilePath());
    // No answer (the running program is ending, or hangs): this one runs.
    return bus.call(call, QDBus::Block, CallTimeoutMs).type() == QDBusMessage::ReplyMessage;
}

void SingleInstance::Serve(std::function<void(const QString&)> open) {
    FOpen = std::move(open);
    const QStringList pending = std::exchange(FPending, {});
    for (const QString& file : pending)
        FOpen(file);
}

void SingleInstance::Request(const QString& file) {
    if (FOpen)
        FOpen(file);
    else
        FPending << file;
}

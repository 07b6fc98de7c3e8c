#include "app/StartUp.h"

#include <QByteArray>
#include <QFile>
#include <QRegularExpression>
#include <QtGlobal>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>

namespace startup {

namespace {

// Whether something accepts a connection on a local stream socket; an
// abstract address starts with a zero byte.
bool SocketAnswers(const QByteArray& address) {
    sockaddr_un where{};
    where.sun_family = AF_UNIX;
    if (address.isEmpty() || static_cast<size_t>(address.size()) >= sizeof(where.sun_path))
        return false;
    std::memcpy(where.sun_path, address.constData(), address.size());
    // Without blocking: a server too busy to take the connection at once
    // (its queue full) is there all the same.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return false;
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + address.size() +
                                               (address[0] == '\0' ? 0 : 1));
    const bool answered =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&where), length) == 0 || errno == EAGAIN;
    ::close(fd);
    return answered;
}

bool LocalPortAnswers(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(static_cast<uint16_t>(port));
    where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool answered =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&where), sizeof where) == 0;
    ::close(fd);
    return answered;
}

} // namespace

bool WaylandReachable(const Environment& env) {
    if (!env("WAYLAND_SOCKET").isEmpty())
        return true;
    const QString name = env("WAYLAND_DISPLAY");
    if (name.isEmpty())
        return false;
    if (name.startsWith(QLatin1Char('/')))
        return SocketAnswers(QFile::encodeName(name));
    const QString runtime = env("XDG_RUNTIME_DIR");
    if (runtime.isEmpty())
        return false;
    return SocketAnswers(QFile::encodeName(runtime + QLatin1Char('/') + name));
}

bool X11Reachable(const Environment& env) {
    const QString display = env("DISPLAY");
    if (display.isEmpty())
        return false;
    // [host]:number[.screen], or the path of a socket (as launchd hands out).
    if (display.startsWith(QLatin1Char('/')))
        return SocketAnswers(QFile::encodeName(display.section(QLatin1Char(':'), 0, 0)));
    static const QRegularExpression local(
        QStringLiteral("^(unix|localhost|127\\.0\\.0\\.1)?:(\\d+)(\\.\\d+)?$"));
    const QRegularExpressionMatch match = local.match(display);
    if (!match.hasMatch())
        return true;
    const QString host = match.captured(1);
    const int number = match.captured(2).toInt();
    // This machine by name: the server's port only.
    if (host == QLatin1String("localhost") || host.startsWith(QLatin1String("127.")))
        return number < 1000 && LocalPortAnswers(6000 + number);
    const QByteArray path = "/tmp/.X11-unix/X" + match.captured(2).toLatin1();
    if (SocketAnswers(QByteArray(1, '\0') + path) || SocketAnswers(path))
        return true;
    // The X library tries the server's port on this machine last.
    return host.isEmpty() && number < 1000 && LocalPortAnswers(6000 + number);
}

Arguments ParseArguments(const QStringList& args) {
    Arguments result;
    bool options = true;
    for (const QString& arg : args) {
        if (options && arg == QLatin1String("--")) {
            options = false;
            continue;
        }
        if (options && arg.startsWith(QLatin1Char('-'))) {
            result.error =
                QStringLiteral("unknown option '%1': the only argument is a file to open").arg(arg);
            return result;
        }
        if (!result.file.isEmpty() || arg.isEmpty()) {
            result.error = arg.isEmpty() ? QStringLiteral("an empty file name cannot be opened")
                                         : QStringLiteral("only one file can be opened at a time");
            return result;
        }
        result.file = arg;
    }
    return result;
}

QString NoDisplayReason(const Environment& env) {
    const QString platform = env("QT_QPA_PLATFORM");
    const QString wayland = env("WAYLAND_DISPLAY");
    const QString x11 = env("DISPLAY");
    const QString noWayland =
        wayland.isEmpty() ? QStringLiteral("WAYLAND_DISPLAY is not set")
                          : QStringLiteral("no Wayland compositor answers at '%1'").arg(wayland);
    const QString noX11 = x11.isEmpty() ? QStringLiteral("DISPLAY is not set")
                                        : QStringLiteral("no X server answers at '%1'").arg(x11);
    if (!platform.isEmpty()) {
        // Qt tries the platforms of a list in turn ("wayland;xcb"), each
        // maybe with arguments ("xcb:..."); one it cannot check here may
        // work.
        QStringList tried;
        for (const QString& entry : platform.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            const QString name = entry.section(QLatin1Char(':'), 0, 0).trimmed();
            if (name.startsWith(QLatin1String("wayland"))) {
                if (WaylandReachable(env))
                    return {};
                tried << noWayland;
            } else if (name == QLatin1String("xcb")) {
                if (X11Reachable(env))
                    return {};
                tried << noX11;
            } else {
                return {};
            }
        }
        tried.removeDuplicates();
        if (tried.isEmpty())
            return {};
        return QStringLiteral("no display to open: ") + tried.join(QStringLiteral(" and "));
    }
    if (x11.isEmpty() && wayland.isEmpty())
        return QStringLiteral("no display to open: neither DISPLAY nor WAYLAND_DISPLAY is set "
                              "(a graphical session is needed)");
    if (WaylandReachable(env) || X11Reachable(env))
        return {};
    QStringList tried;
    if (!wayland.isEmpty())
        tried << noWayland;
    if (!x11.isEmpty())
        tried << noX11;
    return QStringLiteral("no display to open: ") + tried.join(QStringLiteral(" and "));
}

QString FallbackPlatform(const Environment& env) {
    if (!env("QT_QPA_PLATFORM").isEmpty() || env("WAYLAND_DISPLAY").isEmpty() ||
        WaylandReachable(env) || !X11Reachable(env))
        return {};
    return QStringLiteral("xcb");
}

int Check(int argc, char** argv, QString& file) {
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    const Arguments parsed = ParseArguments(args);
    QString error = parsed.error;
    int status = 2;
    const Environment env = [](const char* name) {
        return QString::fromLocal8Bit(std::getenv(name));
    };
    if (error.isEmpty()) {
        status = 1;
        error = NoDisplayReason(env);
    }
    if (!error.isEmpty()) {
        std::fprintf(stderr, "netsonde: %s\n", qPrintable(error));
        return status;
    }
    const QString fallback = FallbackPlatform(env);
    if (!fallback.isEmpty())
        qputenv("QT_QPA_PLATFORM", fallback.toLatin1());
    file = parsed.file;
    return 0;
}

namespace {

// The guard's state: one guard at a time, on the window thread.
struct Held {
    QtMessageHandler previous = nullptr;
    int realError = -1; // the standard error the guard took over
    int holding = -1;   // where standard error goes meanwhile
    QList<std::pair<QtMsgType, QString>> messages;
};
Held held;

void WriteAll(int fd, const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n <= 0)
            return;
        done += n;
    }
}

void HoldMessage(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type != QtFatalMsg) {
        held.messages.append({type, text});
        return;
    }
    // Qt's own words name the platform plugin and suggest reinstalling; the
    // reason is in the warning before them ("could not connect to display
    // :1").
    QString reason = text.section(QLatin1Char('\n'), 0, 0).section(QLatin1String(". "), 0, 0);
    for (const auto& [kind, message] : held.messages)
        if (kind == QtWarningMsg) {
            reason = message.section(QLatin1Char('\n'), 0, 0);
            break;
        }
    WriteAll(held.realError >= 0 ? held.realError : STDERR_FILENO,
             QStringLiteral("netsonde: no display to open: %1\n").arg(reason).toLocal8Bit());
    std::_Exit(1);
}

} // namespace

PlatformGuard::PlatformGuard() {
    std::fflush(stderr);
    held.realError = ::dup(STDERR_FILENO);
    held.holding = ::memfd_create("netsonde-start", MFD_CLOEXEC);
    if (held.realError >= 0 && held.holding >= 0)
        ::dup2(held.holding, STDERR_FILENO);
    held.previous = qInstallMessageHandler(&HoldMessage);
}

PlatformGuard::~PlatformGuard() {
    qInstallMessageHandler(held.previous);
    std::fflush(stderr);
    if (held.realError >= 0) {
        ::dup2(held.realError, STDERR_FILENO);
        ::close(held.realError);
    }
    if (held.holding >= 0) {
        QFile written;
        if (::lseek(held.holding, 0, SEEK_SET) == 0 &&
            written.open(held.holding, QIODevice::ReadOnly))
            WriteAll(STDERR_FILENO, written.readAll());
        written.close();
        ::close(held.holding);
    }
    for (const auto& [type, text] : std::exchange(held.messages, {}))
        qt_message_output(type, QMessageLogContext(), text);
    held = Held();
}

} // namespace startup

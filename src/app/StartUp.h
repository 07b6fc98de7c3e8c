#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// What the program checks before Qt opens a display: its command line and
// whether there is a display to open at all.
namespace startup {

// The command line takes no options, only the file to open. "--" ends
// options, so that a file whose name starts with '-' can still be named.
struct Arguments {
    // The file to open, as given; empty for none.
    QString file;
    // One line for the user when the command line is refused; empty if it
    // is accepted.
    QString error;
};

// args are the arguments after the program's name.
Arguments ParseArguments(const QStringList& args);

// Reads one environment variable.
using Environment = std::function<QString(const char*)>;

// Whether a Wayland compositor answers on the socket that WAYLAND_DISPLAY
// names (an absolute path, or a name under XDG_RUNTIME_DIR). A socket handed
// down in WAYLAND_SOCKET counts as reachable.
bool WaylandReachable(const Environment& env);

// Whether the X server that DISPLAY names answers on its local socket, or,
// for "localhost:N", on its port. A display on another host (over TCP or a
// forwarded connection) is taken as reachable: only Qt can tell.
bool X11Reachable(const Environment& env);

// Why no display can be opened, or an empty text when one may be: Qt ends
// the process with an abort when it finds none. The platforms named in
// QT_QPA_PLATFORM ("wayland;xcb" is tried in turn) are checked only while
// each is "wayland" or "xcb"; a list with any other is left to Qt.
QString NoDisplayReason(const Environment& env);

// The platform Qt must use when its own choice would fail: "xcb" when
// WAYLAND_DISPLAY is set but no compositor answers while an X server does
// (Qt picks Wayland whenever WAYLAND_DISPLAY is set and aborts when it
// cannot connect); empty otherwise.
QString FallbackPlatform(const Environment& env);

// Both checks on the real command line and environment: prints the line
// and returns the exit status when the program must stop, else 0 and the
// file to open. Sets QT_QPA_PLATFORM to the fallback platform when there is
// one.
int Check(int argc, char** argv, QString& file);

// Held while the application object is made, where Qt opens its platform:
// what Qt and the display libraries write meanwhile is held back, and when
// Qt gives up (an X server that refuses the client, a display elsewhere
// that does not answer) the program ends with one line and status 1, as
// Check does, instead of Qt's abort. Once released, what was held is
// written after all.
class PlatformGuard {
public:
    PlatformGuard();
    ~PlatformGuard();
    PlatformGuard(const PlatformGuard&) = delete;
    PlatformGuard& operator=(const PlatformGuard&) = delete;
};

} // namespace startup

#include "resolve/WSExtra.h"

#include "platform/Messages.h"
#include "platform/ProgramExit.h"
#include "platform/WinSock.h"

namespace {

platform::TWSAData socketsData;
bool socketsStarted = false;
const QObject* socketsOwner = nullptr;

constexpr std::uint16_t kVersion11 = 0x0101;
constexpr int kAbortExitCode = 3;

} // namespace

bool SocketsStarted() {
    return socketsStarted;
}
const QObject* SocketsOwner() {
    return socketsOwner;
}

void StartSocketLibrary(QObject* Component) {
    if (socketsStarted)
        return;
    int code = platform::WSAStartup(kVersion11, &socketsData);
    if (code == 0) {
        socketsStarted = true;
        socketsOwner = Component;
        return;
    }
    if (platform::Messages().ErrorAbortIgnore(SocketErrorText(code)) == platform::MsgAnswer::Abort)
        platform::TerminateProgram(kAbortExitCode);
}

void StopSocketLibrary(QObject* Component) {
    if (Component == nullptr || Component != socketsOwner)
        return;
    if (platform::WSACleanup() == 0) {
        socketsStarted = false;
        socketsOwner = nullptr;
        return;
    }
    platform::Messages().Plain(SocketErrorText(platform::WSAGetLastError()));
}

QString SocketErrorText(int Code) {
    switch (Code) {
    case 10004:
        return QStringLiteral("Blocking call cancelled");
    case 10022:
        return QStringLiteral("App version not supported by DLL");
    case 10024:
        return QStringLiteral("No file descriptors available");
    case 10035:
        return QStringLiteral("Socket marked as non-blocking and SO_LINGER set not 0");
    case 10036:
        return QStringLiteral("Blocking operation in progress");
    case 10038:
        return QStringLiteral("Descriptor is not a socket");
    case 10041:
        return QStringLiteral("Protocol wrong type for this socket");
    case 10043:
        return QStringLiteral("Specified protocol not supported");
    case 10044:
        return QStringLiteral("Socket type not supported for address family");
    case 10047:
        return QStringLiteral("Address family not supported");
    case 10048:
        return QStringLiteral("Address already in use");
    case 10049:
        return QStringLiteral("Address not available");
    case 10050:
        return QStringLiteral("Network subsystem failed");
    case 10051:
        return QStringLiteral("Network unreachable");
    case 10053:
        return QStringLiteral("Connection aborted");
    case 10054:
        return QStringLiteral("Connection reset");
    case 10055:
        return QStringLiteral("No buffer space available");
    case 10057:
        return QStringLiteral("Not connected");
    case 10060:
        return QStringLiteral("Connection timed out");
    case 10061:
        return QStringLiteral("Connection refused");
    case 10064:
        return QStringLiteral("Host down");
    case 10065:
        return QStringLiteral("Host unreachable");
    case 10091:
        return QStringLiteral("WinSock not present or not responding");
    case 10092:
        return QStringLiteral("Version of WinSock not supported");
    case 10093:
        return QStringLiteral("WSA Startup not initialized");
    case 11001:
        return QStringLiteral("Authoritative Host not found");
    case 11002:
        return QStringLiteral("Non-authoritative Host not found or server failure");
    case 11003:
        return QStringLiteral("Non-recoverable: refused or not implemented");
    case 11004:
        return QStringLiteral("Valid name, no data record for type");
    default:
        return {};
    }
}

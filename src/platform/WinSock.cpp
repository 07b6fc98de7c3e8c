#include "platform/WinSock.h"

#include "platform/LastError.h"

#include <atomic>
#include <cstring>

namespace platform {

namespace {

// How many start-ups are not yet matched by a clean-up. Written and read on
// the window thread only, like every call of the library's start-up.
std::atomic<int> startCount{0};

std::unique_ptr<SocketLibrary>& current() {
    static std::unique_ptr<SocketLibrary> library = std::make_unique<SystemSocketLibrary>();
    return library;
}

} // namespace

int SystemSocketLibrary::Startup(std::uint16_t versionRequested, TWSAData* data) {
    std::uint8_t major = versionRequested & 0xFF;
    std::uint8_t minor = versionRequested >> 8;
    if (major < 1 || (major == 1 && minor < 1))
        return wsa::WSAVERNOTSUPPORTED;
    if (data != nullptr) {
        data->wVersion = 0x0101;
        data->wHighVersion = 0x0202;
        std::strncpy(data->szDescription, "Linux sockets", sizeof data->szDescription - 1);
        std::strncpy(data->szSystemStatus, "Running", sizeof data->szSystemStatus - 1);
    }
    return 0;
}

int SystemSocketLibrary::Cleanup() {
    return 0;
}

int WSAStartup(std::uint16_t versionRequested, TWSAData* data) {
    int result = current()->Startup(versionRequested, data);
    if (result == 0)
        ++startCount;
    return result;
}

int WSACleanup() {
    if (startCount.load() <= 0) {
        WSASetLastError(wsa::WSANOTINITIALISED);
        return SOCKET_ERROR;
    }
    int result = current()->Cleanup();
    if (result == 0)
        --startCount;
    return result;
}

int WSAGetLastError() {
    return static_cast<int>(GetLastError());
}
void WSASetLastError(int code) {
    SetLastError(static_cast<std::uint32_t>(code));
}

bool WSAIsStarted() {
    return startCount.load() > 0;
}

std::unique_ptr<SocketLibrary> SetSocketLibrary(std::unique_ptr<SocketLibrary> replacement) {
    std::unique_ptr<SocketLibrary> previous = std::move(current());
    current() = replacement ? std::move(replacement) : std::make_unique<SystemSocketLibrary>();
    return previous;
}

} // namespace platform

#pragma once

#include <cstdint>
#include <memory>

// The socket library's start-up and error state. Name operations of the
// same library live beside these and fail with WSANOTINITIALISED while the
// library is not started.
namespace platform {

constexpr int SOCKET_ERROR = -1;

// Socket library error codes used by this program.
namespace wsa {
constexpr int WSAEINVAL = 10022;
constexpr int WSASYSNOTREADY = 10091;
constexpr int WSAVERNOTSUPPORTED = 10092;
constexpr int WSANOTINITIALISED = 10093;
constexpr int WSAHOST_NOT_FOUND = 11001;
constexpr int WSATRY_AGAIN = 11002;
constexpr int WSANO_RECOVERY = 11003;
constexpr int WSANO_DATA = 11004;
} // namespace wsa

// The information record the library fills at start-up.
struct TWSAData {
    std::uint16_t wVersion = 0;
    std::uint16_t wHighVersion = 0;
    char szDescription[257] = {};
    char szSystemStatus[129] = {};
};

int WSAStartup(std::uint16_t versionRequested, TWSAData* data);
int WSACleanup();
int WSAGetLastError();
void WSASetLastError(int code);
// True while a WSAStartup has not been matched by a WSACleanup.
bool WSAIsStarted();

// The start-up and clean-up steps behind a seam, so that tests can make them
// fail or count them.
class SocketLibrary {
public:
    virtual ~SocketLibrary() = default;
    // 0 when ready, otherwise the error code as the result.
    virtual int Startup(std::uint16_t versionRequested, TWSAData* data) = 0;
    // 0 on success; otherwise SOCKET_ERROR with the code set by WSASetLastError.
    virtual int Cleanup() = 0;
};

// The default library: accepts versions 1.1 and later. WSAStartup and
// WSACleanup count successful start-ups against clean-ups around it.
class SystemSocketLibrary : public SocketLibrary {
public:
    int Startup(std::uint16_t versionRequested, TWSAData* data) override;
    int Cleanup() override;
};

std::unique_ptr<SocketLibrary> SetSocketLibrary(std::unique_ptr<SocketLibrary> replacement);

} // namespace platform

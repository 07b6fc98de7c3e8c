#pragma once

#include "platform/IcmpTypes.h"

#include <cstdint>
#include <memory>
#include <string>

class QObject;

// The socket library's start-up and error state. Name operations of the
// same library live beside these and fail with WSANOTINITIALISED while the
// library is not started.
namespace platform {

class NameService;

constexpr int SOCKET_ERROR = -1;

// Socket library error codes used by this program.
namespace wsa {
constexpr int WSAEINVAL = 10022;
constexpr int WSAEAFNOSUPPORT = 10047;
constexpr int WSAENOBUFS = 10055;
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

// ---- Name operations ----------------------------------------------------
//
// Addresses are 32-bit IPv4 addresses in network byte order (the first octet
// in the lowest byte of memory). The names go through the name service of
// NameService.h; while the library is not started every lookup fails with
// WSANOTINITIALISED.

// The "no address" value of the conversions: all bits set.
constexpr std::uint32_t InaddrNone = 0xFFFFFFFFu;
constexpr int AfInet = 2;
constexpr int AfInet6 = 23;

// A host entry. The strings and arrays it points to belong to the library
// (blocking calls: storage of the calling thread, valid until its next call)
// or to the caller's buffer (asynchronous calls).
struct hostent {
    char* h_name;            // official name
    char** h_aliases;        // other names, ending with a null pointer
    std::int16_t h_addrtype; // AfInet
    std::int16_t h_length;   // 4
    char** h_addr_list;      // addresses, ending with a null pointer
};

// The size of buffer an asynchronous lookup needs at most.
constexpr int MAXGETHOSTSTRUCT = 1024;

// Converts a dotted address text. Four dot-separated parts of decimal
// digits are read as decimal even with leading zeros (192.168.1.010 is
// 192.168.1.10), and are no address when a part is beyond 255 (0300.1.1.1
// is not the octal 192.1.1.1). Every other text takes the classic
// rules: one to four parts, each decimal, octal with a leading 0 or
// hexadecimal with a leading 0x; the last part fills the remaining bytes.
// Returns InaddrNone for anything else (and for 255.255.255.255).
std::uint32_t inet_addr(const char* cp);
// The dotted text of an address, in storage of the calling thread that the
// next call overwrites.
char* inet_ntoa(std::uint32_t address);

// Converts an IPv6 address text (any RFC 4291 form) with an optional zone
// after '%': an interface name or index, as in fe80::1%eth0. False for any
// other text, and for a zone that names no interface.
bool inet_addr6(const char* cp, TIpv6Address& address);
// The canonical text of an IPv6 address (RFC 5952: lower case, no leading
// zeros, the longest run of two or more zero groups as "::", the first of
// equal runs; an IPv4-mapped address ends in dotted notation), followed by
// '%' and the interface name (or index) when it has a scope.
std::string inet_ntoa6(const TIpv6Address& address);

// Blocking lookups. Return the host entry, or nullptr with the error code
// set for WSAGetLastError (11001 to 11004 when the name service has no
// answer, WSANOTINITIALISED before start-up). A name's entry holds IPv4 or
// IPv6 addresses (h_addrtype AfInet6, h_length 16) by the system's address
// selection; gethostbyaddr takes 4 bytes with AfInet or 16 with AfInet6.
hostent* gethostbyname(const char* name);
hostent* gethostbyaddr(const char* addr, int len, int type);

// Asynchronous lookups. The lookup runs on one of a few worker threads, in
// the order the requests came (an answer the name service holds already
// needs none); its reply comes
// back to the window thread as a WindowMessage of number wMsg sent to
// window, with the request handle in wParam and in lParam the error code in
// the high 16 bits (0 on success) and the buffer size the entry needs in the
// low 16 bits; on success the host entry has been written into buf first.
// Return a non-zero request handle, or 0 with the error code set when the
// request is refused. Call on the window thread.
using AsyncHandle = std::uintptr_t;
AsyncHandle WSAAsyncGetHostByName(QObject* window, unsigned wMsg, const char* name, char* buf,
                                  int buflen);
AsyncHandle WSAAsyncGetHostByAddr(QObject* window, unsigned wMsg, const char* addr, int len,
                                  int type, char* buf, int buflen);

// The lookups above, asking service instead of the name service in use
// (null: the one in use). A component that is handed answers found ahead
// of its turn asks them this way, and nobody else sees them.
hostent* gethostbyname(const std::shared_ptr<NameService>& service, const char* name);
hostent* gethostbyaddr(const std::shared_ptr<NameService>& service, const char* addr, int len,
                       int type);
AsyncHandle WSAAsyncGetHostByName(const std::shared_ptr<NameService>& service, QObject* window,
                                  unsigned wMsg, const char* name, char* buf, int buflen);
AsyncHandle WSAAsyncGetHostByAddr(const std::shared_ptr<NameService>& service, QObject* window,
                                  unsigned wMsg, const char* addr, int len, int type, char* buf,
                                  int buflen);
// 0 when the request was cancelled: its reply will never be sent and its
// buffer is no longer touched. SOCKET_ERROR (code WSAEINVAL) when the handle
// names no running request, for instance because its reply was already
// sent. Call on the window thread.
int WSACancelAsyncRequest(AsyncHandle handle);
// Number of asynchronous lookups waiting for a worker or running on one.
int AsyncLookupsInFlight();
// Number of worker threads of asynchronous lookups that exist now; never
// more than a few, however many lookups wait.
int AsyncLookupWorkers();
// Waits until no worker of an asynchronous lookup is left, without handling
// any message; false when timeoutMs passed first. Their replies may still be
// waiting in the window thread's queue.
bool WaitForAsyncLookups(int timeoutMs);

} // namespace platform

// The name operations of the socket library: address conversions, blocking
// lookups and asynchronous lookups answered by a window message.
#include "platform/LookupWorkers.h"
#include "platform/NameService.h"
#include "platform/WinSock.h"
#include "platform/WindowMessage.h"
#include "platform/WindowThread.h"

#include <QCoreApplication>
#include <QPointer>
#include <arpa/inet.h>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <net/if.h>
#include <string_view>
#include <thread>

namespace platform {

namespace {

// ---- Address conversion -------------------------------------------------

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Reads one part in the classic notation: hexadecimal after 0x, octal after
// a leading 0, decimal otherwise. False for an empty or malformed part, or
// one beyond 32 bits.
bool classicPart(std::string_view part, std::uint64_t& value) {
    unsigned base = 10;
    if (part.size() > 1 && part[0] == '0' && (part[1] == 'x' || part[1] == 'X')) {
        base = 16;
        part.remove_prefix(2);
    } else if (part.size() > 1 && part[0] == '0') {
        base = 8;
        part.remove_prefix(1);
    }
    if (part.empty())
        return false;
    value = 0;
    for (char c : part) {
        unsigned digit = 0;
        if (isDigit(c))
            digit = static_cast<unsigned>(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else
            return false;
        if (digit >= base)
            return false;
        value = value * base + digit;
        if (value > 0xFFFFFFFFu)
            return false;
    }
    return true;
}

// How a text of exactly four parts, all decimal digits, reads: always as
// four decimal numbers, whatever leading zeros they have, so that a part
// beyond 255 makes it no address rather than an octal one.
enum class Decimal { NotDecimal, Address, NoAddress };

Decimal plainDecimal(const std::vector<std::string_view>& parts, std::uint32_t& hostOrder) {
    if (parts.size() != 4)
        return Decimal::NotDecimal;
    for (std::string_view part : parts) {
        if (part.empty())
            return Decimal::NotDecimal;
        for (char c : part)
            if (!isDigit(c))
                return Decimal::NotDecimal;
    }
    std::uint32_t value = 0;
    for (std::string_view part : parts) {
        unsigned byte = 0;
        for (char c : part) {
            byte = byte * 10 + static_cast<unsigned>(c - '0');
            if (byte > 255)
                return Decimal::NoAddress;
        }
        value = value << 8 | byte;
    }
    hostOrder = value;
    return Decimal::Address;
}

bool classicAddress(const std::vector<std::string_view>& parts, std::uint32_t& hostOrder) {
    std::uint64_t values[4] = {};
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (!classicPart(parts[i], values[i]))
            return false;
    }
    // Every part but the last is one byte; the last fills the rest.
    std::size_t last = parts.size() - 1;
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < last; ++i) {
        if (values[i] > 0xFF)
            return false;
        value |= values[i] << (24 - 8 * i);
    }
    std::uint64_t lastMax = 0xFFFFFFFFu >> (8 * last);
    if (values[last] > lastMax)
        return false;
    hostOrder = static_cast<std::uint32_t>(value | values[last]);
    return true;
}

// ---- Host entries -------------------------------------------------------

// Host entries returned by the blocking calls live here, one per thread.
struct EntryStorage {
    HostRecord record;
    std::vector<char*> aliases;
    std::vector<char*> addressPointers;
    hostent entry{};
};

bool isIpv6(const HostRecord& r) {
    return r.addresses.empty() && !r.addresses6.empty();
}

// The bytes of address i of a record, 4 or 16 of them.
const void* addressBytes(const HostRecord& r, std::size_t i) {
    return isIpv6(r) ? static_cast<const void*>(r.addresses6[i].data())
                     : static_cast<const void*>(&r.addresses[i]);
}
std::size_t addressCount(const HostRecord& r) {
    return isIpv6(r) ? r.addresses6.size() : r.addresses.size();
}
std::int16_t addressLength(const HostRecord& r) {
    return isIpv6(r) ? 16 : 4;
}

hostent* fillStorage(EntryStorage& s, HostRecord record) {
    s.record = std::move(record);
    s.aliases.clear();
    for (std::string& alias : s.record.aliases)
        s.aliases.push_back(alias.data());
    s.aliases.push_back(nullptr);
    s.addressPointers.clear();
    for (std::size_t i = 0; i < addressCount(s.record); ++i)
        s.addressPointers.push_back(
            static_cast<char*>(const_cast<void*>(addressBytes(s.record, i))));
    s.addressPointers.push_back(nullptr);
    s.entry.h_name = s.record.name.data();
    s.entry.h_aliases = s.aliases.data();
    s.entry.h_addrtype = static_cast<std::int16_t>(isIpv6(s.record) ? AfInet6 : AfInet);
    s.entry.h_length = addressLength(s.record);
    s.entry.h_addr_list = s.addressPointers.data();
    return &s.entry;
}

EntryStorage& threadStorage() {
    thread_local EntryStorage storage;
    return storage;
}

// What a lookup asks: a name, or the name of an address of either family.
struct Query {
    bool byName = false;
    std::string name;
    std::uint32_t address = 0;
    bool ipv6 = false;
    std::array<std::uint8_t, 16> address6{};
};

// A record without addresses is "no data".
int withAddresses(int code, const HostRecord& record) {
    if (code == 0 && record.addresses.empty() && record.addresses6.empty())
        return wsa::WSANO_DATA;
    return code;
}

// Asks the service.
int ask(NameService& service, const Query& q, HostRecord& record) {
    int code = q.byName ? service.ByName(q.name, record)
               : q.ipv6 ? service.ByAddr6(q.address6, 0, record)
                        : service.ByAddr(q.address, record);
    return withAddresses(code, record);
}

// The answer the service holds already, if any, without waiting.
bool held(NameService& service, const Query& q, int& code, HostRecord& record) {
    code = 0;
    const bool found = q.byName ? service.HeldByName(q.name, code, record)
                       : q.ipv6 ? service.HeldByAddr6(q.address6, 0, code, record)
                                : service.HeldByAddr(q.address, code, record);
    if (found)
        code = withAddresses(code, record);
    return found;
}

// The query of a reverse lookup, or WSAEINVAL / WSAEAFNOSUPPORT for an
// address the library cannot take.
int addressQuery(const char* addr, int len, int type, Query& q) {
    if (addr == nullptr || (len != 4 && len != 16))
        return wsa::WSAEINVAL;
    if (type != AfInet && type != AfInet6)
        return wsa::WSAEAFNOSUPPORT;
    if ((type == AfInet) != (len == 4))
        return wsa::WSAEINVAL;
    q.ipv6 = type == AfInet6;
    if (q.ipv6)
        std::memcpy(q.address6.data(), addr, 16);
    else
        std::memcpy(&q.address, addr, 4);
    return 0;
}

// The service a lookup asks: the one it was handed, else the one in use.
std::shared_ptr<NameService> serviceOr(const std::shared_ptr<NameService>& service) {
    return service ? service : CurrentNameService();
}

hostent* blockingLookup(const Query& q, const std::shared_ptr<NameService>& service) {
    if (!WSAIsStarted()) {
        WSASetLastError(wsa::WSANOTINITIALISED);
        return nullptr;
    }
    HostRecord record;
    int code = ask(*serviceOr(service), q, record);
    if (code != 0) {
        WSASetLastError(code);
        return nullptr;
    }
    return fillStorage(threadStorage(), std::move(record));
}

std::size_t alignUp(std::size_t n) {
    constexpr std::size_t a = alignof(char*);
    return (n + a - 1) / a * a;
}

// The bytes a host entry with the given names and address count takes in a
// caller's buffer: the entry, its two pointer arrays, the addresses, the
// strings.
std::size_t packedSize(const HostRecord& r, std::size_t aliases, std::size_t addresses) {
    std::size_t size = alignUp(sizeof(hostent));
    size += (aliases + 1) * sizeof(char*);
    size += (addresses + 1) * sizeof(char*);
    size += addresses * static_cast<std::size_t>(addressLength(r));
    size += r.name.size() + 1;
    for (std::size_t i = 0; i < aliases; ++i)
        size += r.aliases[i].size() + 1;
    return size;
}

void put(char* buf, std::size_t& at, const void* data, std::size_t size) {
    std::memcpy(buf + at, data, size);
    at += size;
}

// Writes a host entry into buf, whose pointers point into buf itself. What
// does not fit is left out: aliases first, then all but the first address.
// Returns 0, or WSAENOBUFS with needed set when not even that fits.
int packEntry(const HostRecord& r, char* buf, std::size_t buflen, std::size_t& needed) {
    std::size_t aliases = r.aliases.size();
    std::size_t addresses = addressCount(r);
    const auto length = static_cast<std::size_t>(addressLength(r));
    needed = packedSize(r, aliases, addresses);
    if (needed > buflen)
        aliases = 0;
    while (packedSize(r, aliases, addresses) > buflen && addresses > 1)
        --addresses;
    std::size_t size = packedSize(r, aliases, addresses);
    if (size > buflen)
        return wsa::WSAENOBUFS;
    needed = size;

    std::size_t at = alignUp(sizeof(hostent));
    std::size_t aliasArray = at;
    std::size_t addressArray = aliasArray + (aliases + 1) * sizeof(char*);
    std::size_t addressData = addressArray + (addresses + 1) * sizeof(char*);
    std::size_t strings = addressData + addresses * length;

    hostent entry{};
    entry.h_addrtype = static_cast<std::int16_t>(isIpv6(r) ? AfInet6 : AfInet);
    entry.h_length = addressLength(r);
    entry.h_aliases = reinterpret_cast<char**>(buf + aliasArray);
    entry.h_addr_list = reinterpret_cast<char**>(buf + addressArray);
    at = strings;
    entry.h_name = buf + at;
    put(buf, at, r.name.c_str(), r.name.size() + 1);
    std::size_t slot = aliasArray;
    for (std::size_t i = 0; i < aliases; ++i) {
        char* p = buf + at;
        put(buf, at, r.aliases[i].c_str(), r.aliases[i].size() + 1);
        put(buf, slot, &p, sizeof p);
    }
    char* none = nullptr;
    put(buf, slot, &none, sizeof none);
    slot = addressArray;
    std::size_t data = addressData;
    for (std::size_t i = 0; i < addresses; ++i) {
        char* p = buf + data;
        put(buf, data, addressBytes(r, i), length);
        put(buf, slot, &p, sizeof p);
    }
    put(buf, slot, &none, sizeof none);
    std::memcpy(buf, &entry, sizeof entry);
    return 0;
}

// ---- Asynchronous requests ----------------------------------------------

// A running asynchronous request; touched on the window thread only.
struct AsyncRequest {
    QPointer<QObject> window;
    unsigned msg = 0;
    char* buf = nullptr;
    int buflen = 0;
};

// Never destroyed: a worker may still finish while the program ends.
struct Registry {
    std::map<AsyncHandle, AsyncRequest> running; // window thread only
    AsyncHandle next = 1;                        // window thread only
};

Registry& registry() {
    static Registry* r = new Registry;
    return *r;
}

// The threads that asynchronous lookups run on: a few, as a lookup mostly
// waits for the network. At program end the lookups not started are
// dropped, and running ones get a moment to end; one that hangs (a name
// server that does not answer) is left to its thread and does not hold up
// the end. Such a thread touches nothing that the end frees: its job holds
// its query and its service, the pool's state is shared with it, and its
// reply goes through PostToWindowThread, which posts nothing once the
// application is gone.
constexpr int kLookupWorkers = 16;
constexpr std::chrono::milliseconds kLookupWaitAtEnd{200};

LookupWorkers& workers() {
    static LookupWorkers pool(kLookupWorkers);
    static const bool timed = (pool.SetWaitAtEnd(kLookupWaitAtEnd), true);
    (void)timed;
    return pool;
}

std::intptr_t makeReply(int error, std::size_t size) {
    std::uint32_t low = size > 0xFFFF ? 0xFFFF : static_cast<std::uint32_t>(size);
    return static_cast<std::intptr_t>((static_cast<std::uint32_t>(error) & 0xFFFF) << 16 | low);
}

// On the window thread: hands the result of a request to its window, unless
// the request was cancelled or its window is gone.
void deliver(AsyncHandle handle, int code, const HostRecord& record) {
    Registry& reg = registry();
    auto it = reg.running.find(handle);
    if (it == reg.running.end())
        return;
    AsyncRequest request = it->second;
    reg.running.erase(it);
    if (request.window.isNull())
        return;
    std::size_t needed = 0;
    if (code == 0)
        code = packEntry(record, request.buf, static_cast<std::size_t>(request.buflen), needed);
    WindowMessage message(request.msg, handle, makeReply(code, needed));
    QCoreApplication::sendEvent(request.window.data(), &message);
}

AsyncHandle startAsync(QObject* window, unsigned msg, Query query, char* buf, int buflen,
                       const std::shared_ptr<NameService>& asked) {
    if (!WSAIsStarted()) {
        WSASetLastError(wsa::WSANOTINITIALISED);
        return 0;
    }
    if (window == nullptr || buf == nullptr || buflen <= 0) {
        WSASetLastError(wsa::WSAEINVAL);
        return 0;
    }
    AttachWindowThread();
    Registry& reg = registry();
    AsyncHandle handle = reg.next++;
    if (reg.next == 0)
        reg.next = 1;
    std::shared_ptr<NameService> service = serviceOr(asked);
    // An answer at hand still comes as a message after this call returns,
    // like every other.
    HostRecord known;
    int knownCode = 0;
    if (held(*service, query, knownCode, known)) {
        reg.running[handle] = AsyncRequest{window, msg, buf, buflen};
        PostToWindowThread(
            [handle, knownCode, record = std::move(known)] { deliver(handle, knownCode, record); });
        return handle;
    }
    reg.running[handle] = AsyncRequest{window, msg, buf, buflen};
    const bool queued =
        workers().Submit([handle, query = std::move(query), service = std::move(service)] {
            HostRecord record;
            int code = ask(*service, query, record);
            PostToWindowThread(
                [handle, code, record = std::move(record)] { deliver(handle, code, record); });
        });
    if (!queued) {
        reg.running.erase(handle);
        WSASetLastError(wsa::WSAENOBUFS);
        return 0;
    }
    return handle;
}

} // namespace

std::uint32_t inet_addr(const char* cp) {
    if (cp == nullptr)
        return InaddrNone;
    std::string_view text(cp);
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (;;) {
        std::size_t dot = text.find('.', start);
        parts.push_back(text.substr(start, dot == std::string_view::npos ? dot : dot - start));
        if (dot == std::string_view::npos)
            break;
        if (parts.size() == 4)
            return InaddrNone;
        start = dot + 1;
    }
    std::uint32_t hostOrder = 0;
    switch (plainDecimal(parts, hostOrder)) {
    case Decimal::Address:
        return htonl(hostOrder);
    case Decimal::NoAddress:
        return InaddrNone;
    case Decimal::NotDecimal:
        break;
    }
    if (classicAddress(parts, hostOrder))
        return htonl(hostOrder);
    return InaddrNone;
}

char* inet_ntoa(std::uint32_t address) {
    thread_local char text[16];
    std::uint32_t a = ntohl(address);
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", a >> 24, (a >> 16) & 0xFF, (a >> 8) & 0xFF,
                  a & 0xFF);
    return text;
}

bool inet_addr6(const char* cp, TIpv6Address& address) {
    if (cp == nullptr)
        return false;
    std::string_view text(cp);
    std::size_t percent = text.find('%');
    std::string bare(text.substr(0, percent));
    in6_addr parsed;
    if (::inet_pton(AF_INET6, bare.c_str(), &parsed) != 1)
        return false;
    std::uint32_t scope = 0;
    if (percent != std::string_view::npos) {
        std::string zone(text.substr(percent + 1));
        if (zone.empty())
            return false;
        bool digits = true;
        for (char c : zone)
            digits = digits && isDigit(c);
        if (digits && zone.size() <= 9)
            scope = static_cast<std::uint32_t>(std::stoul(zone));
        else
            scope = ::if_nametoindex(zone.c_str());
        if (scope == 0)
            return false;
    }
    std::memcpy(address.Bytes, &parsed, 16);
    address.ScopeId = scope;
    return true;
}

std::string inet_ntoa6(const TIpv6Address& address) {
    std::uint16_t groups[8];
    for (int i = 0; i < 8; ++i)
        groups[i] =
            static_cast<std::uint16_t>(address.Bytes[2 * i] << 8 | address.Bytes[2 * i + 1]);
    std::string text;
    char part[16];
    bool mapped = groups[0] == 0 && groups[1] == 0 && groups[2] == 0 && groups[3] == 0 &&
                  groups[4] == 0 && groups[5] == 0xFFFF;
    if (mapped) {
        std::snprintf(part, sizeof part, "%u.%u.%u.%u", address.Bytes[12], address.Bytes[13],
                      address.Bytes[14], address.Bytes[15]);
        text = std::string("::ffff:") + part;
    } else {
        // The longest run of zero groups, the first of equal ones; a single
        // zero group stays as it is.
        int bestStart = -1, bestLength = 0;
        for (int i = 0; i < 8;) {
            if (groups[i] != 0) {
                ++i;
                continue;
            }
            int j = i;
            while (j < 8 && groups[j] == 0)
                ++j;
            if (j - i > bestLength) {
                bestStart = i;
                bestLength = j - i;
            }
            i = j;
        }
        if (bestLength < 2)
            bestStart = -1;
        for (int i = 0; i < 8; ++i) {
            if (i == bestStart) {
                text += "::";
                i += bestLength - 1;
                continue;
            }
            if (!text.empty() && text.back() != ':')
                text += ':';
            std::snprintf(part, sizeof part, "%x", groups[i]);
            text += part;
        }
    }
    if (address.ScopeId != 0) {
        char name[IF_NAMESIZE];
        text += '%';
        if (::if_indextoname(address.ScopeId, name) != nullptr)
            text += name;
        else
            text += std::to_string(address.ScopeId);
    }
    return text;
}

hostent* gethostbyname(const char* name) {
    return gethostbyname(nullptr, name);
}

hostent* gethostbyaddr(const char* addr, int len, int type) {
    return gethostbyaddr(nullptr, addr, len, type);
}

AsyncHandle WSAAsyncGetHostByName(QObject* window, unsigned wMsg, const char* name, char* buf,
                                  int buflen) {
    return WSAAsyncGetHostByName(nullptr, window, wMsg, name, buf, buflen);
}

AsyncHandle WSAAsyncGetHostByAddr(QObject* window, unsigned wMsg, const char* addr, int len,
                                  int type, char* buf, int buflen) {
    return WSAAsyncGetHostByAddr(nullptr, window, wMsg, addr, len, type, buf, buflen);
}

hostent* gethostbyname(const std::shared_ptr<NameService>& service, const char* name) {
    if (name == nullptr || *name == '\0') {
        WSASetLastError(wsa::WSAHOST_NOT_FOUND);
        return nullptr;
    }
    Query q;
    q.byName = true;
    q.name = name;
    return blockingLookup(q, service);
}

hostent* gethostbyaddr(const std::shared_ptr<NameService>& service, const char* addr, int len,
                       int type) {
    Query q;
    if (int refused = addressQuery(addr, len, type, q)) {
        WSASetLastError(refused);
        return nullptr;
    }
    return blockingLookup(q, service);
}

AsyncHandle WSAAsyncGetHostByName(const std::shared_ptr<NameService>& service, QObject* window,
                                  unsigned wMsg, const char* name, char* buf, int buflen) {
    Query q;
    q.byName = true;
    q.name = name != nullptr ? name : "";
    return startAsync(window, wMsg, std::move(q), buf, buflen, service);
}

AsyncHandle WSAAsyncGetHostByAddr(const std::shared_ptr<NameService>& service, QObject* window,
                                  unsigned wMsg, const char* addr, int len, int type, char* buf,
                                  int buflen) {
    Query q;
    if (int refused = addressQuery(addr, len, type, q)) {
        WSASetLastError(refused);
        return 0;
    }
    return startAsync(window, wMsg, std::move(q), buf, buflen, service);
}

int WSACancelAsyncRequest(AsyncHandle handle) {
    if (registry().running.erase(handle) == 0) {
        WSASetLastError(wsa::WSAEINVAL);
        return SOCKET_ERROR;
    }
    return 0;
}

int AsyncLookupsInFlight() {
    return workers().Pending();
}

int AsyncLookupWorkers() {
    return workers().Workers();
}

bool WaitForAsyncLookups(int timeoutMs) {
    return workers().WaitIdle(std::chrono::milliseconds(timeoutMs));
}

} // namespace platform

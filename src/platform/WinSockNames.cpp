// The name operations of the socket library: address conversions, blocking
// lookups and asynchronous lookups answered by a window message.
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

// Four parts of decimal digits only, each 0 to 255: the notation people
// write, leading zeros included.
bool plainDecimal(const std::vector<std::string_view>& parts, std::uint32_t& hostOrder) {
    if (parts.size() != 4)
        return false;
    std::uint32_t value = 0;
    for (std::string_view part : parts) {
        if (part.empty())
            return false;
        unsigned byte = 0;
        for (char c : part) {
            if (!isDigit(c))
                return false;
            byte = byte * 10 + static_cast<unsigned>(c - '0');
            if (byte > 255)
                return false;
        }
        value = value << 8 | byte;
    }
    hostOrder = value;
    return true;
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
    std::vector<std::uint32_t> addresses;
    std::vector<char*> addressPointers;
    hostent entry{};
};

hostent* fillStorage(EntryStorage& s, HostRecord record) {
    s.record = std::move(record);
    s.aliases.clear();
    for (std::string& alias : s.record.aliases)
        s.aliases.push_back(alias.data());
    s.aliases.push_back(nullptr);
    s.addresses = s.record.addresses;
    s.addressPointers.clear();
    for (std::uint32_t& address : s.addresses)
        s.addressPointers.push_back(reinterpret_cast<char*>(&address));
    s.addressPointers.push_back(nullptr);
    s.entry.h_name = s.record.name.data();
    s.entry.h_aliases = s.aliases.data();
    s.entry.h_addrtype = AfInet;
    s.entry.h_length = 4;
    s.entry.h_addr_list = s.addressPointers.data();
    return &s.entry;
}

EntryStorage& threadStorage() {
    thread_local EntryStorage storage;
    return storage;
}

// Asks the service and turns a record without addresses into "no data".
int ask(NameService& service, bool byName, const std::string& name, std::uint32_t address,
        HostRecord& record) {
    int code = byName ? service.ByName(name, record) : service.ByAddr(address, record);
    if (code == 0 && record.addresses.empty())
        code = wsa::WSANO_DATA;
    return code;
}

hostent* blockingLookup(bool byName, const std::string& name, std::uint32_t address) {
    if (!WSAIsStarted()) {
        WSASetLastError(wsa::WSANOTINITIALISED);
        return nullptr;
    }
    HostRecord record;
    int code = ask(*CurrentNameService(), byName, name, address, record);
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
    size += addresses * 4;
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
    std::size_t addresses = r.addresses.size();
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
    std::size_t strings = addressData + addresses * 4;

    hostent entry{};
    entry.h_addrtype = AfInet;
    entry.h_length = 4;
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
        put(buf, data, &r.addresses[i], 4);
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
    std::mutex m;
    std::map<AsyncHandle, AsyncRequest> running; // window thread only
    AsyncHandle next = 1;                        // window thread only
    int workers = 0;                             // guarded by m
    std::condition_variable workersChanged;
};

Registry& registry() {
    static Registry* r = new Registry;
    return *r;
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

AsyncHandle startAsync(QObject* window, unsigned msg, bool byName, std::string name,
                       std::uint32_t address, char* buf, int buflen) {
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
    reg.running[handle] = AsyncRequest{window, msg, buf, buflen};
    {
        std::lock_guard lock(reg.m);
        ++reg.workers;
    }
    std::shared_ptr<NameService> service = CurrentNameService();
    std::thread([handle, byName, name = std::move(name), address, service = std::move(service)] {
        HostRecord record;
        int code = ask(*service, byName, name, address, record);
        PostToWindowThread(
            [handle, code, record = std::move(record)] { deliver(handle, code, record); });
        std::lock_guard lock(registry().m);
        --registry().workers;
        registry().workersChanged.notify_all();
    }).detach();
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
    if (plainDecimal(parts, hostOrder) || classicAddress(parts, hostOrder))
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

hostent* gethostbyname(const char* name) {
    if (name == nullptr || *name == '\0') {
        WSASetLastError(wsa::WSAHOST_NOT_FOUND);
        return nullptr;
    }
    return blockingLookup(true, name, 0);
}

hostent* gethostbyaddr(const char* addr, int len, int type) {
    if (addr == nullptr || len != 4) {
        WSASetLastError(wsa::WSAEINVAL);
        return nullptr;
    }
    if (type != AfInet) {
        WSASetLastError(wsa::WSAEAFNOSUPPORT);
        return nullptr;
    }
    std::uint32_t address = 0;
    std::memcpy(&address, addr, 4);
    return blockingLookup(false, {}, address);
}

AsyncHandle WSAAsyncGetHostByName(QObject* window, unsigned wMsg, const char* name, char* buf,
                                  int buflen) {
    return startAsync(window, wMsg, true, name != nullptr ? name : "", 0, buf, buflen);
}

AsyncHandle WSAAsyncGetHostByAddr(QObject* window, unsigned wMsg, const char* addr, int len,
                                  int type, char* buf, int buflen) {
    if (addr == nullptr || len != 4) {
        WSASetLastError(wsa::WSAEINVAL);
        return 0;
    }
    if (type != AfInet) {
        WSASetLastError(wsa::WSAEAFNOSUPPORT);
        return 0;
    }
    std::uint32_t address = 0;
    std::memcpy(&address, addr, 4);
    return startAsync(window, wMsg, false, {}, address, buf, buflen);
}

int WSACancelAsyncRequest(AsyncHandle handle) {
    if (registry().running.erase(handle) == 0) {
        WSASetLastError(wsa::WSAEINVAL);
        return SOCKET_ERROR;
    }
    return 0;
}

int AsyncLookupsInFlight() {
    std::lock_guard lock(registry().m);
    return registry().workers;
}

bool WaitForAsyncLookups(int timeoutMs) {
    Registry& reg = registry();
    std::unique_lock lock(reg.m);
    return reg.workersChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                       [&] { return reg.workers == 0; });
}

} // namespace platform

#include "platform/NameService.h"

#include "platform/WinSock.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace platform {

namespace {

std::mutex serviceMutex;

std::shared_ptr<NameService>& current() {
    static std::shared_ptr<NameService> service = std::make_shared<SystemNameService>();
    return service;
}

} // namespace

int SystemNameService::ErrorCode(int herrno) {
    switch (herrno) {
    case HOST_NOT_FOUND:
        return wsa::WSAHOST_NOT_FOUND;
    case TRY_AGAIN:
        return wsa::WSATRY_AGAIN;
    case NO_DATA:
        return wsa::WSANO_DATA;
    default:
        return wsa::WSANO_RECOVERY;
    }
}

int SystemNameService::AddrInfoErrorCode(int eai) {
    switch (eai) {
    case EAI_NONAME:
        return wsa::WSAHOST_NOT_FOUND;
    case EAI_AGAIN:
        return wsa::WSATRY_AGAIN;
    case EAI_NODATA:
    case EAI_ADDRFAMILY:
        return wsa::WSANO_DATA;
    case EAI_MEMORY:
        return wsa::WSAENOBUFS;
    default:
        return wsa::WSANO_RECOVERY;
    }
}

int SystemNameService::ByName(const std::string& name, HostRecord& record) {
    ::addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM; // one entry per address
    hints.ai_flags = AI_ADDRCONFIG | AI_CANONNAME;
    ::addrinfo* found = nullptr;
    int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &found);
    if (rc != 0)
        return AddrInfoErrorCode(rc);
    record.name = found->ai_canonname != nullptr ? found->ai_canonname : name;
    record.aliases.clear();
    record.addresses.clear();
    record.addresses6.clear();
    // The first result decides the family; the others of that family follow
    // it in the system's order.
    const int family = found->ai_family;
    for (const ::addrinfo* a = found; a != nullptr; a = a->ai_next) {
        if (a->ai_family != family)
            continue;
        if (family == AF_INET) {
            std::uint32_t address =
                reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr.s_addr;
            if (std::find(record.addresses.begin(), record.addresses.end(), address) ==
                record.addresses.end())
                record.addresses.push_back(address);
        } else if (family == AF_INET6) {
            std::array<std::uint8_t, 16> address;
            std::memcpy(address.data(),
                        &reinterpret_cast<const sockaddr_in6*>(a->ai_addr)->sin6_addr, 16);
            if (std::find(record.addresses6.begin(), record.addresses6.end(), address) ==
                record.addresses6.end())
                record.addresses6.push_back(address);
        }
    }
    ::freeaddrinfo(found);
    return record.addresses.empty() && record.addresses6.empty() ? wsa::WSANO_DATA : 0;
}

namespace {

int reverse(const sockaddr* address, socklen_t length, HostRecord& record) {
    char host[NI_MAXHOST];
    int rc = ::getnameinfo(address, length, host, sizeof host, nullptr, 0, NI_NAMEREQD);
    if (rc != 0)
        return SystemNameService::AddrInfoErrorCode(rc);
    record.name = host;
    record.aliases.clear();
    record.addresses.clear();
    record.addresses6.clear();
    return 0;
}

} // namespace

int SystemNameService::ByAddr(std::uint32_t address, HostRecord& record) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = address;
    int rc = reverse(reinterpret_cast<sockaddr*>(&sa), sizeof sa, record);
    if (rc == 0)
        record.addresses.push_back(address);
    return rc;
}

int SystemNameService::ByAddr6(const std::array<std::uint8_t, 16>& address, std::uint32_t scope,
                               HostRecord& record) {
    sockaddr_in6 sa{};
    sa.sin6_family = AF_INET6;
    std::memcpy(&sa.sin6_addr, address.data(), 16);
    sa.sin6_scope_id = scope;
    int rc = reverse(reinterpret_cast<sockaddr*>(&sa), sizeof sa, record);
    if (rc == 0)
        record.addresses6.push_back(address);
    return rc;
}

std::shared_ptr<NameService> CurrentNameService() {
    std::lock_guard lock(serviceMutex);
    return current();
}

std::shared_ptr<NameService> SetNameServiceForTests(std::shared_ptr<NameService> replacement) {
    std::lock_guard lock(serviceMutex);
    std::shared_ptr<NameService> previous = std::move(current());
    current() = replacement ? std::move(replacement) : std::make_shared<SystemNameService>();
    return previous;
}

} // namespace platform

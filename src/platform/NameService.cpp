#include "platform/NameService.h"

#include "platform/WinSock.h"

#include <cerrno>
#include <cstring>
#include <mutex>
#include <netdb.h>
#include <sys/socket.h>

namespace platform {

namespace {

std::mutex serviceMutex;

std::shared_ptr<NameService>& current() {
    static std::shared_ptr<NameService> service = std::make_shared<SystemNameService>();
    return service;
}

// The buffer the reentrant calls need grows with the number of names and
// addresses of a host; they ask for more with ERANGE.
constexpr std::size_t kFirstBuffer = 2048;
constexpr std::size_t kLargestBuffer = 1 << 20;

void copyEntry(const ::hostent& he, HostRecord& record) {
    record.name = he.h_name != nullptr ? he.h_name : "";
    record.aliases.clear();
    for (char** a = he.h_aliases; a != nullptr && *a != nullptr; ++a)
        record.aliases.emplace_back(*a);
    record.addresses.clear();
    if (he.h_addrtype != AF_INET || he.h_length != 4)
        return;
    for (char** a = he.h_addr_list; a != nullptr && *a != nullptr; ++a) {
        std::uint32_t address = 0;
        std::memcpy(&address, *a, 4);
        record.addresses.push_back(address);
    }
}

// Runs one reentrant lookup, growing its work buffer as asked.
template <typename Call> int lookup(Call call, HostRecord& record) {
    std::vector<char> work(kFirstBuffer);
    for (;;) {
        ::hostent he{};
        ::hostent* result = nullptr;
        int herr = 0;
        int rc = call(&he, work.data(), work.size(), &result, &herr);
        if (rc == ERANGE && work.size() < kLargestBuffer) {
            work.resize(work.size() * 2);
            continue;
        }
        if (rc != 0 || result == nullptr)
            return SystemNameService::ErrorCode(rc == 0 && herr == 0 ? HOST_NOT_FOUND : herr);
        copyEntry(*result, record);
        return record.addresses.empty() ? wsa::WSANO_DATA : 0;
    }
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

int SystemNameService::ByName(const std::string& name, HostRecord& record) {
    return lookup(
        [&](::hostent* he, char* buf, std::size_t len, ::hostent** result, int* herr) {
            return ::gethostbyname2_r(name.c_str(), AF_INET, he, buf, len, result, herr);
        },
        record);
}

int SystemNameService::ByAddr(std::uint32_t address, HostRecord& record) {
    return lookup(
        [&](::hostent* he, char* buf, std::size_t len, ::hostent** result, int* herr) {
            return ::gethostbyaddr_r(&address, 4, AF_INET, he, buf, len, result, herr);
        },
        record);
}

std::shared_ptr<NameService> CurrentNameService() {
    std::lock_guard lock(serviceMutex);
    return current();
}

std::shared_ptr<NameService> SetNameService(std::shared_ptr<NameService> replacement) {
    std::lock_guard lock(serviceMutex);
    std::shared_ptr<NameService> previous = std::move(current());
    current() = replacement ? std::move(replacement) : std::make_shared<SystemNameService>();
    return previous;
}

} // namespace platform

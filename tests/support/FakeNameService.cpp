#include "support/FakeNameService.h"

#include "platform/WinSock.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstring>

namespace netsonde::test {

struct FakeNameService::State final : platform::NameService {
    mutable std::mutex m;
    std::condition_variable changed;
    std::map<std::string, platform::HostRecord> byName;
    std::map<std::uint32_t, platform::HostRecord> byAddress;
    std::map<Address6, platform::HostRecord> byAddress6;
    std::map<std::string, int> nameErrors;
    std::map<std::uint32_t, int> addressErrors;
    std::vector<FakeLookup> lookups;
    bool hold = false;
    int held = 0;
    int releases = 0;

    // Records the lookup and waits while lookups are held.
    void Enter(std::string what) {
        std::unique_lock lock(m);
        lookups.push_back({std::move(what), std::this_thread::get_id()});
        if (!hold)
            return;
        ++held;
        changed.notify_all();
        changed.wait(lock, [&] { return !hold || releases > 0; });
        if (releases > 0)
            --releases;
        --held;
    }

    int ByName(const std::string& name, platform::HostRecord& record) override {
        Enter("name:" + name);
        std::lock_guard lock(m);
        if (auto e = nameErrors.find(name); e != nameErrors.end())
            return e->second;
        auto it = byName.find(name);
        if (it == byName.end())
            return platform::wsa::WSAHOST_NOT_FOUND;
        record = it->second;
        return 0;
    }

    int ByAddr(std::uint32_t address, platform::HostRecord& record) override {
        in_addr a{address};
        Enter(std::string("addr:") + ::inet_ntoa(a));
        std::lock_guard lock(m);
        if (auto e = addressErrors.find(address); e != addressErrors.end())
            return e->second;
        auto it = byAddress.find(address);
        if (it == byAddress.end())
            return platform::wsa::WSAHOST_NOT_FOUND;
        record = it->second;
        return 0;
    }

    int ByAddr6(const Address6& address, std::uint32_t, platform::HostRecord& record) override {
        char text[INET6_ADDRSTRLEN];
        ::inet_ntop(AF_INET6, address.data(), text, sizeof text);
        Enter(std::string("addr:") + text);
        std::lock_guard lock(m);
        auto it = byAddress6.find(address);
        if (it == byAddress6.end())
            return platform::wsa::WSAHOST_NOT_FOUND;
        record = it->second;
        return 0;
    }
};

namespace {

// An IPv6 address text (it has a colon) into its bytes.
bool ipv6(const char* text, FakeNameService::Address6& address) {
    return std::strchr(text, ':') != nullptr && ::inet_pton(AF_INET6, text, address.data()) == 1;
}

} // namespace

FakeNameService::FakeNameService() : state(std::make_shared<State>()) {
    previous = platform::SetNameServiceForTests(state);
}

FakeNameService::~FakeNameService() {
    ReleaseAll();
    platform::SetNameServiceForTests(std::move(previous));
}

void FakeNameService::AddHost(const std::string& name, const std::vector<const char*>& addresses,
                              const std::vector<std::string>& aliases) {
    platform::HostRecord record;
    record.name = name;
    record.aliases = aliases;
    for (const char* a : addresses) {
        Address6 six;
        if (ipv6(a, six))
            record.addresses6.push_back(six);
        else
            record.addresses.push_back(::inet_addr(a));
    }
    std::lock_guard lock(state->m);
    state->byName[name] = record;
    if (!record.addresses6.empty() && !state->byAddress6.count(record.addresses6[0])) {
        platform::HostRecord reverse = record;
        reverse.addresses6 = {record.addresses6[0]};
        state->byAddress6[record.addresses6[0]] = reverse;
    }
    if (!record.addresses.empty() && !state->byAddress.count(record.addresses[0])) {
        platform::HostRecord reverse = record;
        reverse.addresses = {record.addresses[0]};
        state->byAddress[record.addresses[0]] = reverse;
    }
}

void FakeNameService::AddReverse(const char* address, const std::string& name) {
    platform::HostRecord record;
    record.name = name;
    Address6 six;
    std::lock_guard lock(state->m);
    if (ipv6(address, six)) {
        record.addresses6 = {six};
        state->byAddress6[six] = record;
        return;
    }
    record.addresses = {::inet_addr(address)};
    state->byAddress[record.addresses[0]] = record;
}

void FakeNameService::SetNameError(const std::string& name, int code) {
    std::lock_guard lock(state->m);
    state->nameErrors[name] = code;
}

void FakeNameService::SetAddressError(const char* address, int code) {
    std::lock_guard lock(state->m);
    state->addressErrors[::inet_addr(address)] = code;
}

void FakeNameService::HoldLookups(bool hold) {
    std::lock_guard lock(state->m);
    state->hold = hold;
    state->changed.notify_all();
}

bool FakeNameService::WaitForHeld(int count, int timeoutMs) {
    std::unique_lock lock(state->m);
    return state->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                   [&] { return state->held >= count; });
}

void FakeNameService::ReleaseOne() {
    std::lock_guard lock(state->m);
    ++state->releases;
    state->changed.notify_all();
}

void FakeNameService::ReleaseAll() {
    std::lock_guard lock(state->m);
    state->hold = false;
    state->changed.notify_all();
}

std::vector<FakeLookup> FakeNameService::Lookups() const {
    std::lock_guard lock(state->m);
    return state->lookups;
}

} // namespace netsonde::test

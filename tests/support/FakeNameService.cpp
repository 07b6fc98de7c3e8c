#include "support/FakeNameService.h"

#include "platform/WinSock.h"

#include <arpa/inet.h>
#include <chrono>

namespace netsonde::test {

struct FakeNameService::State final : platform::NameService {
    mutable std::mutex m;
    std::condition_variable changed;
    std::map<std::string, platform::HostRecord> byName;
    std::map<std::uint32_t, platform::HostRecord> byAddress;
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
};

FakeNameService::FakeNameService() : state(std::make_shared<State>()) {
    previous = platform::SetNameService(state);
}

FakeNameService::~FakeNameService() {
    ReleaseAll();
    platform::SetNameService(std::move(previous));
}

void FakeNameService::AddHost(const std::string& name, const std::vector<const char*>& addresses,
                              const std::vector<std::string>& aliases) {
    platform::HostRecord record;
    record.name = name;
    record.aliases = aliases;
    for (const char* a : addresses)
        record.addresses.push_back(::inet_addr(a));
    std::lock_guard lock(state->m);
    state->byName[name] = record;
    if (!record.addresses.empty() && !state->byAddress.count(record.addresses[0])) {
        platform::HostRecord reverse = record;
        reverse.addresses = {record.addresses[0]};
        state->byAddress[record.addresses[0]] = reverse;
    }
}

void FakeNameService::AddReverse(const char* address, const std::string& name) {
    platform::HostRecord record;
    record.name = name;
    record.addresses = {::inet_addr(address)};
    std::lock_guard lock(state->m);
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

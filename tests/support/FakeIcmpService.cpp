#include "support/FakeIcmpService.h"

#include "platform/LastError.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstring>

namespace netsonde::test {

std::array<std::uint8_t, 16> Ip6(const char* text) {
    std::array<std::uint8_t, 16> bytes{};
    ::inet_pton(AF_INET6, text, bytes.data());
    return bytes;
}

std::uint32_t Ip(const char* dotted) {
    if (std::strchr(dotted, ':') == nullptr)
        return ::inet_addr(dotted);
    std::uint32_t hash = 2166136261u;
    for (std::uint8_t b : Ip6(dotted))
        hash = (hash ^ b) * 16777619u;
    return htonl(0xF0000000u | (hash & 0xFFFFFFu));
}

namespace {
std::uint32_t KeyOf(const TIpv6Address& address) {
    char text[INET6_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET6, address.Bytes, text, sizeof text);
    return Ip(text);
}
} // namespace

FakeAnswer FakeAnswer::Echo(const char* from, std::uint32_t rtt, std::uint8_t replyTtl) {
    FakeAnswer a;
    a.kind = Reply;
    a.from = Ip(from);
    a.from6 = Ip6(from);
    a.rtt = rtt;
    a.replyTtl = replyTtl;
    return a;
}

FakeAnswer FakeAnswer::IcmpError(const char* from, std::uint32_t status, std::uint32_t rtt) {
    FakeAnswer a;
    a.kind = Error;
    a.from = Ip(from);
    a.from6 = Ip6(from);
    a.status = status;
    a.rtt = rtt;
    a.replyTtl = 250;
    return a;
}

FakeAnswer FakeAnswer::NoAnswer() {
    return FakeAnswer{};
}

FakeAnswer FakeAnswer::Failure(std::uint32_t code) {
    FakeAnswer a;
    a.kind = Fail;
    a.failCode = code;
    return a;
}

namespace {

class FakeLibrary final : public platform::IcmpLibrary {
public:
    FakeLibrary(FakeIcmpService& s, std::string missing)
        : service(s), missing(std::move(missing)) {}
    platform::IcmpCreateFileFn CreateFileEntry(const std::string& name) override {
        if ((name != "IcmpCreateFile" && name != "Icmp6CreateFile") || name == missing)
            return {};
        return [this] { return service.Create(); };
    }
    platform::IcmpCloseHandleFn CloseHandleEntry(const std::string& name) override {
        if (name != "IcmpCloseHandle" || name == missing)
            return {};
        return [this](IcmpHandle h) { return service.Close(h); };
    }
    platform::IcmpSendEchoFn SendEchoEntry(const std::string& name) override {
        if (name != "IcmpSendEcho" || name == missing)
            return {};
        return [this](IcmpHandle h, std::uint32_t d, const void* data, std::uint16_t size,
                      const TIpOptions* o, void* r, std::uint32_t rs,
                      std::uint32_t t) { return service.Send(h, d, data, size, o, r, rs, t); };
    }
    platform::Icmp6SendEchoFn SendEcho6Entry(const std::string& name) override {
        if (name != "Icmp6SendEcho" || name == missing)
            return {};
        return [this](IcmpHandle h, const TIpv6Address* d, const void* data, std::uint16_t size,
                      const TIpOptions* o, void* r, std::uint32_t rs,
                      std::uint32_t t) { return service.Send6(h, d, data, size, o, r, rs, t); };
    }
    void InterruptRequests() override { service.Interrupt(); }

private:
    FakeIcmpService& service;
    std::string missing;
};

class FakeProvider final : public platform::IcmpLibraryProvider {
public:
    FakeProvider(FakeIcmpService& s, bool& missingLibrary, std::string& missingEntry)
        : service(s), missingLibrary(missingLibrary), missingEntry(missingEntry) {}
    std::unique_ptr<platform::IcmpLibrary> Load(const std::string& name) override {
        if (missingLibrary || name != "icmp.dll")
            return nullptr;
        return std::make_unique<FakeLibrary>(service, missingEntry);
    }
    std::string Reason() const override { return "fake service: no library"; }

private:
    FakeIcmpService& service;
    bool& missingLibrary;
    std::string& missingEntry;
};

} // namespace

FakeIcmpService::FakeIcmpService() {
    previous = platform::SetIcmpProvider(
        std::make_unique<FakeProvider>(*this, missingLibrary, missingEntry));
}

FakeIcmpService::~FakeIcmpService() {
    platform::SetIcmpProvider(std::move(previous));
}

void FakeIcmpService::SetAnswer(const char* destination, FakeAnswer answer) {
    std::lock_guard lock(m);
    byDestination[Ip(destination)] = answer;
}

void FakeIcmpService::SetAnswer(const char* destination, std::uint8_t ttl, FakeAnswer answer) {
    std::lock_guard lock(m);
    byTtl[{Ip(destination), ttl}] = answer;
}

void FakeIcmpService::QueueAnswer(const char* destination, FakeAnswer answer) {
    std::lock_guard lock(m);
    queued[Ip(destination)].push_back(answer);
}

void FakeIcmpService::SetRoute(const char* destination, const std::vector<const char*>& routers,
                               std::uint8_t replyTtl, std::uint32_t rtt) {
    for (std::size_t i = 0; i < routers.size(); ++i)
        SetAnswer(destination, static_cast<std::uint8_t>(i + 1),
                  FakeAnswer::IcmpError(routers[i], 11013, rtt));
    // Past the routers the destination answers; its reply loses one TTL per router.
    SetAnswer(destination, FakeAnswer::Echo(destination, rtt,
                                            static_cast<std::uint8_t>(replyTtl - routers.size())));
}

void FakeIcmpService::SetDefault(FakeAnswer answer) {
    std::lock_guard lock(m);
    fallback = answer;
}

void FakeIcmpService::SetMissingLibrary(bool missing) {
    missingLibrary = missing;
}
void FakeIcmpService::SetMissingEntry(const std::string& name) {
    missingEntry = name;
}

void FakeIcmpService::SetNoHandle(bool value) {
    std::lock_guard lock(m);
    noHandle = value;
}

void FakeIcmpService::HoldRequests(bool value) {
    std::lock_guard lock(m);
    hold = value;
    changed.notify_all();
}

void FakeIcmpService::HoldRequestsTo(const char* destination) {
    std::lock_guard lock(m);
    holdTo.insert(Ip(destination));
}

bool FakeIcmpService::WaitForHeld(int count, int timeoutMs) {
    std::unique_lock lock(m);
    return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                            [&] { return held >= count; });
}

bool FakeIcmpService::WaitForRequests(std::size_t count, int timeoutMs) {
    std::unique_lock lock(m);
    return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                            [&] { return requests.size() >= count; });
}

void FakeIcmpService::ReleaseOne() {
    std::lock_guard lock(m);
    ++releases;
    changed.notify_all();
}

void FakeIcmpService::ReleaseAll() {
    std::lock_guard lock(m);
    hold = false;
    holdTo.clear();
    changed.notify_all();
}

std::vector<FakeRequest> FakeIcmpService::Requests() const {
    std::lock_guard lock(m);
    return requests;
}

int FakeIcmpService::OpenHandles() const {
    std::lock_guard lock(m);
    return static_cast<int>(handles.size());
}

int FakeIcmpService::Interrupts() const {
    std::lock_guard lock(m);
    return interrupts;
}

IcmpHandle FakeIcmpService::Create() {
    std::lock_guard lock(m);
    if (noHandle) {
        platform::SetLastError(24);
        return InvalidIcmpHandle;
    }
    IcmpHandle h = nextHandle++;
    handles.insert(h);
    return h;
}

bool FakeIcmpService::Close(IcmpHandle handle) {
    std::lock_guard lock(m);
    return handles.erase(handle) == 1;
}

FakeAnswer FakeIcmpService::Choose(std::uint32_t destination, std::uint8_t ttl) {
    auto q = queued.find(destination);
    if (q != queued.end() && !q->second.empty()) {
        FakeAnswer a = q->second.front();
        q->second.pop_front();
        return a;
    }
    auto t = byTtl.find({destination, ttl});
    if (t != byTtl.end())
        return t->second;
    auto d = byDestination.find(destination);
    if (d != byDestination.end())
        return d->second;
    return fallback;
}

namespace {
FakeRequest RequestOf(std::uint32_t destination, const void* data, std::uint16_t size,
                      const TIpOptions* options, std::uint32_t replySize, std::uint32_t timeout) {
    FakeRequest r;
    r.destination = destination;
    r.ttl = options != nullptr ? options->Ttl : 0;
    r.size = size;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    r.allAA = std::all_of(bytes, bytes + size, [](std::uint8_t b) { return b == 0xAA; });
    r.replySize = replySize;
    r.timeout = timeout;
    r.thread = std::this_thread::get_id();
    return r;
}
} // namespace

std::uint32_t FakeIcmpService::Send(IcmpHandle handle, std::uint32_t destination, const void* data,
                                    std::uint16_t size, const TIpOptions* options, void* reply,
                                    std::uint32_t replySize, std::uint32_t timeout) {
    FakeAnswer a;
    if (!Exchange(handle, RequestOf(destination, data, size, options, replySize, timeout), data, a))
        return 0;
    TEchoReply e;
    e.Address = a.from;
    e.Status = a.kind == FakeAnswer::Reply ? 0 : a.status;
    e.RoundTripTime = a.rtt;
    e.DataSize = a.kind == FakeAnswer::Reply ? size : 0;
    e.Data = sizeof(TEchoReply);
    e.Options.Ttl = a.replyTtl;
    std::memcpy(reply, &e, sizeof e);
    if (a.kind == FakeAnswer::Reply)
        std::memcpy(static_cast<std::uint8_t*>(reply) + sizeof e, data,
                    std::min<std::size_t>(size, replySize - sizeof e));
    return 1;
}

std::uint32_t FakeIcmpService::Send6(IcmpHandle handle, const TIpv6Address* destination,
                                     const void* data, std::uint16_t size,
                                     const TIpOptions* options, void* reply,
                                     std::uint32_t replySize, std::uint32_t timeout) {
    FakeRequest r = RequestOf(KeyOf(*destination), data, size, options, replySize, timeout);
    r.ipv6 = true;
    r.scope = destination->ScopeId;
    FakeAnswer a;
    if (!Exchange(handle, r, data, a))
        return 0;
    TEcho6Reply e;
    std::memcpy(e.Address.Bytes, a.from6.data(), 16);
    e.Status = a.kind == FakeAnswer::Reply ? 0 : a.status;
    e.RoundTripTime = a.rtt;
    e.DataSize = a.kind == FakeAnswer::Reply ? size : 0;
    e.Options.Ttl = a.replyTtl;
    std::memcpy(reply, &e, sizeof e);
    if (a.kind == FakeAnswer::Reply)
        std::memcpy(static_cast<std::uint8_t*>(reply) + sizeof e, data,
                    std::min<std::size_t>(size, replySize - sizeof e));
    return 1;
}

bool FakeIcmpService::Exchange(IcmpHandle handle, FakeRequest r, const void*, FakeAnswer& a) {
    std::unique_lock lock(m);
    const std::uint32_t destination = r.destination;
    requests.push_back(r);
    changed.notify_all();
    if (handles.count(handle) == 0) {
        platform::SetLastError(6);
        return false;
    }
    a = Choose(destination, r.ttl);
    if (hold || holdTo.count(destination) != 0) {
        ++held;
        changed.notify_all();
        changed.wait(lock, [&] {
            return (!hold && holdTo.count(destination) == 0) || releases > 0 || interrupted;
        });
        if (releases > 0)
            --releases;
        --held;
        if (interrupted) {
            platform::SetLastError(11010);
            return false;
        }
    }
    if (a.kind == FakeAnswer::Silence) {
        platform::SetLastError(11010);
        return false;
    }
    if (a.kind == FakeAnswer::Fail) {
        platform::SetLastError(a.failCode);
        return false;
    }
    return true;
}

void FakeIcmpService::Interrupt() {
    std::lock_guard lock(m);
    interrupted = true;
    ++interrupts;
    changed.notify_all();
}

} // namespace netsonde::test

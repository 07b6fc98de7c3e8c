#pragma once

#include "platform/IcmpLibrary.h"

#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace netsonde::test {

// The key of a destination or answering node: a dotted address in network
// byte order; an IPv6 text (with a colon) maps to a key in 240.0.0.0/8, a
// net no IPv4 test uses.
std::uint32_t Ip(const char* dotted);
std::array<std::uint8_t, 16> Ip6(const char* text);

// What the scripted service answers to one request.
struct FakeAnswer {
    enum Kind { Reply, Error, Silence, Fail } kind = Silence;
    std::uint32_t from = 0;               // answering node, network byte order
    std::array<std::uint8_t, 16> from6{}; // the same node for an IPv6 request
    std::uint32_t status = 0;             // ICMP status of an Error answer
    std::uint32_t rtt = 0;
    std::uint8_t replyTtl = 64;
    std::uint32_t failCode = 0; // last error of a Fail answer

    static FakeAnswer Echo(const char* from, std::uint32_t rtt = 1, std::uint8_t replyTtl = 64);
    static FakeAnswer IcmpError(const char* from, std::uint32_t status, std::uint32_t rtt = 1);
    static FakeAnswer NoAnswer();
    static FakeAnswer Failure(std::uint32_t code);
};

struct FakeRequest {
    std::uint32_t destination = 0; // the key of Ip()
    bool ipv6 = false;
    std::uint32_t scope = 0; // of an IPv6 destination
    std::uint8_t ttl = 0;
    std::uint16_t size = 0;
    bool allAA = false;
    std::uint32_t replySize = 0;
    std::uint32_t timeout = 0;
    std::thread::id thread;
};

// A scripted ICMP echo service installed as the platform's provider for the
// lifetime of the object. Answers are chosen per destination and TTL: queued
// answers first, then the answer for the exact TTL, then the destination's
// answer for any TTL, then the default (no answer). Requests can be held
// until the test releases them, to observe runs with a request in flight.
class FakeIcmpService {
public:
    FakeIcmpService();
    ~FakeIcmpService();

    void SetAnswer(const char* destination, FakeAnswer answer);
    void SetAnswer(const char* destination, std::uint8_t ttl, FakeAnswer answer);
    void QueueAnswer(const char* destination, FakeAnswer answer);
    // A route of routers to a destination that answers with replyTtl: a
    // request with TTL n <= routers.size() expires at router n.
    void SetRoute(const char* destination, const std::vector<const char*>& routers,
                  std::uint8_t replyTtl = 255, std::uint32_t rtt = 1);
    void SetDefault(FakeAnswer answer);

    void SetMissingLibrary(bool missing);
    void SetMissingEntry(const std::string& name);
    void SetNoHandle(bool noHandle);

    void HoldRequests(bool hold);
    // Holds the requests to one destination only, until ReleaseAll.
    void HoldRequestsTo(const char* destination);
    // Waits (bounded) until count requests are held; false on time-out.
    bool WaitForHeld(int count, int timeoutMs = 5000);
    // Waits (bounded) until count requests have reached the service.
    bool WaitForRequests(std::size_t count, int timeoutMs = 5000);
    void ReleaseOne();
    void ReleaseAll();

    std::vector<FakeRequest> Requests() const;
    int OpenHandles() const;
    int Interrupts() const;

    // Entry points, called by the fake library.
    IcmpHandle Create();
    bool Close(IcmpHandle handle);
    std::uint32_t Send(IcmpHandle handle, std::uint32_t destination, const void* data,
                       std::uint16_t size, const TIpOptions* options, void* reply,
                       std::uint32_t replySize, std::uint32_t timeout);
    std::uint32_t Send6(IcmpHandle handle, const TIpv6Address* destination, const void* data,
                        std::uint16_t size, const TIpOptions* options, void* reply,
                        std::uint32_t replySize, std::uint32_t timeout);
    void Interrupt();

private:
    // Records the request, waits while it is held and picks its answer;
    // false (last error set) when no answer record is written.
    bool Exchange(IcmpHandle handle, FakeRequest r, const void* data, FakeAnswer& a);
    FakeAnswer Choose(std::uint32_t destination, std::uint8_t ttl);

    mutable std::mutex m;
    std::condition_variable changed;
    std::map<std::uint32_t, std::deque<FakeAnswer>> queued;
    std::map<std::pair<std::uint32_t, std::uint8_t>, FakeAnswer> byTtl;
    std::map<std::uint32_t, FakeAnswer> byDestination;
    FakeAnswer fallback;
    std::vector<FakeRequest> requests;
    std::set<IcmpHandle> handles;
    IcmpHandle nextHandle = 100;
    bool missingLibrary = false;
    std::string missingEntry;
    bool noHandle = false;
    bool hold = false;
    std::set<std::uint32_t> holdTo;
    int held = 0;
    int releases = 0;
    bool interrupted = false;
    int interrupts = 0;
    std::unique_ptr<platform::IcmpLibraryProvider> previous;
};

} // namespace netsonde::test

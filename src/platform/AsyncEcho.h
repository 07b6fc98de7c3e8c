#pragma once

#include <QObject>
#include <QTimer>
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <queue>
#include <span>
#include <tuple>
#include <unordered_map>
#include <vector>

class QSocketNotifier;

// Echo requests without a thread per request: many requests in flight on
// one ICMP socket per family, their answers read when the owning thread's
// event loop sees the socket readable, their time-outs kept in one queue of
// deadlines with a single timer.
//
// The route of a family is its own datagram ICMP socket where
// ping_group_range admits the process's group (the kernel then owns the
// identifier), else a raw ICMP socket of the process's own where it may open
// one (root), with a random identifier, else the echo broker, which numbers
// and checks its requests itself and hands each answer back by its tag (at
// most ICMP_BROKER_MAX_PENDING in flight; more fail with NoResources). Every request carries the
// next sequence number of its family, starting at a random one, and data whose first bytes are
// random: an answer counts only when it comes from the destination (an error: quotes exactly our
// request) and carries our identifier, sequence and data. Anything else is read and dropped.
//
// Everything runs on the thread that owns the object; the completion of a
// request is called there too, exactly once per Send, and never from within
// Send. Destroying the object drops the requests in flight without calling
// their completions. A completion must not destroy the object.
namespace platform {

class AsyncEcho : public QObject {
    Q_OBJECT
public:
    using Clock = std::chrono::steady_clock;

    enum class Route { None, Datagram, Raw, Broker };

    struct Target {
        int family = 4;                         // 4 or 6
        std::array<std::uint8_t, 16> address{}; // network order; 4 bytes used for IPv4
        std::uint32_t scopeId = 0;
    };
    struct Options {
        std::uint8_t ttl = 64; // time-to-live or hop limit
        std::uint16_t dataSize = 56;
        std::uint32_t timeoutMs = 1000;
    };
    struct Outcome {
        std::uint32_t status = 0;            // an IcmpStatus code: Success for an echo reply
        std::array<std::uint8_t, 16> from{}; // the node that answered
        std::uint8_t ttl = 0;                // of the answer
        Clock::time_point sent;
        Clock::time_point received; // when the answer was read, or the request ended
    };
    using Done = std::function<void(const Outcome&)>;

    explicit AsyncEcho(QObject* parent = nullptr);
    ~AsyncEcho() override;
    AsyncEcho(const AsyncEcho&) = delete;
    AsyncEcho& operator=(const AsyncEcho&) = delete;

    // The route of a family (4 or 6), opening its socket at the first call.
    // None when neither kind of socket may be had: the caller then takes
    // another way (the echo broker).
    Route RouteFor(int family);
    // Sends one echo request; done is called once with its outcome.
    void Send(const Target& target, const Options& options, Done done);
    std::size_t InFlight() const { return FPending.size(); }
    // The first route tried for the families not opened yet: Raw skips
    // datagram sockets, Broker both kinds of socket (tests exercise every
    // route so).
    void PreferRouteForTests(Route first) { FFirst = first; }

    // The identifier (0 where the kernel sets it) and sequence number that
    // the family's next request carries; tests forge answers with them.
    struct Numbers {
        std::uint16_t ident = 0;
        std::uint16_t sequence = 0;
    };
    std::optional<Numbers> NextNumbers(int family);

private:
    struct Channel;
    struct Inbox;
    struct Pending {
        int family = 4;
        std::array<std::uint8_t, 16> address{};
        std::uint16_t sequence = 0;
        std::vector<std::uint8_t> data;
        Clock::time_point sent;
        std::uint64_t serial = 0;
        std::uint32_t tag = 0; // the broker's, on its route
        Done done;
    };

    Channel& ChannelOf(int family);
    void Open(Channel& c);
    void Readable(Channel& c);
    bool SendOwn(Channel& c, const Target& target, const Pending& p);
    bool SendViaBroker(Channel& c, const Target& target, const Options& options, Pending& p);
    void BrokerAnswers();
    void Received(Channel& c, std::span<const std::uint8_t> bytes,
                  std::span<const std::uint8_t> control, const void* from, bool errorQueue);
    void Expire();
    void Arm();
    void Finish(std::uint32_t key, const Outcome& outcome);
    void FailLater(Done done, std::uint32_t status);
    void RandomBytes(std::uint8_t* out, std::size_t n);

    std::array<std::unique_ptr<Channel>, 2> FChannels;
    std::unordered_map<std::uint32_t, Pending> FPending; // by family slot and sequence
    using Deadline = std::tuple<Clock::time_point, std::uint64_t, std::uint32_t>;
    std::priority_queue<Deadline, std::vector<Deadline>, std::greater<>> FDeadlines;
    QTimer FTimer;
    std::uint64_t FSerial = 0;
    Route FFirst = Route::Datagram;
    // Answers of the broker's receive thread, waiting for this thread.
    std::shared_ptr<Inbox> FInbox;
    std::unique_ptr<QSocketNotifier> FInboxNotifier;
    std::vector<std::uint8_t> FRandom; // a pool of the kernel's random bytes
    std::size_t FRandomUsed = 0;
    std::vector<std::uint8_t> FBuffer; // one received message
};

} // namespace platform

#pragma once

#include "platform/ProbeEntry.h"

#include <QObject>
#include <QTimer>
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <queue>
#include <unordered_map>
#include <utility>
#include <vector>

// Probes of one TCP or UDP port, without privilege: one socket per probe,
// many probes in flight, their answers read when the owning thread's event
// loop sees a socket ready, each with a time-out of its own.
//
// TCP: a non-blocking connect. The handshake completing (connected) or the
// destination's reset (refused) both mean the host answered; the time of
// the handshake is the round trip. The socket is closed at once with a
// reset, no data is ever sent or read.
// UDP: one small datagram to the port. A datagram coming back means the
// port is open, a port unreachable from the destination that it is closed;
// without either the probe ends with ReqTimedOut (open or filtered).
//
// The time-to-live (hop limit) of the probe is the caller's, and the socket
// asks for the network's errors on its error queue: a router's Time
// Exceeded or unreachable ends the probe with that status and the router's
// address, as for an echo request. The kernel hands a socket only the
// errors whose quoted header matches its own addresses and ports (for TCP
// also a sequence number it has in flight); the probe checks the quoted
// ports once more. Times come from the kernel's receive stamps where it has
// them (errors, UDP replies; see KernelTime.h) and from the TCP handshake's
// own measurement.
//
// Everything runs on the thread that owns the object; each Send's done is
// called there exactly once, never from within Send. Destroying the object
// closes the sockets in flight without calling their completions.
namespace platform {

enum class PortAnswer {
    None,            // nothing came, or only a router answered
    Connected,       // TCP handshake completed
    Refused,         // TCP reset from the destination
    Reply,           // UDP datagram from the destination
    PortUnreachable, // ICMP port unreachable from the destination
};

class PortProbes : public QObject {
    Q_OBJECT
public:
    using Clock = std::chrono::steady_clock;

    struct Target {
        int family = 4;                         // 4 or 6
        std::array<std::uint8_t, 16> address{}; // network order; 4 bytes used for IPv4
        std::uint32_t scopeId = 0;
        ProbeKind kind = ProbeKind::Tcp; // Tcp or Udp
        std::uint16_t port = 0;
    };
    struct Options {
        std::uint8_t ttl = 64; // time-to-live or hop limit
        std::uint32_t timeoutMs = 1000;
    };
    struct Outcome {
        std::uint32_t status = 0; // an IcmpStatus code: Success when the destination answered
        PortAnswer answer = PortAnswer::None;
        std::array<std::uint8_t, 16> from{}; // the node that answered
        Clock::time_point sent;
        Clock::time_point received;
        // The round trip in microseconds, from the kernel's figures where it
        // has them.
        std::uint64_t roundTripUs = 0;
    };
    using Done = std::function<void(const Outcome&)>;

    explicit PortProbes(QObject* parent = nullptr);
    ~PortProbes() override;
    PortProbes(const PortProbes&) = delete;
    PortProbes& operator=(const PortProbes&) = delete;

    // Starts one probe; done is called once with its outcome.
    void Send(const Target& target, const Options& options, Done done);
    std::size_t InFlight() const { return FProbes.size(); }

    // One probe that blocks the calling thread until it has ended.
    static Outcome ProbeNow(const Target& target, const Options& options);

    // The local port of the newest probe in flight (0 for none): tests forge
    // errors that quote it.
    std::uint16_t NewestLocalPortForTests() const;

private:
    struct Probe;
    using Probes = std::unordered_map<std::uint64_t, std::unique_ptr<Probe>>;

    void Ready(std::uint64_t serial);
    void Expire();
    void Arm();
    void Finish(Probes::iterator it, const Outcome& outcome);

    Probes FProbes;
    std::uint64_t FSerial = 0;
    // The probes' time-outs, earliest first, with one timer for all.
    using Deadline = std::pair<Clock::time_point, std::uint64_t>;
    std::priority_queue<Deadline, std::vector<Deadline>, std::greater<>> FDeadlines;
    QTimer FTimer;
};

} // namespace platform

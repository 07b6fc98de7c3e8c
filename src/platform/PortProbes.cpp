#include "platform/PortProbes.h"

#include "platform/IcmpPacket.h"
#include "platform/IcmpTypes.h"
#include "platform/KernelTime.h"

#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <span>

#include <arpa/inet.h>
#include <linux/errqueue.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

namespace {

using Clock = PortProbes::Clock;

// The few bytes a UDP probe carries: enough for a service that answers any
// datagram, nothing a service would take for a request of its own.
constexpr std::uint8_t UdpPayload[] = {'n', 's', 'o', 'n', 'd', 'e', 0, 0};

struct Sent {
    Clock::time_point steady;
};

union SockAddr {
    sockaddr any;
    sockaddr_in v4;
    sockaddr_in6 v6;
    sockaddr_storage storage;
};

socklen_t FillAddress(const PortProbes::Target& target, SockAddr& out) {
    std::memset(&out, 0, sizeof out);
    if (target.family == 6) {
        out.v6.sin6_family = AF_INET6;
        out.v6.sin6_port = htons(target.port);
        std::memcpy(&out.v6.sin6_addr, target.address.data(), 16);
        out.v6.sin6_scope_id = target.scopeId;
        return sizeof out.v6;
    }
    out.v4.sin_family = AF_INET;
    out.v4.sin_port = htons(target.port);
    std::memcpy(&out.v4.sin_addr, target.address.data(), 4);
    return sizeof out.v4;
}

// The round trip of a message the kernel stamped on its arrival.
std::uint64_t MicrosUntilReceived(std::span<const std::uint8_t> control, const Sent& sent) {
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(
                        ReceivedAt(control, sent.steady) - sent.steady)
                        .count();
    return us > 0 ? static_cast<std::uint64_t>(us) : 0;
}

std::uint64_t MicrosSince(const Sent& sent) {
    const auto us =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - sent.steady).count();
    return us > 0 ? static_cast<std::uint64_t>(us) : 0;
}

PortProbes::Outcome Ended(const Sent& sent, std::uint32_t status, PortAnswer answer,
                          std::uint64_t roundTripUs) {
    PortProbes::Outcome o;
    o.status = status;
    o.answer = answer;
    o.sent = sent.steady;
    o.roundTripUs = roundTripUs;
    o.received = sent.steady + std::chrono::microseconds(roundTripUs);
    return o;
}

// One socket and what the probe needs to read its answers.
struct Socket {
    int fd = -1;
    PortProbes::Target target;
    Sent sent;
    std::uint16_t localPort = 0;

    Socket() = default;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    ~Socket() { Close(false); }

    // The port the kernel gave the socket, asked for once.
    std::uint16_t LocalPort() {
        if (localPort == 0) {
            SockAddr local;
            socklen_t length = sizeof local;
            if (::getsockname(fd, &local.any, &length) == 0)
                localPort =
                    ntohs(local.any.sa_family == AF_INET6 ? local.v6.sin6_port : local.v4.sin_port);
        }
        return localPort;
    }

    // A connected TCP socket is reset rather than shut down: nothing is
    // left to linger on either side.
    void Close(bool reset) {
        if (fd < 0)
            return;
        if (reset) {
            const linger abort{1, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        }
        ::close(fd);
        fd = -1;
    }
};

// Opens the socket and starts the probe; an outcome when it has ended
// already (no socket, no route).
std::optional<PortProbes::Outcome> Open(Socket& s, const PortProbes::Target& target,
                                        const PortProbes::Options& options) {
    s.target = target;
    s.sent.steady = Clock::now();
    const bool v6 = target.family == 6;
    const bool tcp = target.kind == ProbeKind::Tcp;
    s.fd = ::socket(v6 ? AF_INET6 : AF_INET,
                    (tcp ? SOCK_STREAM : SOCK_DGRAM) | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (s.fd < 0)
        return Ended(s.sent,
                     errno == EMFILE || errno == ENFILE || errno == ENOBUFS
                         ? IcmpStatus::NoResources
                         : IcmpStatus::GeneralFailure,
                     PortAnswer::None, 0);
    const int one = 1;
    const int ttl = options.ttl;
    if (v6) {
        ::setsockopt(s.fd, IPPROTO_IPV6, IPV6_UNICAST_HOPS, &ttl, sizeof ttl);
        ::setsockopt(s.fd, IPPROTO_IPV6, IPV6_RECVERR, &one, sizeof one);
    } else {
        ::setsockopt(s.fd, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl);
        ::setsockopt(s.fd, IPPROTO_IP, IP_RECVERR, &one, sizeof one);
    }
    StampReceives(s.fd);
    SockAddr to;
    const socklen_t toLength = FillAddress(target, to);
    s.sent.steady = Clock::now();
    int rc = ::connect(s.fd, &to.any, toLength);
    const int connectError = rc == 0 ? 0 : errno;
    if (tcp) {
        if (rc == 0)
            return std::nullopt; // connected at once (loopback): the first look reports it
        if (connectError == EINPROGRESS)
            return std::nullopt;
        if (connectError == ECONNREFUSED) {
            PortProbes::Outcome o =
                Ended(s.sent, IcmpStatus::Success, PortAnswer::Refused, MicrosSince(s.sent));
            o.from = target.address;
            return o;
        }
        return Ended(s.sent, icmppacket::SendErrorStatus(connectError), PortAnswer::None, 0);
    }
    if (rc != 0)
        return Ended(s.sent, icmppacket::SendErrorStatus(connectError), PortAnswer::None, 0);
    if (::send(s.fd, UdpPayload, sizeof UdpPayload, MSG_NOSIGNAL) < 0)
        return Ended(s.sent, icmppacket::SendErrorStatus(errno), PortAnswer::None, 0);
    return std::nullopt;
}

bool SameAddress(const PortProbes::Target& target, const sockaddr* address) {
    if (target.family == 6)
        return address->sa_family == AF_INET6 &&
               std::memcmp(&reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr,
                           target.address.data(), 16) == 0;
    return address->sa_family == AF_INET &&
           std::memcmp(&reinterpret_cast<const sockaddr_in*>(address)->sin_addr,
                       target.address.data(), 4) == 0;
}

std::uint16_t PortOf(const sockaddr* address) {
    return ntohs(address->sa_family == AF_INET6
                     ? reinterpret_cast<const sockaddr_in6*>(address)->sin6_port
                     : reinterpret_cast<const sockaddr_in*>(address)->sin_port);
}

void CopyAddress(const sockaddr* address, std::array<std::uint8_t, 16>& out) {
    out.fill(0);
    if (address->sa_family == AF_INET6)
        std::memcpy(out.data(), &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, 16);
    else if (address->sa_family == AF_INET)
        std::memcpy(out.data(), &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, 4);
}

// Takes one entry off the error queue (false when it is empty) and leaves
// an outcome in ours when it is an error about our probe from the network.
bool ReadError(Socket& s, std::optional<PortProbes::Outcome>& ours) {
    std::uint8_t quoted[64];
    SockAddr original;
    alignas(cmsghdr) std::uint8_t control[512];
    iovec iov{quoted, sizeof quoted};
    msghdr msg{};
    msg.msg_name = &original;
    msg.msg_namelen = sizeof original;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    const ssize_t n = ::recvmsg(s.fd, &msg, MSG_ERRQUEUE | MSG_DONTWAIT);
    if (n < 0)
        return false;
    const sock_extended_err* error = nullptr;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c))
        if ((c->cmsg_level == SOL_IP && c->cmsg_type == IP_RECVERR) ||
            (c->cmsg_level == SOL_IPV6 && c->cmsg_type == IPV6_RECVERR))
            error = reinterpret_cast<const sock_extended_err*>(CMSG_DATA(c));
    const bool v6 = s.target.family == 6;
    if (error == nullptr || error->ee_origin != (v6 ? SO_EE_ORIGIN_ICMP6 : SO_EE_ORIGIN_ICMP))
        return true;
    // The quoted destination and port, and for TCP the quoted header's
    // ports: the probe's own, or the error is not ours.
    if (msg.msg_namelen == 0 || !SameAddress(s.target, &original.any) ||
        PortOf(&original.any) != s.target.port)
        return true;
    if (s.target.kind == ProbeKind::Tcp &&
        (n < 4 || ((quoted[0] << 8) | quoted[1]) != s.LocalPort() ||
         ((quoted[2] << 8) | quoted[3]) != s.target.port))
        return true;
    const std::uint32_t status = v6 ? icmppacket::Error6Status(error->ee_type, error->ee_code)
                                    : icmppacket::ErrorStatus(error->ee_type, error->ee_code);
    if (status == 0)
        return true;
    const sockaddr* offender = SO_EE_OFFENDER(error);
    const std::uint64_t us = MicrosUntilReceived(std::span(control, msg.msg_controllen), s.sent);
    std::array<std::uint8_t, 16> from{};
    CopyAddress(offender, from);
    // The destination itself saying its port is closed has answered.
    const bool closedPort =
        status == IcmpStatus::DestPortUnreachable && SameAddress(s.target, offender);
    PortProbes::Outcome o =
        closedPort ? Ended(s.sent, IcmpStatus::Success, PortAnswer::PortUnreachable, us)
                   : Ended(s.sent, status, PortAnswer::None, us);
    o.from = from;
    ours = o;
    return true;
}

// A UDP datagram from the destination: the port is open.
std::optional<PortProbes::Outcome> ReadReply(Socket& s) {
    std::uint8_t discard[64];
    alignas(cmsghdr) std::uint8_t control[128];
    iovec iov{discard, sizeof discard};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    if (::recvmsg(s.fd, &msg, MSG_DONTWAIT | MSG_TRUNC) < 0)
        return std::nullopt;
    PortProbes::Outcome o =
        Ended(s.sent, IcmpStatus::Success, PortAnswer::Reply,
              MicrosUntilReceived(std::span(control, msg.msg_controllen), s.sent));
    std::copy(s.target.address.begin(), s.target.address.end(), o.from.begin());
    return o;
}

// Looks at a socket the kernel has reported ready: an outcome once the
// probe has ended, nothing while it goes on.
std::optional<PortProbes::Outcome> Examine(Socket& s) {
    // Errors first: a router's Time Exceeded also fails a connect. The queue
    // is bounded, so that a flood of foreign errors cannot hold the thread.
    const auto readErrors = [&s] {
        std::optional<PortProbes::Outcome> ours;
        for (int i = 0; i < 64 && !ours && ReadError(s, ours); ++i) {
        }
        return ours;
    };
    int error = 0;
    socklen_t length = sizeof error;
    if (s.target.kind == ProbeKind::Udp) {
        if (std::optional<PortProbes::Outcome> ours = readErrors())
            return ours;
        // An error that was not ours still left the socket's error set, and
        // a receive would report it instead of a datagram.
        ::getsockopt(s.fd, SOL_SOCKET, SO_ERROR, &error, &length);
        return ReadReply(s);
    }
    // TCP: the socket's error says whether the connect failed; only then
    // can the error queue hold why.
    ::getsockopt(s.fd, SOL_SOCKET, SO_ERROR, &error, &length);
    if (error != 0) {
        if (std::optional<PortProbes::Outcome> ours = readErrors())
            return ours;
        if (error == ETIMEDOUT)
            return Ended(s.sent, IcmpStatus::ReqTimedOut, PortAnswer::None, MicrosSince(s.sent));
        if (error != ECONNREFUSED)
            return Ended(s.sent, icmppacket::SendErrorStatus(error), PortAnswer::None,
                         MicrosSince(s.sent));
        // Refused without an ICMP error behind it: the host's reset.
        PortProbes::Outcome o =
            Ended(s.sent, IcmpStatus::Success, PortAnswer::Refused, MicrosSince(s.sent));
        std::copy(s.target.address.begin(), s.target.address.end(), o.from.begin());
        return o;
    }
    tcp_info info{};
    socklen_t infoLength = sizeof info;
    // Past SYN_SENT the handshake has completed, whatever came after it (a
    // service that closes at once has the socket in CLOSE_WAIT already).
    if (::getsockopt(s.fd, IPPROTO_TCP, TCP_INFO, &info, &infoLength) != 0 ||
        info.tcpi_state == TCP_SYN_SENT) {
        // Still connecting. An error queued without failing the connect
        // (the socket was busy when it came) is read here, also so that it
        // does not keep waking the loop.
        return readErrors();
    }
    // The kernel's own measure of the handshake, unless a SYN went twice.
    const std::uint64_t us =
        info.tcpi_rtt > 0 && info.tcpi_total_retrans == 0 ? info.tcpi_rtt : MicrosSince(s.sent);
    PortProbes::Outcome o = Ended(s.sent, IcmpStatus::Success, PortAnswer::Connected, us);
    std::copy(s.target.address.begin(), s.target.address.end(), o.from.begin());
    return o;
}

} // namespace

struct PortProbes::Probe {
    Socket socket;
    Done done;
    Clock::time_point deadline;
    // TCP: writable once the connect has ended; UDP: readable. An error of
    // either, on the error queue or the socket, wakes both.
    std::unique_ptr<QSocketNotifier> ready;
};

PortProbes::PortProbes(QObject* parent) : QObject(parent) {
    FTimer.setSingleShot(true);
    FTimer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&FTimer, &QTimer::timeout, this, [this] { Expire(); });
}

PortProbes::~PortProbes() = default;

void PortProbes::Send(const Target& target, const Options& options, Done done) {
    auto probe = std::make_unique<Probe>();
    probe->done = std::move(done);
    if (std::optional<Outcome> ended = Open(probe->socket, target, options)) {
        // The completion never runs inside Send; one queued behind it dies
        // with this object.
        QMetaObject::invokeMethod(
            this, [d = std::move(probe->done), o = *ended] { d(o); }, Qt::QueuedConnection);
        return;
    }
    const std::uint64_t serial = ++FSerial;
    probe->deadline = probe->socket.sent.steady + std::chrono::milliseconds(options.timeoutMs);
    probe->ready = std::make_unique<QSocketNotifier>(probe->socket.fd, target.kind == ProbeKind::Tcp
                                                                           ? QSocketNotifier::Write
                                                                           : QSocketNotifier::Read);
    QObject::connect(probe->ready.get(), &QSocketNotifier::activated, this,
                     [this, serial] { Ready(serial); });
    FDeadlines.emplace(probe->deadline, serial);
    FProbes.emplace(serial, std::move(probe));
    Arm();
}

void PortProbes::Arm() {
    if (FDeadlines.empty()) {
        FTimer.stop();
        return;
    }
    const auto wait =
        std::chrono::ceil<std::chrono::milliseconds>(FDeadlines.top().first - Clock::now());
    const auto ms = static_cast<int>(std::max<std::int64_t>(0, wait.count()));
    // A timer already due no later stays as it is: re-arming one for every
    // probe of a steady run costs more than the probe itself.
    if (FTimer.isActive() && FTimer.remainingTime() <= ms)
        return;
    FTimer.start(ms);
}

void PortProbes::Expire() {
    const auto now = Clock::now();
    while (!FDeadlines.empty() && FDeadlines.top().first <= now) {
        const std::uint64_t serial = FDeadlines.top().second;
        FDeadlines.pop();
        auto it = FProbes.find(serial);
        if (it == FProbes.end())
            continue; // ended before its time-out
        std::optional<Outcome> outcome = Examine(it->second->socket);
        Finish(it, outcome ? *outcome
                           : Ended(it->second->socket.sent, IcmpStatus::ReqTimedOut,
                                   PortAnswer::None, MicrosSince(it->second->socket.sent)));
    }
    // Probes that ended leave their deadlines behind; drop them from the top.
    while (!FDeadlines.empty() && FProbes.count(FDeadlines.top().second) == 0)
        FDeadlines.pop();
    Arm();
}

void PortProbes::Ready(std::uint64_t serial) {
    auto it = FProbes.find(serial);
    if (it == FProbes.end())
        return;
    if (std::optional<Outcome> outcome = Examine(it->second->socket))
        Finish(it, *outcome);
}

void PortProbes::Finish(Probes::iterator it, const Outcome& outcome) {
    std::unique_ptr<Probe> ended = std::move(it->second);
    FProbes.erase(it);
    ended->ready.reset();
    ended->socket.Close(outcome.answer == PortAnswer::Connected);
    ended->done(outcome);
}

PortProbes::Outcome PortProbes::ProbeNow(const Target& target, const Options& options) {
    Socket s;
    if (std::optional<Outcome> ended = Open(s, target, options))
        return *ended;
    const auto deadline = s.sent.steady + std::chrono::milliseconds(options.timeoutMs);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            break;
        pollfd p{s.fd, static_cast<short>(target.kind == ProbeKind::Tcp ? POLLOUT : POLLIN), 0};
        if (::poll(&p, 1, static_cast<int>(left)) < 0 && errno != EINTR)
            break;
        if (p.revents == 0)
            continue;
        if (std::optional<Outcome> o = Examine(s)) {
            s.Close(o->answer == PortAnswer::Connected);
            return *o;
        }
    }
    return Ended(s.sent, IcmpStatus::ReqTimedOut, PortAnswer::None, MicrosSince(s.sent));
}

std::uint16_t PortProbes::NewestLocalPortForTests() const {
    auto newest = FProbes.find(FSerial);
    return newest == FProbes.end() ? 0 : newest->second->socket.LocalPort();
}

} // namespace platform

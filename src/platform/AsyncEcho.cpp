#include "platform/AsyncEcho.h"

#include "platform/IcmpPacket.h"
#include "platform/IcmpTypes.h"
#include "platform/KernelTime.h"
#include "platform/RawIcmpSockets.h"

#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

#include <fcntl.h>
#include <linux/icmp.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <sys/eventfd.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

using namespace platform::icmppacket;

namespace {

// Largest IPv4 datagram, and largest IPv6 payload without jumbograms.
constexpr std::size_t ReceiveBuffer = 65536;
// Room for a burst of answers while the event loop is busy elsewhere.
constexpr int SocketBuffer = 4 << 20;
// Messages read per wake-up, so that one busy socket does not starve the
// rest of the event loop; the notifier fires again for what is left.
constexpr int ReadsPerWake = 512;
// The random bytes at the start of every request's data.
constexpr std::size_t RandomDataBytes = 8;
constexpr std::size_t RandomPool = 4096;

int slotOf(int family) {
    return family == 6 ? 1 : 0;
}

std::uint32_t keyOf(int family, std::uint16_t sequence) {
    return static_cast<std::uint32_t>(slotOf(family)) << 16 | sequence;
}

std::uint16_t read16(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes[at] << 8 | bytes[at + 1]);
}

// A socket buffer full of requests not yet sent refuses the next one; on
// this path, where many requests go out at once, that is a lack of
// resources like any other.
std::uint32_t sendErrorStatus(int error) {
    return error == EAGAIN ? IcmpStatus::NoResources : icmppacket::SendErrorStatus(error);
}

// The sequence number an incoming message is about, read where the echo
// header sits: in the message itself for a reply, in the quoted request for
// an error. The parsers check everything else once the request is known.
std::optional<std::uint16_t> sequenceOf(std::span<const std::uint8_t> icmp, bool six) {
    if (icmp.size() < EchoHeaderSize)
        return std::nullopt;
    const std::uint8_t reply = six ? Echo6Reply : EchoReply;
    if (icmp[0] == reply)
        return read16(icmp, 6);
    std::size_t quoted = EchoHeaderSize;
    if (six) {
        quoted += Ipv6HeaderSize;
    } else {
        if (icmp.size() < quoted + MinIpHeaderSize)
            return std::nullopt;
        quoted += static_cast<std::size_t>(icmp[quoted] & 0x0F) * 4;
    }
    if (icmp.size() < quoted + EchoHeaderSize)
        return std::nullopt;
    return read16(icmp, quoted + 6);
}

} // namespace

struct AsyncEcho::Channel {
    int family = 4;
    bool tried = false;
    Route route = Route::None;
    int fd = -1;
    std::unique_ptr<QSocketNotifier> notifier;
    std::uint16_t ident = 0; // raw sockets; the kernel's port for datagram ones
    std::uint16_t sequence = 0;
    int ttl = -1; // set on the socket; -1 before the first request
    std::shared_ptr<platform::rawicmp::IcmpBroker> broker; // its route

    ~Channel() {
        notifier.reset();
        if (fd >= 0)
            ::close(fd);
    }
};

// The broker's answers on their way from its receive thread to ours. The
// broker's completions hold it, and drop what comes once we are gone.
struct AsyncEcho::Inbox {
    struct Arrived {
        std::uint32_t key = 0;
        std::uint64_t serial = 0;
        platform::rawicmp::IcmpBroker::Answer answer;
    };
    std::mutex mutex;
    bool open = true;
    std::vector<Arrived> answers;
    int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    ~Inbox() {
        if (fd >= 0)
            ::close(fd);
    }
};

AsyncEcho::AsyncEcho(QObject* parent) : QObject(parent), FBuffer(ReceiveBuffer) {
    FTimer.setSingleShot(true);
    FTimer.setTimerType(Qt::PreciseTimer);
    connect(&FTimer, &QTimer::timeout, this, &AsyncEcho::Expire);
}

AsyncEcho::~AsyncEcho() {
    if (FInbox) {
        std::lock_guard lock(FInbox->mutex);
        FInbox->open = false;
    }
}

void AsyncEcho::RandomBytes(std::uint8_t* out, std::size_t n) {
    // Whoever guesses these can forge an answer: they come from the
    // kernel's random source, a pool at a time.
    while (n > 0) {
        if (FRandomUsed == FRandom.size()) {
            FRandom.resize(RandomPool);
            std::size_t filled = 0;
            while (filled < FRandom.size()) {
                ssize_t got = ::getrandom(FRandom.data() + filled, FRandom.size() - filled, 0);
                if (got > 0)
                    filled += static_cast<std::size_t>(got);
                else if (errno != EINTR)
                    break;
            }
            FRandom.resize(filled);
            FRandomUsed = 0;
            if (filled == 0) {
                // getrandom does not fail once the kernel's pool is ready,
                // long before any user program runs.
                std::memset(out, 0, n);
                return;
            }
        }
        std::size_t take = std::min(n, FRandom.size() - FRandomUsed);
        std::memcpy(out, FRandom.data() + FRandomUsed, take);
        FRandomUsed += take;
        out += take;
        n -= take;
    }
}

AsyncEcho::Channel& AsyncEcho::ChannelOf(int family) {
    auto& c = FChannels[static_cast<std::size_t>(slotOf(family))];
    if (!c) {
        c = std::make_unique<Channel>();
        c->family = family == 6 ? 6 : 4;
    }
    if (!c->tried)
        Open(*c);
    return *c;
}

AsyncEcho::Route AsyncEcho::RouteFor(int family) {
    return ChannelOf(family).route;
}

void AsyncEcho::Open(Channel& c) {
    c.tried = true;
    const bool six = c.family == 6;
    const int domain = six ? AF_INET6 : AF_INET;
    const int protocol = six ? int{IPPROTO_ICMPV6} : int{IPPROTO_ICMP};
    const int level = six ? int{IPPROTO_IPV6} : int{IPPROTO_IP};
    int on = 1;
    int fd = FFirst != Route::Datagram
                 ? -1
                 : ::socket(domain, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
    if (fd >= 0) {
        // Errors on the error queue, without which every router's report
        // would look like a time-out, and the TTL and class of each reply.
        bool ok =
            ::setsockopt(fd, level, six ? IPV6_RECVERR : IP_RECVERR, &on, sizeof on) == 0 &&
            ::setsockopt(fd, level, six ? IPV6_RECVHOPLIMIT : IP_RECVTTL, &on, sizeof on) == 0 &&
            ::setsockopt(fd, level, six ? IPV6_RECVTCLASS : IP_RECVTOS, &on, sizeof on) == 0;
        sockaddr_storage any{};
        any.ss_family = static_cast<sa_family_t>(domain);
        ok = ok && ::bind(fd, reinterpret_cast<sockaddr*>(&any),
                          six ? sizeof(sockaddr_in6) : sizeof(sockaddr_in)) == 0;
        sockaddr_storage local{};
        socklen_t length = sizeof local;
        ok = ok && ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0;
        if (!ok) {
            ::close(fd);
            return;
        }
        c.ident = ntohs(six ? reinterpret_cast<const sockaddr_in6&>(local).sin6_port
                            : reinterpret_cast<const sockaddr_in&>(local).sin_port);
        c.route = Route::Datagram;
    } else {
        fd = FFirst == Route::Broker ? -1 : platform::rawicmp::OpenRawSocket(domain);
        if (fd < 0) {
            // The broker, where it runs and has a socket of the family.
            auto broker = platform::rawicmp::Broker();
            if (!broker || broker->familyError(domain) != 0)
                return;
            c.broker = std::move(broker);
            c.route = Route::Broker;
            RandomBytes(reinterpret_cast<std::uint8_t*>(&c.sequence), sizeof c.sequence);
            if (!FInbox) {
                FInbox = std::make_shared<Inbox>();
                FInboxNotifier =
                    std::make_unique<QSocketNotifier>(FInbox->fd, QSocketNotifier::Read);
                connect(FInboxNotifier.get(), &QSocketNotifier::activated, this,
                        &AsyncEcho::BrokerAnswers);
            }
            return;
        }
        // Only what can answer an echo request passes, so that the host's
        // other ICMP traffic does not crowd out the answers.
        bool ok;
        if (six) {
            icmp6_filter filter;
            ICMP6_FILTER_SETBLOCKALL(&filter);
            for (int type :
                 {Echo6Reply, Dest6Unreachable, PacketTooBig6, TimeExceeded6, ParameterProblem6})
                ICMP6_FILTER_SETPASS(type, &filter);
            ok = ::setsockopt(fd, IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof filter) == 0 &&
                 ::setsockopt(fd, level, IPV6_RECVHOPLIMIT, &on, sizeof on) == 0 &&
                 ::setsockopt(fd, level, IPV6_RECVTCLASS, &on, sizeof on) == 0;
        } else {
            icmp_filter filter{};
            filter.data = ~((1u << EchoReply) | (1u << DestUnreachable) | (1u << SourceQuench) |
                            (1u << TimeExceeded) | (1u << ParameterProblem));
            ok = ::setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter) == 0;
        }
        int flags = ok ? ::fcntl(fd, F_GETFL) : -1;
        if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
            ::close(fd);
            return;
        }
        RandomBytes(reinterpret_cast<std::uint8_t*>(&c.ident), sizeof c.ident);
        c.route = Route::Raw;
    }
    // The kernel caps SO_RCVBUF at its rmem_max; root may go past it.
    int size = SocketBuffer;
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    // Round trips from the kernel's receive time: a busy event loop that
    // reads an answer late does not make it slower.
    StampReceives(fd);
    RandomBytes(reinterpret_cast<std::uint8_t*>(&c.sequence), sizeof c.sequence);
    c.fd = fd;
    c.notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(c.notifier.get(), &QSocketNotifier::activated, this, [this, &c] { Readable(c); });
}

std::optional<AsyncEcho::Numbers> AsyncEcho::NextNumbers(int family) {
    Channel& c = ChannelOf(family);
    // The broker numbers its requests itself.
    if (c.route == Route::None || c.route == Route::Broker)
        return std::nullopt;
    std::uint16_t sequence = c.sequence;
    while (FPending.count(keyOf(c.family, sequence)) != 0)
        ++sequence;
    return Numbers{c.ident, sequence};
}

void AsyncEcho::FailLater(Done done, std::uint32_t status) {
    Outcome outcome;
    outcome.status = status;
    outcome.sent = outcome.received = Clock::now();
    QMetaObject::invokeMethod(
        this, [done = std::move(done), outcome] { done(outcome); }, Qt::QueuedConnection);
}

void AsyncEcho::Send(const Target& target, const Options& options, Done done) {
    Channel& c = ChannelOf(target.family);
    if (c.route == Route::None) {
        FailLater(std::move(done), IcmpStatus::GeneralFailure);
        return;
    }
    if (options.ttl == 0) {
        FailLater(std::move(done), IcmpStatus::BadOption);
        return;
    }
    const bool six = c.family == 6;
    // The next sequence number no request of the family waits with.
    std::uint16_t sequence = c.sequence;
    int tries = 0;
    while (FPending.count(keyOf(c.family, sequence)) != 0 && tries++ < 65536)
        ++sequence;
    if (tries > 65535) {
        FailLater(std::move(done), IcmpStatus::NoResources);
        return;
    }
    c.sequence = static_cast<std::uint16_t>(sequence + 1);

    if (c.route != Route::Broker && options.ttl != c.ttl) {
        int ttl = options.ttl;
        c.ttl = -1;
        if (::setsockopt(c.fd, six ? int{IPPROTO_IPV6} : int{IPPROTO_IP},
                         six ? IPV6_UNICAST_HOPS : IP_TTL, &ttl, sizeof ttl) != 0) {
            FailLater(std::move(done), IcmpStatus::BadOption);
            return;
        }
        c.ttl = ttl;
    }

    Pending p;
    p.family = c.family;
    p.address = target.address;
    p.sequence = sequence;
    p.data.resize(options.dataSize);
    for (std::size_t i = 0; i < p.data.size(); ++i)
        p.data[i] = static_cast<std::uint8_t>('a' + i % 23);
    RandomBytes(p.data.data(), std::min(p.data.size(), RandomDataBytes));
    p.serial = ++FSerial;
    p.sent = Clock::now();
    if (c.route == Route::Broker) {
        if (!SendViaBroker(c, target, options, p)) {
            FailLater(std::move(done), c.broker && c.broker->alive() ? IcmpStatus::NoResources
                                                                     : IcmpStatus::GeneralFailure);
            return;
        }
    } else if (!SendOwn(c, target, p)) {
        FailLater(std::move(done), sendErrorStatus(errno));
        return;
    }
    p.done = std::move(done);
    const std::uint32_t key = keyOf(c.family, sequence);
    const Clock::time_point deadline = p.sent + std::chrono::milliseconds(options.timeoutMs);
    const bool first = FDeadlines.empty() || deadline < std::get<0>(FDeadlines.top());
    FDeadlines.emplace(deadline, p.serial, key);
    FPending.emplace(key, std::move(p));
    if (first)
        Arm();
}

bool AsyncEcho::SendViaBroker(Channel& c, const Target& target, const Options& options,
                              Pending& p) {
    using platform::rawicmp::IcmpBroker;
    // A broker that ended is started again, as for the engine's other paths.
    if (!c.broker || !c.broker->alive())
        c.broker = platform::rawicmp::Broker();
    if (!c.broker)
        return false;
    IcmpBroker::Echo echo;
    echo.family = c.family == 6 ? AF_INET6 : AF_INET;
    echo.address = target.address;
    echo.scopeId = target.scopeId;
    echo.ttl = options.ttl;
    echo.data = p.data;
    echo.timeoutMs = options.timeoutMs;
    p.tag = c.broker->send(echo, [inbox = FInbox, key = keyOf(c.family, p.sequence),
                                  serial = p.serial](IcmpBroker::Answer&& answer) {
        bool first = false;
        {
            std::lock_guard lock(inbox->mutex);
            if (!inbox->open)
                return;
            inbox->answers.push_back({key, serial, std::move(answer)});
            first = inbox->answers.size() == 1;
        }
        if (first) {
            std::uint64_t one = 1;
            [[maybe_unused]] ssize_t n = ::write(inbox->fd, &one, sizeof one);
        }
    });
    return p.tag != 0;
}

void AsyncEcho::BrokerAnswers() {
    using platform::rawicmp::IcmpBroker;
    std::uint64_t count;
    [[maybe_unused]] ssize_t n = ::read(FInbox->fd, &count, sizeof count);
    std::vector<Inbox::Arrived> arrived;
    {
        std::lock_guard lock(FInbox->mutex);
        arrived.swap(FInbox->answers);
    }
    for (Inbox::Arrived& a : arrived) {
        auto it = FPending.find(a.key);
        // Timed out here first, or its key went to a later request.
        if (it == FPending.end() || it->second.serial != a.serial)
            continue;
        const bool six = it->second.family == 6;
        Outcome outcome;
        outcome.sent = it->second.sent;
        // The broker's round trip, from its own send to the kernel's
        // receive time, without the way to the broker and back.
        if (a.answer.sent.time_since_epoch().count() != 0)
            outcome.received = outcome.sent + (a.answer.received - a.answer.sent);
        else if (a.answer.received.time_since_epoch().count() != 0)
            outcome.received = a.answer.received;
        else
            outcome.received = Clock::now();
        outcome.from = a.answer.address;
        outcome.ttl = a.answer.ttl;
        switch (a.answer.outcome) {
        case IcmpBroker::Outcome::EchoReply:
            outcome.status = IcmpStatus::Success;
            break;
        case IcmpBroker::Outcome::IcmpError:
            outcome.status = six ? Error6Status(a.answer.type, a.answer.code)
                                 : ErrorStatus(a.answer.type, a.answer.code);
            // The broker passes on only errors that answer echoes.
            if (outcome.status == 0)
                outcome.status = IcmpStatus::GeneralFailure;
            break;
        case IcmpBroker::Outcome::TimedOut:
            outcome.status = IcmpStatus::ReqTimedOut;
            break;
        case IcmpBroker::Outcome::NotSent:
            outcome.status = sendErrorStatus(a.answer.error);
            break;
        default:
            outcome.status = IcmpStatus::GeneralFailure;
            break;
        }
        if (outcome.status != IcmpStatus::Success &&
            a.answer.outcome != IcmpBroker::Outcome::IcmpError)
            outcome.from = {};
        Finish(a.key, outcome);
    }
}

bool AsyncEcho::SendOwn(Channel& c, const Target& target, const Pending& p) {
    const bool six = c.family == 6;
    std::vector<std::uint8_t> packet = six ? BuildEcho6Request(c.ident, p.sequence, p.data)
                                           : BuildEchoRequest(c.ident, p.sequence, p.data);
    sockaddr_storage to{};
    socklen_t toLength;
    if (six) {
        auto& a = reinterpret_cast<sockaddr_in6&>(to);
        a.sin6_family = AF_INET6;
        std::memcpy(&a.sin6_addr, target.address.data(), 16);
        a.sin6_scope_id = target.scopeId;
        toLength = sizeof a;
    } else {
        auto& a = reinterpret_cast<sockaddr_in&>(to);
        a.sin_family = AF_INET;
        std::memcpy(&a.sin_addr, target.address.data(), 4);
        toLength = sizeof a;
    }
    // An ICMP error about an earlier request leaves its errno pending on
    // the socket, and the next send returns it instead of sending (once):
    // only a send that fails again failed itself.
    auto sendOnce = [&] {
        return ::sendto(c.fd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to),
                        toLength) >= 0;
    };
    return sendOnce() || sendOnce();
}

void AsyncEcho::Arm() {
    if (FDeadlines.empty()) {
        FTimer.stop();
        return;
    }
    auto wait = std::get<0>(FDeadlines.top()) - Clock::now();
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(wait).count();
    FTimer.start(static_cast<int>(std::clamp<std::int64_t>(ms, 0, 1 << 30)));
}

void AsyncEcho::Expire() {
    const Clock::time_point now = Clock::now();
    while (!FDeadlines.empty() && std::get<0>(FDeadlines.top()) <= now) {
        auto [deadline, serial, key] = FDeadlines.top();
        FDeadlines.pop();
        auto it = FPending.find(key);
        // Answered already, or its sequence number went to a later request.
        if (it == FPending.end() || it->second.serial != serial)
            continue;
        if (it->second.tag != 0) {
            Channel& c = *FChannels[static_cast<std::size_t>(slotOf(it->second.family))];
            if (c.broker)
                c.broker->cancel(it->second.tag);
        }
        Outcome outcome;
        outcome.status = IcmpStatus::ReqTimedOut;
        outcome.sent = it->second.sent;
        outcome.received = now;
        Finish(key, outcome);
    }
    Arm();
}

void AsyncEcho::Finish(std::uint32_t key, const Outcome& outcome) {
    auto it = FPending.find(key);
    Done done = std::move(it->second.done);
    FPending.erase(it);
    done(outcome);
}

void AsyncEcho::Readable(Channel& c) {
    const bool datagram = c.route == Route::Datagram;
    alignas(cmsghdr) std::uint8_t control[512];
    for (int i = 0; i < ReadsPerWake; ++i) {
        sockaddr_storage from{};
        iovec iov{FBuffer.data(), FBuffer.size()};
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        msg.msg_name = &from;
        msg.msg_namelen = sizeof from;
        // A datagram socket's errors wait on its error queue; read them
        // first, then the answers.
        bool errorQueue = false;
        ssize_t n = -1;
        if (datagram) {
            n = ::recvmsg(c.fd, &msg, MSG_ERRQUEUE | MSG_DONTWAIT);
            errorQueue = n >= 0;
        }
        if (n < 0) {
            msg.msg_controllen = sizeof control;
            msg.msg_namelen = sizeof from;
            n = ::recvmsg(c.fd, &msg, MSG_DONTWAIT);
        }
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return;
            continue; // a pending socket error, reported once: read on
        }
        // Cut short: it cannot be an answer whose data we compare in full.
        if (msg.msg_flags & MSG_TRUNC)
            continue;
        Received(c, {FBuffer.data(), static_cast<std::size_t>(n)},
                 {control, static_cast<std::size_t>(msg.msg_controllen)}, &from, errorQueue);
    }
}

void AsyncEcho::Received(Channel& c, std::span<const std::uint8_t> bytes,
                         std::span<const std::uint8_t> control, const void* from, bool errorQueue) {
    const bool six = c.family == 6;
    // Where the echo header is: after the IP header of a raw IPv4 packet,
    // at the start of anything else.
    std::span<const std::uint8_t> icmp = bytes;
    if (c.route == Route::Raw && !six) {
        if (bytes.size() < MinIpHeaderSize)
            return;
        std::size_t header = static_cast<std::size_t>(bytes[0] & 0x0F) * 4;
        if (bytes.size() < header)
            return;
        icmp = bytes.subspan(header);
    }
    std::optional<std::uint16_t> sequence;
    if (errorQueue)
        sequence = icmp.size() >= EchoHeaderSize ? std::optional(read16(icmp, 6)) : std::nullopt;
    else
        sequence = sequenceOf(icmp, six);
    if (!sequence)
        return;
    const std::uint32_t key = keyOf(c.family, *sequence);
    auto it = FPending.find(key);
    if (it == FPending.end())
        return;
    const Pending& p = it->second;
    Control ctl = ParseControl(control);
    Outcome outcome;
    outcome.sent = p.sent;
    outcome.received = ReceivedAt(control, p.sent);
    Verdict verdict;
    int errnum = 0;
    if (six) {
        Request6 request;
        std::memcpy(request.destination.data(), p.address.data(), 16);
        request.ident = c.ident;
        request.sequence = p.sequence;
        request.checkIdent = c.route == Route::Raw;
        request.data = p.data;
        Address6 source;
        std::memcpy(source.data(), &static_cast<const sockaddr_in6*>(from)->sin6_addr, 16);
        Result6 r;
        if (errorQueue) {
            // The name of an error-queue entry is the destination of the
            // request that the error quotes.
            ctl.error.quotedDestination6 = source;
            r = ParseErrorQueue6(bytes, ctl.error, request);
        } else {
            r = ParseIcmp6Message(bytes, source, ctl.ttl, ctl.tos, request);
        }
        verdict = r.verdict;
        errnum = r.errnum;
        outcome.status = r.status;
        outcome.from = r.address;
        outcome.ttl = r.hopLimit;
    } else {
        Request request;
        std::memcpy(&request.destination, p.address.data(), 4);
        request.ident = c.ident;
        request.sequence = p.sequence;
        request.checkIdent = c.route == Route::Raw;
        request.data = p.data;
        std::uint32_t source = static_cast<const sockaddr_in*>(from)->sin_addr.s_addr;
        Result r;
        if (c.route == Route::Raw) {
            r = ParseRawPacket(bytes, request);
        } else if (errorQueue) {
            ctl.error.quotedDestination = source;
            r = ParseErrorQueue(bytes, ctl.error, request);
        } else {
            r = ParseDatagramReply(bytes, source, ctl.ttl, ctl.tos, request);
        }
        verdict = r.verdict;
        errnum = r.errnum;
        outcome.status = r.status;
        std::memcpy(outcome.from.data(), &r.address, 4);
        outcome.ttl = r.ttl;
    }
    if (verdict == Verdict::LocalError) {
        // The host itself refused the request.
        outcome.status = sendErrorStatus(errnum);
        outcome.from = {};
    } else if (verdict != Verdict::Answer) {
        return;
    }
    Finish(key, outcome);
}

} // namespace platform

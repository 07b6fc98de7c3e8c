#include "platform/IcmpService.h"

#include "platform/LastError.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include <arpa/inet.h>
#include <linux/errqueue.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform::linuxicmp {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint8_t kEchoReply = 0;
constexpr std::uint8_t kDestUnreachable = 3;
constexpr std::uint8_t kSourceQuench = 4;
constexpr std::uint8_t kEchoRequest = 8;
constexpr std::uint8_t kTimeExceeded = 11;
constexpr std::uint8_t kParameterProblem = 12;

constexpr std::uint32_t kErrorInvalidHandle = 6;
constexpr std::size_t kReplyHeader = sizeof(TEchoReply);
// Largest IPv4 datagram plus room for the ancillary data of one message.
constexpr std::size_t kReceiveBuffer = 65536;

struct Handle {
    int fd = -1;
    SocketKind kind = SocketKind::None;
    std::uint16_t ident = 0; // echo identifier (raw sockets; the kernel picks it for datagram ones)
    std::uint16_t sequence = 0;
};

std::mutex registryMutex;
std::set<Handle*> liveHandles;
std::set<std::uint16_t> usedIdents;
std::uint16_t identCursor = static_cast<std::uint16_t>(::getpid() * 2654435761u >> 16);

std::atomic<bool> rawOnly{false};

int interruptFd() {
    static const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    return fd;
}
std::atomic<bool> interrupted{false};

// Takes an identifier that no other open handle of this process uses.
std::uint16_t takeIdent() {
    // The caller holds registryMutex. At most 65536 handles can be open with
    // distinct identifiers; the loop ends as soon as a free one is found.
    for (int i = 0; i < 65536; ++i) {
        std::uint16_t candidate = identCursor++;
        if (usedIdents.insert(candidate).second)
            return candidate;
    }
    return identCursor++;
}

int openSocket(SocketKind kind) {
    int type = kind == SocketKind::Datagram ? SOCK_DGRAM : SOCK_RAW;
    return ::socket(AF_INET, type | SOCK_CLOEXEC, IPPROTO_ICMP);
}

std::uint16_t checksum(const std::uint8_t* data, std::size_t length) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < length; i += 2)
        sum += static_cast<std::uint32_t>(data[i] << 8 | data[i + 1]);
    if (length & 1)
        sum += static_cast<std::uint32_t>(data[length - 1] << 8);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

std::uint16_t read16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}

std::uint32_t readAddress(const std::uint8_t* p) {
    std::uint32_t a;
    std::memcpy(&a, p, 4);
    return a;
}

// The status code of an ICMP error message; 0 when the message is not one
// that answers an echo request (redirects and the like).
std::uint32_t errorStatus(std::uint8_t type, std::uint8_t code) {
    switch (type) {
    case kDestUnreachable:
        switch (code) {
        case 0:
        case 6:
        case 9:
        case 11:
            return IcmpStatus::DestNetUnreachable;
        case 1:
        case 7:
        case 8:
        case 10:
        case 12:
        case 13:
        case 14:
        case 15:
            return IcmpStatus::DestHostUnreachable;
        case 2:
            return IcmpStatus::DestProtUnreachable;
        case 3:
            return IcmpStatus::DestPortUnreachable;
        case 4:
            return IcmpStatus::PacketTooBig;
        case 5:
            return IcmpStatus::BadRoute;
        default:
            return IcmpStatus::GeneralFailure;
        }
    case kTimeExceeded:
        return code == 1 ? IcmpStatus::TtlExpiredReassem : IcmpStatus::TtlExpiredTransit;
    case kParameterProblem:
        return IcmpStatus::ParamProblem;
    case kSourceQuench:
        return IcmpStatus::SourceQuench;
    default:
        return 0;
    }
}

std::uint32_t sendErrorStatus(int error) {
    switch (error) {
    case EMSGSIZE:
        return IcmpStatus::PacketTooBig;
    case ENETUNREACH:
        return IcmpStatus::DestNetUnreachable;
    case EHOSTUNREACH:
        return IcmpStatus::DestHostUnreachable;
    case ENOBUFS:
    case ENOMEM:
        return IcmpStatus::NoResources;
    case EINVAL:
        return IcmpStatus::BadReq;
    default:
        return IcmpStatus::GeneralFailure;
    }
}

// What a received message turned out to be.
struct Answer {
    bool ours = false;
    std::uint32_t status = 0;
    std::uint32_t address = 0;
    const std::uint8_t* data = nullptr;
    std::size_t dataLength = 0;
    std::uint8_t ttl = 0;
    std::uint8_t tos = 0;
    std::uint8_t flags = 0;
};

// Raw sockets see every ICMP message of the host, with its IP header: take
// the echo reply with our identifier and sequence number, or an ICMP error
// that quotes our request. Our own outgoing requests (seen on loopback),
// redirects and everyone else's traffic are skipped.
Answer parseRaw(const std::uint8_t* p, std::size_t n, const Handle& h, std::uint32_t destination) {
    Answer a;
    if (n < 20 || (p[0] >> 4) != 4)
        return a;
    std::size_t ihl = static_cast<std::size_t>(p[0] & 0x0F) * 4;
    if (ihl < 20 || n < ihl + 8)
        return a;
    const std::uint8_t* icmp = p + ihl;
    std::size_t icmpLength = n - ihl;
    a.ttl = p[8];
    a.tos = p[1];
    a.flags = p[6] & 0xE0;
    a.address = readAddress(p + 12);
    std::uint8_t type = icmp[0];
    if (type == kEchoReply) {
        if (read16(icmp + 4) != h.ident || read16(icmp + 6) != h.sequence)
            return a;
        if (checksum(icmp, icmpLength) != 0)
            return a;
        a.ours = true;
        a.status = IcmpStatus::Success;
        a.data = icmp + 8;
        a.dataLength = icmpLength - 8;
        return a;
    }
    std::uint32_t status = errorStatus(type, icmp[1]);
    if (status == 0)
        return a;
    // The quoted datagram: an IP header and at least the 8-byte echo header.
    const std::uint8_t* inner = icmp + 8;
    std::size_t innerLength = icmpLength - 8;
    if (innerLength < 20 || (inner[0] >> 4) != 4)
        return a;
    std::size_t innerIhl = static_cast<std::size_t>(inner[0] & 0x0F) * 4;
    if (innerIhl < 20 || innerLength < innerIhl + 8 || inner[9] != IPPROTO_ICMP)
        return a;
    if (readAddress(inner + 16) != destination)
        return a;
    const std::uint8_t* quoted = inner + innerIhl;
    if (quoted[0] != kEchoRequest || read16(quoted + 4) != h.ident ||
        read16(quoted + 6) != h.sequence)
        return a;
    a.ours = true;
    a.status = status;
    return a;
}

std::uint8_t controlByte(msghdr& msg, int type) {
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == type) {
            if (c->cmsg_len >= CMSG_LEN(sizeof(int))) {
                int v;
                std::memcpy(&v, CMSG_DATA(c), sizeof v);
                return static_cast<std::uint8_t>(v);
            }
            if (c->cmsg_len >= CMSG_LEN(1))
                return *CMSG_DATA(c);
        }
    }
    return 0;
}

// Datagram sockets get only echo replies to their own identifier; the
// sequence number tells a late reply to an earlier request apart.
Answer parseDatagram(const std::uint8_t* p, std::size_t n, const Handle& h, msghdr& msg,
                     const sockaddr_in& from) {
    Answer a;
    if (n < 8 || p[0] != kEchoReply || read16(p + 6) != h.sequence)
        return a;
    a.ours = true;
    a.status = IcmpStatus::Success;
    a.address = from.sin_addr.s_addr;
    a.data = p + 8;
    a.dataLength = n - 8;
    a.ttl = controlByte(msg, IP_TTL);
    a.tos = controlByte(msg, IP_TOS);
    return a;
}

// ICMP errors for a datagram socket arrive on its error queue, with the
// reporting node as the offender and our echo header as the data.
// Returns true when the entry answers our request; localError is set for
// errors that the host itself raised without an ICMP message.
Answer parseErrorQueue(const std::uint8_t* p, std::size_t n, const Handle& h, msghdr& msg,
                       int& localError) {
    Answer a;
    localError = 0;
    const sock_extended_err* ee = nullptr;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_RECVERR &&
            c->cmsg_len >= CMSG_LEN(sizeof(sock_extended_err)))
            ee = reinterpret_cast<const sock_extended_err*>(CMSG_DATA(c));
    }
    if (ee == nullptr)
        return a;
    if (n >= 8 && (p[0] != kEchoRequest || read16(p + 6) != h.sequence))
        return a;
    if (ee->ee_origin == SO_EE_ORIGIN_LOCAL) {
        localError = static_cast<int>(ee->ee_errno);
        return a;
    }
    if (ee->ee_origin != SO_EE_ORIGIN_ICMP)
        return a;
    std::uint32_t status = errorStatus(ee->ee_type, ee->ee_code);
    if (status == 0)
        return a;
    const auto* offender = reinterpret_cast<const sockaddr_in*>(SO_EE_OFFENDER(ee));
    a.ours = true;
    a.status = status;
    a.address = offender->sin_family == AF_INET ? offender->sin_addr.s_addr : 0;
    a.ttl = controlByte(msg, IP_TTL);
    return a;
}

Handle* lookup(IcmpHandle handle) {
    std::lock_guard lock(registryMutex);
    auto* h = reinterpret_cast<Handle*>(handle);
    return liveHandles.count(h) ? h : nullptr;
}

std::uint32_t failWith(std::uint32_t code) {
    SetLastError(code);
    return 0;
}

} // namespace

IcmpHandle IcmpCreateFile() {
    auto h = std::make_unique<Handle>();
    if (!rawOnly.load()) {
        h->fd = openSocket(SocketKind::Datagram);
        h->kind = SocketKind::Datagram;
    }
    if (h->fd < 0) {
        h->fd = openSocket(SocketKind::Raw);
        h->kind = SocketKind::Raw;
    }
    if (h->fd < 0) {
        SetLastError(static_cast<std::uint32_t>(errno));
        return InvalidIcmpHandle;
    }
    int on = 1;
    if (h->kind == SocketKind::Datagram) {
        ::setsockopt(h->fd, IPPROTO_IP, IP_RECVERR, &on, sizeof on);
        ::setsockopt(h->fd, IPPROTO_IP, IP_RECVTTL, &on, sizeof on);
        ::setsockopt(h->fd, IPPROTO_IP, IP_RECVTOS, &on, sizeof on);
        sockaddr_in any{};
        any.sin_family = AF_INET;
        ::bind(h->fd, reinterpret_cast<sockaddr*>(&any), sizeof any);
    } else {
        // Let through only what can answer an echo request.
        icmp_filter filter{};
        filter.data = ~((1u << kEchoReply) | (1u << kDestUnreachable) | (1u << kSourceQuench) |
                        (1u << kTimeExceeded) | (1u << kParameterProblem));
        ::setsockopt(h->fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
    }
    std::lock_guard lock(registryMutex);
    if (h->kind == SocketKind::Raw)
        h->ident = takeIdent();
    Handle* raw = h.release();
    liveHandles.insert(raw);
    return reinterpret_cast<IcmpHandle>(raw);
}

bool IcmpCloseHandle(IcmpHandle handle) {
    Handle* h = nullptr;
    {
        std::lock_guard lock(registryMutex);
        h = reinterpret_cast<Handle*>(handle);
        if (liveHandles.erase(h) == 0) {
            SetLastError(kErrorInvalidHandle);
            return false;
        }
        if (h->kind == SocketKind::Raw)
            usedIdents.erase(h->ident);
    }
    ::close(h->fd);
    delete h;
    return true;
}

std::uint32_t IcmpSendEcho(IcmpHandle handle, std::uint32_t destination, const void* requestData,
                           std::uint16_t requestSize, const TIpOptions* options, void* replyBuffer,
                           std::uint32_t replySize, std::uint32_t timeoutMs) {
    Handle* h = lookup(handle);
    if (h == nullptr)
        return failWith(kErrorInvalidHandle);
    if (replyBuffer == nullptr || replySize < kReplyHeader)
        return failWith(IcmpStatus::BufTooSmall);
    if (requestData == nullptr && requestSize > 0)
        return failWith(IcmpStatus::BadReq);
    if (interrupted.load())
        return failWith(IcmpStatus::ReqTimedOut);

    int ttl = options != nullptr ? options->Ttl : 128;
    if (ttl == 0)
        return failWith(IcmpStatus::BadOption);
    int tos = options != nullptr ? options->Tos : 0;
    ::setsockopt(h->fd, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl);
    ::setsockopt(h->fd, IPPROTO_IP, IP_TOS, &tos, sizeof tos);

    ++h->sequence;
    std::vector<std::uint8_t> packet(8 + static_cast<std::size_t>(requestSize));
    packet[0] = kEchoRequest;
    packet[4] = static_cast<std::uint8_t>(h->ident >> 8);
    packet[5] = static_cast<std::uint8_t>(h->ident);
    packet[6] = static_cast<std::uint8_t>(h->sequence >> 8);
    packet[7] = static_cast<std::uint8_t>(h->sequence);
    if (requestSize > 0)
        std::memcpy(packet.data() + 8, requestData, requestSize);
    std::uint16_t sum = checksum(packet.data(), packet.size());
    packet[2] = static_cast<std::uint8_t>(sum >> 8);
    packet[3] = static_cast<std::uint8_t>(sum);

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = destination;

    const Clock::time_point start = Clock::now();
    const Clock::time_point deadline = start + std::chrono::milliseconds(timeoutMs);
    if (::sendto(h->fd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to),
                 sizeof to) < 0)
        return failWith(sendErrorStatus(errno));

    std::vector<std::uint8_t> buffer(kReceiveBuffer);
    alignas(cmsghdr) char control[512];
    for (;;) {
        Clock::time_point now = Clock::now();
        if (now >= deadline)
            return failWith(IcmpStatus::ReqTimedOut);
        auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - now);
        timespec wait{static_cast<time_t>(left.count() / 1000000000),
                      static_cast<long>(left.count() % 1000000000)};
        pollfd fds[2] = {{h->fd, POLLIN, 0}, {interruptFd(), POLLIN, 0}};
        int ready = ::ppoll(fds, 2, &wait, nullptr);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return failWith(IcmpStatus::GeneralFailure);
        }
        if (ready == 0)
            continue; // the loop's deadline check ends the wait
        if (fds[1].revents != 0 || interrupted.load())
            return failWith(IcmpStatus::ReqTimedOut);

        Answer answer;
        int localError = 0;
        sockaddr_in from{};
        iovec iov{buffer.data(), buffer.size()};
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        if (h->kind == SocketKind::Datagram && (fds[0].revents & POLLERR)) {
            msg.msg_name = &from;
            msg.msg_namelen = sizeof from;
            ssize_t n = ::recvmsg(h->fd, &msg, MSG_ERRQUEUE | MSG_DONTWAIT);
            if (n < 0)
                continue;
            answer =
                parseErrorQueue(buffer.data(), static_cast<std::size_t>(n), *h, msg, localError);
            if (localError != 0)
                return failWith(sendErrorStatus(localError));
        } else if (fds[0].revents & POLLIN) {
            msg.msg_name = &from;
            msg.msg_namelen = sizeof from;
            ssize_t n = ::recvmsg(h->fd, &msg, MSG_DONTWAIT);
            if (n < 0)
                continue;
            if (h->kind == SocketKind::Raw)
                answer = parseRaw(buffer.data(), static_cast<std::size_t>(n), *h, destination);
            else
                answer = parseDatagram(buffer.data(), static_cast<std::size_t>(n), *h, msg, from);
        } else {
            continue;
        }
        if (!answer.ours)
            continue;

        auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        TEchoReply reply;
        reply.Address = answer.address;
        reply.Status = answer.status;
        reply.RoundTripTime = static_cast<std::uint32_t>(elapsed.count());
        reply.DataSize =
            static_cast<std::uint16_t>(std::min<std::size_t>(answer.dataLength, 0xFFFF));
        reply.Data = static_cast<std::uint32_t>(kReplyHeader);
        reply.Options.Ttl = answer.ttl;
        reply.Options.Tos = answer.tos;
        reply.Options.Flags = answer.flags;
        auto* out = static_cast<std::uint8_t*>(replyBuffer);
        std::size_t room = replySize - kReplyHeader;
        if (answer.data != nullptr && answer.dataLength > 0)
            std::memcpy(out + kReplyHeader, answer.data, std::min(room, answer.dataLength));
        std::memcpy(out, &reply, kReplyHeader);
        return 1;
    }
}

SocketKind ProbeSocketKind() {
    for (SocketKind kind : {SocketKind::Datagram, SocketKind::Raw}) {
        if (kind == SocketKind::Datagram && rawOnly.load())
            continue;
        int fd = openSocket(kind);
        if (fd >= 0) {
            ::close(fd);
            return kind;
        }
    }
    return SocketKind::None;
}

SocketKind HandleSocketKind(IcmpHandle handle) {
    Handle* h = lookup(handle);
    return h != nullptr ? h->kind : SocketKind::None;
}

void PreferRawSockets(bool raw) {
    rawOnly.store(raw);
}

void InterruptAllRequests() {
    interrupted.store(true);
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(interruptFd(), &one, sizeof one);
}

void ResumeRequests() {
    interrupted.store(false);
    std::uint64_t value;
    [[maybe_unused]] ssize_t n = ::read(interruptFd(), &value, sizeof value);
}

} // namespace platform::linuxicmp

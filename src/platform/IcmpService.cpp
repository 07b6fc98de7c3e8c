#include "platform/IcmpService.h"

#include "platform/IcmpPacket.h"
#include "platform/KernelTime.h"
#include "platform/LastError.h"
#include "platform/RawIcmpSockets.h"
#include "platform/SharedRawSocket.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <vector>

#include <arpa/inet.h>
#include <linux/errqueue.h>
#include <linux/icmp.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform::linuxicmp {

namespace {

using Clock = std::chrono::steady_clock;

using namespace platform::icmppacket;

// Windows-style codes for the last error of a failed IcmpCreateFile.
constexpr std::uint32_t kErrorInvalidHandle = 6;
constexpr std::uint32_t kErrorAccessDenied = 5;
constexpr std::uint32_t kErrorTooManyOpenFiles = 4;
constexpr std::uint32_t kErrorNotEnoughMemory = 8;
constexpr std::uint32_t kErrorGenFailure = 31;
constexpr std::size_t kReplyHeader = sizeof(TEchoReply);
constexpr std::size_t kReply6Header = sizeof(TEcho6Reply);
// Largest IPv4 datagram, and largest IPv6 payload without jumbograms.
constexpr std::size_t kReceiveBuffer = 65536;

struct Handle {
    int fd = -1; // datagram handles' own socket; -1 for raw ones
    int family = AF_INET;
    SocketKind kind = SocketKind::None;
    // Raw handles of root send and receive on their family's shared raw
    // socket; everybody else's go through the echo broker.
    std::shared_ptr<SharedRawSocket> shared;
    bool viaBroker = false;
    std::uint16_t ident = 0; // echo identifier (raw sockets; the kernel picks it for datagram ones)
    bool identRegistered = false;
    std::uint16_t sequence = 0; // starts unpredictable, one more per request
    // The time-to-live (hop limit) and type of service (traffic class) set
    // on the socket; -1 before the first request. A run sends many requests
    // with the same values, which then cost no system call.
    int ttl = -1;
    int tos = -1;
    // Requests using the handle now, and whether it was closed meanwhile;
    // guarded by registryMutex. A closed handle in use keeps its socket
    // open until its last request ends.
    int inUse = 0;
    bool closed = false;
};

// Sets the time-to-live and type of service of a handle's socket unless
// they are set already; false when the socket refuses them.
bool setHopsAndClass(Handle& h, int ttl, int tos) {
    const bool six = h.family == AF_INET6;
    const int level = six ? int{IPPROTO_IPV6} : int{IPPROTO_IP};
    if (ttl != h.ttl) {
        h.ttl = -1;
        if (::setsockopt(h.fd, level, six ? IPV6_UNICAST_HOPS : IP_TTL, &ttl, sizeof ttl) != 0)
            return false;
        h.ttl = ttl;
    }
    if (tos != h.tos) {
        h.tos = -1;
        if (::setsockopt(h.fd, level, six ? IPV6_TCLASS : IP_TOS, &tos, sizeof tos) != 0)
            return false;
        h.tos = tos;
    }
    return true;
}

std::mutex registryMutex;
std::set<Handle*> liveHandles;
// Closed handles whose sockets wait for reuse, a few per family: opening
// and setting up an ICMP socket costs more than the echo itself on loopback.
constexpr std::size_t kIdleSockets = 8;
struct IdleList : std::vector<Handle*> {
    // At program end the idle sockets are closed with the list.
    ~IdleList() {
        for (Handle* h : *this) {
            if (h->fd >= 0)
                ::close(h->fd);
            delete h;
        }
    }
};
IdleList idleHandles;
// Per family (IPv4, IPv6): datagram sockets were refused, so raw ones are
// tried first from now on.
bool datagramRefusedHere[2] = {false, false};
int familySlot(int family) {
    return family == AF_INET6 ? 1 : 0;
}
std::set<std::uint16_t> usedIdents;
std::optional<std::uint64_t> identSeed;

std::atomic<bool> rawOnly{false};

int interruptFd() {
    static const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    return fd;
}
std::atomic<bool> interrupted{false};

// 16 random bits from the kernel. Identifiers and sequence numbers must not
// be guessable: whoever can guess them can forge an answer.
std::uint16_t random16() {
    std::uint16_t value = 0;
    for (;;) {
        ssize_t n = ::getrandom(&value, sizeof value, 0);
        if (n == static_cast<ssize_t>(sizeof value))
            return value;
        if (n < 0 && errno != EINTR)
            break;
    }
    // getrandom cannot fail once the kernel's pool is ready (it is long
    // before any user program runs); this is only a last resort.
    static std::atomic<std::uint32_t> fallback{0x9E3779B9u};
    return static_cast<std::uint16_t>(fallback.fetch_add(0x61C88647u) >> 16);
}

std::uint64_t mix(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// Gives a new handle its identifier and first sequence number. The caller
// holds registryMutex.
void chooseNumbers(Handle& h) {
    if (identSeed) {
        std::uint64_t v = mix(*identSeed);
        h.ident = static_cast<std::uint16_t>(v);
        h.sequence = static_cast<std::uint16_t>(v >> 16);
        return;
    }
    h.sequence = random16();
    if (h.kind != SocketKind::Raw)
        return;
    // A raw identifier no other open handle of this process uses; 65536
    // open handles at once would exhaust them, then one is shared.
    for (int i = 0; i < 64; ++i) {
        std::uint16_t candidate = random16();
        if (usedIdents.insert(candidate).second) {
            h.ident = candidate;
            h.identRegistered = true;
            return;
        }
    }
    for (std::uint32_t candidate = 0; candidate < 65536; ++candidate) {
        if (usedIdents.insert(static_cast<std::uint16_t>(candidate)).second) {
            h.ident = static_cast<std::uint16_t>(candidate);
            h.identRegistered = true;
            return;
        }
    }
    h.ident = random16();
}

// The raw socket each family's raw handles share, opened with the first raw
// handle and kept until CloseIdleSockets (handles and requests that still
// use it keep it open until they end). Its own mutex: opening one may wait
// for the privileged helper, and must not hold up the other handles.
std::mutex sharedRawMutex;
std::shared_ptr<SharedRawSocket> sharedRaw[2];

int configure(int fd, int family, SocketKind kind);

// 0 when the echo broker can send echo requests of the family (starting it
// if it does not run), or the errno that says why not.
int brokerRefuses(int family) {
    std::shared_ptr<platform::rawicmp::IcmpBroker> broker = platform::rawicmp::Broker();
    if (!broker)
        return errno;
    return broker->familyError(family);
}

// Room for the answers to many requests in flight at once, and for the
// host's other ICMP traffic that reaches every raw socket meanwhile.
constexpr int kSharedReceiveBuffer = 1 << 20;

// The family's shared raw socket, or nullptr with errno set.
std::shared_ptr<SharedRawSocket> sharedRawSocket(int family) {
    std::lock_guard lock(sharedRawMutex);
    std::shared_ptr<SharedRawSocket>& shared = sharedRaw[familySlot(family)];
    if (shared)
        return shared;
    int fd = platform::rawicmp::OpenRawSocket(family);
    if (fd < 0)
        return nullptr;
    if (int error = configure(fd, family, SocketKind::Raw); error != 0) {
        ::close(fd);
        errno = error;
        return nullptr;
    }
    // The kernel caps this at its rmem_max; a smaller buffer still works.
    int size = kSharedReceiveBuffer;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    shared = std::make_shared<SharedRawSocket>(fd, family);
    return shared;
}

// Every ICMP socket of the service is opened here: IPv4 (AF_INET) or IPv6
// (AF_INET6), datagram or raw. Raw sockets only where the process may open
// them itself; otherwise raw requests go through the echo broker.
int openSocket(int family, SocketKind kind) {
    if (kind == SocketKind::Raw)
        return platform::rawicmp::OpenRawSocket(family);
    int protocol = family == AF_INET6 ? int{IPPROTO_ICMPV6} : int{IPPROTO_ICMP};
    return ::socket(family, SOCK_DGRAM | SOCK_CLOEXEC, protocol);
}

// The last error of a handle that could not be had, in the codes the
// service's callers know.
std::uint32_t createError(int error) {
    switch (error) {
    case EACCES:
    case EPERM:
        return kErrorAccessDenied;
    case EMFILE:
    case ENFILE:
        return kErrorTooManyOpenFiles;
    case ENOBUFS:
    case ENOMEM:
        return kErrorNotEnoughMemory;
    default:
        return kErrorGenFailure;
    }
}

// Whether a failed datagram socket leaves raw sockets to try. EACCES: the
// process's group is outside net.ipv4.ping_group_range; EPERM: some kernels
// and security modules refuse it so; EPROTONOSUPPORT, ESOCKTNOSUPPORT and
// EAFNOSUPPORT: a kernel built without datagram ICMP sockets. Anything else
// (no descriptors or memory left) would fail for a raw socket just as well.
bool datagramRefused(int error) {
    switch (error) {
    case EACCES:
    case EPERM:
    case EPROTONOSUPPORT:
    case ESOCKTNOSUPPORT:
    case EAFNOSUPPORT:
        return true;
    default:
        return false;
    }
}

// Sets up what matching answers relies on. Datagram sockets: errors on the
// error queue (IP_RECVERR), without which every router's report would look
// like a time-out, and the time-to-live of each reply (IP_RECVTTL), which
// the trace's prediction needs. Raw sockets: a filter that lets through only
// what can answer an echo request, so that the host's other ICMP traffic
// does not crowd out the answer. Every kind: the kernel's receive time of
// each message, where the socket gives it. Returns 0 or the errno of the
// failed step.
int configure6(int fd, SocketKind kind);
int configure(int fd, int family, SocketKind kind) {
    StampReceives(fd);
    if (family == AF_INET6)
        return configure6(fd, kind);
    int on = 1;
    if (kind == SocketKind::Datagram) {
        if (::setsockopt(fd, IPPROTO_IP, IP_RECVERR, &on, sizeof on) != 0 ||
            ::setsockopt(fd, IPPROTO_IP, IP_RECVTTL, &on, sizeof on) != 0 ||
            ::setsockopt(fd, IPPROTO_IP, IP_RECVTOS, &on, sizeof on) != 0)
            return errno;
        // Binding takes the identifier (the socket's port) now rather than
        // at the first send.
        sockaddr_in any{};
        any.sin_family = AF_INET;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0)
            return errno;
        return 0;
    }
    icmp_filter filter{};
    filter.data = ~((1u << EchoReply) | (1u << DestUnreachable) | (1u << SourceQuench) |
                    (1u << TimeExceeded) | (1u << ParameterProblem));
    if (::setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter) != 0)
        return errno;
    return 0;
}

// The same for IPv6 sockets. Both kinds need the hop limit of each reply
// (IPV6_RECVHOPLIMIT): an IPv6 socket never sees the IP header. Raw sockets
// let through echo replies and the four errors only.
int configure6(int fd, SocketKind kind) {
    int on = 1;
    if (::setsockopt(fd, IPPROTO_IPV6, IPV6_RECVHOPLIMIT, &on, sizeof on) != 0 ||
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_RECVTCLASS, &on, sizeof on) != 0)
        return errno;
    if (kind == SocketKind::Datagram) {
        if (::setsockopt(fd, IPPROTO_IPV6, IPV6_RECVERR, &on, sizeof on) != 0)
            return errno;
        sockaddr_in6 any{};
        any.sin6_family = AF_INET6;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0)
            return errno;
        return 0;
    }
    icmp6_filter filter;
    ICMP6_FILTER_SETBLOCKALL(&filter);
    for (int type : {Echo6Reply, Dest6Unreachable, PacketTooBig6, TimeExceeded6, ParameterProblem6})
        ICMP6_FILTER_SETPASS(type, &filter);
    if (::setsockopt(fd, IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof filter) != 0)
        return errno;
    return 0;
}

Handle* lookup(IcmpHandle handle) {
    std::lock_guard lock(registryMutex);
    auto* h = reinterpret_cast<Handle*>(handle);
    return liveHandles.count(h) ? h : nullptr;
}

// Under registryMutex, for a handle that nobody uses any more: keeps it
// among the idle ones when there is room, else forgets its identifier.
// True when it was kept; otherwise the caller closes it (outside the lock).
} // namespace

bool keepIdle(Handle* h);
void closeHandle(Handle* h);

namespace {

// A request's hold on its handle from the lookup to its end: closing the
// handle meanwhile leaves the socket and the record to the request, which
// lets go of them when it ends.
class HandleInUse {
public:
    explicit HandleInUse(IcmpHandle handle) {
        std::lock_guard lock(registryMutex);
        auto* h = reinterpret_cast<Handle*>(handle);
        if (liveHandles.count(h) != 0) {
            ++h->inUse;
            FHandle = h;
        }
    }
    ~HandleInUse() {
        if (FHandle == nullptr)
            return;
        {
            std::lock_guard lock(registryMutex);
            if (--FHandle->inUse > 0 || !FHandle->closed || keepIdle(FHandle))
                return;
        }
        closeHandle(FHandle);
    }
    HandleInUse(const HandleInUse&) = delete;
    HandleInUse& operator=(const HandleInUse&) = delete;
    Handle* get() const { return FHandle; }

private:
    Handle* FHandle = nullptr;
};

std::uint32_t failWith(std::uint32_t code) {
    SetLastError(code);
    return 0;
}

} // namespace

// Reads and drops whatever reached an idle socket while nobody waited. A
// shared raw socket has nothing of an idle handle's own to drop: answers
// that nobody waits for are dropped by whoever reads them.
void drain(const Handle& h) {
    if (h.fd < 0)
        return;
    std::uint8_t scrap[64];
    while (::recv(h.fd, scrap, sizeof scrap, MSG_DONTWAIT | MSG_TRUNC) >= 0) {
    }
    if (h.kind == SocketKind::Datagram)
        while (::recv(h.fd, scrap, sizeof scrap, MSG_DONTWAIT | MSG_ERRQUEUE) >= 0) {
        }
}

// An idle socket of the kind a new handle would get, or nullptr. Reused
// handles keep their identifier and go on with their unpredictable sequence.
Handle* reuseIdle(int family) {
    std::lock_guard lock(registryMutex);
    if (identSeed)
        return nullptr;
    SocketKind wanted = rawOnly.load() || datagramRefusedHere[familySlot(family)]
                            ? SocketKind::Raw
                            : SocketKind::Datagram;
    for (auto it = idleHandles.begin(); it != idleHandles.end(); ++it) {
        if ((*it)->kind != wanted || (*it)->family != family)
            continue;
        Handle* h = *it;
        idleHandles.erase(it);
        liveHandles.insert(h);
        return h;
    }
    return nullptr;
}

void closeHandle(Handle* h) {
    if (h->fd >= 0)
        ::close(h->fd);
    delete h;
}

bool keepIdle(Handle* h) {
    // Each family keeps its own few idle sockets.
    auto sameFamily = std::count_if(idleHandles.begin(), idleHandles.end(),
                                    [h](const Handle* idle) { return idle->family == h->family; });
    if (!identSeed && static_cast<std::size_t>(sameFamily) < kIdleSockets) {
        h->closed = false;
        idleHandles.push_back(h);
        return true;
    }
    if (h->identRegistered)
        usedIdents.erase(h->ident);
    return false;
}

namespace {

IcmpHandle createHandle(int family) {
    if (Handle* idle = reuseIdle(family)) {
        drain(*idle);
        return reinterpret_cast<IcmpHandle>(idle);
    }
    auto h = std::make_unique<Handle>();
    h->family = family;
    if (!rawOnly.load()) {
        h->fd = openSocket(family, SocketKind::Datagram);
        h->kind = SocketKind::Datagram;
        if (h->fd < 0 && !datagramRefused(errno)) {
            SetLastError(createError(errno));
            return InvalidIcmpHandle;
        }
        if (h->fd < 0) {
            std::lock_guard lock(registryMutex);
            datagramRefusedHere[familySlot(family)] = true;
        }
    }
    if (h->fd < 0) {
        h->kind = SocketKind::Raw;
        h->shared = sharedRawSocket(family);
        if (!h->shared && (errno == EPERM || errno == EACCES)) {
            if (int error = brokerRefuses(family); error != 0) {
                SetLastError(createError(error));
                return InvalidIcmpHandle;
            }
            h->viaBroker = true;
        } else if (!h->shared) {
            SetLastError(createError(errno));
            return InvalidIcmpHandle;
        }
    }
    if (int error = h->kind == SocketKind::Raw ? 0 : configure(h->fd, family, h->kind);
        error != 0) {
        ::close(h->fd);
        SetLastError(createError(error));
        return InvalidIcmpHandle;
    }
    std::lock_guard lock(registryMutex);
    chooseNumbers(*h);
    Handle* raw = h.release();
    liveHandles.insert(raw);
    return reinterpret_cast<IcmpHandle>(raw);
}

} // namespace

IcmpHandle IcmpCreateFile() {
    return createHandle(AF_INET);
}

IcmpHandle Icmp6CreateFile() {
    return createHandle(AF_INET6);
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
        // A request still waits on the socket: it must neither be freed
        // under it nor handed to a new handle, whose answers the waiting
        // request would read and drop. The request's end sees to it.
        if (h->inUse > 0) {
            h->closed = true;
            return true;
        }
        if (keepIdle(h))
            return true;
    }
    closeHandle(h);
    return true;
}

void CloseIdleSockets() {
    std::vector<Handle*> idle;
    {
        std::lock_guard lock(registryMutex);
        idle.swap(static_cast<std::vector<Handle*>&>(idleHandles));
        datagramRefusedHere[0] = datagramRefusedHere[1] = false;
        for (Handle* h : idle)
            if (h->identRegistered)
                usedIdents.erase(h->ident);
    }
    for (Handle* h : idle)
        closeHandle(h);
    {
        std::lock_guard lock(sharedRawMutex);
        sharedRaw[0].reset();
        sharedRaw[1].reset();
    }
    platform::rawicmp::ForgetRawSockets();
}

namespace {

// One message that reached a handle's socket, or an entry of its error queue.
struct Incoming {
    std::span<const std::uint8_t> bytes;
    std::span<const std::uint8_t> control;
    sockaddr_storage from{};
    bool errorQueue = false;
    Clock::time_point received; // the kernel's receive time where it gave one
};

// Waits until the deadline for the next message of a handle's socket.
// Returns 0 with the message in `in`, or the status that ends the request:
// 11010 at the deadline or when interrupted, 11050 when waiting fails.
std::uint32_t nextMessage(const Handle& h, Clock::time_point sent, Clock::time_point deadline,
                          std::vector<std::uint8_t>& buffer, std::span<std::uint8_t> control,
                          Incoming& in) {
    for (;;) {
        Clock::time_point now = Clock::now();
        if (now >= deadline)
            return IcmpStatus::ReqTimedOut;
        auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - now);
        timespec wait{static_cast<time_t>(left.count() / 1000000000),
                      static_cast<long>(left.count() % 1000000000)};
        pollfd fds[2] = {{h.fd, POLLIN, 0}, {interruptFd(), POLLIN, 0}};
        int ready = ::ppoll(fds, 2, &wait, nullptr);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return IcmpStatus::GeneralFailure;
        }
        if (ready == 0)
            continue; // the loop's deadline check ends the wait
        if (fds[1].revents != 0 || interrupted.load())
            return IcmpStatus::ReqTimedOut;

        in.from = {};
        iovec iov{buffer.data(), buffer.size()};
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control.data();
        msg.msg_controllen = control.size();
        msg.msg_name = &in.from;
        msg.msg_namelen = sizeof in.from;
        in.errorQueue = h.kind == SocketKind::Datagram && (fds[0].revents & POLLERR);
        if (!in.errorQueue && !(fds[0].revents & POLLIN))
            continue;
        ssize_t n =
            ::recvmsg(h.fd, &msg, in.errorQueue ? MSG_ERRQUEUE | MSG_DONTWAIT : MSG_DONTWAIT);
        if (n < 0)
            continue;
        // A message longer than the buffer arrives cut short; it cannot be
        // an answer whose data we compare in full, and is dropped.
        if (msg.msg_flags & MSG_TRUNC)
            continue;
        in.bytes = {buffer.data(), static_cast<std::size_t>(n)};
        in.control = {control.data(), msg.msg_controllen};
        in.received = ReceivedAt(in.control, sent);
        return 0;
    }
}

// The checks every request makes before it is sent; 0 when it may go.
std::uint32_t checkRequest(const Handle* h, int family, const void* requestData,
                           std::uint16_t requestSize, void* replyBuffer, std::uint32_t replySize,
                           std::size_t header) {
    if (h == nullptr || h->family != family)
        return kErrorInvalidHandle;
    if (replyBuffer == nullptr || replySize < header)
        return IcmpStatus::BufTooSmall;
    if (requestData == nullptr && requestSize > 0)
        return IcmpStatus::BadReq;
    if (interrupted.load())
        return IcmpStatus::ReqTimedOut;
    return 0;
}

// Puts the reply record and as much of the echoed data as fits after it
// into the caller's buffer (at least a record's size); returns 1 reply.
template <typename Record, typename Answer>
std::uint32_t writeReply(const Record& reply, std::span<const std::uint8_t> received,
                         const Answer& answer, void* replyBuffer, std::uint32_t replySize) {
    auto* out = static_cast<std::uint8_t*>(replyBuffer);
    std::size_t room = replySize - sizeof(Record);
    if (answer.dataLength > 0)
        std::memcpy(out + sizeof(Record), received.data() + answer.dataOffset,
                    std::min(room, answer.dataLength));
    std::memcpy(out, &reply, sizeof(Record));
    return 1;
}

std::uint32_t elapsedMs(Clock::time_point start, Clock::time_point received) {
    auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(received - start);
    return static_cast<std::uint32_t>(std::max<std::int64_t>(elapsed.count(), 0));
}

// The reply record of an IPv4 answer.
TEchoReply echoReply(const Result& answer, Clock::time_point start, Clock::time_point received) {
    TEchoReply reply;
    reply.Address = answer.address;
    reply.Status = answer.status;
    reply.RoundTripTime = elapsedMs(start, received);
    reply.DataSize = static_cast<std::uint16_t>(std::min<std::size_t>(answer.dataLength, 0xFFFF));
    reply.Data = static_cast<std::uint32_t>(kReplyHeader);
    reply.Options.Ttl = answer.ttl;
    reply.Options.Tos = answer.tos;
    reply.Options.Flags = answer.flags;
    return reply;
}

// The reply record of an IPv6 answer; scopeId is the interface it came in
// on, which matters only for link-local nodes.
TEcho6Reply echo6Reply(const Result6& answer, Clock::time_point start, Clock::time_point received,
                       std::uint32_t scopeId) {
    TEcho6Reply reply;
    std::memcpy(reply.Address.Bytes, answer.address.data(), 16);
    if (IN6_IS_ADDR_LINKLOCAL(reinterpret_cast<const in6_addr*>(answer.address.data())))
        reply.Address.ScopeId = scopeId;
    reply.Status = answer.status;
    reply.RoundTripTime = elapsedMs(start, received);
    reply.DataSize = static_cast<std::uint16_t>(std::min<std::size_t>(answer.dataLength, 0xFFFF));
    reply.Options.Ttl = answer.hopLimit;
    reply.Options.Tos = answer.trafficClass;
    return reply;
}

// Sends a request on a shared raw socket with its own time-to-live (hop
// limit) and type of service (traffic class) as ancillary data: requests
// of different runs go out on the same socket at once. 0 or the errno.
int sendShared(const SharedRawSocket& socket, std::span<const std::uint8_t> packet,
               const sockaddr* to, socklen_t toLength, int ttl, int tos) {
    const bool six = socket.family() == AF_INET6;
    alignas(cmsghdr) std::uint8_t control[2 * CMSG_SPACE(sizeof(int))] = {};
    iovec iov{const_cast<std::uint8_t*>(packet.data()), packet.size()};
    msghdr msg{};
    msg.msg_name = const_cast<sockaddr*>(to);
    msg.msg_namelen = toLength;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&msg);
    for (auto [type, value] : {std::pair{six ? IPV6_HOPLIMIT : IP_TTL, ttl},
                               std::pair{six ? IPV6_TCLASS : IP_TOS, tos}}) {
        c->cmsg_level = six ? int{IPPROTO_IPV6} : int{IPPROTO_IP};
        c->cmsg_type = type;
        c->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(c), &value, sizeof value);
        c = CMSG_NXTHDR(&msg, c);
    }
    return ::sendmsg(socket.fd(), &msg, 0) < 0 ? errno : 0;
}

// Sends a request on a raw handle's shared socket and waits until the
// offer took its answer; returns 1 or fails with the status that ended it.
std::uint32_t echoShared(const std::shared_ptr<SharedRawSocket>& socket,
                         std::span<const std::uint8_t> packet, const sockaddr* to,
                         socklen_t toLength, int ttl, int tos, Clock::time_point deadline,
                         SharedRawSocket::Offer offer) {
    // Listed before sending: the answer may come back before sendmsg returns.
    SharedRawSocket::Waiter waiter(*socket, std::move(offer));
    if (int error = sendShared(*socket, packet, to, toLength, ttl, tos); error != 0)
        return failWith(icmppacket::SendErrorStatus(error));
    if (std::uint32_t ended = waiter.wait(deadline, interruptFd(), interrupted))
        return failWith(ended);
    return 1;
}

// How a request goes out: its time-to-live (hop limit) and type of service
// (traffic class), and the shared raw socket it goes out on, if any.
struct Outgoing {
    int ttl = 128;
    int tos = 0;
    std::shared_ptr<SharedRawSocket> shared;
};

// Reads the options into out and sets them on the handle's own socket;
// 0 when the request may go, or the status that refuses it.
std::uint32_t prepareOutgoing(Handle& h, const TIpOptions* options, Outgoing& out) {
    out.ttl = options != nullptr ? options->Ttl : 128;
    if (out.ttl == 0)
        return IcmpStatus::BadOption;
    out.tos = options != nullptr ? options->Tos : 0;
    out.shared = h.shared;
    // Shared raw sockets and the broker take them with each request.
    if (!out.shared && !h.viaBroker && !setHopsAndClass(h, out.ttl, out.tos))
        return IcmpStatus::BadOption;
    return 0;
}

// Gives a request the handle's identifier, its next sequence number and
// the caller's data.
template <class Req>
void numberRequest(Req& request, Handle& h, const void* requestData, std::uint16_t requestSize) {
    request.ident = h.ident;
    request.sequence = ++h.sequence;
    request.checkIdent = h.kind == SocketKind::Raw;
    request.data = {static_cast<const std::uint8_t*>(requestData), requestSize};
}

// An answer as a family's parser found it, with the interface it came in
// on (IPv6 link-local nodes only).
template <class Answer> struct Arrival {
    Answer answer;
    std::uint32_t scopeId = 0;
};

// What differs between IPv4 and IPv6 requests: the packet, the parsers
// and the reply record.
struct Echo4 {
    using Req = Request;
    using Answer = Result;
    using SockAddr = sockaddr_in;
    static std::vector<std::uint8_t> build(const Req& request) {
        return BuildEchoRequest(request.ident, request.sequence, request.data);
    }
    static Arrival<Answer> fromShared(const SharedRawSocket::Message& m, const Req& request) {
        return {ParseRawPacket(m.bytes, request)};
    }
    static Arrival<Answer> fromOwn(const Incoming& in, const Req& request, const SockAddr&) {
        std::uint32_t from = reinterpret_cast<const sockaddr_in&>(in.from).sin_addr.s_addr;
        Control c = ParseControl(in.control);
        if (!in.errorQueue)
            return {ParseDatagramReply(in.bytes, from, c.ttl, c.tos, request)};
        // For an error-queue entry the name is the destination of the
        // request that the error quotes.
        c.error.quotedDestination = from;
        return {ParseErrorQueue(in.bytes, c.error, request)};
    }
    static TEchoReply reply(const Answer& answer, Clock::time_point start,
                            Clock::time_point received, std::uint32_t) {
        return echoReply(answer, start, received);
    }
    static constexpr int kFamily = AF_INET;
    static void destination(const SockAddr& to, platform::rawicmp::IcmpBroker::Echo& echo) {
        std::memcpy(echo.address.data(), &to.sin_addr, 4);
    }
    static Answer fromBroker(const platform::rawicmp::IcmpBroker::Answer& in) {
        Answer a;
        a.verdict = Verdict::Answer;
        a.status = in.outcome == platform::rawicmp::IcmpBroker::Outcome::EchoReply
                       ? IcmpStatus::Success
                       : ErrorStatus(in.type, in.code);
        std::memcpy(&a.address, in.address.data(), 4);
        a.dataLength = in.data.size();
        a.ttl = in.ttl;
        a.tos = in.tos;
        return a;
    }
};

struct Echo6 {
    using Req = Request6;
    using Answer = Result6;
    using SockAddr = sockaddr_in6;
    static std::vector<std::uint8_t> build(const Req& request) {
        return BuildEcho6Request(request.ident, request.sequence, request.data);
    }
    static Address6 source(const sockaddr_in6& from) {
        Address6 a;
        std::memcpy(a.data(), &from.sin6_addr, 16);
        return a;
    }
    static Arrival<Answer> fromShared(const SharedRawSocket::Message& m, const Req& request) {
        const auto& from = reinterpret_cast<const sockaddr_in6&>(*m.from);
        Control c = ParseControl(m.control);
        return {ParseIcmp6Message(m.bytes, source(from), c.ttl, c.tos, request),
                from.sin6_scope_id};
    }
    static Arrival<Answer> fromOwn(const Incoming& in, const Req& request, const SockAddr& to) {
        const auto& from = reinterpret_cast<const sockaddr_in6&>(in.from);
        Control c = ParseControl(in.control);
        if (!in.errorQueue)
            return {ParseIcmp6Message(in.bytes, source(from), c.ttl, c.tos, request),
                    from.sin6_scope_id};
        // The name of an error-queue entry is the destination of the
        // request that the error quotes.
        c.error.quotedDestination6 = source(from);
        return {ParseErrorQueue6(in.bytes, c.error, request), to.sin6_scope_id};
    }
    static TEcho6Reply reply(const Answer& answer, Clock::time_point start,
                             Clock::time_point received, std::uint32_t scopeId) {
        return echo6Reply(answer, start, received, scopeId);
    }
    static constexpr int kFamily = AF_INET6;
    static void destination(const SockAddr& to, platform::rawicmp::IcmpBroker::Echo& echo) {
        std::memcpy(echo.address.data(), &to.sin6_addr, 16);
        echo.scopeId = to.sin6_scope_id;
    }
    static Answer fromBroker(const platform::rawicmp::IcmpBroker::Answer& in) {
        Answer a;
        a.verdict = Verdict::Answer;
        a.status = in.outcome == platform::rawicmp::IcmpBroker::Outcome::EchoReply
                       ? IcmpStatus::Success
                       : Error6Status(in.type, in.code);
        std::memcpy(a.address.data(), in.address.data(), 16);
        a.dataLength = in.data.size();
        a.hopLimit = in.ttl;
        a.trafficClass = in.tos;
        return a;
    }
};

// Sends a request through the echo broker, which numbers it, and waits for
// the answer it hands back; returns 1 with the reply in the caller's buffer,
// or fails. A broker that ended or hung fails the request as a whole.
template <class F>
std::uint32_t echoViaBroker(const typename F::Req& request, const typename F::SockAddr& to,
                            const Outgoing& out, Clock::time_point start, void* replyBuffer,
                            std::uint32_t replySize, std::uint32_t timeoutMs) {
    using platform::rawicmp::IcmpBroker;
    std::shared_ptr<IcmpBroker> broker = platform::rawicmp::Broker();
    if (!broker)
        return failWith(IcmpStatus::GeneralFailure);
    IcmpBroker::Echo echo;
    echo.family = F::kFamily;
    F::destination(to, echo);
    echo.ttl = static_cast<std::uint8_t>(out.ttl);
    echo.tos = static_cast<std::uint8_t>(out.tos);
    echo.data = request.data;
    echo.timeoutMs = timeoutMs;
    if (interrupted.load())
        return failWith(IcmpStatus::ReqTimedOut);
    IcmpBroker::Answer answer = broker->echo(echo, interrupted);
    switch (answer.outcome) {
    case IcmpBroker::Outcome::EchoReply:
    case IcmpBroker::Outcome::IcmpError:
        break;
    case IcmpBroker::Outcome::NotSent:
        return failWith(icmppacket::SendErrorStatus(answer.error));
    case IcmpBroker::Outcome::TimedOut:
    case IcmpBroker::Outcome::Interrupted:
        return failWith(IcmpStatus::ReqTimedOut);
    case IcmpBroker::Outcome::BrokerFailed:
        return failWith(IcmpStatus::GeneralFailure);
    }
    typename F::Answer a = F::fromBroker(answer);
    // The broker passes on only the errors that answer echoes; any other
    // type would be its fault.
    if (answer.outcome == IcmpBroker::Outcome::IcmpError && a.status == IcmpStatus::Success)
        return failWith(IcmpStatus::GeneralFailure);
    // The broker's own send time where it gave one: the way to the broker
    // and back is not the network's.
    const Clock::time_point sent =
        answer.sent.time_since_epoch().count() != 0 ? answer.sent : start;
    auto record = F::reply(a, sent, answer.received, answer.scopeId);
    return writeReply(record, answer.data, a, replyBuffer, replySize);
}

// Sends a numbered request to `to` and waits for its answer until the
// timeout; returns 1 with the reply in the caller's buffer, or fails.
template <class F>
std::uint32_t sendEcho(Handle& h, const Outgoing& out, const typename F::Req& request,
                       const typename F::SockAddr& to, void* replyBuffer, std::uint32_t replySize,
                       std::uint32_t timeoutMs) {
    std::vector<std::uint8_t> packet = F::build(request);
    const auto* name = reinterpret_cast<const sockaddr*>(&to);
    const Clock::time_point start = Clock::now();
    const Clock::time_point deadline = start + std::chrono::milliseconds(timeoutMs);
    if (h.viaBroker)
        return echoViaBroker<F>(request, to, out, start, replyBuffer, replySize, timeoutMs);
    if (out.shared) {
        return echoShared(
            out.shared, packet, name, sizeof to, out.ttl, out.tos, deadline,
            [&](const SharedRawSocket::Message& m) {
                Arrival a = F::fromShared(m, request);
                if (a.answer.verdict != Verdict::Answer)
                    return false;
                writeReply(F::reply(a.answer, start, ReceivedAt(m.control, start), a.scopeId),
                           m.bytes, a.answer, replyBuffer, replySize);
                return true;
            });
    }
    if (::sendto(h.fd, packet.data(), packet.size(), 0, name, sizeof to) < 0)
        return failWith(icmppacket::SendErrorStatus(errno));

    // One receive buffer per thread: echo workers live on, and a request
    // then costs no allocation of its largest buffer.
    thread_local std::vector<std::uint8_t> buffer(kReceiveBuffer);
    alignas(cmsghdr) std::uint8_t control[512];
    for (;;) {
        Incoming in;
        if (std::uint32_t ended = nextMessage(h, start, deadline, buffer, control, in))
            return failWith(ended);
        Arrival a = F::fromOwn(in, request, to);
        // Only an error-queue entry can say the host refused the request.
        if (a.answer.verdict == Verdict::LocalError)
            return failWith(icmppacket::SendErrorStatus(a.answer.errnum));
        if (a.answer.verdict != Verdict::Answer)
            continue;
        return writeReply(F::reply(a.answer, start, in.received, a.scopeId), buffer, a.answer,
                          replyBuffer, replySize);
    }
}

} // namespace

std::uint32_t IcmpSendEcho(IcmpHandle handle, std::uint32_t destination, const void* requestData,
                           std::uint16_t requestSize, const TIpOptions* options, void* replyBuffer,
                           std::uint32_t replySize, std::uint32_t timeoutMs) {
    const HandleInUse use(handle);
    Handle* h = use.get();
    if (std::uint32_t refused = checkRequest(h, AF_INET, requestData, requestSize, replyBuffer,
                                             replySize, kReplyHeader))
        return failWith(refused);
    Outgoing out;
    if (std::uint32_t refused = prepareOutgoing(*h, options, out))
        return failWith(refused);

    Request request;
    request.destination = destination;
    numberRequest(request, *h, requestData, requestSize);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = destination;
    return sendEcho<Echo4>(*h, out, request, to, replyBuffer, replySize, timeoutMs);
}

std::uint32_t Icmp6SendEcho(IcmpHandle handle, const TIpv6Address* destination,
                            const void* requestData, std::uint16_t requestSize,
                            const TIpOptions* options, void* replyBuffer, std::uint32_t replySize,
                            std::uint32_t timeoutMs) {
    const HandleInUse use(handle);
    Handle* h = use.get();
    if (destination == nullptr)
        return failWith(IcmpStatus::BadDestination);
    if (std::uint32_t refused = checkRequest(h, AF_INET6, requestData, requestSize, replyBuffer,
                                             replySize, kReply6Header))
        return failWith(refused);
    Outgoing out;
    if (std::uint32_t refused = prepareOutgoing(*h, options, out))
        return failWith(refused);

    Request6 request;
    std::memcpy(request.destination.data(), destination->Bytes, 16);
    numberRequest(request, *h, requestData, requestSize);
    sockaddr_in6 to{};
    to.sin6_family = AF_INET6;
    std::memcpy(&to.sin6_addr, destination->Bytes, 16);
    to.sin6_scope_id = destination->ScopeId;
    return sendEcho<Echo6>(*h, out, request, to, replyBuffer, replySize, timeoutMs);
}

SocketKind ProbeSocketKind(int family) {
    for (SocketKind kind : {SocketKind::Datagram, SocketKind::Raw}) {
        if (kind == SocketKind::Datagram && rawOnly.load())
            continue;
        if (kind == SocketKind::Raw) {
            // Raw handles of the family share a socket that is open already.
            std::lock_guard lock(sharedRawMutex);
            if (sharedRaw[familySlot(family)])
                return kind;
        }
        if (kind == SocketKind::Raw) {
            // Root opens the shared socket now, for the first handle;
            // everybody else starts the broker (once) and keeps it.
            if (sharedRawSocket(family) || brokerRefuses(family) == 0)
                return kind;
            continue;
        }
        int fd = openSocket(family, kind);
        if (fd >= 0) {
            ::close(fd);
            return kind;
        }
    }
    return SocketKind::None;
}

std::optional<EchoNumbers> NextEchoNumbers(IcmpHandle handle) {
    Handle* h = lookup(handle);
    if (h == nullptr)
        return std::nullopt;
    // The broker numbers its requests itself.
    if (h->viaBroker)
        return std::nullopt;
    EchoNumbers n{h->ident, static_cast<std::uint16_t>(h->sequence + 1)};
    if (h->kind == SocketKind::Datagram) {
        sockaddr_storage local{};
        socklen_t length = sizeof local;
        if (::getsockname(h->fd, reinterpret_cast<sockaddr*>(&local), &length) != 0)
            return std::nullopt;
        n.ident =
            ntohs(h->family == AF_INET6 ? reinterpret_cast<const sockaddr_in6&>(local).sin6_port
                                        : reinterpret_cast<const sockaddr_in&>(local).sin_port);
    }
    return n;
}

SocketKind HandleSocketKind(IcmpHandle handle) {
    Handle* h = lookup(handle);
    return h != nullptr ? h->kind : SocketKind::None;
}

void SeedIdentifiersForTesting(std::optional<std::uint64_t> seed) {
    CloseIdleSockets();
    std::lock_guard lock(registryMutex);
    identSeed = seed;
}

std::size_t WaitingRawRequests(int family) {
    std::lock_guard lock(sharedRawMutex);
    const std::shared_ptr<SharedRawSocket>& shared = sharedRaw[familySlot(family)];
    if (shared)
        return shared->waiting();
    std::shared_ptr<platform::rawicmp::IcmpBroker> broker = platform::rawicmp::RunningBroker();
    return broker ? broker->waiting() : 0;
}

void PreferRawSockets(bool raw) {
    rawOnly.store(raw);
}

void InterruptAllRequests() {
    interrupted.store(true);
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(interruptFd(), &one, sizeof one);
    SharedRawSocket::WakeAll();
    if (std::shared_ptr<platform::rawicmp::IcmpBroker> broker = platform::rawicmp::RunningBroker())
        broker->interrupt();
}

void ResumeRequests() {
    interrupted.store(false);
    std::uint64_t value;
    [[maybe_unused]] ssize_t n = ::read(interruptFd(), &value, sizeof value);
}

} // namespace platform::linuxicmp

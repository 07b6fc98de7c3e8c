#include "platform/IcmpBroker.h"

#include "icmp-helper-protocol.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace platform::rawicmp {

namespace {

using Clock = std::chrono::steady_clock;

// The channel's number in the broker.
constexpr int kChannelFd = 3;
// How long a broker that is told to end may take before it is killed.
constexpr int kExitWaitMs = 1000;
// Longest single wait for room on the channel, so that a sender sees an
// interruption or a finished broker soon.
constexpr int kSendSliceMs = 50;
// How long a request looks for its answer, and the receive thread for the
// next answer, before they sleep: a sleeping thread takes longer to wake
// than a near node takes to answer (much longer in a virtual machine).
constexpr auto kSpin = std::chrono::microseconds(100);

// Waits up to timeoutMs for the child to end, then kills it; always reaps.
void reap(pid_t pid, int timeoutMs) {
    if (pid <= 0)
        return;
    int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (pidfd >= 0) {
        pollfd p{pidfd, POLLIN, 0};
        int ready;
        do
            ready = ::poll(&p, 1, timeoutMs);
        while (ready < 0 && errno == EINTR);
        ::close(pidfd);
        if (ready <= 0)
            ::kill(pid, SIGKILL);
    } else {
        ::kill(pid, SIGKILL);
    }
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

IcmpBroker::Answer failed(IcmpBroker::Outcome outcome) {
    IcmpBroker::Answer a;
    a.outcome = outcome;
    return a;
}

// Whether an answer of n bytes keeps the rules; its header is in a.
bool wellFormed(const icmp_broker_answer& a, std::size_t n) {
    if (a.magic != ICMP_BROKER_MAGIC || a.data_length > ICMP_BROKER_MAX_DATA ||
        n != sizeof a + a.data_length)
        return false;
    switch (a.outcome) {
    case ICMP_BROKER_ECHO_REPLY:
        return true;
    case ICMP_BROKER_ICMP_ERROR:
    case ICMP_BROKER_TIMED_OUT:
    case ICMP_BROKER_NOT_SENT:
        return a.data_length == 0;
    default:
        return false;
    }
}

} // namespace

IcmpBroker::IcmpBroker(int channel, pid_t pid, int inetError, int inet6Error)
    : channel_(channel), pid_(pid), owner_(::getpid()), inetError_(inetError),
      inet6Error_(inet6Error) {
    receiver_ = std::make_unique<std::thread>([this] { receive(); });
}

IcmpBroker::~IcmpBroker() {
    if (::getpid() != owner_) {
        // A forked copy: the receive thread and the broker belong to the
        // parent. Nothing here may touch them.
        [[maybe_unused]] std::thread* parents = receiver_.release();
        return;
    }
    // Closing our end tells the broker to end, and ends the receive thread.
    ::shutdown(channel_, SHUT_RDWR);
    receiver_->join();
    for (auto& [tag, w] : waiting_)
        if (w->completion)
            delete w;
    ::close(channel_);
    reap(pid_, kExitWaitMs);
}

bool IcmpBroker::alive() const {
    std::lock_guard lock(mutex_);
    return !finished_;
}

int IcmpBroker::familyError(int family) const {
    return family == AF_INET6 ? inet6Error_ : inetError_;
}

std::size_t IcmpBroker::waiting() const {
    std::lock_guard lock(mutex_);
    return waiting_.size();
}

void IcmpBroker::interrupt() {
    std::lock_guard lock(mutex_);
    for (auto& [tag, w] : waiting_)
        w->wake.notify_one();
    room_.notify_all();
}

void IcmpBroker::finish() {
    if (!finished_) {
        finished_ = true;
        ::shutdown(channel_, SHUT_RDWR);
        if (pid_ > 0)
            ::kill(pid_, SIGKILL);
    }
    for (auto& [tag, w] : waiting_) {
        if (w->completion) {
            w->completion(failed(Outcome::BrokerFailed));
            delete w;
            continue;
        }
        w->done = true;
        w->answer = failed(Outcome::BrokerFailed);
        w->wake.notify_one();
    }
    waiting_.clear();
    room_.notify_all();
}

namespace {

icmp_broker_request requestHeader(const IcmpBroker::Echo& request) {
    icmp_broker_request header{};
    header.magic = ICMP_BROKER_MAGIC;
    header.family = request.family == AF_INET6 ? ICMP_BROKER_INET6 : ICMP_BROKER_INET;
    header.ttl = request.ttl;
    header.tos = request.tos;
    header.scope_id = request.family == AF_INET6 ? request.scopeId : 0;
    std::memcpy(header.address, request.address.data(), request.family == AF_INET6 ? 16 : 4);
    header.timeout_ms = std::min<std::uint32_t>(std::max<std::uint32_t>(request.timeoutMs, 1),
                                                ICMP_BROKER_MAX_TIMEOUT_MS);
    header.data_length = static_cast<std::uint32_t>(request.data.size());
    return header;
}

} // namespace

IcmpBroker::Answer IcmpBroker::echo(const Echo& request, const std::atomic<bool>& stop) {
    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(request.timeoutMs) + kGrace;
    Waiting me;
    std::uint32_t tag = 0;

    icmp_broker_request header = requestHeader(request);
    if (request.data.size() > ICMP_BROKER_MAX_DATA || request.ttl == 0)
        return failed(Outcome::NotSent);
    {
        // Tags go out in the order they are given: both under one lock.
        std::unique_lock sending(sendMutex_);
        {
            std::unique_lock lock(mutex_);
            room_.wait_until(lock, deadline, [&] {
                return finished_ || stop.load() || waiting_.size() < ICMP_BROKER_MAX_PENDING;
            });
            if (finished_)
                return failed(Outcome::BrokerFailed);
            if (stop.load())
                return failed(Outcome::Interrupted);
            if (waiting_.size() >= ICMP_BROKER_MAX_PENDING)
                return failed(Outcome::TimedOut);
            tag = nextTag_++;
            waiting_[tag] = &me;
        }
        header.tag = tag;
        iovec parts[2] = {{&header, sizeof header},
                          {const_cast<std::uint8_t*>(request.data.data()), request.data.size()}};
        msghdr msg{};
        msg.msg_iov = parts;
        msg.msg_iovlen = request.data.empty() ? 1 : 2;
        bool sent = false;
        while (!sent && Clock::now() < deadline) {
            ssize_t n = ::sendmsg(channel_, &msg, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n == static_cast<ssize_t>(sizeof header + request.data.size())) {
                sent = true;
                break;
            }
            if (n >= 0 || (errno != EAGAIN && errno != EINTR))
                break;
            pollfd p{channel_, POLLOUT, 0};
            ::poll(&p, 1, kSendSliceMs);
        }
        if (!sent) {
            // The broker now waits for a tag that never comes: it is of no
            // more use to anybody.
            std::lock_guard lock(mutex_);
            waiting_.erase(tag);
            finish();
            return failed(Outcome::BrokerFailed);
        }
    }

    // The answer of a near node comes back within microseconds, sooner
    // than a sleeping thread wakes: look for it a little while first.
    const Clock::time_point spinEnd = Clock::now() + kSpin;
    while (!me.ready.load(std::memory_order_acquire) && !stop.load() && Clock::now() < spinEnd)
        std::this_thread::yield();
    std::unique_lock lock(mutex_);
    me.wake.wait_until(lock, deadline, [&] { return me.done || stop.load(); });
    if (me.done)
        return std::move(me.answer);
    waiting_.erase(tag);
    room_.notify_one();
    if (stop.load())
        return failed(Outcome::Interrupted);
    // The broker answers every request by its time-out at the latest.
    finish();
    return failed(Outcome::BrokerFailed);
}

void IcmpBroker::receive() {
    std::vector<std::uint8_t> buffer(sizeof(icmp_broker_answer) + ICMP_BROKER_MAX_DATA + 1);
    Clock::time_point busyUntil;
    for (;;) {
        // Right after an answer the next one is likely within microseconds:
        // look without sleeping for a while, then wait for it.
        ssize_t n = ::recv(channel_, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (Clock::now() < busyUntil) {
                std::this_thread::yield();
                continue;
            }
            n = ::recv(channel_, buffer.data(), buffer.size(), 0);
        }
        if (n < 0 && errno == EINTR)
            continue;
        busyUntil = Clock::now() + kSpin;
        std::lock_guard lock(mutex_);
        icmp_broker_answer a{};
        if (n >= static_cast<ssize_t>(sizeof a))
            std::memcpy(&a, buffer.data(), sizeof a);
        // An answer to a tag never given breaks the rules as much as a
        // malformed one.
        if (n < static_cast<ssize_t>(sizeof a) || !wellFormed(a, static_cast<std::size_t>(n)) ||
            a.tag == 0 || a.tag >= nextTag_) {
            finish();
            return;
        }
        auto it = waiting_.find(a.tag);
        if (it == waiting_.end())
            continue; // its request was interrupted meanwhile
        Waiting& w = *it->second;
        Answer& out = w.answer;
        switch (a.outcome) {
        case ICMP_BROKER_ECHO_REPLY:
            out.outcome = Outcome::EchoReply;
            break;
        case ICMP_BROKER_ICMP_ERROR:
            out.outcome = Outcome::IcmpError;
            break;
        case ICMP_BROKER_TIMED_OUT:
            out.outcome = Outcome::TimedOut;
            break;
        default:
            out.outcome = Outcome::NotSent;
            break;
        }
        out.type = a.type;
        out.code = a.code;
        out.ttl = a.ttl;
        out.tos = a.tos;
        out.error = a.error;
        out.scopeId = a.scope_id;
        std::memcpy(out.address.data(), a.address, 16);
        out.received = Clock::time_point(std::chrono::nanoseconds(a.received_ns));
        if (a.sent_ns > 0 && a.sent_ns <= a.received_ns)
            out.sent = Clock::time_point(std::chrono::nanoseconds(a.sent_ns));
        out.data.assign(buffer.begin() + sizeof a, buffer.begin() + n);
        waiting_.erase(it);
        room_.notify_one();
        if (w.completion) {
            w.completion(std::move(out));
            delete &w;
            continue;
        }
        w.done = true;
        w.ready.store(true, std::memory_order_release);
        w.wake.notify_one();
    }
}

bool IcmpBroker::write(const Echo& request, std::uint32_t tag, Clock::time_point deadline) {
    icmp_broker_request header = requestHeader(request);
    header.tag = tag;
    iovec parts[2] = {{&header, sizeof header},
                      {const_cast<std::uint8_t*>(request.data.data()), request.data.size()}};
    msghdr msg{};
    msg.msg_iov = parts;
    msg.msg_iovlen = request.data.empty() ? 1 : 2;
    while (Clock::now() < deadline) {
        ssize_t n = ::sendmsg(channel_, &msg, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n == static_cast<ssize_t>(sizeof header + request.data.size()))
            return true;
        if (n >= 0 || (errno != EAGAIN && errno != EINTR))
            return false;
        pollfd p{channel_, POLLOUT, 0};
        ::poll(&p, 1, kSendSliceMs);
    }
    return false;
}

std::uint32_t IcmpBroker::send(const Echo& request, Completion done) {
    if (request.data.size() > ICMP_BROKER_MAX_DATA || request.ttl == 0)
        return 0;
    std::unique_lock sending(sendMutex_);
    std::uint32_t tag = 0;
    {
        std::lock_guard lock(mutex_);
        if (finished_ || waiting_.size() >= ICMP_BROKER_MAX_PENDING)
            return 0;
        tag = nextTag_++;
        auto* w = new Waiting;
        w->completion = std::move(done);
        waiting_[tag] = w;
    }
    if (!write(request, tag, Clock::now() + std::chrono::milliseconds(request.timeoutMs))) {
        // The broker now waits for a tag that never comes: it is of no
        // more use to anybody.
        std::lock_guard lock(mutex_);
        if (auto it = waiting_.find(tag); it != waiting_.end()) {
            delete it->second;
            waiting_.erase(it);
        }
        finish();
        return 0;
    }
    return tag;
}

void IcmpBroker::cancel(std::uint32_t tag) {
    std::lock_guard lock(mutex_);
    auto it = waiting_.find(tag);
    if (it == waiting_.end() || !it->second->completion)
        return;
    delete it->second;
    waiting_.erase(it);
    room_.notify_one();
}

std::shared_ptr<IcmpBroker> StartBroker(const std::string& path,
                                        std::chrono::milliseconds timeout) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0)
        return nullptr;
    int ours = pair[0];
    int theirs = pair[1];
    // dup2 onto itself would keep close-on-exec: make sure the broker's end
    // is not already fd 3.
    if (theirs <= kChannelFd) {
        int moved = ::fcntl(theirs, F_DUPFD_CLOEXEC, kChannelFd + 1);
        int error = errno;
        ::close(theirs);
        if (moved < 0) {
            ::close(ours);
            errno = error;
            return nullptr;
        }
        theirs = moved;
    }

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, theirs, kChannelFd);
    posix_spawnattr_init(&attributes);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    char name[] = "icmp-helper";
    char* argv[] = {name, nullptr};
    char* envp[] = {nullptr};
    pid_t pid = -1;
    int spawnError = ::posix_spawn(&pid, path.c_str(), &actions, &attributes, argv, envp);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(theirs);
    if (spawnError != 0) {
        ::close(ours);
        errno = spawnError;
        return nullptr;
    }

    int error = 0;
    icmp_broker_hello hello{};
    pollfd p{ours, POLLIN, 0};
    int ready;
    do
        ready = ::poll(&p, 1, static_cast<int>(timeout.count()));
    while (ready < 0 && errno == EINTR);
    if (ready == 0) {
        error = ETIMEDOUT;
    } else if (ready < 0) {
        error = errno;
    } else {
        ssize_t n = ::recv(ours, &hello, sizeof hello, MSG_DONTWAIT | MSG_TRUNC);
        if (n != static_cast<ssize_t>(sizeof hello) || hello.magic != ICMP_BROKER_MAGIC)
            error = EPROTO;
        else if (hello.error != 0)
            error = hello.error;
        else if (hello.inet_error != 0 && hello.inet6_error != 0)
            error = hello.inet_error;
    }
    if (error != 0) {
        ::close(ours);
        reap(pid, error == ETIMEDOUT ? 0 : kExitWaitMs);
        errno = error;
        return nullptr;
    }
    return std::make_shared<IcmpBroker>(ours, pid, hello.inet_error, hello.inet6_error);
}

} // namespace platform::rawicmp

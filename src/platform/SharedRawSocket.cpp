#include "platform/SharedRawSocket.h"

#include "platform/IcmpTypes.h"

#include <cerrno>
#include <set>
#include <vector>

#include <poll.h>
#include <unistd.h>

namespace platform::linuxicmp {

namespace {

using Clock = std::chrono::steady_clock;

// Largest IPv4 datagram, and largest IPv6 payload without jumbograms.
constexpr std::size_t kReceiveBuffer = 65536;

// Every shared socket alive, for WakeAll. Never destroyed: a request may
// still be finishing on another thread while the program's statics go.
struct Registry {
    std::mutex mutex;
    std::set<SharedRawSocket*> sockets;
};
Registry& registry() {
    static Registry* r = new Registry;
    return *r;
}

} // namespace

SharedRawSocket::SharedRawSocket(int fd, int family) : fd_(fd), family_(family) {
    std::lock_guard lock(registry().mutex);
    registry().sockets.insert(this);
}

SharedRawSocket::~SharedRawSocket() {
    {
        std::lock_guard lock(registry().mutex);
        registry().sockets.erase(this);
    }
    ::close(fd_);
}

SharedRawSocket::Waiter::Waiter(SharedRawSocket& socket, Offer offer)
    : socket_(socket), offer_(std::move(offer)) {
    std::lock_guard lock(socket_.mutex_);
    entry_ = socket_.waiters_.insert(socket_.waiters_.end(), this);
}

SharedRawSocket::Waiter::~Waiter() {
    std::lock_guard lock(socket_.mutex_);
    withdraw();
}

void SharedRawSocket::Waiter::withdraw() {
    if (!listed_)
        return;
    listed_ = false;
    socket_.waiters_.erase(entry_);
    if (socket_.reader_ == this)
        socket_.reader_ = nullptr;
    // Nobody reads now: one of those still waiting takes over.
    if (socket_.reader_ == nullptr)
        socket_.wakeNextReader();
}

std::uint32_t SharedRawSocket::Waiter::wait(Clock::time_point deadline, int wakeFd,
                                            const std::atomic<bool>& stop) {
    SharedRawSocket& s = socket_;
    std::unique_lock lock(s.mutex_);
    ++s.inWait_;
    inWait_ = true;
    std::uint32_t status = IcmpStatus::ReqTimedOut;
    for (;;) {
        if (answered_) {
            status = 0;
            break;
        }
        if (stop.load() || Clock::now() >= deadline)
            break;
        if (s.reader_ != nullptr) {
            wake_.wait_until(lock, deadline);
            continue;
        }
        s.reader_ = this;
        lock.unlock();
        Message message;
        std::uint32_t read = s.readOne(deadline, wakeFd, message);
        lock.lock();
        s.reader_ = nullptr;
        if (read == 0) {
            s.dispatch(message, *this);
        } else if (read != IcmpStatus::ReqTimedOut) {
            status = read;
            break;
        }
    }
    // Withdrawn under the same lock that saw the outcome: no answer can be
    // handed to this request after it gave up.
    inWait_ = false;
    withdraw();
    --s.inWait_;
    return status;
}

std::uint32_t SharedRawSocket::readOne(Clock::time_point deadline, int wakeFd, Message& message) {
    // One buffer per thread: echo workers live on, and reading then costs
    // no allocation of the largest buffer.
    thread_local std::vector<std::uint8_t> buffer(kReceiveBuffer);
    alignas(cmsghdr) thread_local std::uint8_t control[512];
    thread_local sockaddr_storage from;
    for (;;) {
        Clock::time_point now = Clock::now();
        if (now >= deadline)
            return IcmpStatus::ReqTimedOut;
        auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - now);
        timespec span{static_cast<time_t>(left.count() / 1000000000),
                      static_cast<long>(left.count() % 1000000000)};
        pollfd fds[2] = {{fd_, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        int ready = ::ppoll(fds, 2, &span, nullptr);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return IcmpStatus::GeneralFailure;
        }
        if (ready == 0)
            continue; // the deadline check above ends the wait
        if (fds[1].revents != 0)
            return IcmpStatus::ReqTimedOut;
        if (fds[0].revents == 0)
            continue;
        from = {};
        iovec iov{buffer.data(), buffer.size()};
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        msg.msg_name = &from;
        msg.msg_namelen = sizeof from;
        // A failed read is either nothing left (another reader was faster
        // before) or an error a router's report left on the socket; the
        // report itself arrives as a packet of its own.
        ssize_t n = ::recvmsg(fd_, &msg, MSG_DONTWAIT);
        if (n < 0)
            continue;
        // A message longer than the buffer arrives cut short; it cannot be
        // an answer whose data is compared in full, and is dropped.
        if (msg.msg_flags & MSG_TRUNC)
            continue;
        message.bytes = {buffer.data(), static_cast<std::size_t>(n)};
        message.control = {control, msg.msg_controllen};
        message.from = &from;
        return 0;
    }
}

void SharedRawSocket::dispatch(const Message& message, Waiter& reader) {
    for (Waiter* w : waiters_) {
        if (w->answered_ || !w->offer_(message))
            continue;
        w->answered_ = true;
        if (w != &reader)
            w->wake_.notify_one();
        return;
    }
}

void SharedRawSocket::wakeNextReader() {
    for (Waiter* w : waiters_) {
        if (w->inWait_ && !w->answered_) {
            w->wake_.notify_one();
            return;
        }
    }
}

void SharedRawSocket::wakeAll() {
    std::lock_guard lock(mutex_);
    for (Waiter* w : waiters_)
        w->wake_.notify_one();
}

void SharedRawSocket::WakeAll() {
    std::lock_guard lock(registry().mutex);
    for (SharedRawSocket* s : registry().sockets)
        s->wakeAll();
}

std::size_t SharedRawSocket::waiting() const {
    std::lock_guard lock(mutex_);
    return inWait_;
}

} // namespace platform::linuxicmp

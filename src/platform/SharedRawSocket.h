#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <span>

#include <sys/socket.h>

namespace platform::linuxicmp {

// One raw ICMP socket that many echo requests of one family use at once.
// Every raw socket receives a copy of every ICMP packet the host receives,
// so one socket shared by all requests costs less than one per request, and
// needs the privileged helper only once. Each request tells its own answer
// apart by the identifier, sequence, source and data it sent.
//
// There is no receive thread: of the requests waiting on a socket, one (the
// reader) reads from it and offers each packet to every waiting request in
// turn, until one takes it; the others sleep until their own answer is
// handed to them, their time is up, or the reader leaves (then one of them
// reads in its place). A packet goes to at most one request.
class SharedRawSocket {
public:
    // One message read from the socket.
    struct Message {
        std::span<const std::uint8_t> bytes;
        std::span<const std::uint8_t> control;
        const sockaddr_storage* from = nullptr;
    };
    // Called by whichever thread reads, with the socket's lock held: true
    // when the message is this request's answer (it then keeps what it
    // needs of it, the bytes are gone afterwards).
    using Offer = std::function<bool(const Message&)>;

    // Takes ownership of a raw socket that is set up already.
    SharedRawSocket(int fd, int family);
    ~SharedRawSocket();
    SharedRawSocket(const SharedRawSocket&) = delete;
    SharedRawSocket& operator=(const SharedRawSocket&) = delete;

    int fd() const { return fd_; }
    int family() const { return family_; }

    // A request waiting on the socket. Enlisted before its packet is sent,
    // so that an answer faster than the sendto cannot go unclaimed.
    class Waiter {
    public:
        Waiter(SharedRawSocket& socket, Offer offer);
        ~Waiter();
        Waiter(const Waiter&) = delete;
        Waiter& operator=(const Waiter&) = delete;
        // Waits until the answer was taken (0), the deadline passed or the
        // service was interrupted (11010), or reading failed (11050).
        // stop and wakeFd are the service's interruption: the flag is read
        // under the socket's lock, the eventfd wakes a reader in poll.
        std::uint32_t wait(std::chrono::steady_clock::time_point deadline, int wakeFd,
                           const std::atomic<bool>& stop);

    private:
        friend class SharedRawSocket;
        // Leaves the list of waiting requests; the caller holds the lock.
        void withdraw();

        SharedRawSocket& socket_;
        Offer offer_;
        bool listed_ = true;
        bool answered_ = false;
        bool inWait_ = false; // inside wait(), where a notification reaches it
        std::condition_variable wake_;
        std::list<Waiter*>::iterator entry_;
    };

    // Wakes every request waiting on any shared socket, so that it sees
    // the service's stop flag.
    static void WakeAll();
    // How many requests are inside Waiter::wait now (tests: the first of
    // them reads).
    std::size_t waiting() const;

private:
    // Reads the next message until the deadline; 0, or the status that ends
    // the reader's own wait.
    std::uint32_t readOne(std::chrono::steady_clock::time_point deadline, int wakeFd,
                          Message& message);
    // Offers a message to the waiting requests; the caller holds mutex_.
    void dispatch(const Message& message, Waiter& reader);
    // Lets a request sleeping inside its wait take over reading (one that
    // has not entered it yet reads by itself when it does); the caller holds
    // mutex_.
    void wakeNextReader();
    void wakeAll();

    const int fd_;
    const int family_;
    mutable std::mutex mutex_;
    std::list<Waiter*> waiters_;
    Waiter* reader_ = nullptr;
    std::size_t inWait_ = 0;
};

} // namespace platform::linuxicmp

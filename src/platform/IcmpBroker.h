#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include <sys/types.h>

// The program's side of the echo broker (icmp-helper): the small privileged
// program that keeps raw ICMP sockets to itself and sends echo requests on
// the program's behalf. One broker serves every raw request of the process
// over one socket pair; many requests are in flight at once, each waiting
// for the answer with its own tag.
//
// A receive thread reads the broker's answers and hands each to the request
// whose tag it carries; a request sleeps on its own condition, checked
// under the lock that the receive thread sets its answer with, so an answer
// is never missed whatever the order in which requests come and go. A broker
// that ends, hangs or breaks the message rules is finished: every request
// waiting on it fails at once, and the next raw request starts a new one.
namespace platform::rawicmp {

class IcmpBroker {
public:
    struct Echo {
        int family = 0; // AF_INET or AF_INET6
        std::array<std::uint8_t, 16> address{};
        std::uint32_t scopeId = 0;
        std::uint8_t ttl = 128;
        std::uint8_t tos = 0;
        std::span<const std::uint8_t> data;
        std::uint32_t timeoutMs = 1000;
    };
    enum class Outcome { EchoReply, IcmpError, TimedOut, NotSent, Interrupted, BrokerFailed };
    struct Answer {
        Outcome outcome = Outcome::BrokerFailed;
        std::uint8_t type = 0, code = 0; // IcmpError
        std::uint8_t ttl = 0, tos = 0;
        int error = 0; // NotSent: the errno
        std::uint32_t scopeId = 0;
        std::array<std::uint8_t, 16> address{};
        // When the answer came in, and when the broker sent the request
        // (zero where it did not say), on the steady clock.
        std::chrono::steady_clock::time_point received;
        std::chrono::steady_clock::time_point sent;
        std::vector<std::uint8_t> data;
    };

    // Takes the channel (our end of the socket pair, past the broker's
    // greeting) and the broker's process (-1: none to reap, as in tests).
    IcmpBroker(int channel, pid_t pid, int inetError, int inet6Error);
    ~IcmpBroker();
    IcmpBroker(const IcmpBroker&) = delete;
    IcmpBroker& operator=(const IcmpBroker&) = delete;

    // Sends one echo request and waits for its answer, or until stop is set
    // and Interrupt is called (Interrupted). A broker that has not answered
    // a grace time past the request's own time-out is taken as hung: it is
    // ended and every request on it fails (BrokerFailed).
    Answer echo(const Echo& request, const std::atomic<bool>& stop);
    // Sends one echo request without waiting for it: done is called once
    // with its answer, on the receive thread (BrokerFailed when the broker
    // ends first), with the broker's lock held: it must only hand the
    // answer on, never call the broker. Returns the request's tag, or 0 when
    // it cannot go out (no room: ICMP_BROKER_MAX_PENDING in flight, a
    // broker that finished, a request it would refuse); done is then never
    // called. The broker answers every request by its time-out.
    using Completion = std::function<void(Answer&&)>;
    std::uint32_t send(const Echo& request, Completion done);
    // Forgets a request sent with send: its done is not called after this.
    void cancel(std::uint32_t tag);
    // Wakes every waiting request so that it sees its stop flag.
    void interrupt();
    // False once the broker ended, hung or broke the rules.
    bool alive() const;
    // 0 when the family's raw socket is open in the broker, else its errno.
    int familyError(int family) const;
    // Requests waiting for an answer now (tests).
    std::size_t waiting() const;
    pid_t pid() const { return pid_; }

    // How long past its time-out a request waits before the broker counts
    // as hung.
    static constexpr std::chrono::milliseconds kGrace{1500};

private:
    struct Waiting {
        bool done = false;
        std::atomic<bool> ready{false}; // done, for a look without the lock
        Answer answer;
        std::condition_variable wake;
        // A request of send: owned by waiting_, completed through this.
        Completion completion;
    };
    // Writes one request message; false when the channel would not take it.
    bool write(const Echo& request, std::uint32_t tag,
               std::chrono::steady_clock::time_point deadline);
    void receive();
    // Ends the broker and fails every request on it; the caller holds mutex_.
    void finish();

    const int channel_;
    const pid_t pid_;
    const pid_t owner_; // the process that started it
    const int inetError_, inet6Error_;
    mutable std::mutex mutex_;
    std::mutex sendMutex_; // keeps tags in the order they are sent
    std::condition_variable room_;
    std::map<std::uint32_t, Waiting*> waiting_;
    std::uint32_t nextTag_ = 1;
    bool finished_ = false;
    std::unique_ptr<std::thread> receiver_;
};

// Starts the broker at path with the channel as its fd 3 and no environment,
// and waits for its greeting. nullptr with errno set when it cannot be run
// (ENOENT, EACCES), refuses (EUSERS: this user runs enough brokers) or
// greets wrongly (EPROTO, ETIMEDOUT).
std::shared_ptr<IcmpBroker> StartBroker(const std::string& path, std::chrono::milliseconds timeout);

} // namespace platform::rawicmp

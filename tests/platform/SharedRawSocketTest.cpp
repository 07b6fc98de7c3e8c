// Many requests waiting on one socket: each gets exactly the message meant for it whoever
// reads, and none waits past its own deadline. A datagram socket pair stands in for the raw
// socket; a message's first byte names the request it answers.
#include "platform/SharedRawSocket.h"
#include "platform/IcmpTypes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <numeric>
#include <random>
#include <thread>
#include <vector>

#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

using platform::linuxicmp::SharedRawSocket;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

class SharedSocket : public testing::Test {
protected:
    void SetUp() override {
        int pair[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, pair), 0);
        socket = std::make_shared<SharedRawSocket>(pair[0], AF_INET);
        peer = pair[1];
        wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    }
    void TearDown() override {
        ::close(peer);
        ::close(wakeFd);
    }

    void sendTo(std::uint8_t key, std::size_t size = 8) {
        std::vector<std::uint8_t> message(size, 0xEE);
        message[0] = key;
        ASSERT_EQ(::send(peer, message.data(), message.size(), 0),
                  static_cast<ssize_t>(message.size()));
    }
    // Waits (without sleeping on a guess) until n requests are inside wait.
    void untilWaiting(std::size_t n) {
        while (socket->waiting() != n)
            std::this_thread::yield();
    }

    // One request: takes messages whose first byte is its key.
    struct Request {
        std::uint8_t key = 0;
        int taken = 0;
        std::uint32_t status = 99;
        Clock::duration waited{};
    };
    void run(Request& r, milliseconds timeout) {
        SharedRawSocket::Waiter waiter(*socket, [&r](const SharedRawSocket::Message& m) {
            if (m.bytes.empty() || m.bytes[0] != r.key)
                return false;
            ++r.taken;
            return true;
        });
        auto start = Clock::now();
        r.status = waiter.wait(start + timeout, wakeFd, stop);
        r.waited = Clock::now() - start;
    }

    std::shared_ptr<SharedRawSocket> socket;
    int peer = -1;
    int wakeFd = -1;
    std::atomic<bool> stop{false};
};

TEST_F(SharedSocket, EveryRequestGetsExactlyItsOwnMessageWhoeverReads) {
    constexpr int kRequests = 48;
    std::vector<Request> requests(kRequests);
    std::vector<std::thread> threads;
    for (int i = 0; i < kRequests; ++i) {
        requests[i].key = static_cast<std::uint8_t>(i + 1);
        threads.emplace_back([&, i] { run(requests[i], milliseconds(10000)); });
    }
    untilWaiting(kRequests);
    std::vector<int> order(kRequests);
    std::iota(order.begin(), order.end(), 1);
    std::shuffle(order.begin(), order.end(), std::mt19937(7));
    for (int key : order) {
        sendTo(200);                            // nobody's: dropped
        sendTo(static_cast<std::uint8_t>(key)); // the answer
        sendTo(static_cast<std::uint8_t>(key)); // a duplicate: never counted twice
    }
    for (auto& t : threads)
        t.join();
    for (const Request& r : requests) {
        EXPECT_EQ(r.status, 0u) << "request " << int(r.key);
        EXPECT_EQ(r.taken, 1) << "request " << int(r.key);
    }
    EXPECT_EQ(socket->waiting(), 0u);
}

TEST_F(SharedSocket, NobodyWaitsPastItsOwnDeadlineAndAnotherTakesOverReading) {
    // A reader with a long wait does not hold up a short one.
    Request longReader{1}, shortFollower{2};
    std::thread a([&] { run(longReader, milliseconds(10000)); });
    untilWaiting(1);
    std::thread b([&] { run(shortFollower, milliseconds(150)); });
    b.join();
    EXPECT_EQ(shortFollower.status, 11010u);
    EXPECT_LT(shortFollower.waited, milliseconds(2000));
    EXPECT_GE(shortFollower.waited, milliseconds(150));
    sendTo(1);
    a.join();
    EXPECT_EQ(longReader.status, 0u);

    // A reader whose time is up hands reading over to the one left waiting,
    // which still gets an answer that comes after the reader left.
    Request shortReader{3}, longFollower{4};
    std::thread c([&] { run(shortReader, milliseconds(150)); });
    untilWaiting(1);
    std::thread d([&] { run(longFollower, milliseconds(10000)); });
    c.join();
    EXPECT_EQ(shortReader.status, 11010u);
    untilWaiting(1);
    sendTo(3); // the late answer of the one that gave up: nobody's now
    sendTo(4);
    d.join();
    EXPECT_EQ(longFollower.status, 0u);
    EXPECT_EQ(shortReader.taken, 0);
    EXPECT_LT(longFollower.waited, milliseconds(5000));
}

TEST_F(SharedSocket, AReaderThatLeavesWakesARequestInsideItsWaitNotOneStillSending) {
    // The reader leaves while one request is listed but still sending and
    // another sleeps in its wait: the sleeping one must take over reading,
    // or its answer lies unread until its deadline.
    Request reader{1}, sleeper{3};
    std::thread r([&] { run(reader, milliseconds(100)); });
    untilWaiting(1);
    Request sender{2};
    auto listed = std::make_unique<SharedRawSocket::Waiter>(
        *socket, [&sender](const SharedRawSocket::Message& m) {
            return !m.bytes.empty() && m.bytes[0] == sender.key;
        });
    std::thread s([&] { run(sleeper, milliseconds(10000)); });
    untilWaiting(2);
    r.join();
    EXPECT_EQ(reader.status, 11010u);
    sendTo(3);
    s.join();
    EXPECT_EQ(sleeper.status, 0u);
    EXPECT_LT(sleeper.waited, milliseconds(5000));
    listed.reset();
}

} // namespace

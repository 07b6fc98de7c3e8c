// The program's side of the echo broker against a broker played by the
// test over a socket pair: answers reach exactly their own requests in any
// order and however requests come and go, and a broker that breaks the
// rules, ends or hangs fails every request on it instead of leaving it
// waiting.
#include "platform/IcmpBroker.h"

#include "icmp-helper-protocol.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <random>
#include <thread>
#include <vector>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using platform::rawicmp::IcmpBroker;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

class BrokerClient : public testing::Test {
protected:
    void SetUp() override {
        int pair[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair), 0);
        broker = std::make_unique<IcmpBroker>(pair[0], -1, 0, 0);
        peer = pair[1];
    }
    void TearDown() override {
        broker.reset();
        ::close(peer);
    }

    // Reads one request as the broker would; its tag and data.
    std::pair<std::uint32_t, std::vector<std::uint8_t>> takeRequest() {
        std::vector<std::uint8_t> m(sizeof(icmp_broker_request) + ICMP_BROKER_MAX_DATA);
        ssize_t n = ::recv(peer, m.data(), m.size(), 0);
        EXPECT_GE(n, static_cast<ssize_t>(sizeof(icmp_broker_request)));
        icmp_broker_request r{};
        std::memcpy(&r, m.data(), sizeof r);
        return {r.tag, {m.begin() + sizeof r, m.begin() + std::max<ssize_t>(n, sizeof r)}};
    }
    void answer(std::uint32_t tag, std::uint8_t outcome, std::vector<std::uint8_t> data = {},
                std::uint32_t magic = ICMP_BROKER_MAGIC) {
        icmp_broker_answer a{};
        a.magic = magic;
        a.tag = tag;
        a.outcome = outcome;
        a.address[0] = 127;
        a.address[3] = 1;
        a.received_ns =
            std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
                .count();
        a.data_length = static_cast<std::uint32_t>(data.size());
        std::vector<std::uint8_t> m(sizeof a);
        std::memcpy(m.data(), &a, sizeof a);
        m.insert(m.end(), data.begin(), data.end());
        ASSERT_EQ(::send(peer, m.data(), m.size(), MSG_NOSIGNAL), static_cast<ssize_t>(m.size()));
    }
    void untilWaiting(std::size_t n) {
        while (broker->waiting() != n)
            std::this_thread::yield();
    }
    IcmpBroker::Answer echo(std::uint8_t key, std::uint32_t timeoutMs) {
        std::vector<std::uint8_t> data(16, key);
        IcmpBroker::Echo e;
        e.family = AF_INET;
        e.address = {127, 0, 0, 1};
        e.data = data;
        e.timeoutMs = timeoutMs;
        return broker->echo(e, stop);
    }

    std::unique_ptr<IcmpBroker> broker;
    int peer = -1;
    std::atomic<bool> stop{false};
};

TEST_F(BrokerClient, EveryRequestGetsExactlyItsOwnAnswerInAnyOrder) {
    constexpr int kRequests = 48;
    std::vector<IcmpBroker::Answer> answers(kRequests);
    std::vector<std::thread> threads;
    for (int i = 0; i < kRequests; ++i)
        threads.emplace_back([&, i] { answers[i] = echo(static_cast<std::uint8_t>(i), 10000); });
    std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>> requests;
    for (int i = 0; i < kRequests; ++i)
        requests.push_back(takeRequest());
    std::shuffle(requests.begin(), requests.end(), std::mt19937(7));
    for (const auto& [tag, data] : requests)
        answer(tag, ICMP_BROKER_ECHO_REPLY, data);
    for (auto& t : threads)
        t.join();
    for (int i = 0; i < kRequests; ++i) {
        EXPECT_EQ(answers[i].outcome, IcmpBroker::Outcome::EchoReply) << i;
        EXPECT_EQ(answers[i].data, std::vector<std::uint8_t>(16, static_cast<std::uint8_t>(i)));
    }
    EXPECT_TRUE(broker->alive());
}

TEST_F(BrokerClient, AnAnswerAfterAnotherRequestCameAndWentStillWakesItsRequest) {
    // One request waits; a second one is sent, answered and gone; the
    // first one's answer, coming only then, must still wake it well before
    // its time-out.
    IcmpBroker::Answer first, second;
    std::thread a([&] { first = echo(1, 10000); });
    auto [tagA, dataA] = takeRequest();
    untilWaiting(1);
    std::thread b([&] { second = echo(2, 10000); });
    auto [tagB, dataB] = takeRequest();
    answer(tagB, ICMP_BROKER_TIMED_OUT);
    b.join();
    EXPECT_EQ(second.outcome, IcmpBroker::Outcome::TimedOut);
    const auto sent = Clock::now();
    answer(tagA, ICMP_BROKER_ECHO_REPLY, dataA);
    a.join();
    EXPECT_EQ(first.outcome, IcmpBroker::Outcome::EchoReply);
    EXPECT_LT(Clock::now() - sent, 5s);
}

TEST_F(BrokerClient, AnInterruptedRequestReturnsAtOnceAndItsLateAnswerHurtsNobody) {
    IcmpBroker::Answer interrupted;
    std::thread a([&] { interrupted = echo(1, 60000); });
    auto [tag, data] = takeRequest();
    untilWaiting(1);
    stop = true;
    broker->interrupt();
    a.join();
    EXPECT_EQ(interrupted.outcome, IcmpBroker::Outcome::Interrupted);
    stop = false;
    answer(tag, ICMP_BROKER_ECHO_REPLY, data); // nobody's now: dropped
    IcmpBroker::Answer next;
    std::thread b([&] { next = echo(2, 10000); });
    auto [tag2, data2] = takeRequest();
    answer(tag2, ICMP_BROKER_ECHO_REPLY, data2);
    b.join();
    EXPECT_EQ(next.outcome, IcmpBroker::Outcome::EchoReply);
    EXPECT_TRUE(broker->alive());
}

TEST_F(BrokerClient, ABrokerThatBreaksTheRulesEndsOrHangsFailsEveryRequestOnIt) {
    struct Case {
        const char* what;
        std::function<void(std::uint32_t)> misbehave;
    };
    const std::vector<Case> cases{
        {"unknown tag", [&](std::uint32_t tag) { answer(tag + 100, ICMP_BROKER_TIMED_OUT); }},
        {"bad magic", [&](std::uint32_t tag) { answer(tag, ICMP_BROKER_TIMED_OUT, {}, 1); }},
        {"unknown outcome", [&](std::uint32_t tag) { answer(tag, 9); }},
        {"data on a time-out", [&](std::uint32_t tag) { answer(tag, ICMP_BROKER_TIMED_OUT, {1}); }},
        {"short message", [&](std::uint32_t) { ::send(peer, "x", 1, MSG_NOSIGNAL); }},
        {"ends", [&](std::uint32_t) { ::shutdown(peer, SHUT_RDWR); }},
    };
    for (const Case& c : cases) {
        TearDown();
        SetUp();
        std::vector<IcmpBroker::Answer> answers(3);
        std::vector<std::thread> threads;
        for (int i = 0; i < 3; ++i)
            threads.emplace_back([&, i] { answers[i] = echo(1, 60000); });
        std::uint32_t last = 0;
        for (int i = 0; i < 3; ++i)
            last = std::max(last, takeRequest().first);
        untilWaiting(3);
        const auto start = Clock::now();
        c.misbehave(last);
        for (auto& t : threads)
            t.join();
        for (const auto& a : answers)
            EXPECT_EQ(a.outcome, IcmpBroker::Outcome::BrokerFailed) << c.what;
        EXPECT_LT(Clock::now() - start, 5s) << c.what;
        EXPECT_FALSE(broker->alive()) << c.what;
        EXPECT_EQ(echo(1, 100).outcome, IcmpBroker::Outcome::BrokerFailed) << c.what;
    }

    // A broker that never answers counts as hung once a request's time-out
    // and the grace time have passed.
    TearDown();
    SetUp();
    const auto start = Clock::now();
    EXPECT_EQ(echo(1, 100).outcome, IcmpBroker::Outcome::BrokerFailed);
    EXPECT_GE(Clock::now() - start, 100ms + IcmpBroker::kGrace);
    EXPECT_FALSE(broker->alive());
}

} // namespace

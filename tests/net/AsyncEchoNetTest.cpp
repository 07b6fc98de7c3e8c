// The event-loop echo path on the routed test network, on each of its
// routes (its own datagram or raw socket, the echo broker): many requests in flight on one socket,
// each with exactly its own outcome; time-outs from the one deadline queue; routers' reports that
// quote our request; forged answers and forged reports never taken.
#include "platform/AsyncEcho.h"

#include "platform/IcmpPacket.h"
#include "platform/IcmpTypes.h"
#include "support/EventWait.h"
#include "support/ForgerNode.h"
#include "support/IpFamily.h"
#include "support/TestNetwork.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

using namespace netsonde::test;
using platform::AsyncEcho;
namespace icmppacket = platform::icmppacket;

namespace {

const bool network = (RequestTestNetwork(), true);

AsyncEcho::Target target(const std::string& text) {
    AsyncEcho::Target t;
    if (::inet_pton(AF_INET, text.c_str(), t.address.data()) == 1) {
        t.family = 4;
    } else {
        t.family = 6;
        EXPECT_EQ(::inet_pton(AF_INET6, text.c_str(), t.address.data()), 1) << text;
    }
    return t;
}

std::string text(int family, const std::array<std::uint8_t, 16>& address) {
    char out[INET6_ADDRSTRLEN] = {};
    ::inet_ntop(family == 6 ? AF_INET6 : AF_INET, address.data(), out, sizeof out);
    return out;
}

struct Seen {
    int calls = 0;
    AsyncEcho::Outcome outcome;
};

class AsyncEchoRoutes : public testing::TestWithParam<AsyncEcho::Route> {
protected:
    void SetUp() override {
        if (!InTestNetwork())
            GTEST_SKIP() << TestNetworkProblem();
        echo.PreferRouteForTests(GetParam());
        ASSERT_EQ(echo.RouteFor(4), GetParam());
        ASSERT_EQ(echo.RouteFor(6), GetParam());
    }
    void send(const std::string& to, std::uint8_t ttl, std::uint32_t timeoutMs, Seen& seen) {
        AsyncEcho::Options options;
        options.ttl = ttl;
        options.timeoutMs = timeoutMs;
        echo.Send(target(to), options, [&seen](const AsyncEcho::Outcome& o) {
            ++seen.calls;
            seen.outcome = o;
        });
    }
    AsyncEcho echo;
};

// Forges ICMP messages in any name from the forger node.
class Forger : public ForgerNode<Forger> {
public:
    Forger() : ForgerNode(AF_INET) {}
    ~Forger() { Stop(); }
    // An echo reply from source with the given numbers and data.
    void Reply(const char* source, std::uint16_t ident, std::uint16_t sequence,
               const std::vector<std::uint8_t>& data) {
        send(source, Family4::EchoMessage(icmppacket::EchoReply, ident, sequence, data));
    }
    // A host-unreachable report from source that quotes an echo request
    // of the client to destination with the given numbers.
    void Unreachable(const char* source, const char* destination, std::uint16_t ident,
                     std::uint16_t sequence) {
        send(source,
             Family4::ErrorQuoting(icmppacket::DestUnreachable, 1, destination, ident, sequence));
    }

private:
    void send(const char* source, const std::vector<std::uint8_t>& icmp) {
        const std::vector<std::uint8_t> packet = Family4::Datagram(source, net::Client, icmp);
        const sockaddr_in to = Family4::SocketAddress(net::Client);
        ::sendto(fd, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                 sizeof to);
    }
};

} // namespace

// Answers, silence, routers' reports, both families and a subnet of which
// only every tenth host answers, all in flight at once on the family's one
// socket: every request gets exactly its own outcome, once.
TEST_P(AsyncEchoRoutes, EveryRequestInFlightGetsExactlyItsOwnOutcome) {
    constexpr std::uint32_t Timeout = 400;
    Seen far, far6, quiet, quiet6, hostUnreachable, netUnreachable6, firstHop;
    std::vector<Seen> tenth(100);
    send(net::Far, 64, 3000, far);
    send(net::Far6, 64, 3000, far6);
    send(net::Quiet, 64, Timeout, quiet);
    send(net::Quiet6, 64, Timeout, quiet6);
    send(net::HostUnreachable, 64, 3000, hostUnreachable);
    send(net::NetUnreachable6, 64, 3000, netUnreachable6);
    send(net::Far, 1, 3000, firstHop);
    for (int i = 0; i < 100; ++i)
        send(std::string(net::TenthNet) + std::to_string(i + 1), 64, Timeout, tenth[i]);
    ASSERT_TRUE(WaitUntil([&] { return echo.InFlight() == 0; }));

    for (Seen* s : {&far, &far6, &quiet, &quiet6, &hostUnreachable, &netUnreachable6, &firstHop})
        EXPECT_EQ(s->calls, 1);
    EXPECT_EQ(far.outcome.status, IcmpStatus::Success);
    EXPECT_EQ(text(4, far.outcome.from), net::Far);
    EXPECT_EQ(far.outcome.ttl, 61) << "64 less three routers";
    EXPECT_EQ(far6.outcome.status, IcmpStatus::Success);
    EXPECT_EQ(text(6, far6.outcome.from), net::Far6);
    EXPECT_EQ(hostUnreachable.outcome.status, IcmpStatus::DestHostUnreachable);
    EXPECT_EQ(text(4, hostUnreachable.outcome.from), net::R2);
    EXPECT_EQ(netUnreachable6.outcome.status, IcmpStatus::DestNetUnreachable);
    EXPECT_EQ(text(6, netUnreachable6.outcome.from), net::R2_6);
    EXPECT_EQ(firstHop.outcome.status, IcmpStatus::TtlExpiredTransit);
    EXPECT_EQ(text(4, firstHop.outcome.from), net::R1);
    for (Seen* s : {&quiet, &quiet6}) {
        EXPECT_EQ(s->outcome.status, IcmpStatus::ReqTimedOut);
        auto waited = s->outcome.received - s->outcome.sent;
        EXPECT_GE(waited, std::chrono::milliseconds(Timeout));
        EXPECT_LT(waited, std::chrono::milliseconds(Scaled(Timeout + 1000)));
    }
    for (int i = 0; i < 100; ++i) {
        SCOPED_TRACE("host " + std::to_string(i + 1));
        EXPECT_EQ(tenth[i].calls, 1);
        EXPECT_EQ(tenth[i].outcome.status,
                  (i + 1) % 10 == 0 ? IcmpStatus::Success : IcmpStatus::ReqTimedOut);
    }
}

// A forger that sees our numbers still cannot make the silent host answer:
// its replies lack our random data, and a report that quotes our numbers
// for another destination is not about our request. The same report for
// our request's destination is taken: it shows the forged packets arrive.
TEST_P(AsyncEchoRoutes, ForgedAnswersAndReportsAboutOtherRequestsAreIgnored) {
    if (GetParam() == AsyncEcho::Route::Broker)
        GTEST_SKIP() << "the broker numbers and checks its requests itself";
    auto next = echo.NextNumbers(4);
    ASSERT_TRUE(next);
    const AsyncEcho::Numbers n = *next;
    std::vector<std::uint8_t> pattern(56);
    for (std::size_t i = 0; i < pattern.size(); ++i)
        pattern[i] = static_cast<std::uint8_t>('a' + i % 23);
    Forger forger;
    ASSERT_TRUE(forger.Ready());
    forger.Repeat([&](Forger& f) {
        f.Reply(net::Quiet, n.ident, n.sequence, pattern);
        f.Reply(net::Quiet, n.ident, n.sequence, std::vector<std::uint8_t>(56, 0));
        f.Reply(net::Forger, n.ident, n.sequence, pattern);
        f.Unreachable(net::Far, net::Far, n.ident, n.sequence);
    });
    Seen quiet;
    send(net::Quiet, 64, 1000, quiet);
    ASSERT_TRUE(WaitUntil([&] { return quiet.calls > 0; }));
    forger.Stop();
    EXPECT_EQ(quiet.calls, 1);
    EXPECT_EQ(quiet.outcome.status, IcmpStatus::ReqTimedOut)
        << "taken from " << text(4, quiet.outcome.from);

    next = echo.NextNumbers(4);
    ASSERT_TRUE(next);
    Forger reporter;
    reporter.Repeat(
        [m = *next](Forger& f) { f.Unreachable(net::Far, net::Quiet, m.ident, m.sequence); });
    Seen reported;
    send(net::Quiet, 64, 3000, reported);
    ASSERT_TRUE(WaitUntil([&] { return reported.calls > 0; }));
    reporter.Stop();
    EXPECT_EQ(reported.outcome.status, IcmpStatus::DestHostUnreachable);
    EXPECT_EQ(text(4, reported.outcome.from), net::Far);
}

// Destroying the engine with requests in flight calls none of them back;
// a later one on a new engine works as before.
TEST_P(AsyncEchoRoutes, RequestsInFlightEndSilentlyWithTheEngine) {
    Seen dropped;
    {
        AsyncEcho other;
        other.PreferRouteForTests(GetParam());
        AsyncEcho::Options options;
        options.timeoutMs = 200;
        other.Send(target(net::Quiet), options,
                   [&](const AsyncEcho::Outcome&) { ++dropped.calls; });
        other.Send(target(net::Far), options, [&](const AsyncEcho::Outcome&) { ++dropped.calls; });
    }
    Seen far;
    send(net::Far, 64, 3000, far);
    ASSERT_TRUE(WaitUntil([&] { return far.calls > 0; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(dropped.calls, 0);
    EXPECT_EQ(far.outcome.status, IcmpStatus::Success);
}

// An event loop that reads the answers late (a busy window, a loaded
// machine) still reports the wire's round trips: the kernel's receive
// time, not the time of reading. The answers of the far host and of its
// first router (an error-queue entry on a datagram socket) both arrive
// within milliseconds, while this thread does not look for 300 ms.
TEST_P(AsyncEchoRoutes, LateReadersReportTheWiresRoundTrip) {
    Seen far, far6, firstHop;
    send(net::Far, 64, 3000, far);
    send(net::Far6, 64, 3000, far6);
    send(net::Far, 1, 3000, firstHop);
    // Not a wait for a result: the reader is kept away, as by other work.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_TRUE(WaitUntil([&] { return echo.InFlight() == 0; }));
    for (Seen* s : {&far, &far6, &firstHop}) {
        EXPECT_EQ(s->calls, 1);
        const auto rtt = s->outcome.received - s->outcome.sent;
        EXPECT_GT(rtt, std::chrono::nanoseconds(0));
        EXPECT_LT(rtt, std::chrono::milliseconds(150)) << "the time of reading, not of arrival";
    }
    EXPECT_EQ(far.outcome.status, IcmpStatus::Success);
    EXPECT_EQ(firstHop.outcome.status, IcmpStatus::TtlExpiredTransit);
}

INSTANTIATE_TEST_SUITE_P(Routes, AsyncEchoRoutes,
                         testing::Values(AsyncEcho::Route::Datagram, AsyncEcho::Route::Raw,
                                         AsyncEcho::Route::Broker),
                         [](const auto& info) {
                             switch (info.param) {
                             case AsyncEcho::Route::Raw:
                                 return "Raw";
                             case AsyncEcho::Route::Broker:
                                 return "Broker";
                             default:
                                 return "Datagram";
                             }
                         });

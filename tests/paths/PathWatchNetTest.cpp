// The path engine on the routed test network with the real echo path: the
// routers and the far host hop by hop with their names, for both families;
// a target that never answers; forged router reports never counted.
#include "paths/PathReport.h"
#include "paths/PathWatch.h"

#include "platform/IcmpPacket.h"
#include "support/EventWait.h"
#include "support/ForgerNode.h"
#include "support/IpFamily.h"
#include "support/TestNetwork.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace netsonde::test;
using paths::PathWatch;
namespace icmppacket = platform::icmppacket;

namespace {

const bool network = (RequestTestNetwork(), true);

constexpr int RoundTimeoutMs = 1000;

std::unique_ptr<PathWatch> watchOn(const char* target,
                                   std::shared_ptr<paths::EchoSender> sender = nullptr) {
    const auto parsed = paths::ParseTarget(QString::fromLatin1(target));
    EXPECT_TRUE(parsed) << target;
    auto watch = sender ? std::make_unique<PathWatch>(*parsed, std::move(sender))
                        : std::make_unique<PathWatch>(*parsed);
    watch->SetTimeoutMs(RoundTimeoutMs);
    return watch;
}

// Runs count rounds one after the other.
bool runRounds(PathWatch& watch, int count) {
    int ended = 0;
    QObject::connect(&watch, &PathWatch::RoundEnded, &watch, [&ended] { ++ended; });
    for (int i = 0; i < count; ++i) {
        watch.RunRound();
        if (!WaitUntil([&] { return ended == i + 1; }))
            return false;
    }
    QObject::disconnect(&watch, &PathWatch::RoundEnded, &watch, nullptr);
    return true;
}

std::vector<std::string> addresses(const paths::HopFigures& hop) {
    std::vector<std::string> out;
    for (const paths::ResponderFigures& r : hop.responders)
        out.push_back(r.address.ToString().toStdString());
    return out;
}

struct Path {
    const char* target;
    std::vector<const char*> hops;
    std::vector<const char*> names;
};

void PrintTo(const Path& path, std::ostream* out) {
    *out << path.target;
}

class PathToFar : public testing::TestWithParam<Path> {
protected:
    void SetUp() override {
        if (!InTestNetwork())
            GTEST_SKIP() << TestNetworkProblem();
    }
};

// A Time Exceeded from the forger node in any name, quoting an echo
// request of the client with the given numbers to destination.
class TimeExceededForger : public ForgerNode<TimeExceededForger> {
public:
    TimeExceededForger() : ForgerNode(AF_INET) {}
    ~TimeExceededForger() { Stop(); }
    void Send(const char* source, const char* destination, std::uint16_t ident,
              std::uint16_t sequence) {
        std::vector<std::uint8_t> icmp{icmppacket::TimeExceeded, 0, 0, 0, 0, 0, 0, 0};
        const std::vector<std::uint8_t> quoted = Family4::Datagram(
            net::Client, destination,
            icmppacket::BuildEchoRequest(ident, sequence, std::vector<std::uint8_t>(56, 'a')));
        icmp.insert(icmp.end(), quoted.begin(), quoted.end());
        const std::uint16_t sum = icmppacket::Checksum(icmp);
        icmp[2] = static_cast<std::uint8_t>(sum >> 8);
        icmp[3] = static_cast<std::uint8_t>(sum);
        const std::vector<std::uint8_t> packet = Family4::Datagram(source, net::Client, icmp);
        const sockaddr_in to = Family4::SocketAddress(net::Client);
        ::sendto(fd, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                 sizeof to);
    }
};

} // namespace

// Rounds find the three routers and the far host at TTL 1 to 4, the target's
// distance, every hop answering, and the names the local DNS gives them.
TEST_P(PathToFar, FindsEachHopWithItsName) {
    const Path& path = GetParam();
    auto watch = watchOn(path.target);
    ASSERT_TRUE(runRounds(*watch, 3));
    EXPECT_EQ(watch->Distance(), 4);
    EXPECT_EQ(watch->ProbedTtls(), 4);
    ASSERT_TRUE(WaitUntil([&] {
        const paths::PathFigures f = watch->Figures();
        for (const paths::HopFigures& hop : f.hops)
            if (hop.responders.empty() || hop.responders[0].name.isEmpty())
                return false;
        return true;
    })) << paths::ReportText(watch->Figures()).toStdString();
    const paths::PathFigures f = watch->Figures();
    ASSERT_EQ(f.hops.size(), path.hops.size()) << paths::ReportText(f).toStdString();
    for (std::size_t i = 0; i < path.hops.size(); ++i) {
        SCOPED_TRACE("hop " + std::to_string(i + 1));
        EXPECT_EQ(addresses(f.hops[i]), std::vector<std::string>{path.hops[i]});
        EXPECT_EQ(f.hops[i].responders[0].name.toStdString(), path.names[i]);
        EXPECT_EQ(f.hops[i].answered, f.hops[i].sent);
        EXPECT_GT(f.hops[i].rtt.meanMs, 0);
    }
    EXPECT_EQ(paths::RouteText(watch->StableRoute()).count(QLatin1Char(' ')), 3);
}

INSTANTIATE_TEST_SUITE_P(
    Families, PathToFar,
    testing::Values(Path{net::Far,
                         {net::R1, net::R2, net::R3, net::Far},
                         {"r1.nsd.test", "r2.nsd.test", "r3.nsd.test", "far.nsd.test"}},
                    Path{net::Far6,
                         {net::R1_6, net::R2_6, net::R3_6, net::Far6},
                         {"r1.nsd.test", "r2.nsd.test", "r3.nsd.test", "six.nsd.test"}}),
    [](const auto& info) { return info.param.target == std::string(net::Far) ? "IPv4" : "IPv6"; });

// A target that never answers leaves its distance unknown: the routers
// answer, and the hop after the last of them is shown without an answer
// rather than as a loss of the path. Likewise where a router drops the
// traffic without a word.
TEST(PathWatchNet, HopsWithoutAnswerEndThePath) {
    if (!InTestNetwork())
        GTEST_SKIP() << TestNetworkProblem();
    struct Case {
        std::string target;
        std::vector<const char*> routers;
    };
    const std::vector<Case> cases{{net::Quiet, {net::R1, net::R2, net::R3}},
                                  {std::string(net::SilentNet) + "5", {net::R1}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        auto watch = watchOn(c.target.c_str());
        watch->SetMaxTtl(6);
        watch->SetTimeoutMs(300);
        watch->SetResolveNames(false);
        ASSERT_TRUE(runRounds(*watch, 2));
        const paths::PathFigures f = watch->Figures();
        EXPECT_EQ(f.distance, 0);
        EXPECT_EQ(watch->ProbedTtls(), 6);
        ASSERT_GE(f.hops.size(), c.routers.size() + 1) << paths::ReportText(f).toStdString();
        for (std::size_t i = 0; i < c.routers.size(); ++i)
            EXPECT_EQ(addresses(f.hops[i]), std::vector<std::string>{c.routers[i]});
        const paths::HopFigures& last = f.hops.back();
        EXPECT_TRUE(last.silent);
        EXPECT_TRUE(last.responders.empty());
        EXPECT_EQ(last.sent, 2U);
        EXPECT_NE(paths::ReportText(f).indexOf(QStringLiteral("no answer")), -1);
    }
}

// A forger that sees the numbers of our requests sends Time Exceeded
// reports in routers' names quoting them for another destination, or
// quoting other numbers to our target: none of them makes a hop, and the
// silent hops beyond the last router stay silent.
TEST(PathWatchNet, ForgedTimeExceededIsNeverCounted) {
    if (!InTestNetwork())
        GTEST_SKIP() << TestNetworkProblem();
    auto sender = std::make_shared<paths::AsyncEchoSender>();
    sender->Engine().PreferRouteForTests(platform::AsyncEcho::Route::Raw);
    ASSERT_EQ(sender->Engine().RouteFor(4), platform::AsyncEcho::Route::Raw);
    const auto next = sender->Engine().NextNumbers(4);
    ASSERT_TRUE(next);
    const platform::AsyncEcho::Numbers n = *next;
    constexpr int Ttls = 6;
    constexpr int Rounds = 2;
    TimeExceededForger forger;
    ASSERT_TRUE(forger.Ready());
    forger.Repeat([n](TimeExceededForger& f) {
        for (int i = 0; i < Ttls * Rounds; ++i) {
            const auto sequence = static_cast<std::uint16_t>(n.sequence + i);
            f.Send("10.61.5.1", net::Far, n.ident, sequence);
            f.Send(net::Forger, net::Far, n.ident, sequence);
            f.Send("10.61.5.1", net::Quiet, n.ident, static_cast<std::uint16_t>(sequence + 1000));
            f.Send("10.61.5.1", net::Quiet, static_cast<std::uint16_t>(n.ident + 1), sequence);
        }
    });
    auto watch = watchOn(net::Quiet, sender);
    watch->SetMaxTtl(Ttls);
    watch->SetResolveNames(false);
    ASSERT_TRUE(runRounds(*watch, Rounds));
    forger.Stop();
    const paths::PathFigures f = watch->Figures();
    ASSERT_EQ(f.hops.size(), 4U) << paths::ReportText(f).toStdString();
    const std::vector<const char*> routers{net::R1, net::R2, net::R3};
    for (std::size_t i = 0; i < routers.size(); ++i)
        EXPECT_EQ(addresses(f.hops[i]), std::vector<std::string>{routers[i]});
    EXPECT_TRUE(f.hops[3].silent);
}

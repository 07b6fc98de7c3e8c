// The path engine on the routed test network with the real echo path: the
// routers and the far host hop by hop with their names, for both families;
// a target that never answers; forged router reports never counted. Then
// what a user meets on real paths, made on the network while a test runs
// and undone when it ends: a router that limits or withholds its Time
// Exceeded reports, unreachable networks, a route switched mid-run and
// switched back and forth, and a hop with two responders.
#include "paths/PathReport.h"
#include "paths/PathWatch.h"

#include "platform/IcmpPacket.h"
#include "support/EventWait.h"
#include "support/ForgerNode.h"
#include "support/IpFamily.h"
#include "support/TestNetwork.h"

#include <QDateTime>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
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
        const std::vector<std::uint8_t> icmp =
            Family4::ErrorQuoting(icmppacket::TimeExceeded, 0, destination, ident, sequence);
        const std::vector<std::uint8_t> packet = Family4::Datagram(source, net::Client, icmp);
        const sockaddr_in to = Family4::SocketAddress(net::Client);
        ::sendto(fd, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                 sizeof to);
    }
};

bool shell(const std::string& command) {
    const int rc = std::system(command.c_str());
    EXPECT_EQ(rc, 0) << command;
    return rc == 0;
}

std::string inNode(const char* node) {
    return "ip netns exec " + NodeNamespace(node) + " ";
}

// Commands that put the network back as the other tests expect it, run
// last first when the test ends, however it ends. Each is added before the
// change it undoes is made, so a change that half failed is undone too.
class Undo {
public:
    Undo() = default;
    Undo(const Undo&) = delete;
    Undo& operator=(const Undo&) = delete;
    ~Undo() {
        for (auto c = commands.rbegin(); c != commands.rend(); ++c)
            (void)std::system((*c + " 2>/dev/null").c_str());
    }
    void Add(std::string command) { commands.push_back(std::move(command)); }

private:
    std::vector<std::string> commands;
};

// Loads an nft table into a node until undo runs.
bool addTable(Undo& undo, const char* node, const std::string& table, const std::string& body) {
    undo.Add(inNode(node) + "nft delete table " + table);
    return shell(inNode(node) + "nft -f - <<'EOF'\ntable " + table + " {\n" + body + "}\nEOF");
}

// Lets the running watch end rounds until it has ended count in all, then
// stops it and waits for those in flight.
bool runUntil(PathWatch& watch, std::uint64_t count, int boundMs = 20000) {
    const bool ran = WaitUntil([&] { return watch.Figures().rounds >= count; }, boundMs);
    watch.Pause();
    return WaitUntil([&] { return watch.RoundsInFlight() == 0; }) && ran;
}

// The route changes a watch reports.
struct Changes {
    explicit Changes(PathWatch& watch) {
        QObject::connect(&watch, &PathWatch::RouteChanged, &watch,
                         [this](const paths::RouteChange& c) { seen.push_back(c); });
    }
    std::vector<paths::RouteChange> seen;
};

std::string routeText(const paths::Route& route) {
    return paths::RouteText(route).toStdString();
}

// A watch for the network cases: no names, a few TTLs, short time-outs.
std::unique_ptr<PathWatch> quickWatchOn(const char* target) {
    auto watch = watchOn(target);
    watch->SetMaxTtl(6);
    watch->SetTimeoutMs(300);
    watch->SetIntervalMs(PathWatch::MinIntervalMs);
    watch->SetResolveNames(false);
    return watch;
}

struct FamilyPath {
    const char* target;
    std::vector<const char*> hops;
};

const std::vector<FamilyPath> toFar{{net::Far, {net::R1, net::R2, net::R3, net::Far}},
                                    {net::Far6, {net::R1_6, net::R2_6, net::R3_6, net::Far6}}};

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

// r2 keeps its Time Exceeded reports to two a second while the far host
// answers every round: r2's row shows its own loss, none of it forwarded,
// and the hops around it and the far host lose nothing.
TEST(PathWatchNet, ARateLimitedRouterShowsItsOwnLossOnly) {
    if (!InTestNetwork())
        GTEST_SKIP() << TestNetworkProblem();
    Undo undo;
    ASSERT_TRUE(addTable(undo, "r2", "inet limited",
                         " chain out { type filter hook output priority 0;\n"
                         "  icmp type time-exceeded limit rate over 2/second burst 2 packets drop\n"
                         "  icmpv6 type time-exceeded limit rate over 2/second burst 2 packets "
                         "drop\n"
                         " }\n"));
    for (const FamilyPath& path : toFar) {
        SCOPED_TRACE(path.target);
        auto watch = quickWatchOn(path.target);
        watch->Start();
        ASSERT_TRUE(runUntil(*watch, 15));
        const paths::PathFigures f = watch->Figures();
        const std::string report = paths::ReportText(f).toStdString();
        ASSERT_EQ(f.hops.size(), 4U) << report;
        for (std::size_t i = 0; i < f.hops.size(); ++i) {
            SCOPED_TRACE("hop " + std::to_string(i + 1));
            EXPECT_EQ(addresses(f.hops[i]), std::vector<std::string>{path.hops[i]}) << report;
            EXPECT_EQ(f.hops[i].forwardedLossPercent, 0.0) << report;
            if (i == 1) {
                EXPECT_GT(f.hops[i].recentLossPercent, 0.0) << report;
                EXPECT_LT(f.hops[i].recentLossPercent, 100.0) << report;
            } else {
                EXPECT_EQ(f.hops[i].recentLossPercent, 0.0) << report;
                EXPECT_EQ(f.hops[i].lossPercent, 0.0) << report;
            }
        }
    }
}

// A router that sends no Time Exceeded at all shows as a hop without an
// answer or address, not as a loss of the path: the hops beyond it and the
// far host answer every round, and nothing of its silence is forwarded
// loss or a route change.
TEST(PathWatchNet, ASilentRouterIsAHopWithoutAnswerNotPathLoss) {
    if (!InTestNetwork())
        GTEST_SKIP() << TestNetworkProblem();
    for (const FamilyPath& path : toFar) {
        for (const char* node : {"r1", "r2"}) {
            SCOPED_TRACE(std::string(path.target) + " with " + node + " silent");
            const std::size_t silent = node == std::string("r1") ? 0 : 1;
            Undo undo;
            ASSERT_TRUE(addTable(undo, node, "inet silent",
                                 " chain out { type filter hook output priority 0;\n"
                                 "  icmp type time-exceeded drop\n"
                                 "  icmpv6 type time-exceeded drop\n"
                                 " }\n"));
            auto watch = quickWatchOn(path.target);
            const Changes changes(*watch);
            ASSERT_TRUE(runRounds(*watch, 4));
            const paths::PathFigures f = watch->Figures();
            const QString report = paths::ReportText(f);
            ASSERT_EQ(f.hops.size(), 4U) << report.toStdString();
            EXPECT_EQ(f.distance, 4);
            for (std::size_t i = 0; i < f.hops.size(); ++i) {
                SCOPED_TRACE("hop " + std::to_string(i + 1));
                const paths::HopFigures& hop = f.hops[i];
                EXPECT_EQ(hop.sent, 4U);
                EXPECT_EQ(hop.forwardedLossPercent, 0.0);
                EXPECT_EQ(hop.silent, i == silent);
                if (i == silent) {
                    EXPECT_TRUE(hop.responders.empty());
                } else {
                    EXPECT_EQ(addresses(hop), std::vector<std::string>{path.hops[i]});
                    EXPECT_EQ(hop.answered, 4U);
                }
            }
            // Its row reads "no answer" with no loss figure.
            const QStringList lines = report.split(QLatin1Char('\n'));
            ASSERT_GT(lines.size(), static_cast<qsizetype>(silent + 2));
            const QString row = lines[static_cast<qsizetype>(silent + 2)];
            EXPECT_TRUE(row.contains(QStringLiteral("no answer"))) << report.toStdString();
            EXPECT_FALSE(row.contains(QStringLiteral("100.0"))) << report.toStdString();
            EXPECT_TRUE(changes.seen.empty());
        }
    }
}

// r2 reports the destination's network or host unreachable: the path ends
// at r2's report, later rounds probe no further, and the route stands
// still. Where r2 rejects by a filter rule in its forwarding, a request
// that expires at r2 still gets its Time Exceeded, so r2 answers at two
// TTLs; a missing route (fd00:61:8::/64) is reported before the TTL counts.
TEST(PathWatchNet, AnUnreachableReportEndsThePathAtTheRouter) {
    if (!InTestNetwork())
        GTEST_SKIP() << TestNetworkProblem();
    struct Case {
        const char* target;
        std::vector<const char*> hops;
    };
    const std::vector<Case> cases{{net::NetUnreachable, {net::R1, net::R2, net::R2}},
                                  {net::HostUnreachable, {net::R1, net::R2, net::R2}},
                                  {net::NetUnreachable6, {net::R1_6, net::R2_6}},
                                  {net::HostUnreachable6, {net::R1_6, net::R2_6, net::R2_6}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        auto watch = quickWatchOn(c.target);
        const Changes changes(*watch);
        ASSERT_TRUE(runRounds(*watch, 3));
        const paths::PathFigures f = watch->Figures();
        const int length = static_cast<int>(c.hops.size());
        ASSERT_EQ(f.hops.size(), c.hops.size()) << paths::ReportText(f).toStdString();
        EXPECT_EQ(f.distance, length);
        EXPECT_EQ(watch->ProbedTtls(), length);
        std::string route;
        for (std::size_t i = 0; i < c.hops.size(); ++i) {
            EXPECT_EQ(addresses(f.hops[i]), std::vector<std::string>{c.hops[i]});
            route += (i > 0 ? " " : "") + std::string(c.hops[i]);
        }
        EXPECT_EQ(f.hops.back().answered, 3U);
        EXPECT_EQ(routeText(watch->StableRoute()), route);
        EXPECT_TRUE(changes.seen.empty());
    }
}

// r1 is given a shortcut link to r3 and takes it for the far host's network
// mid-run, then gives it up once the new route has stood longer than a
// flap: each switch is reported within two rounds that started after it,
// with the routes before and after. Switching back and forth quickly after
// that is one flapping event while it lasts and one when it settles.
TEST(PathWatchNet, ARouteSwitchedMidRunIsAChangeAndQuickSwitchesAreFlapping) {
    if (!InTestNetwork())
        GTEST_SKIP() << TestNetworkProblem();
    const std::string r1 = "ip -n " + NodeNamespace("r1") + " ";
    const std::string r3 = "ip -n " + NodeNamespace("r3") + " ";
    Undo undo;
    undo.Add(r1 + "link del sc1"); // takes the shortcut route with it
    ASSERT_TRUE(shell("ip link add sc1 netns " + NodeNamespace("r1") +
                      " type veth peer name sc3 netns " + NodeNamespace("r3")));
    ASSERT_TRUE(shell(r1 + "addr add 10.61.11.1/24 dev sc1 && " + r1 + "link set sc1 up"));
    ASSERT_TRUE(shell(r3 + "addr add 10.61.11.2/24 dev sc3 && " + r3 + "link set sc3 up"));
    const std::string shortcut = r1 + "route replace 10.61.4.0/24 via 10.61.11.2";
    const std::string direct = r1 + "route del 10.61.4.0/24";
    // r3 still reports and forwards towards the client through r2, from
    // its address there.
    const std::string longRoute = "10.61.1.1 10.61.2.2 10.61.3.2 10.61.4.2";
    const std::string shortRoute = "10.61.1.1 10.61.3.2 10.61.4.2";

    auto watch = quickWatchOn(net::Far);
    watch->SetTimeoutMs(500);
    const Changes changes(*watch);
    watch->Start();
    ASSERT_TRUE(WaitUntil([&] { return routeText(watch->StableRoute()) == longRoute; }));

    // Switches the route and waits for its next event: the rounds that
    // started after the switch until the deciding one, or 0 for none.
    const auto switchTo = [&](const std::string& command) {
        const std::size_t before = changes.seen.size();
        if (!shell(command))
            return 0;
        const qint64 switchedMs = QDateTime::currentMSecsSinceEpoch();
        if (!WaitUntil([&] { return changes.seen.size() > before; }))
            return 0;
        return static_cast<int>((changes.seen.back().timeMs - switchedMs) / watch->IntervalMs()) +
               1;
    };
    const auto expectEvent = [&](std::size_t index, paths::RouteChange::Kind kind,
                                 const std::string& before, const std::string& after) {
        ASSERT_GT(changes.seen.size(), index);
        const paths::RouteChange& c = changes.seen[index];
        EXPECT_EQ(static_cast<int>(c.kind), static_cast<int>(kind));
        EXPECT_EQ(routeText(c.before), before);
        EXPECT_EQ(routeText(c.after), after);
    };
    using Kind = paths::RouteChange::Kind;

    int rounds = switchTo(shortcut);
    EXPECT_GE(rounds, 1);
    EXPECT_LE(rounds, 2);
    expectEvent(0, Kind::Changed, longRoute, shortRoute);
    EXPECT_EQ(watch->Distance(), 3);

    const std::uint64_t changedAt = watch->Figures().rounds;
    ASSERT_TRUE(WaitUntil(
        [&] { return watch->Figures().rounds > changedAt + paths::RouteTracker::SettleRounds; },
        20000));
    rounds = switchTo(direct);
    EXPECT_GE(rounds, 1);
    EXPECT_LE(rounds, 2);
    expectEvent(1, Kind::Changed, shortRoute, longRoute);
    EXPECT_FALSE(watch->Flapping());

    // Back and forth, each route held just long enough to be taken.
    switchTo(shortcut);
    expectEvent(2, Kind::FlappingBegan, longRoute, shortRoute);
    EXPECT_TRUE(watch->Flapping());
    for (const std::string* command : {&direct, &shortcut, &direct}) {
        const std::string& expected = command == &direct ? longRoute : shortRoute;
        ASSERT_TRUE(shell(*command));
        ASSERT_TRUE(WaitUntil([&] { return routeText(watch->StableRoute()) == expected; }));
    }
    EXPECT_EQ(changes.seen.size(), 3U);
    EXPECT_TRUE(watch->Flapping());
    ASSERT_TRUE(WaitUntil([&] { return changes.seen.size() > 3; }, 20000));
    expectEvent(3, Kind::FlappingEnded, shortRoute, longRoute);
    EXPECT_FALSE(watch->Flapping());
    watch->Pause();
    EXPECT_EQ(changes.seen.size(), 4U);
}

// r1 answers every second Time Exceeded from a second address on the
// client's link, as two routers behind one balancer would: hop 1 has two
// rows, each with its own answers, and their taking turns is neither a
// route change nor flapping.
TEST(PathWatchNet, TwoRespondersAtOneHopAreTwoRowsNotRouteChanges) {
    if (!InTestNetwork())
        GTEST_SKIP() << TestNetworkProblem();
    struct Case {
        const char* target;
        const char* r1;
        const char* second;
        const char* prefix; // the second address's on the link
        const char* family; // of the nft table and the addresses it sets
        const char* icmp;
    };
    const std::vector<Case> cases{{net::Far, net::R1, "10.61.1.11", "/24", "ip", "icmp"},
                                  {net::Far6, net::R1_6, "fd00:61:1::11", "/64", "ip6", "icmpv6"}};
    const std::string r1 = "ip -n " + NodeNamespace("r1") + " ";
    constexpr int Rounds = 10;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        Undo undo;
        const std::string second = std::string(c.second) + c.prefix + " dev r1a";
        undo.Add(r1 + "addr del " + second);
        ASSERT_TRUE(shell(r1 + "addr add " + second + " nodad"));
        // A router's errors are related to no connection of its own, so only
        // a stateless rewrite changes their source; nft mends the checksums.
        // Both sources are named: which one r1 would pick itself is its own
        // choice.
        ASSERT_TRUE(addTable(undo, "r1", std::string(c.family) + " balanced",
                             std::string(" chain out { type filter hook output priority 0;\n  ") +
                                 c.icmp + " type time-exceeded " + c.family +
                                 " saddr set numgen inc mod 2 map { 0 : " + c.r1 +
                                 ", 1 : " + c.second + " }\n }\n"));
        auto watch = quickWatchOn(c.target);
        const Changes changes(*watch);
        ASSERT_TRUE(runRounds(*watch, Rounds));
        const paths::PathFigures f = watch->Figures();
        const std::string report = paths::ReportText(f).toStdString();
        ASSERT_EQ(f.hops.size(), 4U) << report;
        const paths::HopFigures& hop = f.hops[0];
        EXPECT_EQ(hop.answered, static_cast<std::uint64_t>(Rounds));
        std::vector<std::string> found = addresses(hop);
        std::sort(found.begin(), found.end());
        EXPECT_EQ(found, (std::vector<std::string>{c.r1, c.second})) << report;
        for (const paths::ResponderFigures& r : hop.responders) {
            SCOPED_TRACE(r.address.ToString().toStdString());
            EXPECT_EQ(r.answered, static_cast<std::uint64_t>(Rounds / 2));
            EXPECT_EQ(r.recentMs.size(), static_cast<std::size_t>(Rounds / 2));
        }
        EXPECT_EQ(hop.forwardedLossPercent, 0.0);
        for (std::size_t i = 1; i < f.hops.size(); ++i)
            EXPECT_EQ(f.hops[i].answered, static_cast<std::uint64_t>(Rounds));
        EXPECT_TRUE(changes.seen.empty()) << routeText(changes.seen.front().after);
        EXPECT_FALSE(watch->Flapping());
    }
}

// The prober's paths over a scripted echo sender: the same figures as a
// watch used directly (as the desktop uses it) for the same rounds, counters
// that never go back when the path shrinks and grows, responders that expire
// ten minutes after their last answer, and reloads that keep the counters of
// the paths that stay.
#include "probe/Prober.h"

#include "paths/PathWatch.h"
#include "platform/IcmpTypes.h"
#include "support/FakeEchoSender.h"
#include "support/FakeNameService.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <string>
#include <vector>

using namespace probe;
using namespace netsonde::test;
using namespace std::chrono_literals;

namespace {

constexpr const char* Target = "192.0.2.99";

std::array<std::uint8_t, 16> bytes(const std::string& text) {
    std::array<std::uint8_t, 16> b{};
    EXPECT_EQ(::inet_pton(AF_INET, text.c_str(), b.data()), 1) << text;
    return b;
}

// Ends every waiting request by a script of one round: for TTL k the
// character path[k-1]: a digit n is router 192.0.2.n's time exceeded, 'D'
// the target's reply, '-' no answer; TTLs beyond the script answer as its
// last character does when it is 'D'. The round trip at TTL k of round r is
// 10·k ms plus a part that changes from round to round.
void endRound(FakeEchoSender& fake, const std::string& path, int round) {
    fake.EndAll([&](int ttl, platform::AsyncEcho::Outcome& o) {
        const auto k = static_cast<std::size_t>(ttl - 1);
        const char c = k < path.size() ? path[k] : (path.back() == 'D' ? 'D' : '-');
        o.status = IcmpStatus::ReqTimedOut;
        if (c >= '0' && c <= '9') {
            o.status = IcmpStatus::TtlExpiredTransit;
            o.from = bytes(std::string("192.0.2.") + c);
        } else if (c == 'D') {
            o.status = IcmpStatus::Success;
            o.from = bytes(Target);
        }
        return 10.0 * ttl + 1.7 * ((round * 7 + ttl * 3) % 11);
    });
}

ProbeConfig slowPaths() {
    ProbeConfig c;
    c.pathIntervalMs = 60'000; // rounds after the first one are run by the test
    return c;
}

// A prober whose paths send to a fake and whose clock the test sets.
struct ScriptedProber {
    ScriptedProber() : prober(slowPaths()) {
        prober.SetPathSenderForTests(fake);
        prober.SetClockForTests([this] { return now; });
    }
    // One round of every path: the first one starts with SetPaths.
    void Round(const std::string& path) {
        if (rounds > 0)
            for (const Prober::PathView& p : prober.Paths())
                prober.PathWatchForTests(p.host)->RunRound();
        endRound(*fake, path, rounds++);
    }
    const Prober::PathView& Path(const char* host) {
        views = prober.Paths();
        for (const Prober::PathView& p : views)
            if (p.host == QLatin1String(host))
                return p;
        ADD_FAILURE() << "no path " << host;
        return views.front();
    }
    std::vector<std::string> Responders(const char* host) {
        std::vector<std::string> out;
        for (const HopResponder& r : Path(host).stats.responders)
            out.push_back(std::to_string(r.ttl) + ' ' + r.address.toStdString());
        return out;
    }

    FakeNameService names; // no reverse names: none reach the real resolver
    std::shared_ptr<FakeEchoSender> fake = std::make_shared<FakeEchoSender>();
    PathSeries::Clock::time_point now = PathSeries::Clock::time_point(1h);
    Prober prober;
    int rounds = 0;
    std::vector<Prober::PathView> views;
};

} // namespace

// One recorded sequence of rounds into a watch used on its own, as the
// desktop uses it, and into the prober's series: loss, forwarded loss,
// answers, jitter, the histogram's count and sum, the distance and the route
// change come out the same.
TEST(ProberPaths, TheSameFiguresAsTheDesktopForTheSamePath) {
    // Hop 2 keeps its answers short now and then (its own loss), the whole
    // path loses some rounds from hop 2 on (forwarded loss), and hop 3
    // moves from router 3 to router 7 halfway.
    std::vector<std::string> recorded;
    for (int r = 0; r < 40; ++r) {
        const char third = r < 20 ? '3' : '7';
        std::string round = std::string("12") + third + 'D';
        if (r % 7 == 3)
            round[1] = '-';
        if (r % 9 == 5)
            round = "1---";
        recorded.push_back(round);
    }
    auto desktopSender = std::make_shared<FakeEchoSender>();
    paths::PathWatch desktop(*paths::ParseTarget(QString::fromLatin1(Target)), desktopSender);
    desktop.SetResolveNames(false);
    int desktopChanges = 0;
    QObject::connect(&desktop, &paths::PathWatch::RouteChanged,
                     [&](const paths::RouteChange&) { ++desktopChanges; });
    ScriptedProber p;
    p.prober.SetPaths({{QString::fromLatin1(Target)}});
    for (std::size_t r = 0; r < recorded.size(); ++r) {
        desktop.RunRound();
        endRound(*desktopSender, recorded[r], static_cast<int>(r));
        p.Round(recorded[r]);
    }

    const paths::PathFigures want = desktop.Figures();
    const PathStats got = p.Path(Target).stats;
    EXPECT_EQ(got.hops, want.distance);
    EXPECT_EQ(got.hops, 4);
    EXPECT_EQ(desktopChanges, 1);
    EXPECT_EQ(got.changes, 1u);
    ASSERT_EQ(got.hopStats.size(), want.hops.size());
    for (std::size_t k = 0; k < want.hops.size(); ++k) {
        SCOPED_TRACE("TTL " + std::to_string(k + 1));
        const paths::HopFigures& w = want.hops[k];
        const HopStats& g = got.hopStats[k];
        EXPECT_EQ(g.ttl, w.ttl);
        EXPECT_EQ(g.requests, w.sent);
        EXPECT_EQ(g.answers, w.answered);
        EXPECT_DOUBLE_EQ(100.0 * static_cast<double>(g.requests - g.answers) /
                             static_cast<double>(g.requests),
                         w.lossPercent);
        EXPECT_DOUBLE_EQ(g.forwardedLoss * 100, w.forwardedLossPercent);
        EXPECT_DOUBLE_EQ(g.jitter * 1000, w.rtt.jitterMs);
        std::uint64_t inBuckets = 0;
        for (std::uint64_t n : g.rttBuckets)
            inBuckets += n;
        EXPECT_EQ(inBuckets, w.answered);
        EXPECT_NEAR(g.rttSum * 1000, w.rtt.meanMs * static_cast<double>(w.answered), 1e-6);
    }
    // Hop 2 lost more than it passed on; hop 4's loss is all forwarded.
    EXPECT_GT(want.hops[1].recentLossPercent, want.hops[1].forwardedLossPercent);
    EXPECT_GT(got.hopStats[3].forwardedLoss, 0);
    // Both routers of hop 3 answered within ten minutes.
    EXPECT_EQ(p.Responders(Target),
              (std::vector<std::string>{"1 192.0.2.1", "2 192.0.2.2", "3 192.0.2.3", "3 192.0.2.7",
                                        "4 192.0.2.99"}));
}

// The watch drops the hops beyond the target when it comes closer and
// starts them from zero when it moves away again; the counters go on.
TEST(ProberPaths, CountersNeverGoBackWhenThePathShrinksAndGrows) {
    ScriptedProber p;
    p.prober.SetPaths({{QString::fromLatin1(Target)}});
    for (const char* round : {"12D", "12D", "12D", "1D", "1D", "12D", "12D"})
        p.Round(round);
    const PathStats s = p.Path(Target).stats;
    ASSERT_EQ(s.hopStats.size(), 3u);
    EXPECT_EQ(s.hops, 3);
    EXPECT_EQ(s.hopStats[0].requests, 7u);
    EXPECT_EQ(s.hopStats[0].answers, 7u);
    // TTL 2 was the target for two rounds and a router for five; TTL 3 was
    // probed in the first three rounds and the last one (the round before
    // found a router at TTL 2 where the target had been: the path grew).
    EXPECT_EQ(s.hopStats[1].answers, 7u);
    EXPECT_EQ(s.hopStats[2].requests, 4u);
    EXPECT_EQ(s.hopStats[2].answers, 4u);
}

// A responder's info is shown until ten minutes after its last answer, and
// again once it answers again.
TEST(ProberPaths, ResponderInfoGoesTenMinutesAfterTheLastAnswer) {
    ScriptedProber p;
    p.prober.SetPaths({{QString::fromLatin1(Target)}});
    p.Round("13D");
    p.now += 5min;
    p.Round("15D");
    using List = std::vector<std::string>;
    EXPECT_EQ(p.Responders(Target),
              (List{"1 192.0.2.1", "2 192.0.2.3", "2 192.0.2.5", "3 192.0.2.99"}));
    p.now += 5min - 1s; // router 3 answered 9:59 ago
    EXPECT_EQ(p.Responders(Target).size(), 4u);
    p.now += 2s;
    EXPECT_EQ(p.Responders(Target), (List{"1 192.0.2.1", "2 192.0.2.5", "3 192.0.2.99"}));
    p.Round("15D"); // the next round forgets nothing it should show
    EXPECT_EQ(p.Responders(Target), (List{"1 192.0.2.1", "2 192.0.2.5", "3 192.0.2.99"}));
    p.Round("13D");
    EXPECT_EQ(p.Responders(Target),
              (List{"1 192.0.2.1", "2 192.0.2.3", "2 192.0.2.5", "3 192.0.2.99"}));
}

// A reload keeps the watch and counters of a path that stays, with its new
// settings, drops the paths that left and starts the new ones.
TEST(ProberPaths, AReloadKeepsTheCountersOfThePathsThatStay) {
    ScriptedProber p;
    p.prober.SetPaths({{"192.0.2.98"}, {QString::fromLatin1(Target)}});
    p.Round("1D");
    p.Round("1D");
    paths::PathWatch* kept = p.prober.PathWatchForTests(QString::fromLatin1(Target));
    p.prober.SetPaths({{QString::fromLatin1(Target), 30'000, 5, 200}, {"192.0.2.97"}});
    EXPECT_EQ(p.prober.PathWatchForTests(QString::fromLatin1(Target)), kept);
    EXPECT_EQ(p.prober.PathWatchForTests(QStringLiteral("192.0.2.98")), nullptr);
    EXPECT_EQ(kept->IntervalMs(), 30'000);
    EXPECT_EQ(kept->MaxTtl(), 5);
    EXPECT_EQ(kept->TimeoutMs(), 200);
    EXPECT_EQ(p.Path(Target).stats.hopStats.at(0).requests, 2u);
    EXPECT_EQ(p.Path("192.0.2.97").stats.hopStats.size(), 0u);
    p.fake->EndAll([](int, platform::AsyncEcho::Outcome& o) {
        o.status = IcmpStatus::ReqTimedOut;
        return 0.0;
    });
    ASSERT_EQ(p.prober.Paths().size(), 2u);
    EXPECT_EQ(p.prober.Paths()[0].host, QString::fromLatin1(Target));
    EXPECT_EQ(p.Path(Target).stats.hopStats.at(0).requests, 2u);
}

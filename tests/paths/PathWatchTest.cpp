// The path engine over a scripted echo sender: rounds, loss told apart by
// where it continues, load-balanced hops, the distance to the target, route
// changes and flapping, names, minute summaries, and a watch that goes with
// requests and lookups in flight.
#include "paths/PathWatch.h"

#include "platform/IcmpTypes.h"
#include "support/EventWait.h"
#include "support/FakeEchoSender.h"
#include "support/FakeNameService.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <map>
#include <memory>
#include <string>
#include <vector>

using namespace netsonde::test;
using paths::PathWatch;
using paths::RouteChange;

namespace {

constexpr const char* TargetText = "192.0.2.99";

paths::Address address(const std::string& text) {
    paths::Address a;
    a.family = 4;
    EXPECT_EQ(::inet_pton(AF_INET, text.c_str(), a.bytes.data()), 1) << text;
    return a;
}

// Router n of the scripts is 192.0.2.n.
std::string router(char n) {
    return std::string("192.0.2.") + n;
}

// A watch on the target over a fake sender, names not looked up unless a
// test asks for them.
struct Scripted {
    Scripted() : watch(*paths::ParseTarget(QString::fromLatin1(TargetText)), fake) {
        watch.SetResolveNames(false);
        watch.SetWallClockForTests([this] { return nowMs; });
        QObject::connect(&watch, &PathWatch::RouteChanged,
                         [this](const RouteChange& c) { changes.push_back(c); });
        QObject::connect(&watch, &PathWatch::MinuteClosed,
                         [this](const QList<paths::MinuteSummary>& m) { minutes.push_back(m); });
    }

    // One round, scripted by path: for TTL k the character path[k-1]: a
    // digit n is router n's Time Exceeded, 'D' the target's reply, 'U' an
    // unreachable report from router 9, 'F' a reply from an address that is
    // not the target, 'x' a request that could not be sent, '-' no answer.
    // TTLs beyond the script answer 'D' when the script ends with 'D' (as a
    // target does), else not at all. Round trips: rtts[k-1], or 10·k ms.
    void Round(const std::string& path, const std::vector<double>& rtts = {}) {
        watch.RunRound();
        fake->EndAll([&](int ttl, platform::AsyncEcho::Outcome& o) {
            const auto k = static_cast<std::size_t>(ttl - 1);
            char c = k < path.size() ? path[k] : (path.back() == 'D' ? 'D' : '-');
            o.status = IcmpStatus::ReqTimedOut;
            if (c >= '0' && c <= '9') {
                o.status = IcmpStatus::TtlExpiredTransit;
                o.from = address(router(c)).bytes;
            } else if (c == 'D') {
                o.status = IcmpStatus::Success;
                o.from = address(TargetText).bytes;
            } else if (c == 'U') {
                o.status = IcmpStatus::DestHostUnreachable;
                o.from = address(router('9')).bytes;
            } else if (c == 'F') {
                o.status = IcmpStatus::Success;
                o.from = address("198.51.100.1").bytes;
            } else if (c == 'x') {
                o.status = IcmpStatus::NoResources;
            }
            return k < rtts.size() ? rtts[k] : 10.0 * ttl;
        });
    }
    void Rounds(const std::string& path, int count) {
        for (int i = 0; i < count; ++i)
            Round(path);
    }

    std::shared_ptr<FakeEchoSender> fake = std::make_shared<FakeEchoSender>();
    qint64 nowMs = 1'700'000'080'000; // 40 s into a minute
    PathWatch watch;
    std::vector<RouteChange> changes;
    std::vector<QList<paths::MinuteSummary>> minutes;
};

std::string routeText(const paths::Route& route) {
    return paths::RouteText(route).toStdString();
}

} // namespace

// Hop 2 drops in rounds where the target still answers: that is the router
// keeping its own answers short, its hop-only loss. When nothing after hop 2
// answers either, the loss is the path's and counts as forwarded at every
// hop from the first one that lost.
TEST(PathWatch, HopOnlyLossIsTheRoutersOwnForwardedLossIsThePaths) {
    Scripted s;
    s.Rounds("123D", 6);
    s.Rounds("1-3D", 2);
    s.Rounds("1---", 2);
    const paths::PathFigures f = s.watch.Figures();
    ASSERT_EQ(f.hops.size(), 4U);
    EXPECT_EQ(f.rounds, 10U);
    struct Expected {
        double loss;
        double forwarded;
    };
    const std::vector<Expected> expected{{0, 0}, {40, 20}, {20, 20}, {20, 20}};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("hop " + std::to_string(i + 1));
        EXPECT_EQ(f.hops[i].sent, 10U);
        EXPECT_DOUBLE_EQ(f.hops[i].lossPercent, expected[i].loss);
        EXPECT_DOUBLE_EQ(f.hops[i].recentLossPercent, expected[i].loss);
        EXPECT_DOUBLE_EQ(f.hops[i].forwardedLossPercent, expected[i].forwarded);
    }
    // The ring covers the last 100 rounds only.
    s.Rounds("123D", 100);
    const paths::PathFigures later = s.watch.Figures();
    EXPECT_DOUBLE_EQ(later.hops[1].recentLossPercent, 0);
    EXPECT_DOUBLE_EQ(later.hops[1].forwardedLossPercent, 0);
    EXPECT_NEAR(later.hops[1].lossPercent, 400.0 / 110, 1e-9);
}

// A router that never answers is a silent hop without an address, and it
// shares none of the path's loss; a target that never answers ends the hops
// shown one beyond the last router, as a silent hop too.
TEST(PathWatch, AHopThatNeverAnswersIsSilentNotALossOfThePath) {
    Scripted s;
    s.Rounds("1-3D", 3);
    paths::PathFigures f = s.watch.Figures();
    ASSERT_EQ(f.hops.size(), 4U);
    EXPECT_TRUE(f.hops[1].silent);
    EXPECT_TRUE(f.hops[1].responders.empty());
    EXPECT_DOUBLE_EQ(f.hops[1].forwardedLossPercent, 0);
    EXPECT_FALSE(f.hops[2].silent);
    EXPECT_DOUBLE_EQ(f.hops[3].recentLossPercent, 0);

    Scripted quiet;
    quiet.watch.SetMaxTtl(8);
    quiet.Rounds("123", 3);
    f = quiet.watch.Figures();
    EXPECT_EQ(f.distance, 0);
    EXPECT_EQ(quiet.watch.ProbedTtls(), 8);
    ASSERT_EQ(f.hops.size(), 4U);
    EXPECT_TRUE(f.hops[3].silent);
    EXPECT_EQ(f.hops[3].sent, 3U);
}

// Two routers answering at one TTL in turn are two rows of that hop, each
// with its own figures; the hop's figures hold them both, and their turns
// are no route change. Each keeps its own recent round trips.
TEST(PathWatch, EachResponderOfALoadBalancedHopIsARowOfItsOwn) {
    Scripted s;
    for (int i = 0; i < 3; ++i) {
        s.Round("15D", {1, 20, 30});
        s.Round("16D", {1, 40, 30});
    }
    const paths::PathFigures f = s.watch.Figures();
    ASSERT_EQ(f.hops.size(), 3U);
    const paths::HopFigures& hop = f.hops[1];
    ASSERT_EQ(hop.responders.size(), 2U);
    EXPECT_EQ(hop.responders[0].address, address(router('5')));
    EXPECT_EQ(hop.responders[1].address, address(router('6')));
    EXPECT_EQ(hop.responders[0].answered, 3U);
    EXPECT_EQ(hop.responders[1].answered, 3U);
    EXPECT_EQ(hop.responders[1].sent, 5U) << "since its first answer in round 2";
    EXPECT_DOUBLE_EQ(hop.responders[0].rtt.meanMs, 20);
    EXPECT_DOUBLE_EQ(hop.responders[1].rtt.meanMs, 40);
    EXPECT_DOUBLE_EQ(hop.responders[1].rtt.jitterMs, 0);
    EXPECT_EQ(hop.responders[0].recentMs, (std::vector<double>{20, 20, 20}));
    EXPECT_EQ(hop.responders[1].recentMs, (std::vector<double>{40, 40, 40}));
    EXPECT_EQ(hop.answered, 6U);
    EXPECT_DOUBLE_EQ(hop.rtt.jitterMs, 20);
    EXPECT_TRUE(s.changes.empty());
}

// A route change takes ChangeRounds consecutive rounds that agree with each
// other and not with the route held; a hop that merely did not answer
// matches anything, so a round that matches both routes decides nothing.
TEST(PathWatch, RouteChangesAfterItsRoundsAndNotBefore) {
    struct Case {
        const char* name;
        int changeRounds;
        std::vector<std::string> rounds;
        std::vector<std::string> afters; // the route after each change
    };
    const std::vector<Case> cases{
        {"one differing round", 2, {"123D", "123D", "153D"}, {}},
        {"two differing rounds",
         2,
         {"123D", "123D", "153D", "153D"},
         {"192.0.2.1 192.0.2.5 192.0.2.3 192.0.2.99"}},
        {"silence is no change", 2, {"123D", "1-3D", "1--D", "---D", "12-D"}, {}},
        {"interrupted", 2, {"123D", "153D", "123D", "153D", "123D"}, {}},
        {"three rounds asked", 3, {"123D", "153D", "153D"}, {}},
        {"a round matching both neither counts nor resets",
         3,
         {"123D", "153D", "1-3D", "153D"},
         {}},
        {"three rounds given",
         3,
         {"123D", "153D", "1-3D", "153D", "153D"},
         {"192.0.2.1 192.0.2.5 192.0.2.3 192.0.2.99"}},
        {"a longer path", 2, {"12D", "123D", "123D"}, {"192.0.2.1 192.0.2.2 192.0.2.3 192.0.2.99"}},
        {"unknown hops learnt first", 2, {"1--D", "123D", "123D"}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scripted s;
        s.watch.SetChangeRounds(c.changeRounds);
        for (const std::string& r : c.rounds)
            s.Round(r);
        ASSERT_EQ(s.changes.size(), c.afters.size());
        for (std::size_t i = 0; i < c.afters.size(); ++i) {
            EXPECT_EQ(s.changes[i].kind, RouteChange::Kind::Changed);
            EXPECT_EQ(routeText(s.changes[i].after), c.afters[i]);
            EXPECT_EQ(s.changes[i].timeMs, s.nowMs);
        }
    }
    Scripted s;
    s.Rounds("123D", 2);
    s.Rounds("153D", 2);
    ASSERT_EQ(s.changes.size(), 1U);
    EXPECT_EQ(routeText(s.changes[0].before), "192.0.2.1 192.0.2.2 192.0.2.3 192.0.2.99");
    EXPECT_EQ(routeText(s.watch.StableRoute()), "192.0.2.1 192.0.2.5 192.0.2.3 192.0.2.99");
}

// Switching back and forth between two routes is one change, then one
// flapping event and silence while it goes on; staying on one route ends it
// with one more event, and a third route is a change again.
TEST(PathWatch, FlappingBetweenTwoRoutesIsOneEventNotAChangeEachTime) {
    Scripted s;
    s.Rounds("123D", 2);
    for (int i = 0; i < 5; ++i) {
        s.Rounds("153D", 2);
        s.Rounds("123D", 2);
    }
    ASSERT_EQ(s.changes.size(), 2U);
    EXPECT_EQ(s.changes[0].kind, RouteChange::Kind::Changed);
    EXPECT_EQ(s.changes[1].kind, RouteChange::Kind::FlappingBegan);
    EXPECT_EQ(routeText(s.changes[1].after), "192.0.2.1 192.0.2.2 192.0.2.3 192.0.2.99");
    EXPECT_TRUE(s.watch.Flapping());
    EXPECT_TRUE(s.watch.Figures().flapping);

    s.Rounds("123D", static_cast<int>(paths::RouteTracker::SettleRounds) - 1);
    EXPECT_EQ(s.changes.size(), 2U);
    s.Round("123D");
    ASSERT_EQ(s.changes.size(), 3U);
    EXPECT_EQ(s.changes[2].kind, RouteChange::Kind::FlappingEnded);
    EXPECT_FALSE(s.watch.Flapping());

    Scripted third;
    third.Rounds("123D", 2);
    third.Rounds("153D", 2);
    third.Rounds("123D", 2);
    third.Rounds("173D", 2);
    ASSERT_EQ(third.changes.size(), 3U);
    EXPECT_EQ(third.changes[2].kind, RouteChange::Kind::Changed);
    EXPECT_FALSE(third.watch.Flapping());
}

// Rounds probe every TTL up to the maximum until the target answers, then
// up to the target; a router where the target was sends them out to the
// maximum again, and a nearer target shortens the path at once.
TEST(PathWatch, TheDistanceToTheTargetBoundsTheRoundsAndTheHops) {
    Scripted s;
    s.watch.SetMaxTtl(8);
    s.Round("12D");
    EXPECT_EQ(s.fake->sent, 8);
    EXPECT_EQ(s.watch.Distance(), 3);
    EXPECT_EQ(s.watch.Figures().hops.size(), 3U);
    s.Round("12D");
    EXPECT_EQ(s.fake->sent, 11);

    s.Round("123");
    EXPECT_EQ(s.watch.Distance(), 0) << "router 3 where the target was";
    s.Round("1234D");
    EXPECT_EQ(s.fake->sent, 11 + 3 + 8);
    EXPECT_EQ(s.watch.Distance(), 5);
    EXPECT_EQ(s.watch.Figures().hops.size(), 5U);

    s.Round("1D");
    EXPECT_EQ(s.watch.Distance(), 2);
    EXPECT_EQ(s.watch.Figures().hops.size(), 2U);

    Scripted unreachable;
    unreachable.watch.SetMaxTtl(8);
    unreachable.Round("1UUUUUUU");
    EXPECT_EQ(unreachable.watch.Distance(), 2) << "the reporting router ends the path";
}

// Only answers to the request count: a reply from another address is no
// answer, and a request that could not be sent counts as neither sent nor
// lost.
TEST(PathWatch, OnlyAnswersToTheRequestCount) {
    Scripted s;
    s.watch.SetMaxTtl(3);
    s.Round("1xF");
    s.Round("12F");
    const paths::PathFigures f = s.watch.Figures();
    EXPECT_EQ(f.distance, 0);
    ASSERT_EQ(f.hops.size(), 3U);
    EXPECT_EQ(f.hops[1].sent, 1U);
    EXPECT_EQ(f.hops[1].answered, 1U);
    EXPECT_EQ(f.hops[2].sent, 2U);
    EXPECT_EQ(f.hops[2].answered, 0U);
}

// A watch destroyed with a round in flight on a shared sender is never
// called: the outcomes that arrive afterwards find it gone. Reset leaves
// rounds in flight uncounted too.
TEST(PathWatch, RoundsInFlightEndSilentlyAfterDestructionOrReset) {
    auto fake = std::make_shared<FakeEchoSender>();
    int ended = 0;
    {
        PathWatch watch(*paths::ParseTarget(QString::fromLatin1(TargetText)), fake);
        watch.SetResolveNames(false);
        QObject::connect(&watch, &PathWatch::RoundEnded, [&ended] { ++ended; });
        watch.RunRound();
        EXPECT_EQ(watch.RoundsInFlight(), 1);
    }
    ASSERT_FALSE(fake->waiting.empty());
    fake->EndAll([](int, platform::AsyncEcho::Outcome& o) {
        o.status = IcmpStatus::ReqTimedOut;
        return 1.0;
    });
    EXPECT_EQ(ended, 0);

    Scripted s;
    s.Rounds("12D", 2);
    s.watch.RunRound();
    s.watch.Reset();
    s.fake->EndAll([](int, platform::AsyncEcho::Outcome& o) {
        o.status = IcmpStatus::ReqTimedOut;
        return 1.0;
    });
    EXPECT_EQ(s.watch.Figures().rounds, 0U);
    EXPECT_TRUE(s.watch.Figures().hops.empty());
    EXPECT_EQ(s.watch.RoundsInFlight(), 0);
}

// Rounds of one minute add up in one record per hop and per responder,
// closed by the first round of the next minute.
TEST(PathWatch, AMinutesSummaryHoldsItsSums) {
    Scripted s;
    s.Round("12D", {1, 4, 30});
    s.Round("1-D", {3, 0, 30});
    s.Round("13D", {2, 8, 30});
    EXPECT_TRUE(s.minutes.empty());
    const qint64 minuteStart = s.nowMs - 40'000;
    s.nowMs += 20'000;
    s.Round("12D");
    ASSERT_EQ(s.minutes.size(), 1U);
    std::map<std::pair<int, std::string>, paths::MinuteSummary> records;
    for (const paths::MinuteSummary& m : s.minutes[0]) {
        EXPECT_EQ(m.minuteStartMs, minuteStart);
        records[{m.ttl, m.responder.ToString().toStdString()}] = m;
    }
    ASSERT_EQ(records.size(), 3U + 2U + 2U);

    const paths::MinuteSummary& hop1 = records.at({1, ""});
    EXPECT_EQ(hop1.sent, 3U);
    EXPECT_EQ(hop1.answered, 3U);
    EXPECT_DOUBLE_EQ(hop1.rttSumMs, 6);
    EXPECT_DOUBLE_EQ(hop1.rttSquaresMs, 14);
    EXPECT_DOUBLE_EQ(hop1.diffSumMs, 3);
    EXPECT_EQ(hop1.diffCount, 2U);
    EXPECT_EQ(hop1.histogram[paths::HistogramBucket(1)], 1U);
    EXPECT_EQ(hop1.histogram[paths::HistogramBucket(3)], 2U);

    const paths::MinuteSummary& hop2 = records.at({2, ""});
    EXPECT_EQ(hop2.sent, 3U);
    EXPECT_EQ(hop2.answered, 2U);
    EXPECT_EQ(hop2.forwardedLost, 0U) << "the target answered";
    EXPECT_DOUBLE_EQ(hop2.diffSumMs, 4);
    const paths::MinuteSummary& second = records.at({2, router('2')});
    EXPECT_EQ(second.sent, 3U);
    EXPECT_EQ(second.answered, 1U);
    EXPECT_EQ(second.diffCount, 0U);
    EXPECT_EQ(records.at({2, router('3')}).answered, 1U);
    EXPECT_EQ(records.at({3, TargetText}).answered, 3U);
}

// Names come from reverse lookups on workers: a round ends while its
// lookup is held, each address is asked once, and a lookup that ends after
// its watch is gone touches nothing.
TEST(PathWatch, NamesAreLookedUpOnceBesideTheRounds) {
    FakeNameService names;
    names.AddReverse("192.0.2.1", "r1.example");
    names.AddReverse(TargetText, "target.example");
    names.HoldLookups(true);
    {
        Scripted s;
        s.watch.SetResolveNames(true);
        std::map<std::string, std::string> resolved;
        QObject::connect(&s.watch, &PathWatch::NameResolved,
                         [&](const paths::Address& a, const QString& n) {
                             resolved[a.ToString().toStdString()] = n.toStdString();
                         });
        s.Round("12D");
        EXPECT_EQ(s.watch.Figures().rounds, 1U);
        ASSERT_TRUE(names.WaitForHeld(3));
        s.Round("12D");
        names.ReleaseAll();
        ASSERT_TRUE(WaitUntil([&] { return resolved.size() == 2; }));
        EXPECT_EQ(resolved["192.0.2.1"], "r1.example");
        EXPECT_EQ(s.watch.Figures().hops[2].responders[0].name, "target.example");
        EXPECT_TRUE(s.watch.Figures().hops[1].responders[0].name.isEmpty());
        EXPECT_EQ(names.Lookups().size(), 3U);
    }
    names.HoldLookups(true);
    {
        Scripted s;
        s.watch.SetResolveNames(true);
        s.Round("4D");
        ASSERT_TRUE(names.WaitForHeld(2));
    }
    names.ReleaseAll();
    QCoreApplication::processEvents();
}

// Settings outside their ranges take the nearest bound.
TEST(PathWatch, SettingsAreClamped) {
    Scripted s;
    const std::vector<std::pair<int, int>> intervals{
        {100, PathWatch::MinIntervalMs}, {5000, 5000}, {70000, PathWatch::MaxIntervalMs}};
    for (auto [given, kept] : intervals) {
        s.watch.SetIntervalMs(given);
        EXPECT_EQ(s.watch.IntervalMs(), kept);
    }
    const std::vector<std::pair<int, int>> ttls{{0, 1}, {30, 30}, {100, PathWatch::MaxTtlLimit}};
    for (auto [given, kept] : ttls) {
        s.watch.SetMaxTtl(given);
        EXPECT_EQ(s.watch.MaxTtl(), kept);
    }
    EXPECT_EQ(PathWatch(*paths::ParseTarget(QStringLiteral("192.0.2.1")), s.fake).MaxTtl(),
              PathWatch::DefaultMaxTtl);
}

// The watch over hosts: which runs move a host between unknown, up,
// degraded and down, and what a round's notice says.
#include "alerts/HostStates.h"

#include <QDateTime>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using alerts::Change;
using alerts::Limits;
using alerts::Reason;
using alerts::Run;
using alerts::THostStates;
using states::HostState;

namespace {

constexpr HostState U = HostState::Unknown;
constexpr HostState Ok = HostState::Up;
constexpr HostState Dg = HostState::Degraded;
constexpr HostState Dn = HostState::Down;

// A run in short: its echoes' round-trip times, comma-separated, "-" for an
// echo without answer, "" for a run that failed before its first echo.
Run R(const char* echoes, qint64 timeMs = 0) {
    Run run;
    run.TimeMs = timeMs;
    const QString text = QString::fromLatin1(echoes);
    if (!text.isEmpty())
        for (const QString& e : text.split(QLatin1Char(',')))
            run.Echoes.append(e == QLatin1String("-") ? -1 : e.toInt());
    return run;
}

// A step of a case: the run, the state after it, and the change it makes
// (the state left), if any.
struct Step {
    const char* run;
    HostState after;
    std::optional<HostState> from = std::nullopt;
};

struct Case {
    const char* name;
    Limits limits;
    std::vector<Step> steps;
};

Limits With(std::function<void(Limits&)> set) {
    Limits l;
    set(l);
    return l;
}

const Limits NoLoss = With([](Limits& l) { l.LossPercent = 0; });

class Transitions : public testing::TestWithParam<Case> {};

TEST_P(Transitions, StepByStep) {
    const Case& c = GetParam();
    THostStates states(c.limits);
    qint64 t = 1000;
    int n = 0;
    for (const Step& s : c.steps) {
        ++n;
        const std::optional<Change> change = states.Feed("h", R(s.run, t += 30000));
        EXPECT_EQ(states.State("h"), s.after) << "step " << n << " run \"" << s.run << '"';
        ASSERT_EQ(change.has_value(), s.from.has_value())
            << "step " << n << " run \"" << s.run << '"';
        if (change) {
            EXPECT_EQ(change->From, *s.from) << "step " << n;
            EXPECT_EQ(change->To, s.after) << "step " << n;
            EXPECT_EQ(change->TimeMs, t) << "step " << n;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    HostStates, Transitions,
    testing::Values(
        // The first answer says at once that the host is up.
        Case{"StartsAnswering", NoLoss, {{"5", Ok, U}, {"5", Ok}}},
        // A silent host stays unknown until F runs failed, then comes back
        // only after S answering runs.
        Case{"StartsSilent",
             NoLoss,
             {{"-", U}, {"-", U}, {"-", Dn, U}, {"-", Dn}, {"5", Dn}, {"5", Ok, Dn}}},
        // An answer between failures of an unknown host makes it up.
        Case{"SilentThenAnswers", NoLoss, {{"-", U}, {"-", U}, {"5", Ok, U}, {"-", Ok}}},
        // One or two lost runs are no outage.
        Case{"SingleLostRun",
             NoLoss,
             {{"5", Ok, U}, {"-", Ok}, {"5", Ok}, {"-", Ok}, {"-", Ok}, {"5", Ok}}},
        Case{"DownAfterThreeFailures",
             NoLoss,
             {{"5", Ok, U}, {"-", Ok}, {"-", Ok}, {"-", Dn, Ok}, {"-", Dn}, {"-", Dn}}},
        // A host that answers every other run is never down, and once down
        // it is not back until S runs in a row answered.
        Case{"FlappingWhileUp",
             NoLoss,
             {{"5", Ok, U}, {"-", Ok}, {"5", Ok}, {"-", Ok}, {"-", Ok}, {"5", Ok}, {"-", Ok}}},
        Case{"FlappingWhileDown",
             NoLoss,
             {{"5", Ok, U},
              {"-", Ok},
              {"-", Ok},
              {"-", Dn, Ok},
              {"5", Dn},
              {"-", Dn},
              {"5", Dn},
              {"-", Dn},
              {"5", Dn},
              {"5", Ok, Dn}}},
        // F = 1 and S = 1: every run decides.
        Case{"NoHysteresis",
             With([](Limits& l) {
                 l.FailuresToDown = 1;
                 l.AnswersToUp = 1;
                 l.LossPercent = 0;
             }),
             {{"-", Dn, U}, {"5", Ok, Dn}, {"-", Dn, Ok}}},
        // Settings of 0 or below are taken as 1.
        Case{"NonsenseCountsMeanOne",
             With([](Limits& l) {
                 l.FailuresToDown = 0;
                 l.AnswersToUp = -4;
                 l.LossPercent = 0;
             }),
             {{"5", Ok, U}, {"-", Dn, Ok}, {"5", Ok, Dn}}},
        // A ping is one run: one answer of four makes it an answering run,
        // four lost echoes make one failed run, not four.
        Case{"PingRuns",
             NoLoss,
             {{"5,5,5,5", Ok, U},
              {"-,-,-,5", Ok},
              {"-,-,-,-", Ok},
              {"-,-,-,-", Ok},
              {"5,-,-,-", Ok},
              {"-,-,-,-", Ok},
              {"-,-,-,-", Ok},
              {"-,-,-,-", Dn, Ok}}},
        // A run that failed before its first echo (a name that does not
        // resolve) is a failed run.
        Case{"ErrorRunsFail", NoLoss, {{"5", Ok, U}, {"", Ok}, {"", Ok}, {"", Dn, Ok}}},
        // Over the fixed limit in S runs in a row: degraded; a failure in
        // between neither confirms nor clears it.
        Case{"SlowOverFixedLimit",
             With([](Limits& l) {
                 l.RttLimitMs = 100;
                 l.LossPercent = 0;
             }),
             {{"20", Ok, U},
              {"150", Ok},
              {"20", Ok},
              {"150", Ok},
              {"-", Ok},
              {"150", Dg, Ok},
              {"20", Dg},
              {"150", Dg},
              {"20", Dg},
              {"20", Ok, Dg}}},
        // A ping is judged by its median: one slow echo of three is not slow.
        Case{"PingJudgedByMedian",
             With([](Limits& l) {
                 l.RttLimitMs = 100;
                 l.LossPercent = 0;
             }),
             {{"20,900,20", Ok, U}, {"20,900,20", Ok}, {"900,900,20", Ok}, {"20,900,900", Dg, Ok}}},
        // A degraded host goes down like any other, and may come back slow.
        Case{"DegradedGoesDownAndComesBackSlow",
             With([](Limits& l) {
                 l.RttLimitMs = 100;
                 l.LossPercent = 0;
             }),
             {{"150", Dg, U}, {"-", Dg}, {"-", Dg}, {"-", Dn, Dg}, {"150", Dn}, {"150", Dg, Dn}}},
        // Three times the median of the earlier answering runs; the
        // baseline needs three runs before it counts.
        Case{"SlowOverBaseline",
             With([](Limits& l) {
                 l.BaselineFactor = 3;
                 l.LossPercent = 0;
             }),
             {{"20", Ok, U},
              {"200", Ok},
              {"20", Ok},
              {"20", Ok},
              {"70", Ok},
              {"70", Dg, Ok},
              {"20", Dg},
              {"20", Ok, Dg}}},
        // Near hosts: baselines under 10 ms count as 10 ms, so a jump from
        // 1 to 25 ms is not slow at three times the baseline; 31 ms is.
        Case{"BaselineFloor",
             With([](Limits& l) {
                 l.BaselineFactor = 3;
                 l.LossPercent = 0;
             }),
             {{"1", Ok, U}, {"1", Ok}, {"1", Ok}, {"25", Ok}, {"31", Ok}, {"31", Dg, Ok}}},
        // A multiple of 1 is no limit at all.
        Case{"BaselineFactorOneIsOff",
             With([](Limits& l) {
                 l.BaselineFactor = 1;
                 l.LossPercent = 0;
             }),
             {{"20", Ok, U}, {"20", Ok}, {"20", Ok}, {"30", Ok}, {"30", Ok}}},
        // Half the echoes of a window of 8 lost: degraded once the window
        // is full and S answering runs confirmed it.
        Case{"LossyPings",
             With([](Limits& l) {
                 l.LossWindow = 8;
                 l.LossPercent = 25;
             }),
             {{"5,-", Ok, U},
              {"5,-", Ok},
              {"5,-", Ok},
              {"5,-", Ok},
              {"5,-", Dg, Ok},
              {"5,5", Dg},
              {"5,5", Dg},
              {"5,5", Ok, Dg}}},
        // A check that answers every other time is degraded by its losses
        // even though its failures break every run of answers.
        Case{"LossyChecks",
             With([](Limits& l) {
                 l.LossWindow = 4;
                 l.LossPercent = 25;
             }),
             {{"5", Ok, U}, {"-", Ok}, {"5", Ok}, {"-", Ok}, {"5", Ok}, {"-", Ok}, {"5", Dg, Ok}}},
        // Exactly at the limit is not over it.
        Case{"LossAtTheLimit",
             With([](Limits& l) {
                 l.LossWindow = 4;
                 l.LossPercent = 25;
             }),
             {{"5,5,5,-", Ok, U}, {"5,5,5,-", Ok}, {"5,5,5,-", Ok}}},
        // An outage is down, not loss: the window starts afresh after it.
        Case{"OutageLeavesNoLoss",
             With([](Limits& l) {
                 l.LossWindow = 4;
                 l.LossPercent = 25;
             }),
             {{"5", Ok, U},
              {"5", Ok},
              {"5", Ok},
              {"-", Ok},
              {"-", Ok},
              {"-", Dn, Ok},
              {"5", Dn},
              {"5", Ok, Dn},
              {"5", Ok},
              {"5", Ok}}}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// New limits apply from each host's next run, with the counts so far.
// Long stretches of one-echo runs, as the prober sends them, written as a
// pattern: "." an answer of 5 ms, "x" a lost echo. Each case gives the
// changes it must make, in order, and nothing else.
TEST(HostStates, OutagesAndLossPatternsOverLongStretches) {
    struct Pattern {
        const char* name;
        std::string runs;
        std::vector<HostState> changes;
    };
    const auto repeat = [](const std::string& part, int times) {
        std::string all;
        for (int i = 0; i < times; ++i)
            all += part;
        return all;
    };
    const std::string clean = repeat(".", 25);
    // 30 % loss in ones and twos, then 40 % with runs of three: three lost
    // echoes in a row from a host that lost none before are an outage, from
    // one that loses a third of its echoes they are its loss.
    const std::string lossy = repeat("...x..xx..", 2);
    const Pattern patterns[] = {
        // One outage: down once, up again once, and its lost echoes never
        // count as loss afterwards.
        {"outage", clean + repeat("x", 12) + repeat(".", 40), {Ok, Dn, Ok}},
        {"two outages",
         clean + repeat("x", 5) + repeat(".", 30) + repeat("x", 30) + repeat(".", 30),
         {Ok, Dn, Ok, Dn, Ok}},
        // 40 % loss in runs of up to three: degraded while it lasts, never
        // down; an outage in the middle of it still is one.
        {"loss", clean + lossy + repeat("...x..xxx.", 6) + repeat(".", 30), {Ok, Dg, Ok}},
        {"outage amid loss",
         clean + lossy + repeat("...x..xxx.", 2) + repeat("x", 25) + repeat(".", 30),
         {Ok, Dg, Dn, Ok}},
    };
    for (const Pattern& pattern : patterns) {
        SCOPED_TRACE(pattern.name);
        THostStates states;
        std::vector<HostState> seen;
        for (char c : pattern.runs)
            if (const auto change = states.Feed("h", R(c == 'x' ? "-" : "5")))
                seen.push_back(change->To);
        EXPECT_EQ(seen, pattern.changes);
    }
}

TEST(HostStates, LimitsChangedWhileRunning) {
    Limits l;
    l.LossPercent = 0;
    THostStates states(l);
    states.Feed("a", R("5"));
    states.Feed("a", R("-"));
    states.Feed("a", R("-"));
    states.Feed("b", R("5"));
    states.Feed("b", R("-"));
    // Two failures so far; fewer now suffice, but only the next run says so.
    l.FailuresToDown = 2;
    states.SetLimits(l);
    EXPECT_EQ(states.State("a"), Ok);
    EXPECT_EQ(states.Feed("a", R("-"))->To, Dn);
    EXPECT_EQ(states.Feed("b", R("-"))->To, Dn);

    // More answers needed while on the way back.
    states.Feed("a", R("5"));
    l.AnswersToUp = 3;
    states.SetLimits(l);
    EXPECT_FALSE(states.Feed("a", R("5")));
    EXPECT_EQ(states.Feed("a", R("5"))->To, Ok);

    // More failures needed than a down host has had: it stays down.
    l.FailuresToDown = 10;
    states.SetLimits(l);
    EXPECT_EQ(states.State("b"), Dn);

    // A smaller loss window keeps only its newest echoes.
    Limits lossy;
    lossy.LossWindow = 10;
    lossy.LossPercent = 30;
    THostStates c(lossy);
    c.Feed("c", R("5"));
    c.Feed("c", R("5,-,-,-,-,5,5,5,5,5")); // 40 % of 10: one poor run
    EXPECT_EQ(c.State("c"), Ok);
    lossy.LossWindow = 5; // the newest five all answered
    c.SetLimits(lossy);
    EXPECT_FALSE(c.Feed("c", R("5")));
    EXPECT_FALSE(c.Feed("c", R("5")));
    EXPECT_EQ(c.State("c"), Ok);
    // The loss test switched on while running judges the window it has.
    lossy.LossWindow = 4;
    lossy.LossPercent = 10;
    c.SetLimits(lossy);
    c.Feed("c", R("-,5"));
    EXPECT_EQ(c.Feed("c", R("5"))->To, Dg);
}

TEST(HostStates, ChangesCarryTimesAndReasons) {
    Limits l;
    l.RttLimitMs = 100;
    l.LossPercent = 0;
    THostStates states(l);
    EXPECT_EQ(states.StatusOf("h").State, U);
    EXPECT_EQ(states.StatusOf("h").LastAnswerMs, -1);
    states.Feed("h", R("5", 1000));
    states.Feed("h", R("-", 2000));
    states.Feed("h", R("-", 3000));
    const Change down = *states.Feed("h", R("-", 4000));
    EXPECT_EQ(down.LastAnswerMs, 1000);
    EXPECT_EQ(down.Why, Reason::None);
    // Down since its first run without answer.
    EXPECT_EQ(states.StatusOf("h").SinceMs, 2000);
    EXPECT_EQ(states.StatusOf("h").LastAnswerMs, 1000);
    states.Feed("h", R("150", 5000));
    const Change back = *states.Feed("h", R("160", 6000));
    EXPECT_EQ(back.To, Dg);
    EXPECT_EQ(back.Why, Reason::Slow);
    EXPECT_EQ(back.Value, 160);
    EXPECT_EQ(back.Limit, 100);
    EXPECT_EQ(states.StatusOf("h").SinceMs, 6000);

    // Never answered: no last answer.
    states.Feed("n", R("-", 1000));
    states.Feed("n", R("-", 2000));
    EXPECT_EQ(states.Feed("n", R("-", 3000))->LastAnswerMs, -1);
}

TEST(HostStates, HostsAreIndependentAndTheWorstCounts) {
    Limits l;
    l.RttLimitMs = 100;
    l.FailuresToDown = 1;
    THostStates states(l);
    EXPECT_EQ(states.Worst(), U);
    states.Feed("a", R("5"));
    EXPECT_EQ(states.Worst(), Ok);
    states.Feed("b", R("500"));
    EXPECT_EQ(states.Worst(), Dg);
    states.Feed("c", R("-"));
    EXPECT_EQ(states.Worst(), Dn);
    EXPECT_EQ(states.State("a"), Ok);
    // Entries removed from the list are forgotten.
    states.Retain({"a", "b", "x"});
    EXPECT_EQ(states.State("c"), U);
    EXPECT_EQ(states.Worst(), Dg);
    states.Clear();
    EXPECT_EQ(states.State("a"), U);
}

} // namespace

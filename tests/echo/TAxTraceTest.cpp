#include "echo/TAxTrace.h"
#include "RunFixture.h"
#include "echo/TAxPing.h"

using namespace netsonde::test;

namespace {

class TraceRun : public RunTest {
protected:
    void SetUp() override {
        RunTest::SetUp();
        trace = new TAxTrace(&form);
        r.Attach(
            *trace, [this] { return trace->HopText(); }, [this] { return trace->SummaryText(); });
        trace->OnTest = [this](QObject*) {
            r.events << QStringLiteral("test %1").arg(trace->ExpectedHops());
        };
    }
    void Reset() {
        r.events.clear();
        r.finished = 0;
        r.errors = 0;
    }
    std::vector<int> Ttls() const {
        std::vector<int> ttls;
        for (const FakeRequest& req : service.Requests())
            ttls.push_back(req.ttl);
        return ttls;
    }

    TAxTrace* trace = nullptr; // owned by the form
    RunRecorder r;
};

TEST_F(TraceRun, StartsWithItsDefaults) {
    EXPECT_FALSE(trace->SendTestPacket());
    EXPECT_FALSE(trace->Resolve());
    EXPECT_EQ(trace->ExpectedHops(), 0);
    EXPECT_TRUE(trace->HopText().isEmpty());
    EXPECT_TRUE(trace->SummaryText().isEmpty());
}

TEST_F(TraceRun, WalksTheRouteUntilTheDestinationAnswers) {
    service.SetRoute("10.20.30.40", {"10.0.0.1", "10.0.0.2", "10.0.0.3"}, 255, 4);
    Run(*trace, r, "far");
    EXPECT_EQ(r.events,
              (QStringList{"data 11013 1\t4\t10.0.0.1", "data 11013 2\t4\t10.0.0.2",
                           "data 11013 3\t4\t10.0.0.3", "data 0 4\t4\t10.20.30.40\treached",
                           "finished 10.20.30.40 reached in 4 hops."}));
    EXPECT_EQ(Ttls(), (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(trace->Hop(), 4);
    EXPECT_EQ(trace->ExpectedHops(), 0);
}

TEST_F(TraceRun, TheTestEchoPredictsTheHops) {
    service.SetRoute("10.20.30.40", {"10.0.0.1", "10.0.0.2"}, 250, 4);
    trace->SetSendTestPacket(true);
    trace->SetResolve(true);
    names.AddReverse("10.0.0.2", "core");
    Run(*trace, r, "far");
    // The reply left with TTL 250 and passed two routers.
    EXPECT_EQ(r.events, (QStringList{"test 8", "data 11013 1\t4\t10.0.0.1", "data 11013 2\t4\tcore",
                                     "data 0 3\t4\tfar\treached",
                                     "finished far reached in 3 hops. (expected: 8)"}));
    EXPECT_EQ(Ttls(), (std::vector<int>{32, 1, 2, 3})) << "the test goes with the full TTL";
    EXPECT_EQ(trace->ExpectedHops(), 8) << "kept after the run";
    EXPECT_EQ(trace->SummaryText(), "far reached in 3 hops. (expected: 8)") << "kept too";
    EXPECT_TRUE(trace->HopText().isEmpty());
}

TEST(TracePrediction, TheReplysStartingTtlIsTheNearestCommonOneAtOrAboveIt) {
    struct Case {
        int replyTtl;
        int hops;
    };
    const Case cases[] = {{255, 1}, {250, 6}, {129, 127}, {128, 1}, {120, 9}, {65, 64},
                          {64, 1},  {61, 4},  {33, 32},   {32, 1},  {1, 32},  {0, 0}};
    for (const Case& c : cases)
        EXPECT_EQ(TAxTrace::PredictHops(static_cast<std::uint8_t>(c.replyTtl)), c.hops)
            << "reply TTL " << c.replyTtl;
}

TEST_F(TraceRun, TheTestEchoRunsOnAWorkerEvenInBlockingMode) {
    service.SetAnswer("10.20.30.40", FakeAnswer::Echo("10.20.30.40", 1, 255));
    trace->SetSendTestPacket(true);
    trace->SetMode(wsmBlocking);
    Run(*trace, r, "far");
    ASSERT_EQ(service.Requests().size(), 2u);
    EXPECT_NE(service.Requests()[0].thread, std::this_thread::get_id());
    EXPECT_EQ(service.Requests()[1].thread, std::this_thread::get_id());
    EXPECT_EQ(r.events.last(), "finished 10.20.30.40 reached in 1 hops. (expected: 1)");
}

TEST_F(TraceRun, LoopbackNeedsNoTestEcho) {
    service.SetAnswer("127.0.0.1", FakeAnswer::Echo("127.0.0.1", 0));
    trace->SetSendTestPacket(true);
    Run(*trace, r, "127.0.0.1");
    EXPECT_EQ(r.events, (QStringList{"test 1", "data 0 1\t0\t127.0.0.1\treached",
                                     "finished 127.0.0.1 reached in 1 hops. (expected: 1)"}));
    EXPECT_EQ(Ttls(), std::vector<int>{1});

    // Other addresses of the loopback network are tested like any other.
    service.SetAnswer("127.0.0.2", FakeAnswer::Echo("127.0.0.2", 0, 64));
    Reset();
    Run(*trace, r, "127.0.0.2");
    EXPECT_EQ(r.events.first(), "test 1") << "a Linux host next door";
    EXPECT_EQ(service.Requests().size(), 3u);
}

TEST_F(TraceRun, TheHopLimitEndsTheTrace) {
    service.SetDefault(FakeAnswer::NoAnswer());
    trace->SetTimeToLive(3);
    Run(*trace, r, "gateway");
    EXPECT_EQ(r.events,
              (QStringList{"data 11010 1\t*\ttimed out", "data 11010 2\t*\ttimed out",
                           "data 11010 3\t*\ttimed out", "finished gateway: Request timed out"}));

    trace->SetTimeToLive(1);
    Reset();
    Run(*trace, r, "gateway");
    EXPECT_EQ(r.events.size(), 2);
    EXPECT_EQ(Ttls().back(), 1);
    EXPECT_EQ(service.Requests().size(), 4u);
}

TEST_F(TraceRun, UnreachableAndOtherStatusesHaveTheirOwnLines) {
    service.SetAnswer("10.20.30.40", 1, FakeAnswer::IcmpError("10.0.0.1", 11013, 2));
    service.SetAnswer("10.20.30.40", 2, FakeAnswer::NoAnswer());
    service.SetAnswer("10.20.30.40", 3, FakeAnswer::IcmpError("10.0.0.3", 11003));
    service.SetAnswer("10.20.30.40", 4, FakeAnswer::IcmpError("10.0.0.4", 11002));
    service.SetAnswer("10.20.30.40", 5, FakeAnswer::IcmpError("10.0.0.5", 11050));
    service.SetAnswer("10.20.30.40", 6, FakeAnswer::Echo("10.20.30.40", 9));
    Run(*trace, r, "far");
    EXPECT_EQ(r.events, (QStringList{"data 11013 1\t2\t10.0.0.1", "data 11010 2\t*\ttimed out",
                                     "data 11003 From 10.0.0.3: Destination host unreachable",
                                     "data 11002 10.0.0.4: Destination net unreachable",
                                     "data 11050 10.0.0.5: General failure",
                                     "data 0 6\t9\t10.20.30.40\treached",
                                     "finished 10.20.30.40 reached in 6 hops."}));
}

TEST_F(TraceRun, AFailedTestEndsTheRunBeforeAnyHop) {
    trace->SetSendTestPacket(true);
    trace->SetTimeToLive(3);
    service.SetRoute("10.20.30.40", {"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4"});
    Run(*trace, r, "far");
    EXPECT_EQ(r.events, QStringList{"error 11013 TTL expired in transit"});
    EXPECT_TRUE(trace->SummaryText().isEmpty()) << "no hop, nothing to sum up";

    service.SetAnswer("192.168.1.1", FakeAnswer::NoAnswer());
    Reset();
    Run(*trace, r, "gateway");
    EXPECT_EQ(r.events, QStringList{"error 11010 Request timed out"});
    EXPECT_EQ(service.Requests().size(), 2u);
    EXPECT_EQ(r.finished, 0);

    service.SetNoHandle(true);
    Reset();
    Run(*trace, r, "gateway");
    EXPECT_EQ(r.events, QStringList{"error -2147483392 Unable to get a handle for the Ping"});
}

TEST_F(TraceRun, CancelDuringAHop) {
    service.SetDefault(FakeAnswer::NoAnswer());
    service.HoldRequests(true);
    trace->Start("far");
    for (int hop = 1; hop <= 4; ++hop) {
        ASSERT_TRUE(WaitUntil([&] { return service.Requests().size() == std::size_t(hop); }));
        service.ReleaseOne();
    }
    ASSERT_TRUE(WaitUntil([&] { return service.Requests().size() == 5; }));
    trace->Cancel();
    service.ReleaseAll();
    ASSERT_TRUE(WaitUntil([&] { return !trace->Busy(); }));
    ASSERT_EQ(r.events.size(), 6);
    EXPECT_EQ(r.events[4], "data -2147483389 <cancel>");
    EXPECT_EQ(r.events[5], "finished Trace Cancelled after 4 hops.");
}

TEST_F(TraceRun, CancelDuringTheTestTakesEffectAtTheFirstHop) {
    service.SetAnswer("10.20.30.40", FakeAnswer::Echo("10.20.30.40", 1, 250));
    service.HoldRequests(true);
    trace->SetSendTestPacket(true);
    trace->Start("far");
    ASSERT_TRUE(WaitUntil([&] { return service.Requests().size() == 1; }));
    trace->Cancel();
    service.ReleaseAll();
    ASSERT_TRUE(WaitUntil([&] { return !trace->Busy(); }));
    EXPECT_EQ(r.events, (QStringList{"test 6", "data -2147483389 <cancel>",
                                     "finished Trace Cancelled after 0 hops."}));
}

TEST_F(TraceRun, CancelFromOnTestRightAfterResolving) {
    service.SetAnswer("127.0.0.1", FakeAnswer::Echo("127.0.0.1", 0));
    trace->SetSendTestPacket(true);
    trace->OnTest = [this](QObject*) { trace->Cancel(); };
    Run(*trace, r, "127.0.0.1");
    EXPECT_EQ(r.events,
              (QStringList{"data -2147483389 <cancel>", "finished Trace Cancelled after 0 hops."}));
}

TEST_F(TraceRun, DestroyedDuringTheTestEcho) {
    service.HoldRequests(true);
    auto* t = new TAxTrace(&form);
    bool fired = false;
    t->OnTest = [&](QObject*) { fired = true; };
    t->OnError = [&](QObject*, int, const QString&) { fired = true; };
    t->SetSendTestPacket(true);
    t->Start("far");
    ASSERT_TRUE(WaitUntil([&] { return service.Requests().size() == 1; }));
    delete t;
    service.ReleaseAll();
    ASSERT_TRUE(WaitUntil([] { return TPingThread::LiveCount() == 0; }));
    QCoreApplication::processEvents();
    EXPECT_FALSE(fired);
}

TEST_F(TraceRun, ATraceAndAPingRunSideBySide) {
    service.SetRoute("10.20.30.40", {"10.0.0.1", "10.0.0.2"});
    service.SetAnswer("192.168.1.1", FakeAnswer::Echo("192.168.1.1", 1));
    TAxPing ping(&form);
    int pingFinished = 0;
    ping.OnFinished = [&](QObject*) { ++pingFinished; };
    trace->Start("far");
    ping.Start("gateway");
    ASSERT_TRUE(WaitUntil([&] { return r.finished == 1 && pingFinished == 1; }));
    EXPECT_EQ(r.events.last(), "finished 10.20.30.40 reached in 3 hops.");
    EXPECT_EQ(ping.Received(), 5);
}

} // namespace

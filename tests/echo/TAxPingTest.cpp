#include "echo/TAxPing.h"
#include "RunFixture.h"

#include <QDeadlineTimer>
#include <QThread>

#include <algorithm>
#include <set>

using namespace netsonde::test;

namespace {

class PingRun : public RunTest {
protected:
    void SetUp() override {
        RunTest::SetUp();
        ping = new TAxPing(&form);
        Fresh();
    }
    // Forgets the events so far.
    void Fresh() {
        r = RunRecorder{};
        r.Attach(
            *ping, [this] { return ping->ReplyText(); }, [this] { return ping->StatsText(); });
    }
    void Queue(const char* destination, std::initializer_list<int> rtts) {
        for (int rtt : rtts) {
            if (rtt < 0)
                service.QueueAnswer(destination, FakeAnswer::NoAnswer());
            else
                service.QueueAnswer(destination, FakeAnswer::Echo(destination, rtt));
        }
    }

    TAxPing* ping = nullptr; // owned by the form
    RunRecorder r;
};

TEST_F(PingRun, StartsWithItsDefaults) {
    EXPECT_EQ(ping->Number(), 5);
    EXPECT_EQ(ping->Mode(), wsmAsync);
    EXPECT_FALSE(ping->Resolve());
    EXPECT_FALSE(ping->Busy());
    EXPECT_TRUE(ping->ReplyText().isEmpty());
    EXPECT_TRUE(ping->StatsText().isEmpty());
    ASSERT_NE(ping->Resolver(), nullptr);
    EXPECT_EQ(ping->Resolver()->parent(), &form);
    EXPECT_EQ(ping->Resolver()->Owner(), ping);
}

TEST_F(PingRun, OneLinePerEchoThenTheStatistics) {
    service.SetAnswer("192.168.1.1", FakeAnswer::Echo("192.168.1.1", 3));
    ping->SetNumber(4);
    ping->SetTimeToLive(17);
    Run(*ping, r, "gateway");
    QString line = "data 0 56 bytes received from 192.168.1.1. time = 3ms";
    EXPECT_EQ(r.events, (QStringList{line, line, line, line,
                                     "finished Stats: Rcvd/Sent: 4/4, Min/Avg/Max: 3/3/3"}));
    EXPECT_EQ(ping->HostName(), "gateway");
    EXPECT_EQ(ping->HostAddress(), "192.168.1.1");
    EXPECT_EQ(ping->ReplyName(), "192.168.1.1");
    ASSERT_EQ(service.Requests().size(), 4u);
    for (const FakeRequest& req : service.Requests()) {
        EXPECT_EQ(req.ttl, 17) << "the run copies TimeToLive into the options";
        EXPECT_EQ(req.destination, Ip("192.168.1.1"));
        EXPECT_NE(req.thread, std::this_thread::get_id());
    }
    // The counters stay readable; the texts exist only during a run.
    EXPECT_EQ(ping->Sent(), 4);
    EXPECT_EQ(ping->Received(), 4);
    EXPECT_TRUE(ping->StatsText().isEmpty());
    EXPECT_TRUE(ping->ReplyText().isEmpty());
}

TEST_F(PingRun, TheRunningAverageRoundsHalvesToEven) {
    struct Case {
        std::initializer_list<int> rtts;
        const char* stats;
    };
    for (const Case& c : {
             Case{{10, 11}, "Stats: Rcvd/Sent: 2/2, Min/Avg/Max: 10/10/11"},
             Case{{11, 12}, "Stats: Rcvd/Sent: 2/2, Min/Avg/Max: 11/12/12"},
             Case{{1, 2, 1}, "Stats: Rcvd/Sent: 3/3, Min/Avg/Max: 1/2/2"},
             Case{{17, -1, 10, 12, 10}, "Stats: Rcvd/Sent: 4/5, Min/Avg/Max: 10/12/17"},
             Case{{-1, -1, -1, -1, -1}, "Stats: Rcvd/Sent: 0/5, Min/Avg/Max: 0/0/0"},
             Case{{5, 3, 9}, "Stats: Rcvd/Sent: 3/3, Min/Avg/Max: 3/6/9"},
         }) {
        Queue("192.168.1.1", c.rtts);
        ping->SetNumber(static_cast<std::uint16_t>(c.rtts.size()));
        Fresh();
        Run(*ping, r, "192.168.1.1");
        EXPECT_EQ(r.events.last(), QString("finished ") + c.stats);
    }
}

TEST_F(PingRun, NumberZeroOrOneSendsOneEcho) {
    service.SetAnswer("192.168.1.1", FakeAnswer::Echo("192.168.1.1", 7));
    for (std::uint16_t number : {0, 1}) {
        ping->SetNumber(number);
        Fresh();
        Run(*ping, r, "gateway");
        EXPECT_EQ(r.events.size(), 2);
        EXPECT_EQ(r.events.last(), "finished Stats: Rcvd/Sent: 1/1, Min/Avg/Max: 7/7/7");
    }
    EXPECT_EQ(service.Requests().size(), 2u);
}

TEST_F(PingRun, TimeOutsAndIcmpErrorsAreLinesNotFailures) {
    service.QueueAnswer("192.168.1.1", FakeAnswer::NoAnswer());
    service.QueueAnswer("192.168.1.1", FakeAnswer::IcmpError("10.0.0.254", 11003));
    service.QueueAnswer("192.168.1.1", FakeAnswer::Echo("192.168.1.1", 4));
    ping->SetNumber(3);
    Run(*ping, r, "gateway");
    EXPECT_EQ(r.events, (QStringList{"data 11010 gateway: Request timed out",
                                     "data 11003 10.0.0.254: Destination host unreachable",
                                     "data 0 56 bytes received from 192.168.1.1. time = 4ms",
                                     "finished Stats: Rcvd/Sent: 1/3, Min/Avg/Max: 4/4/4"}));
}

TEST_F(PingRun, ResolveNamesTheAnsweringNodeAndFailsSilently) {
    names.AddReverse("10.0.0.254", "edge-router");
    service.QueueAnswer("192.168.1.1", FakeAnswer::IcmpError("10.0.0.254", 11003));
    service.QueueAnswer("192.168.1.1", FakeAnswer::IcmpError("10.0.0.253", 11003));
    service.QueueAnswer("192.168.1.1", FakeAnswer::Echo("192.168.1.1", 4));
    ping->SetResolve(true);
    ping->SetNumber(3);
    Run(*ping, r, "gateway");
    EXPECT_EQ(r.events.at(0), "data 11003 edge-router: Destination host unreachable");
    EXPECT_EQ(r.events.at(1), "data 11003 10.0.0.253: Destination host unreachable");
    EXPECT_EQ(r.events.at(2), "data 0 56 bytes received from gateway. time = 4ms");
    EXPECT_EQ(ping->ReplyName(), "gateway");
    EXPECT_EQ(ping->ReplyAddress(), "192.168.1.1");
    EXPECT_EQ(r.errors, 0);
}

TEST_F(PingRun, CancelDuringTheThirdEchoEndsTheRunAfterIt) {
    service.SetAnswer("192.168.1.1", FakeAnswer::Echo("192.168.1.1", 2));
    service.HoldRequests(true);
    ping->Start("gateway");
    for (int i = 1; i <= 2; ++i) {
        ASSERT_TRUE(WaitUntil([&] { return service.Requests().size() == std::size_t(i); }));
        ASSERT_TRUE(service.WaitForHeld(1));
        service.ReleaseOne();
    }
    // The third request leaves as the second ends, before the window has
    // taken the second's result: the cancel comes once it has.
    ASSERT_TRUE(WaitUntil([&] { return service.Requests().size() == 3 && r.events.size() == 2; }));
    ping->Cancel();
    EXPECT_TRUE(ping->Busy()) << "the echo in flight is not interrupted";
    service.ReleaseOne();
    ASSERT_TRUE(WaitUntil([&] { return !ping->Busy(); }));
    QString line = "data 0 56 bytes received from 192.168.1.1. time = 2ms";
    EXPECT_EQ(
        r.events,
        (QStringList{line, line, "data -2147483389 56 bytes received from 192.168.1.1. time = 2ms",
                     "finished Stats: Rcvd/Sent: 3/3, Min/Avg/Max: 2/2/2"}));
    EXPECT_EQ(service.Requests().size(), 3u);
    EXPECT_TRUE(ping->Cancelled());

    // A cancelled echo that got no answer shows its own status text.
    service.SetAnswer("192.168.1.1", FakeAnswer::NoAnswer());
    Fresh();
    ping->SetNumber(2);
    ping->Start("gateway");
    EXPECT_FALSE(ping->Cancelled()) << "a new run clears the flag";
    ASSERT_TRUE(WaitUntil([&] { return service.Requests().size() == 4; }));
    ping->Cancel();
    service.ReleaseAll();
    ASSERT_TRUE(WaitUntil([&] { return !ping->Busy(); }));
    EXPECT_EQ(r.events.first(), "data -2147483389 gateway: Request timed out");
    EXPECT_EQ(r.events.size(), 2);
}

TEST_F(PingRun, CancelInsideOnDataEndsTheRunAfterThatEvent) {
    service.SetAnswer("192.168.1.1", FakeAnswer::Echo("192.168.1.1", 2));
    TDataRt record = ping->OnData;
    ping->OnData = [&](QObject* s, int status) {
        record(s, status);
        ping->Cancel();
    };
    Run(*ping, r, "gateway");
    EXPECT_EQ(r.events, (QStringList{"data 0 56 bytes received from 192.168.1.1. time = 2ms",
                                     "finished Stats: Rcvd/Sent: 1/1, Min/Avg/Max: 2/2/2"}));
}

TEST_F(PingRun, CancelRightAfterTheLookupEndsIsNoLookupFailure) {
    // The click arrives while the lookup's reply is being handled, and is
    // seen while the run lets messages through right after resolving.
    service.SetAnswer("192.168.1.1", FakeAnswer::Echo("192.168.1.1", 2));
    ping->Start("gateway");
    TNotifyEvent resolved = ping->Resolver()->OnResolved;
    bool clicked = false;
    ping->Resolver()->OnResolved = [this, resolved, &clicked](QObject* sender) {
        if (!clicked)
            QMetaObject::invokeMethod(
                ping, [this] { ping->Cancel(); }, Qt::QueuedConnection);
        clicked = true;
        resolved(sender);
    };
    ASSERT_TRUE(WaitUntil([&] { return !ping->Busy(); }));
    EXPECT_EQ(r.events,
              (QStringList{"data -2147483389 56 bytes received from 192.168.1.1. time = 2ms",
                           "finished Stats: Rcvd/Sent: 1/1, Min/Avg/Max: 2/2/2"}));
}

TEST_F(PingRun, SecondStartWhileBusyIsRefusedAndTheRunGoesOn) {
    service.SetAnswer("192.168.1.1", FakeAnswer::Echo("192.168.1.1", 2));
    service.HoldRequests(true);
    ping->SetNumber(2);
    ping->Start("gateway");
    ASSERT_TRUE(WaitUntil([&] { return service.Requests().size() == 1; }));
    ping->Start("far");
    EXPECT_EQ(r.events, QStringList{"error -2147483388 Already in Progress"});
    service.ReleaseAll();
    ASSERT_TRUE(WaitUntil([&] { return r.finished == 1; }));
    EXPECT_EQ(r.events.size(), 4);
    for (const FakeRequest& req : service.Requests())
        EXPECT_EQ(req.destination, Ip("192.168.1.1"));
}

TEST_F(PingRun, StartFromInsideOnFinishedIsRefusedAndAfterwardsAccepted) {
    service.SetAnswer("192.168.1.1", FakeAnswer::Echo("192.168.1.1", 2));
    ping->SetNumber(1);
    TNotifyEvent record = ping->OnFinished;
    bool restarted = false;
    ping->OnFinished = [&](QObject* s) {
        record(s);
        EXPECT_TRUE(ping->Busy());
        if (!restarted) {
            restarted = true;
            ping->Start("gateway");
        }
    };
    Run(*ping, r, "gateway");
    EXPECT_EQ(r.events.last(), "error -2147483388 Already in Progress");
    EXPECT_FALSE(ping->Busy());
    Fresh();
    Run(*ping, r, "gateway");
    EXPECT_EQ(r.finished, 1);
    EXPECT_EQ(r.errors, 0);
}

TEST_F(PingRun, FailedLookupsEndTheRunWithoutAnEcho) {
    names.SetNameError("flaky", 11002);
    Run(*ping, r, "");
    EXPECT_EQ(r.events, QStringList{"error -2147483646 No Address Specified"});
    Fresh();
    Run(*ping, r, "nowhere");
    EXPECT_EQ(r.events, QStringList{"error 11001 Authoritative Host not found"});
    EXPECT_EQ(ping->Status(), 11001);
    EXPECT_TRUE(service.Requests().empty());
    EXPECT_EQ(r.finished, 0);
}

TEST_F(PingRun, CountersOfTheLastRunSurviveAFailedLookup) {
    service.SetAnswer("192.168.1.1", FakeAnswer::Echo("192.168.1.1", 9));
    ping->SetNumber(2);
    Run(*ping, r, "gateway");
    Fresh();
    Run(*ping, r, "nowhere");
    EXPECT_EQ(ping->Sent(), 2);
    EXPECT_EQ(ping->Received(), 2);
    EXPECT_EQ(ping->AvgTime(), 9);
}

TEST_F(PingRun, DottedAddressesWithoutANameArePingedAsThemselves) {
    names.SetAddressError("10.0.0.6", 11004);
    service.SetDefault(FakeAnswer::NoAnswer());
    for (const char* target : {"10.0.0.5", "10.0.0.6", "10.0.0.007"}) {
        Fresh();
        ping->SetNumber(1);
        Run(*ping, r, target);
        EXPECT_EQ(r.errors, 0) << target;
        EXPECT_EQ(ping->HostAddress(), ping->HostName());
        EXPECT_EQ(r.events.first(), "data 11010 " + ping->HostAddress() + ": Request timed out");
    }
    EXPECT_EQ(ping->HostAddress(), "10.0.0.7");
    EXPECT_EQ(service.Requests().back().destination, Ip("10.0.0.7"));
}

TEST_F(PingRun, OtherReverseFailuresStillEndTheRun) {
    names.SetAddressError("10.0.0.8", 10050);
    Run(*ping, r, "10.0.0.8");
    EXPECT_EQ(r.events, QStringList{"error 10050 Network subsystem failed"});
    EXPECT_TRUE(service.Requests().empty());
}

TEST_F(PingRun, CancelWhileResolvingEndsWithTheResolversError) {
    names.HoldLookups(true);
    ping->Start("gateway");
    ASSERT_TRUE(names.WaitForHeld(1));
    ping->Cancel();
    EXPECT_EQ(r.events, QStringList{"error -2147483647 Cancelled Asynchronous lookup"});
    EXPECT_FALSE(ping->Busy());
    names.ReleaseAll();
    ASSERT_TRUE(WaitUntil([] { return platform::AsyncLookupsInFlight() == 0; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(r.events.size(), 1);
    EXPECT_TRUE(service.Requests().empty());
}

TEST_F(PingRun, EchoFailuresEndTheRunWithoutFinishing) {
    service.SetNoHandle(true);
    Run(*ping, r, "gateway");
    EXPECT_EQ(r.events, QStringList{"error -2147483392 Unable to get a handle for the Ping"});
    service.SetNoHandle(false);
    service.SetAnswer("192.168.1.1", FakeAnswer::Failure(10065));
    Fresh();
    Run(*ping, r, "gateway");
    EXPECT_EQ(r.events, QStringList{"error 10065 Host unreachable"});
}

TEST_F(PingRun, BlockingRunsEndInsideStartAndDoNotRecurse) {
    service.SetAnswer("192.168.1.1", FakeAnswer::Echo("192.168.1.1", 1));
    ping->SetMode(wsmBlocking);
    ping->SetNumber(3000);
    const void* firstFrame = nullptr;
    std::ptrdiff_t deepest = 0;
    int count = 0;
    ping->OnData = [&](QObject*, int) {
        const void* frame = __builtin_frame_address(0);
        if (firstFrame == nullptr)
            firstFrame = frame;
        deepest = std::max(deepest, std::abs(static_cast<const char*>(firstFrame) -
                                             static_cast<const char*>(frame)));
        ++count;
    };
    ping->Start("gateway");
    EXPECT_EQ(count, 3000);
    EXPECT_EQ(r.finished, 1);
    EXPECT_FALSE(ping->Busy());
    EXPECT_EQ(ping->Resolver()->Mode(), wsmBlocking) << "the run copies its mode";
    EXPECT_LT(deepest, 4096);
    EXPECT_EQ(service.Requests().back().thread, std::this_thread::get_id());
}

TEST_F(PingRun, AStartClickedAsABlockingRunEndsIsAccepted) {
    service.SetAnswer("192.168.1.1", FakeAnswer::Echo("192.168.1.1", 1));
    ping->SetMode(wsmBlocking);
    ping->SetNumber(1);
    TNotifyEvent record = ping->OnFinished;
    ping->OnFinished = [&](QObject* sender) {
        record(sender);
        if (r.finished == 1)
            QMetaObject::invokeMethod(
                ping, [this] { ping->Start("gateway"); }, Qt::QueuedConnection);
    };
    ping->Start("gateway");
    ASSERT_TRUE(WaitUntil([&] { return r.finished == 2 || r.errors > 0; }));
    EXPECT_EQ(r.errors, 0) << r.events.join("|").toStdString();
}

TEST_F(PingRun, CancelClickedDuringABlockingRunIsSeenAtTheNextCompletion) {
    service.SetAnswer("192.168.1.1", FakeAnswer::Echo("192.168.1.1", 1));
    ping->SetMode(wsmBlocking);
    ping->SetNumber(1000);
    int count = 0;
    ping->OnData = [&](QObject*, int) {
        // The user's click arrives as a message while the run is going on.
        if (++count == 10)
            QMetaObject::invokeMethod(
                ping, [this] { ping->Cancel(); }, Qt::QueuedConnection);
    };
    ping->Start("gateway");
    EXPECT_EQ(count, 11) << "the echo after the click completes as cancelled";
    EXPECT_EQ(ping->Status(), ErrCancelled);
    EXPECT_EQ(r.finished, 1);
}

TEST_F(PingRun, DisabledServiceReportsAndFinishes) {
    binding.reset();
    service.SetMissingLibrary(true);
    binding.emplace(); // answered with Ignore
    ASSERT_FALSE(IcmpAvailable());
    Run(*ping, r, "gateway");
    EXPECT_EQ(r.events,
              (QStringList{"error -2147483392 ICMP disabled: Winsock or icmp.dll not found",
                           "finished "}));
    EXPECT_FALSE(ping->Busy());
    EXPECT_TRUE(names.Lookups().empty());
}

TEST_F(PingRun, DestroyedInEveryState) {
    service.SetAnswer("192.168.1.1", FakeAnswer::Echo("192.168.1.1", 1));
    bool fired = false;
    auto watch = [&](TAxPing* p) {
        p->OnData = [&](QObject*, int) { fired = true; };
        p->OnError = [&](QObject*, int, const QString&) { fired = true; };
        p->OnFinished = [&](QObject*) { fired = true; };
    };
    // While its lookup is in flight.
    names.HoldLookups(true);
    auto* resolving = new TAxPing(&form);
    watch(resolving);
    resolving->Start("gateway");
    ASSERT_TRUE(names.WaitForHeld(1));
    delete resolving;
    names.ReleaseAll();
    // While an echo is in flight.
    service.HoldRequests(true);
    auto* echoing = new TAxPing(&form);
    watch(echoing);
    echoing->Start("gateway");
    ASSERT_TRUE(WaitUntil([&] { return service.Requests().size() == 1; }));
    delete echoing;
    service.ReleaseAll();
    ASSERT_TRUE(WaitUntil(
        [] { return TPingThread::LiveCount() == 0 && platform::AsyncLookupsInFlight() == 0; }));
    QCoreApplication::processEvents();
    EXPECT_FALSE(fired);
}

TEST_F(PingRun, DestroyedWithItsFormWhileResolving) {
    names.HoldLookups(true);
    auto* owner = new QWidget;
    auto* p = new TAxPing(owner);
    EXPECT_EQ(p->Resolver()->parent(), owner);
    p->Start("gateway");
    ASSERT_TRUE(names.WaitForHeld(1));
    delete owner; // the form's children go, the resolver exactly once
    names.ReleaseAll();
    ASSERT_TRUE(WaitUntil([] { return platform::AsyncLookupsInFlight() == 0; }));
    QCoreApplication::processEvents();
}

TEST_F(PingRun, DestroyedFromItsOwnEvent) {
    service.SetAnswer("192.168.1.1", FakeAnswer::Echo("192.168.1.1", 1));
    auto* p = new TAxPing(&form);
    int data = 0;
    p->OnData = [&](QObject* sender, int) {
        ++data;
        // The worker has gone on meanwhile: the next echo's result waits
        // already (the third request has left), and still comes after the
        // deletion asked for here.
        QDeadlineTimer bound(Scaled(10000));
        while (service.Requests().size() < 3 && !bound.hasExpired())
            QThread::yieldCurrentThread();
        sender->deleteLater();
    };
    p->Start("gateway");
    ASSERT_TRUE(WaitUntil([&] { return data > 0 && TPingThread::LiveCount() == 0; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(data, 1);
}

// The echoes of a run go out one after the other from one worker, which
// does not wait for the window thread between them; the window still sees
// every echo once, in order, never one inside another, and a slow window
// holds the worker back after a few echoes instead of piling them up.
TEST_F(PingRun, EchoesGoOnWithoutTheWindowAndArriveInOrder) {
    Queue("192.168.1.1", {1, 2, -1, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20});
    ping->SetNumber(20);
    // A handler that processes events meets the next result's post: that
    // result still waits until the handler has returned.
    int depth = 0, deepest = 0;
    TDataRt record = ping->OnData;
    ping->OnData = [&](QObject* s, int status) {
        deepest = std::max(deepest, ++depth);
        record(s, status);
        QCoreApplication::processEvents();
        --depth;
    };
    service.HoldRequests(true);
    ping->Start("192.168.1.1");
    ASSERT_TRUE(WaitUntil([&] { return service.Requests().size() == 1; }));
    // The window thread takes no event from here: the worker sends on
    // alone, until the results not yet taken reach its limit.
    service.ReleaseAll();
    QDeadlineTimer bound(Scaled(10000));
    while (service.Requests().size() < 8 && !bound.hasExpired())
        QThread::yieldCurrentThread();
    EXPECT_GE(service.Requests().size(), 8u);
    EXPECT_LT(service.Requests().size(), 20u) << "a window that takes nothing holds the worker";
    std::set<std::thread::id> threads;
    for (const FakeRequest& req : service.Requests())
        threads.insert(req.thread);
    EXPECT_EQ(threads.size(), 1u) << "one worker sends the whole run";

    ASSERT_TRUE(WaitUntil([&] { return !ping->Busy(); }));
    EXPECT_EQ(deepest, 1);
    ASSERT_EQ(r.events.size(), 21);
    for (int i = 0; i < 20; ++i) {
        const QString expected =
            i == 2 ? QStringLiteral("data 11010 gateway: Request timed out")
                   : QStringLiteral("data 0 56 bytes received from 192.168.1.1. time = %1ms")
                         .arg(i + 1);
        EXPECT_EQ(r.events[i], expected);
    }
    EXPECT_TRUE(r.events.last().startsWith("finished Stats: Rcvd/Sent: 19/20, Min/Avg/Max: 1/"));
    EXPECT_EQ(service.Requests().size(), 20u);

    // The next run starts its own series on the same component.
    Fresh();
    service.SetAnswer("192.168.1.1", FakeAnswer::Echo("192.168.1.1", 3));
    ping->SetNumber(3);
    Run(*ping, r, "192.168.1.1");
    EXPECT_EQ(r.events.size(), 4);
    EXPECT_EQ(service.Requests().size(), 23u);
    EXPECT_TRUE(WaitUntil([] { return TPingThread::LiveCount() == 0; }));
}

} // namespace

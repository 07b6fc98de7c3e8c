// The runs of the main window without the window: the controller's signals
// over the scripted echo and name services.
#include "runs/RunsFixture.h"

namespace netsonde::test {
namespace {

TEST_F(RunControllerTest, CheckAllReturnsAtOnceAndChecksEveryEntryInTurn) {
    entries.items = {"10.0.0.1", "10.0.0.2", "nohost", "gateway"};
    service.SetAnswer("10.0.0.1", FakeAnswer::Echo("10.0.0.1"));
    names.SetNameError("nohost", 11001);
    runs->CheckAll();
    // Nothing waits inside: the first entry is in flight.
    EXPECT_TRUE(runs->InCheckAll());
    EXPECT_EQ(runs->CheckKind(), rkCheckOne);
    EXPECT_EQ(runs->Ping()->Number(), 1);
    ASSERT_TRUE(WaitUntil([&] { return Idle(); }));
    EXPECT_FALSE(runs->InCheckAll());
    EXPECT_EQ(
        events,
        QStringList({"all",  "entry 0", "busy",  "idle",     "ended",   "stored 0", "entry 1",
                     "busy", "idle",    "ended", "stored 1", "entry 2", "busy",     "failed 11001",
                     "idle", "entry 3", "busy",  "idle",     "ended",   "stored 3", "all ended"}));
    EXPECT_EQ(entries.selected, 3);
    EXPECT_EQ(service.Requests().size(), 3u);
    EXPECT_EQ(runs->Ping()->Number(), 10);
    EXPECT_EQ(runs->Ahead(), nullptr);
    EXPECT_EQ(lines.last(), "Return Name: 192.168.1.1");
}

TEST_F(RunControllerTest, CancelStopsCheckAllAfterTheEntryInFlight) {
    entries.items = {"10.0.0.1", "10.0.0.2", "10.0.0.3"};
    service.HoldRequestsTo("10.0.0.2");
    runs->StartAuto(rkCheckAll);
    // The second entry's turn, its name known and its echo held (it may
    // have gone out ahead): a cancel during the lookup would end the run as
    // a failed one instead.
    ASSERT_TRUE(WaitUntil([&] {
        return entries.selected == 1 && runs->Ping()->Busy() && !runs->Ping()->Resolving() &&
               service.WaitForHeld(1, 0);
    }));
    runs->Cancel();
    // Nothing more starts while the held entry ends.
    EXPECT_TRUE(runs->InCheckAll());
    EXPECT_FALSE(runs->Tick()->isActive());
    EXPECT_EQ(runs->AutoKind(), rkNone);
    service.ReleaseAll();
    ASSERT_TRUE(WaitUntil([&] { return Idle(); }));
    EXPECT_EQ(entries.selected, 1);
    EXPECT_EQ(events.mid(events.size() - 3), QStringList({"stored 1", "all ended", "round"}))
        << events.join(QLatin1Char(',')).toStdString();
    EXPECT_FALSE(events.contains("entry 2"));
}

TEST_F(RunControllerTest, AnAutomaticRoundEndsOnceWithItsCheckAllAndTicksWaitForIt) {
    entries.items = {"10.0.0.1", "gateway"};
    service.HoldRequests(true);
    runs->StartAuto(rkCheckAll);
    EXPECT_TRUE(runs->Tick()->isActive());
    ASSERT_TRUE(WaitUntil([&] { return service.WaitForHeld(1, 0); }));
    // A tick during the round starts nothing.
    runs->TickTimer();
    runs->TickTimer();
    EXPECT_EQ(events.count("all"), 1);
    service.HoldRequests(false);
    service.ReleaseAll();
    ASSERT_TRUE(WaitUntil([&] { return Idle(); }));
    EXPECT_EQ(events.count("round"), 1);
    EXPECT_EQ(events.last(), "round");
    // The next tick is the next round.
    runs->TickTimer();
    ASSERT_TRUE(WaitUntil([&] { return Idle(); }));
    EXPECT_EQ(events.count("all"), 2);
    EXPECT_EQ(events.count("round"), 2);
    EXPECT_EQ(runs->AutoKind(), rkCheckAll);
    // A tick without a command switches the mode off.
    runs->SetAutoRun(false);
    runs->SetAutoRun(true);
    runs->TickTimer();
    EXPECT_FALSE(runs->Tick()->isActive());
}

TEST_F(RunControllerTest, CommandsNeedASelectionAndRefuseASecondRun) {
    entries.items = {"gateway"};
    runs->CheckOne();
    runs->PingEntry();
    runs->TraceEntry();
    EXPECT_TRUE(events.isEmpty());
    entries.selected = 0;
    service.HoldRequests(true);
    runs->PingEntry();
    ASSERT_TRUE(WaitUntil([&] { return service.WaitForHeld(1, 0); }));
    runs->CheckOne();
    runs->TraceEntry();
    runs->CheckAll();
    EXPECT_EQ(events, QStringList{"busy"});
    EXPECT_EQ(runs->CheckKind(), rkNone);
    EXPECT_FALSE(runs->Trace()->Busy());
    service.HoldRequests(false);
    service.ReleaseAll();
    ASSERT_TRUE(WaitUntil([&] { return !runs->Running(); }));
    EXPECT_EQ(events, QStringList({"busy", "idle", "ended", "stored 0"}));
}

// Components that look names up and echo in blocking mode end each run
// before Start returns: Check All goes through the list in one call
// without nesting a run in another's events.
TEST_F(RunControllerTest, BlockingComponentsFinishCheckAllBeforeItReturns) {
    entries.items = {"10.0.0.1", "10.0.0.2", "gateway"};
    runs->Ping()->SetMode(wsmBlocking);
    runs->CheckAll();
    EXPECT_FALSE(runs->InCheckAll());
    EXPECT_EQ(runs->CheckKind(), rkNone);
    EXPECT_EQ(events.count("busy"), 3);
    EXPECT_EQ(events.last(), "all ended");
    EXPECT_EQ(entries.selected, 2);
}

TEST_F(RunControllerTest, DestroyedDuringCheckAllLeavesNothingBehind) {
    for (int i = 1; i <= 6; ++i)
        entries.items << QStringLiteral("10.0.0.%1").arg(i);
    service.HoldRequests(true);
    runs->CheckAll();
    ASSERT_TRUE(WaitUntil([&] { return service.WaitForHeld(2, 0); }));
    EXPECT_NE(runs->Ahead(), nullptr);
    runs.reset();
    // TearDown releases the held requests and finds no worker or handle.
}

} // namespace
} // namespace netsonde::test

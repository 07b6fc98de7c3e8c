#include "RunFixture.h"
#include "echo/TAxPing.h"
#include "echo/TAxTrace.h"

using namespace netsonde::test;

namespace {

// Puts the components' signals into the same record as their events, so
// that the order of both shows.
void RecordSignals(TAxIcmpTask& task, RunRecorder& r) {
    QObject::connect(&task, &TAxIcmp::Data, [&r](int status) {
        r.events << QStringLiteral("signal data %1").arg(status);
    });
    QObject::connect(&task, &TAxIcmp::Failed, [&r](int code, const QString& msg) {
        r.events << QStringLiteral("signal failed %1 %2").arg(code).arg(msg);
    });
    QObject::connect(&task, &TAxIcmpTask::Finished,
                     [&r] { r.events << QStringLiteral("signal finished"); });
}

class EchoSignals : public RunTest {};

TEST_F(EchoSignals, EachSignalComesJustBeforeItsEvent) {
    auto* ping = new TAxPing(&form);
    RunRecorder r;
    r.Attach(
        *ping, [ping] { return ping->ReplyText(); }, [ping] { return ping->StatsText(); });
    RecordSignals(*ping, r);
    service.SetAnswer("192.168.1.1", FakeAnswer::Echo("192.168.1.1", 3));
    ping->SetNumber(2);
    Run(*ping, r, "gateway");
    const QString line = "data 0 56 bytes received from 192.168.1.1. time = 3ms";
    EXPECT_EQ(r.events,
              (QStringList{"signal data 0", line, "signal data 0", line, "signal finished",
                           "finished Stats: Rcvd/Sent: 2/2, Min/Avg/Max: 3/3/3"}));

    r = RunRecorder{};
    r.Attach(
        *ping, [ping] { return ping->ReplyText(); }, [ping] { return ping->StatsText(); });
    Run(*ping, r, "nowhere");
    EXPECT_EQ(r.events, (QStringList{"signal failed 11001 Authoritative Host not found",
                                     "error 11001 Authoritative Host not found"}));

    auto* trace = new TAxTrace(&form);
    trace->SetSendTestPacket(true);
    service.SetRoute("10.20.30.40", {"10.0.0.1"}, 250, 4);
    QStringList test;
    QObject::connect(trace, &TAxTrace::Tested, [&test] { test << "signal"; });
    trace->OnTest = [&test](QObject*) { test << "event"; };
    RunRecorder t;
    t.Attach(
        *trace, [] { return QString(); }, [] { return QString(); });
    Run(*trace, t, "far");
    EXPECT_EQ(test, (QStringList{"signal", "event"}));
}

TEST_F(EchoSignals, ObserversKeepSeeingEchoesWhateverHandlersTheEventsGetLater) {
    auto* ping = new TAxPing(&form);
    int observed = 0;
    QObject::connect(ping, &TAxIcmp::Data, [&observed] { ++observed; });
    RunRecorder r;
    r.Attach(
        *ping, [ping] { return ping->ReplyText(); }, [ping] { return ping->StatsText(); });
    int replaced = 0;
    ping->OnData = [&replaced](QObject*, int) { ++replaced; };
    service.SetAnswer("192.168.1.1", FakeAnswer::Echo("192.168.1.1", 3));
    ping->SetNumber(3);
    Run(*ping, r, "gateway");
    EXPECT_EQ(observed, 3);
    EXPECT_EQ(replaced, 3);
}

TEST_F(EchoSignals, AComponentDestroyedByAnObserverFiresNoEventAfterwards) {
    QPointer<TAxPing> ping = new TAxPing(&form);
    bool event = false;
    QObject::connect(ping.data(), &TAxIcmp::Data, [&ping] { delete ping.data(); });
    ping->OnData = [&event](QObject*, int) { event = true; };
    service.SetAnswer("192.168.1.1", FakeAnswer::Echo("192.168.1.1", 3));
    ping->SetNumber(1);
    ping->Start("gateway");
    ASSERT_TRUE(WaitUntil([&ping] { return ping.isNull(); }));
    ASSERT_TRUE(WaitUntil([] { return TPingThread::LiveCount() == 0; }));
    EXPECT_FALSE(event);
}

} // namespace

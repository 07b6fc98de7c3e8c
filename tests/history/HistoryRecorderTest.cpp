#include "echo/RunFixture.h"
#include "echo/TAxPing.h"
#include "echo/TAxTrace.h"
#include "historyview/THistory.h"

#include <QTemporaryDir>

using namespace netsonde::test;

namespace {

class HistoryRecorder : public RunTest {};

TEST_F(HistoryRecorder, KeepsRecordingEchoesWhenTheDataHandlersChangeAfterwards) {
    QTemporaryDir dir;
    history::THistory recorder(dir.filePath("history.sqlite"));
    auto* ping = new TAxPing(&form);
    auto* trace = new TAxTrace(&form);
    recorder.Attach(ping, trace);
    // The handlers are assigned after the recorder attached, as a window
    // that rebuilds its bindings would.
    RunRecorder r;
    r.Attach(
        *ping, [ping] { return ping->ReplyText(); }, [ping] { return ping->StatsText(); });
    RunRecorder t;
    t.Attach(
        *trace, [trace] { return trace->HopText(); }, [] { return QString(); });

    service.SetAnswer("192.168.1.1", FakeAnswer::Echo("192.168.1.1", 3));
    ping->SetNumber(3);
    Run(*ping, r, "gateway");
    recorder.RunEnded(ping, "gateway", history::Command::Ping, false);
    EXPECT_EQ(recorder.LastRecord().Echoes.size(), 3);
    EXPECT_EQ(r.events.size(), 4) << "the window's handlers still see every echo";

    service.SetRoute("10.20.30.40", {"10.0.0.1", "10.0.0.2"}, 255, 4);
    Run(*trace, t, "far");
    recorder.RunEnded(trace, "far", history::Command::Trace, false);
    ASSERT_EQ(recorder.LastRecord().Echoes.size(), 3);
    EXPECT_EQ(recorder.LastRecord().Echoes.back().Ttl, 3);
}

} // namespace

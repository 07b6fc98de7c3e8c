// Every ended run becomes one record: the controller's RunEnd and the
// components' echoes, classified into an outcome, over the scripted echo
// and name services and without a window.
#include "runs/RunRecorder.h"

#include "echo/EchoCodes.h"
#include "resolve/TDNS.h"
#include "runs/RunsFixture.h"

#include <functional>

namespace netsonde::test {
namespace {

using history::Command;
using history::Outcome;
using history::RunRecord;

constexpr qint64 Now = 1'700'000'000'000;

class RunRecorderTest : public RunControllerTest {
protected:
    void SetUp() override {
        RunControllerTest::SetUp();
        recorder = std::make_unique<runs::RunRecorder>(*runs);
        recorder->SetClockForTests([] { return Now; });
        QObject::connect(recorder.get(), &runs::RunRecorder::Recorded,
                         [this](const RunRecord& r) { records << r; });
    }
    void TearDown() override {
        recorder.reset();
        RunControllerTest::TearDown();
    }
    std::unique_ptr<runs::RunRecorder> recorder;
    QVector<RunRecord> records;
};

struct Case {
    const char* name;
    std::function<void(FakeIcmpService&, FakeNameService&)> script;
    QString entry;
    // Starts the run on the controller.
    std::function<void(runs::RunController&)> start;
    Command kind;
    Outcome result;
    int code;
    int sent;
    int received;
    int minRtt, avgRtt, maxRtt;
    QString address;
    QString echoes; // as the history stores them
};

TEST_F(RunRecorderTest, EachEndedRunIsOneRecordWithItsOutcome) {
    const auto ping = [](runs::RunController& r) { r.PingEntry(); };
    const auto check = [](runs::RunController& r) { r.CheckOne(); };
    const auto trace = [](runs::RunController& r) { r.TraceEntry(); };
    const Case cases[] = {
        {"three answers",
         [](FakeIcmpService& s, FakeNameService&) {
             s.QueueAnswer("10.0.0.1", FakeAnswer::Echo("10.0.0.1", 4));
             s.QueueAnswer("10.0.0.1", FakeAnswer::Echo("10.0.0.1", 2));
             s.QueueAnswer("10.0.0.1", FakeAnswer::Echo("10.0.0.1", 9));
         },
         "10.0.0.1", ping, Command::Ping, Outcome::Answered, 0, 3, 3, 2, 5, 9, "10.0.0.1", "4,2,9"},
        {"one of three lost",
         [](FakeIcmpService& s, FakeNameService&) {
             s.QueueAnswer("10.0.0.2", FakeAnswer::Echo("10.0.0.2", 6));
             s.QueueAnswer("10.0.0.2", FakeAnswer::NoAnswer());
             s.QueueAnswer("10.0.0.2", FakeAnswer::Echo("10.0.0.2", 2));
         },
         "10.0.0.2", ping, Command::Ping, Outcome::Answered, 0, 3, 2, 2, 4, 6, "10.0.0.2", "6,*,2"},
        {"silent host", [](FakeIcmpService&, FakeNameService&) {}, "10.0.0.3", check,
         Command::CheckOne, Outcome::TimedOut, EchoStatus::TimedOut, 1, 0, -1, -1, -1, "10.0.0.3",
         "*"},
        {"unreachable host",
         [](FakeIcmpService& s, FakeNameService&) {
             s.SetAnswer("10.0.0.4",
                         FakeAnswer::IcmpError("10.0.9.1", EchoStatus::HostUnreachable));
         },
         "10.0.0.4", check, Command::CheckOne, Outcome::Unreachable, EchoStatus::HostUnreachable, 1,
         0, -1, -1, -1, "10.0.0.4", "!11003"},
        {"expired on the way",
         [](FakeIcmpService& s, FakeNameService&) {
             s.SetAnswer("10.0.0.5", FakeAnswer::IcmpError("10.0.9.1", EchoStatus::TtlExpired));
         },
         "10.0.0.5", check, Command::CheckOne, Outcome::TimedOut, EchoStatus::TtlExpired, 1, 0, -1,
         -1, -1, "10.0.0.5", "!11013"},
        {"unknown name",
         [](FakeIcmpService&, FakeNameService& n) { n.SetNameError("nohost", 11001); }, "nohost",
         check, Command::CheckOne, Outcome::Error, 11001, 0, 0, -1, -1, -1, "", ""},
        {"trace to the destination",
         [](FakeIcmpService& s, FakeNameService&) {
             s.SetRoute("10.0.0.6", {"10.1.0.1", "10.2.0.1"}, 255, 3);
         },
         "10.0.0.6", trace, Command::Trace, Outcome::Answered, 0, 3, 3, 3, 3, 3, "10.0.0.6",
         "1:3!11013@10.1.0.1,2:3!11013@10.2.0.1,3:3@10.0.0.6"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        records.clear();
        c.script(service, names);
        entries.items = {c.entry};
        entries.selected = 0;
        runs->SetNumber(static_cast<std::uint16_t>(c.sent > 1 ? c.sent : 1));
        c.start(*runs);
        ASSERT_TRUE(WaitUntil([&] { return !runs->Running() && !records.isEmpty(); }));
        ASSERT_EQ(records.size(), 1);
        const RunRecord& r = records.front();
        EXPECT_EQ(r.TimeMs, Now);
        EXPECT_EQ(r.Entry, c.entry);
        EXPECT_EQ(r.Kind, c.kind);
        EXPECT_FALSE(r.Automatic);
        EXPECT_EQ(r.Result, c.result);
        EXPECT_EQ(r.Code, c.code);
        EXPECT_EQ(r.Sent, c.sent);
        EXPECT_EQ(r.Received, c.received);
        EXPECT_EQ(r.MinRtt, c.minRtt);
        EXPECT_EQ(r.AvgRtt, c.avgRtt);
        EXPECT_EQ(r.MaxRtt, c.maxRtt);
        EXPECT_EQ(r.Address, c.address);
        EXPECT_EQ(history::EncodeEchoes(r.Echoes, c.kind == Command::Trace), c.echoes);
    }
}

// What a run was is fixed where it starts: its entry, its command and
// whether the automatic mode started it.
TEST_F(RunRecorderTest, RecordsCarryTheCommandAndModeTheirRunStartedWith) {
    entries.items = {"10.0.0.1", "10.0.0.2"};
    service.SetDefault(FakeAnswer::Echo("10.0.0.1", 1));
    entries.selected = 1;
    runs->StartAuto(rkPing);
    ASSERT_TRUE(WaitUntil([&] { return !runs->Running() && records.size() == 1; }));
    runs->SetAutoRun(false);
    runs->StartAuto(rkCheckAll);
    ASSERT_TRUE(WaitUntil([&] { return Idle() && records.size() == 3; }));
    runs->SetAutoRun(false);
    runs->TraceEntry();
    ASSERT_TRUE(WaitUntil([&] { return !runs->Running() && records.size() == 4; }));
    QStringList seen;
    for (const RunRecord& r : records)
        seen << QStringLiteral("%1 %2 %3")
                    .arg(history::CommandName(r.Kind), r.Entry,
                         r.Automatic ? QStringLiteral("auto") : QStringLiteral("user"));
    EXPECT_EQ(seen, QStringList({"ping 10.0.0.2 auto", "check all 10.0.0.1 auto",
                                 "check all 10.0.0.2 auto", "trace 10.0.0.2 user"}));
    // The controller's own ends say the same.
    ASSERT_EQ(ends.size(), 4);
    EXPECT_EQ(ends[0].task, runs->Ping());
    EXPECT_EQ(ends[3].task, runs->Trace());
}

// A Ping cancelled before its first echo went out says nothing about its
// host; one cancelled after an answer keeps what it had.
TEST_F(RunRecorderTest, CancelledRunsKeepWhatTheyHad) {
    entries.items = {"gateway"};
    entries.selected = 0;
    names.HoldLookups(true);
    runs->PingEntry();
    ASSERT_TRUE(WaitUntil([&] { return names.WaitForHeld(1, 0); }));
    runs->Cancel();
    names.HoldLookups(false);
    names.ReleaseAll();
    ASSERT_TRUE(WaitUntil([&] { return !runs->Running() && !records.isEmpty(); }));
    EXPECT_EQ(records.back().Result, Outcome::Cancelled);
    EXPECT_EQ(records.back().Code, DnsErrCancelled);
    EXPECT_EQ(records.back().Sent, 0);

    // Cancelled as its first answer comes in: the echo in flight ends it.
    records.clear();
    service.SetAnswer("192.168.1.1", FakeAnswer::Echo("192.168.1.1", 7));
    runs->SetNumber(5);
    QObject::connect(runs->Ping(), &TAxIcmp::Data, runs.get(), [this] {
        if (runs->Ping()->Sent() == 1)
            runs->Cancel();
    });
    runs->PingEntry();
    ASSERT_TRUE(WaitUntil([&] { return !runs->Running() && !records.isEmpty(); }));
    EXPECT_EQ(records.back().Result, Outcome::Answered);
    EXPECT_GE(records.back().Received, 1);
    EXPECT_LT(records.back().Sent, 5);
    EXPECT_EQ(records.back().MinRtt, 7);
}

// The echoes are followed through the components' Data signals: handlers
// assigned to their data events afterwards do not stop the recording.
TEST_F(RunRecorderTest, KeepsRecordingWhenTheDataHandlersChangeAfterwards) {
    int seen = 0;
    runs->Ping()->OnData = [&seen](QObject*, int) { ++seen; };
    entries.items = {"10.0.0.1"};
    entries.selected = 0;
    service.SetAnswer("10.0.0.1", FakeAnswer::Echo("10.0.0.1", 2));
    runs->SetNumber(3);
    runs->PingEntry();
    ASSERT_TRUE(WaitUntil([&] { return !runs->Running() && !records.isEmpty(); }));
    EXPECT_EQ(seen, 3);
    EXPECT_EQ(history::EncodeEchoes(records.front().Echoes, false), "2,2,2");
}

} // namespace
} // namespace netsonde::test

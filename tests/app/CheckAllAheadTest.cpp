// Check All with the checks of later entries sent ahead of their turn, over
// the scripted echo and name services.
#include "MainWindowFixture.h"
#include "app/CheckAllWait.h"

#include "controls/g_memo.h"
#include "echo/TLookAhead.h"
#include "platform/NameService.h"
#include "platform/WindowThread.h"

#include <algorithm>
#include <map>
#include <vector>

using namespace netsonde::test;

namespace {

class CheckAllAheadTest : public MainWindowTest {
protected:
    // The stored lines of every entry; "(none)" for an entry without results.
    std::vector<QStringList> Stored() const {
        std::vector<QStringList> all;
        for (int i = 0; i < w->lb_add->Count(); ++i)
            all.push_back(w->HasResults(i) ? w->Results(i) : QStringList{"(none)"});
        return all;
    }
    void ForgetResults() {
        for (int i = 0; i < w->lb_add->Count(); ++i)
            w->lb_add->SetItemData(i, QVariant());
    }
    // Check One for every entry in turn, each after the one before ended.
    void CheckOneByOne() {
        for (int i = 0; i < w->lb_add->Count(); ++i) {
            Select(i);
            Run(w->bn_one);
        }
    }
    int RequestsTo(const char* destination) const {
        const std::vector<FakeRequest> all = service.Requests();
        return static_cast<int>(std::count_if(all.begin(), all.end(), [&](const FakeRequest& r) {
            return r.destination == Ip(destination);
        }));
    }
};

TEST_F(CheckAllAheadTest, EveryEntryShowsAndStoresWhatCheckOneGivesIt) {
    // Sorted: 10.0.0.2 silent, 10.0.0.3 unreachable, 10.0.0.4 a socket
    // error, 10.0.0.5 answers late, gateway, nohost (no such name).
    SetList({"gateway", "10.0.0.2", "10.0.0.3", "nohost", "10.0.0.4", "10.0.0.5"});
    names.AddReverse("10.0.0.254", "router");
    names.SetNameError("nohost", 11001);
    service.SetAnswer("10.0.0.3", FakeAnswer::IcmpError("10.0.0.254", 11003));
    service.SetAnswer("10.0.0.4", FakeAnswer::Failure(10065));
    service.SetAnswer("10.0.0.5", FakeAnswer::Echo("10.0.0.5", 40));
    w->ApplyResolve(true);
    // The first entry waits until every later echo has gone out ahead.
    service.HoldRequestsTo("10.0.0.2");
    Script([&] {
        if (!service.WaitForRequests(5, 0))
            return false;
        service.ReleaseAll();
        return true;
    });

    CheckAllAndWait(*w);
    const std::vector<QStringList> together = Stored();
    const QStringList lastPane = w->PaneLines();
    EXPECT_EQ(w->lb_add->ItemIndex(), 5);
    EXPECT_EQ(w->ed_results->toPlainText(), lastPane.join('\n'));
    EXPECT_EQ(w->Ping->Number(), 10);
    EXPECT_EQ(w->CheckKind(), rkNone);
    // Each echo went out once: the entries' checks took over the requests
    // sent ahead, but a socket error is met again on the entry's own turn.
    EXPECT_EQ(RequestsTo("10.0.0.2"), 1);
    EXPECT_EQ(RequestsTo("10.0.0.3"), 1);
    EXPECT_EQ(RequestsTo("10.0.0.4"), 2);
    EXPECT_EQ(RequestsTo("10.0.0.5"), 1);
    EXPECT_EQ(RequestsTo("192.168.1.1"), 1);

    ForgetResults();
    CheckOneByOne();
    EXPECT_EQ(Stored(), together);
    EXPECT_EQ(w->PaneLines(), lastPane);
    EXPECT_EQ(together[1][0], "router: Destination host unreachable");
    EXPECT_EQ(together[2], QStringList{"(none)"}); // the socket error stores nothing
    EXPECT_EQ(together[5], QStringList{"(none)"}); // nor does the missing name
    EXPECT_TRUE(lastPane.last().startsWith("Error 11001")) << lastPane.last().toStdString();
}

TEST_F(CheckAllAheadTest, LookupsAheadRunOffTheWindowThreadAndAreAskedOnce) {
    SetList({"alpha", "beta", "gamma"});
    names.AddHost("alpha", {"10.0.1.1"});
    names.AddHost("beta", {"10.0.1.2"});
    names.AddHost("gamma", {"10.0.1.3"});
    for (const char* host : {"10.0.1.1", "10.0.1.2", "10.0.1.3"})
        service.SetAnswer(host, FakeAnswer::Echo(host));
    w->ApplyResolve(true);
    // The first entry waits until the others have been looked up, checked
    // and their answering nodes named.
    service.HoldRequestsTo("10.0.1.1");
    // The answers found ahead are Ping's alone: the process's name service
    // stays the one in use.
    const std::shared_ptr<platform::NameService> inUse = platform::CurrentNameService();
    bool serviceKept = true;
    Script([&] {
        serviceKept = serviceKept && platform::CurrentNameService() == inUse;
        if (names.Lookups().size() < 5)
            return false;
        service.ReleaseAll();
        return true;
    });
    CheckAllAndWait(*w);
    EXPECT_EQ(w->Results(2).last(), "Return Name: gamma");
    EXPECT_TRUE(serviceKept);

    std::vector<std::string> asked;
    for (const FakeLookup& l : names.Lookups()) {
        asked.push_back(l.what);
        // Only the current entry's own name of the answering node is looked
        // up inline, as a single check does.
        if (l.what != "addr:10.0.1.1") {
            EXPECT_NE(l.thread, std::this_thread::get_id()) << l.what;
        }
    }
    std::sort(asked.begin(), asked.end());
    EXPECT_EQ(asked, (std::vector<std::string>{"addr:10.0.1.1", "addr:10.0.1.2", "addr:10.0.1.3",
                                               "name:alpha", "name:beta", "name:gamma"}));
}

TEST_F(CheckAllAheadTest, IPv6EntriesAreSentAheadAndShowWhatCheckOneGivesThem) {
    // IPv6 literals (one with a zone), a name whose first address is IPv6,
    // and IPv4 entries, in one list: answers, an error from a router,
    // silence.
    SetList({"10.0.0.2", "fd00::5", "six", "fd00::7", "fd00::8", "fe80::9%1", "10.0.0.3"});
    names.AddHost("six", {"fd00::6", "fd00::66"});
    names.AddReverse("fd00::5", "five");
    names.AddReverse("fd00::fe", "router6");
    service.SetAnswer("fd00::5", FakeAnswer::Echo("fd00::5", 3));
    service.SetAnswer("fd00::6", FakeAnswer::Echo("fd00::6", 7, 60));
    service.SetAnswer("fd00::8", FakeAnswer::IcmpError("fd00::fe", 11003));
    service.SetAnswer("fe80::9", FakeAnswer::Echo("fe80::9"));
    service.SetAnswer("10.0.0.3", FakeAnswer::Echo("10.0.0.3"));
    w->ApplyResolve(true);
    // The first entry waits until every later echo has gone out ahead.
    const std::string first = w->lb_add->Items()[0].toStdString();
    service.HoldRequestsTo(first.c_str());
    Script([&] {
        if (!service.WaitForRequests(7, 0))
            return false;
        service.ReleaseAll();
        return true;
    });
    CheckAllAndWait(*w);
    const std::vector<QStringList> together = Stored();
    const QStringList lastPane = w->PaneLines();

    // Each IPv6 echo went out once, to the name's first address and with
    // the zone of its text, and was taken over on the entry's turn.
    for (const char* host : {"fd00::5", "fd00::6", "fd00::7", "fd00::8", "fe80::9", "10.0.0.3"})
        EXPECT_EQ(RequestsTo(host), 1) << host;
    EXPECT_EQ(RequestsTo("fd00::66"), 0);
    for (const FakeRequest& r : service.Requests()) {
        if (r.destination == Ip("fe80::9")) {
            EXPECT_TRUE(r.ipv6);
            EXPECT_EQ(r.scope, 1u);
        }
    }
    // The IPv6 questions were asked once, ahead, off the window thread.
    std::map<std::string, int> asked;
    for (const FakeLookup& l : names.Lookups()) {
        ++asked[l.what];
        if (l.what == "name:six" || l.what == "addr:fd00::5") {
            EXPECT_NE(l.thread, std::this_thread::get_id()) << l.what;
        }
    }
    EXPECT_EQ(asked["name:six"], 1);
    EXPECT_EQ(asked["addr:fd00::5"], 1);
    EXPECT_EQ(asked["addr:fd00::fe"], 1);

    ForgetResults();
    CheckOneByOne();
    EXPECT_EQ(Stored(), together);
    EXPECT_EQ(w->PaneLines(), lastPane);
    const auto hasLine = [&](const QString& text) {
        for (const QStringList& lines : together)
            if (lines.contains(text))
                return true;
        return false;
    };
    EXPECT_TRUE(hasLine("Return Name: five")) << ::testing::PrintToString(together);
    EXPECT_TRUE(std::any_of(together.begin(), together.end(), [](const QStringList& lines) {
        return !lines.isEmpty() && lines[0].startsWith("router6:");
    })) << ::testing::PrintToString(together);
}

TEST_F(CheckAllAheadTest, RunsAlreadyStartedKeepTheOptionsOfTheStart) {
    SetList({"10.0.0.1", "10.0.0.2", "10.0.0.3"});
    service.HoldRequestsTo("10.0.0.1");
    Script([&] {
        if (!service.WaitForRequests(3, 0))
            return false;
        w->ApplyTimeOut(900);
        w->ApplyTimeToLive(7);
        w->ApplyPacketSize(100);
        service.ReleaseAll();
        return true;
    });
    CheckAllAndWait(*w);
    const std::vector<FakeRequest> requests = service.Requests();
    ASSERT_EQ(requests.size(), 3u); // none sent again with the new options
    for (const FakeRequest& r : requests) {
        EXPECT_EQ(r.ttl, 32);
        EXPECT_EQ(r.size, 56);
        EXPECT_EQ(r.timeout, 2500u);
    }
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(w->EntryState(i), 1u);
}

TEST_F(CheckAllAheadTest, CancelStoresNothingAheadAndLeavesNoRunInFlight) {
    QStringList hosts;
    for (int i = 1; i <= 9; ++i)
        hosts << QStringLiteral("10.0.0.%1").arg(i);
    SetList(hosts);
    service.SetDefault(FakeAnswer::Echo("10.0.0.1"));
    service.HoldRequests(true);
    bool cancelled = false;
    Script([&] {
        // The first entry's echo is in flight and later ones have gone out.
        if (w->Ping->HostAddress() != "10.0.0.1" || !service.WaitForHeld(4, 0))
            return false;
        EXPECT_EQ(w->lb_add->ItemIndex(), 0);
        w->bn_cancel->click();
        service.ReleaseAll();
        cancelled = true;
        return true;
    });
    CheckAllAndWait(*w);
    ASSERT_TRUE(cancelled);
    EXPECT_EQ(w->findChild<TLookAhead*>(), nullptr);
    EXPECT_EQ(w->lb_add->ItemIndex(), 0);
    EXPECT_TRUE(w->HasResults(0));
    // The answers of the requests sent ahead arrive and are dropped.
    ASSERT_TRUE(WaitUntil([] { return TPingThread::LiveCount() == 0; }));
    ASSERT_TRUE(WaitUntil([] { return platform::AsyncLookupsInFlight() == 0; }));
    platform::ProcessMessages();
    for (int i = 1; i < w->lb_add->Count(); ++i)
        EXPECT_FALSE(w->HasResults(i)) << i;
    EXPECT_EQ(w->PaneLines(), w->Results(0));
    EXPECT_FALSE(w->Ping->Busy());
    EXPECT_TRUE(w->bn_all->isEnabled());
    // The next Check All starts afresh and checks every entry.
    service.SetDefault(FakeAnswer::NoAnswer());
    CheckAllAndWait(*w);
    for (int i = 0; i < w->lb_add->Count(); ++i)
        EXPECT_EQ(w->EntryState(i), 1u) << i;
}

TEST_F(CheckAllAheadTest, DestroyingTheWindowWithRunsAheadInFlightLeavesNothingBehind) {
    QStringList hosts;
    for (int i = 1; i <= 9; ++i)
        hosts << QStringLiteral("10.0.0.%1").arg(i);
    SetList(hosts);
    names.HoldLookups(true);
    service.HoldRequests(true);
    const QPointer<Tfm_ns> window(w);
    Script([&] {
        if (!service.WaitForHeld(4, 0))
            return false;
        window->close();
        window->deleteLater();
        return true;
    });
    // Lookups are held too: releasing them one at a time lets requests out
    // while others still wait.
    auto* feeder = new QTimer(qApp);
    QObject::connect(feeder, &QTimer::timeout, [&] { names.ReleaseOne(); });
    feeder->start(1);
    CheckAllAndWait(*w);
    delete feeder;
    ASSERT_TRUE(WaitUntil([&] { return window.isNull(); }));
    w = nullptr;
    // TearDown releases everything held and finds no worker, handle or
    // lookup left.
}

} // namespace

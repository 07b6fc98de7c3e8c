// The watch over real automatic rounds on the routed test network: a host
// made to drop echoes by a filter rule gives one "down" notice after the
// failures it takes and one "up again" after the answers it takes, none for
// a single dropped echo; a host that loses every other echo is degraded.
// Each change asks for its sound once.
#include "alerts/HostStates.h"
#include "app/TAlertWatch.h"
#include "app/Tfm_ns.h"
#include "controls/g_listbox.h"
#include "echo/IcmpBinding.h"
#include "echo/TAxPing.h"
#include "historyview/THistory.h"
#include "support/EventWait.h"
#include "support/FakeSounds.h"
#include "support/TestNetwork.h"

#include <QAction>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

using namespace netsonde::test;

namespace {

const bool network = (RequestTestNetwork(), true);

// Runs nft in far's namespace; false when it failed.
bool FarFilter(const std::string& commands) {
    const std::string line =
        "ip netns exec " + NodeNamespace("far") + " nft -f - <<'EOF'\n" + commands + "\nEOF\n";
    return std::system(line.c_str()) == 0;
}

class AlertNetTest : public testing::Test {
protected:
    void SetUp() override {
        if (!InTestNetwork())
            GTEST_SKIP() << TestNetworkProblem();
        binding = std::make_unique<IcmpBindingScope>();
        ASSERT_TRUE(IcmpAvailable());
        w = std::make_unique<Tfm_ns>();
        w->show();
        w->SetHistory(new history::THistory(dir.filePath("history.sqlite")));
        watch = new TAlertWatch(dir.filePath("alerts.conf"));
        watch->SetNoticeSinkForTests([this](const alerts::Notice& n) { notices << n.Summary; });
        w->SetAlerts(watch);
        w->ApplyTimeOut(300);
    }
    void TearDown() override {
        if (filtered)
            FarFilter("delete table inet alerttest");
        w.reset();
    }
    void Filter(const char* rule) {
        ASSERT_TRUE(FarFilter(std::string("add table inet alerttest\n"
                                          "add chain inet alerttest input { type filter hook "
                                          "input priority -10; }\n"
                                          "add rule inet alerttest input ") +
                              rule));
        filtered = true;
    }
    void Unfilter() {
        ASSERT_TRUE(FarFilter("delete table inet alerttest"));
        filtered = false;
    }
    // One automatic round, started as the timer starts it; the timer itself
    // stays off, so that rounds come only from here.
    void Round() {
        w->Tick->stop();
        w->TickTimer(w->Tick);
        ASSERT_TRUE(WaitUntil([&] { return !w->Ping->Busy() && w->CheckKind() == rkNone; }, 30000));
    }

    std::unique_ptr<IcmpBindingScope> binding;
    QTemporaryDir dir;
    FakeSounds sounds;
    std::unique_ptr<Tfm_ns> w;
    TAlertWatch* watch = nullptr;
    QStringList notices;
    bool filtered = false;
};

TEST_F(AlertNetTest, AHostThatStopsAnsweringIsDownOnceAndUpAgainOnce) {
    const QString host = QStringLiteral("10.61.10.20");
    w->lb_add->AddItem(QString::fromLatin1(net::Far));
    w->lb_add->AddItem(host);
    w->CheckAll1->trigger();
    w->Tick->stop();
    ASSERT_TRUE(WaitUntil([&] { return !w->Ping->Busy() && w->CheckKind() == rkNone; }, 30000));
    ASSERT_EQ(watch->States().State(host), states::HostState::Up);

    // One dropped echo is no news.
    Filter("ip daddr 10.61.10.20 icmp type echo-request drop");
    Round();
    Unfilter();
    Round();
    Round();
    EXPECT_TRUE(notices.isEmpty()) << notices.join('\n').toStdString();

    // Three rounds without an answer: down, said once.
    Filter("ip daddr 10.61.10.20 icmp type echo-request drop");
    Round();
    Round();
    EXPECT_TRUE(notices.isEmpty());
    Round();
    EXPECT_EQ(notices, QStringList{host + " down"});
    for (int round = 0; round < 10; ++round)
        Round();
    EXPECT_EQ(notices.size(), 1);
    // Two answering rounds bring it back.
    Unfilter();
    Round();
    EXPECT_EQ(notices.size(), 1);
    Round();
    EXPECT_EQ(notices, (QStringList{host + " down", host + " up again"}));
    // The echoes lost while it was down are not loss once it answers: a
    // window's worth of answering rounds brings no further notice.
    for (int round = 0; round < 20; ++round)
        Round();
    EXPECT_EQ(notices, (QStringList{host + " down", host + " up again"}))
        << notices.join('\n').toStdString();
    EXPECT_EQ(sounds.played, (QStringList{alerts::AlertDown, alerts::AlertUp}));
    EXPECT_EQ(watch->States().State(QString::fromLatin1(net::Far)), states::HostState::Up);
}

TEST_F(AlertNetTest, AHostThatLosesEveryOtherEchoIsDegraded) {
    // This kernel may have no delaying queue; a lossy path makes a host that
    // answers, but badly, just as well.
    alerts::AlertSettings s = watch->Settings();
    s.Thresholds.LossWindow = 4;
    s.Thresholds.LossPercent = 25;
    watch->Apply(s);
    w->lb_add->AddItem(QString::fromLatin1(net::Far));
    w->lb_add->SetItemIndex(0);
    w->ApplyNumber(2);
    w->Ping1->trigger();
    ASSERT_TRUE(WaitUntil([&] { return !w->Ping->Busy(); }, 30000));
    w->Tick->stop();
    ASSERT_EQ(watch->States().State(QString::fromLatin1(net::Far)), states::HostState::Up);

    Filter("ip daddr 10.61.4.2 icmp type echo-request numgen inc mod 2 0 drop");
    for (int round = 0; round < 6 && notices.isEmpty(); ++round)
        Round();
    EXPECT_EQ(notices.size(), 1);
    EXPECT_TRUE(notices.value(0).startsWith(QString::fromLatin1(net::Far) + " degraded"))
        << notices.join('\n').toStdString();
    EXPECT_EQ(watch->States().State(QString::fromLatin1(net::Far)), states::HostState::Degraded);
    EXPECT_EQ(sounds.played, QStringList{alerts::AlertDegraded});
}

// Loss of a third of the echoes, now and then three in a row, one echo a
// round as the prober sends them: the host is degraded while it lasts and
// never down, and answers normally again after it.
TEST_F(AlertNetTest, AHostThatLosesEchoesInRunsIsDegradedNotDown) {
    const QString far = QString::fromLatin1(net::Far);
    w->lb_add->AddItem(far);
    w->CheckAll1->trigger();
    w->Tick->stop();
    ASSERT_TRUE(WaitUntil([&] { return !w->Ping->Busy() && w->CheckKind() == rkNone; }, 30000));
    for (int round = 0; round < 20; ++round)
        Round();
    ASSERT_EQ(watch->States().State(far), states::HostState::Up);

    // Of every ten echoes, the fourth, seventh and eighth are dropped; then
    // the fourth and the seventh to ninth.
    Filter("ip daddr 10.61.4.2 icmp type echo-request numgen inc mod 10 { 3, 6, 7 } drop");
    for (int round = 0; round < 20; ++round)
        Round();
    Unfilter();
    Filter("ip daddr 10.61.4.2 icmp type echo-request numgen inc mod 10 { 3, 6, 7, 8 } drop");
    for (int round = 0; round < 40; ++round) {
        Round();
        ASSERT_NE(watch->States().State(far), states::HostState::Down)
            << "round " << round << ": " << notices.join('\n').toStdString();
    }
    EXPECT_EQ(watch->States().State(far), states::HostState::Degraded);
    ASSERT_EQ(notices.size(), 1);
    EXPECT_TRUE(notices.value(0).startsWith(far + " degraded")) << notices.value(0).toStdString();
    Unfilter();
    for (int round = 0; round < 25; ++round)
        Round();
    EXPECT_EQ(notices, (QStringList{notices.value(0), far + " answers normally again"}));
}

} // namespace

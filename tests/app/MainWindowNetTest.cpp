// The real window with real sockets on the routed test network.
#include "app/Tfm_ns.h"
#include "controls/g_listbox.h"
#include "echo/IcmpBinding.h"
#include "echo/TAxPing.h"
#include "support/EventWait.h"
#include "support/TestNetwork.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QRegularExpression>
#include <gtest/gtest.h>
#include <optional>

using namespace netsonde::test;

namespace {

const bool network = (RequestTestNetwork(), true);

TEST(MainWindowOnTheNetwork, CheckAllMarksAnsweringSilentAndUnreachableHosts) {
    if (!InTestNetwork())
        GTEST_SKIP() << TestNetworkProblem();
    IcmpBindingScope binding;
    ASSERT_TRUE(IcmpAvailable());
    {
        Tfm_ns w;
        w.show();
        w.ApplyTimeOut(400);
        for (const char* host : {net::Far, net::Quiet, net::NetUnreachable})
            w.lb_add->AddItem(QString::fromLatin1(host));
        w.bn_allClick(nullptr);
        // Sorted as text: far 10.61.4.2, quiet 10.61.5.2, unreachable 10.61.8.5.
        ASSERT_EQ(w.lb_add->Items(), QStringList({net::Far, net::Quiet, net::NetUnreachable}));
        EXPECT_EQ(w.EntryState(0), 2u) << w.Results(0).join('|').toStdString();
        EXPECT_EQ(w.EntryState(1), 1u) << w.Results(1).join('|').toStdString();
        EXPECT_EQ(w.EntryState(2), 2u) << w.Results(2).join('|').toStdString();
        EXPECT_TRUE(w.Results(0)[0].startsWith("56 bytes received from 10.61.4.2"));
        EXPECT_TRUE(w.Results(2)[0].contains("net unreachable")) << w.Results(2)[0].toStdString();
        EXPECT_TRUE(w.Results(1)[0].contains("timed out"));
        EXPECT_EQ(w.Results(1).last(), QStringLiteral("Return Name: quiet.nsd.test"));
    }
}

// The lines of every entry, one text each, with the round-trip times taken
// out: the two runs of a comparison meet the same hosts at different moments.
std::vector<std::string> StoredLines(const Tfm_ns& w) {
    static const QRegularExpression time(QStringLiteral("time = \\d+ms"));
    static const QRegularExpression stats(QStringLiteral("Min/Avg/Max: \\d+/\\d+/\\d+"));
    std::vector<std::string> all;
    for (int i = 0; i < w.lb_add->Count(); ++i) {
        QStringList lines = w.Results(i);
        lines.replaceInStrings(time, QStringLiteral("time = ?ms"));
        lines.replaceInStrings(stats, QStringLiteral("Min/Avg/Max: ?"));
        all.push_back(w.HasResults(i) ? lines.join('|').toStdString() : "(none)");
    }
    return all;
}

TEST(MainWindowOnTheNetwork, CheckAllStoresWhatCheckOneStoresEntryByEntry) {
    if (!InTestNetwork())
        GTEST_SKIP() << TestNetworkProblem();
    IcmpBindingScope binding;
    Tfm_ns w;
    w.show();
    w.ApplyTimeOut(400);
    w.ApplyResolve(true);
    for (const char* host :
         {net::Far, net::FarNoName, net::Quiet, net::NetUnreachable, net::HostUnreachable,
          "far.nsd.test", "nohost.nsd.test", "10.61.7.9", "10.61.10.10", "10.61.10.11", net::Far6,
          net::FarNoName6, net::Quiet6, net::NetUnreachable6, net::HostUnreachable6,
          net::Blackholed6, "six.nsd.test", "dual.nsd.test", net::R1LinkLocal})
        w.lb_add->AddItem(QString::fromLatin1(host));
    w.bn_allClick(nullptr);
    const std::vector<std::string> together = StoredLines(w);
    const std::string lastPane = w.PaneLines().join('|').toStdString();

    // The same entries checked one by one, each after the one before ended.
    for (int i = 0; i < w.lb_add->Count(); ++i)
        w.lb_add->SetItemData(i, QVariant());
    for (int i = 0; i < w.lb_add->Count(); ++i) {
        w.lb_add->SetItemIndex(i);
        w.bn_oneClick(nullptr);
        ASSERT_TRUE(WaitUntil([&] { return !w.Ping->Busy() && w.CheckKind() == rkNone; }));
    }
    const std::vector<std::string> oneByOne = StoredLines(w);
    ASSERT_EQ(together.size(), oneByOne.size());
    for (std::size_t i = 0; i < together.size(); ++i)
        EXPECT_EQ(together[i], oneByOne[i]) << w.lb_add->Item(static_cast<int>(i)).toStdString();
    EXPECT_EQ(lastPane, w.PaneLines().join('|').toStdString());
    // Every kind of answer was met.
    EXPECT_EQ(w.EntryState(w.lb_add->IndexOf(QStringLiteral("nohost.nsd.test"))), 0u);
    EXPECT_EQ(w.EntryState(w.lb_add->IndexOf(QStringLiteral("10.61.7.9"))), 1u);
    EXPECT_EQ(w.EntryState(w.lb_add->IndexOf(QStringLiteral("10.61.10.10"))), 2u);
    EXPECT_TRUE(w.Results(w.lb_add->IndexOf(QString::fromLatin1(net::Far)))
                    .last()
                    .endsWith("far.nsd.test"));
    EXPECT_EQ(w.EntryState(w.lb_add->IndexOf(QString::fromLatin1(net::Blackholed6))), 1u);
    EXPECT_EQ(w.EntryState(w.lb_add->IndexOf(QStringLiteral("six.nsd.test"))), 2u);
    EXPECT_EQ(w.EntryState(w.lb_add->IndexOf(QString::fromLatin1(net::R1LinkLocal))), 2u);
}

TEST(MainWindowOnTheNetwork, ASilentNetworkTakesAboutOneTimeOut) {
    if (!InTestNetwork())
        GTEST_SKIP() << TestNetworkProblem();
    IcmpBindingScope binding;
    Tfm_ns w;
    w.show();
    constexpr int timeOut = 1000;
    w.ApplyTimeOut(timeOut);
    for (int host = 1; host <= 254; ++host)
        w.lb_add->AddItem(QString::fromLatin1(net::SilentNet) + QString::number(host));
    QElapsedTimer elapsed;
    elapsed.start();
    w.bn_allClick(nullptr);
    // One by one this takes 254 time-outs; a bound of a few is no race.
    EXPECT_LT(elapsed.elapsed(), 5 * timeOut);
    for (int i = 0; i < w.lb_add->Count(); ++i)
        ASSERT_EQ(w.EntryState(i), 1u) << w.lb_add->Item(i).toStdString();
    EXPECT_EQ(w.lb_add->ItemIndex(), 253);
}

TEST(MainWindowOnTheNetwork, ASilentIPv6NetworkTakesAboutOneTimeOut) {
    if (!InTestNetwork())
        GTEST_SKIP() << TestNetworkProblem();
    IcmpBindingScope binding;
    Tfm_ns w;
    w.show();
    constexpr int timeOut = 1000;
    w.ApplyTimeOut(timeOut);
    for (int host = 1; host <= 100; ++host)
        w.lb_add->AddItem(QStringLiteral("fd00:61:7::%1").arg(host, 0, 16));
    QElapsedTimer elapsed;
    elapsed.start();
    w.bn_allClick(nullptr);
    EXPECT_LT(elapsed.elapsed(), 5 * timeOut);
    for (int i = 0; i < w.lb_add->Count(); ++i)
        ASSERT_EQ(w.EntryState(i), 1u) << w.lb_add->Item(i).toStdString();
}

TEST(MainWindowOnTheNetwork, CheckAllOverBothFamilies) {
    if (!InTestNetwork())
        GTEST_SKIP() << TestNetworkProblem();
    IcmpBindingScope binding;
    ASSERT_TRUE(IcmpAvailable());
    {
        Tfm_ns w;
        w.show();
        w.ApplyTimeOut(400);
        for (const char* host : {net::Far, "six.nsd.test", "dual.nsd.test", net::Quiet6,
                                 net::HostUnreachable6, net::R1LinkLocal})
            w.lb_add->AddItem(QString::fromLatin1(host));
        w.bn_allClick(nullptr);
        ASSERT_EQ(w.lb_add->Items(),
                  QStringList({net::Far, "dual.nsd.test", net::Quiet6, net::HostUnreachable6,
                               net::R1LinkLocal, "six.nsd.test"}));
        const unsigned states[] = {2, 2, 1, 2, 2, 2};
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(w.EntryState(i), states[i]) << w.Results(i).join('|').toStdString();
        EXPECT_TRUE(w.Results(1)[0].startsWith("56 bytes received from fd00:61:4::2. time = "))
            << "a name with both records goes to IPv6 here";
        EXPECT_TRUE(w.Results(1).contains("IP Address: fd00:61:4::2"));
        EXPECT_EQ(w.Results(2).last(), QStringLiteral("Return Name: quiet.nsd.test"));
        EXPECT_EQ(w.Results(3)[0], "fd00:61:2::2: Destination host unreachable");
        EXPECT_TRUE(w.Results(4)[0].startsWith("56 bytes received from fe80::61:1%c0. time = "));
        EXPECT_TRUE(w.Results(5).contains("IP Address: fd00:61:4::2"));
        EXPECT_TRUE(w.Results(5).contains("Destination: six.nsd.test"));
        // A picture to look at: the list with both families, the
        // link-local neighbour's lines in the pane.
        w.lb_add->SetItemIndex(4);
        w.lb_addClick(nullptr);
        QDir().mkpath(QStringLiteral(NETSONDE_SCREENSHOT_DIR));
        w.grab().save(QStringLiteral(NETSONDE_SCREENSHOT_DIR "/check-all-both-families.png"));
    }
}

} // namespace

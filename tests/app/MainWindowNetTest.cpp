// The real window with real sockets on the routed test network.
#include "app/CheckAllWait.h"
#include "app/Tfm_ns.h"
#include "controls/g_listbox.h"
#include "dialogs/AddressTexts.h"
#include "echo/IcmpBinding.h"
#include "echo/TAxPing.h"
#include "support/EventWait.h"
#include "support/IpFamily.h"
#include "support/TestNetwork.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QRegularExpression>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <string>

#include <linux/if_ether.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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
        CheckAllAndWait(w);
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
    CheckAllAndWait(w);
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

// The destinations of the echo requests waiting in a packet socket of a
// node, with how often each came.
std::map<std::string, int> EchoRequestsReceived(int fd) {
    std::map<std::string, int> seen;
    std::uint8_t packet[2048];
    for (;;) {
        const ssize_t n = ::recv(fd, packet, sizeof packet, MSG_DONTWAIT);
        if (n < 0)
            break;
        const std::size_t header = (packet[0] & 0x0F) * 4u;
        if (static_cast<std::size_t>(n) <= header || packet[header] != 8)
            continue;
        char to[16];
        std::snprintf(to, sizeof to, "%u.%u.%u.%u", packet[16], packet[17], packet[18], packet[19]);
        ++seen[to];
    }
    return seen;
}

TEST(MainWindowOnTheNetwork, AGeneratedRangeChecksEachOfItsHostsOnce) {
    if (!InTestNetwork())
        GTEST_SKIP() << TestNetworkProblem();
    IcmpBindingScope binding;
    // The far host holds the whole net; a packet socket there sees every
    // echo request that reaches it, also those its filter drops.
    const int watch = SocketInNode("far", SOCK_DGRAM, htons(ETH_P_IP), AF_PACKET);
    ASSERT_GE(watch, 0);
    Tfm_ns w;
    w.show();
    w.ApplyTimeOut(400);
    // "10.61.10.001" ... "10.61.10.020", as the address dialog writes them.
    const QStringList range = AddressTexts::Range(QString::fromLatin1(net::TenthNet), 1, 20);
    ASSERT_EQ(range.size(), 20);
    for (const QString& text : range)
        w.lb_add->AddItem(text);
    CheckAllAndWait(w);
    const std::map<std::string, int> reached = EchoRequestsReceived(watch);
    std::map<std::string, int> once;
    for (int n = 1; n <= 20; ++n)
        once["10.61.10." + std::to_string(n)] = 1;
    EXPECT_EQ(reached, once);
    for (int n = 1; n <= 20; ++n) {
        const int i = w.lb_add->IndexOf(range[n - 1]);
        const QString address = QStringLiteral("IP Address: 10.61.10.%1").arg(n);
        EXPECT_TRUE(w.Results(i).contains(address)) << w.Results(i).join('|').toStdString();
        // Only every tenth host answers.
        EXPECT_EQ(w.EntryState(i), n % 10 == 0 ? 2u : 1u) << range[n - 1].toStdString();
    }

    // One entry checked on its own goes to the same host.
    w.lb_add->SetItemIndex(w.lb_add->IndexOf(QStringLiteral("10.61.10.010")));
    w.bn_oneClick(nullptr);
    ASSERT_TRUE(WaitUntil([&] { return !w.Ping->Busy() && w.CheckKind() == rkNone; }));
    EXPECT_EQ(EchoRequestsReceived(watch), (std::map<std::string, int>{{"10.61.10.10", 1}}));
    EXPECT_TRUE(w.PaneLines().contains(QStringLiteral("IP Address: 10.61.10.10")))
        << w.PaneLines().join('|').toStdString();
    ::close(watch);
}

// A whole silent net checked at once, for each family: 254 IPv4 hosts, 100
// IPv6 ones.
template <class F> class MainWindowOnASilentNet : public testing::Test {};
TYPED_TEST_SUITE(MainWindowOnASilentNet, FamilyTypes);

TYPED_TEST(MainWindowOnASilentNet, ASilentNetworkTakesAboutOneTimeOut) {
    if (!InTestNetwork())
        GTEST_SKIP() << TestNetworkProblem();
    IcmpBindingScope binding;
    Tfm_ns w;
    w.show();
    constexpr int timeOut = 1000;
    w.ApplyTimeOut(timeOut);
    const int hosts = TypeParam::Af == AF_INET ? 254 : 100;
    for (int host = 1; host <= hosts; ++host)
        w.lb_add->AddItem(QString::fromStdString(TypeParam::InSilentNet(host)));
    QElapsedTimer elapsed;
    elapsed.start();
    CheckAllAndWait(w);
    // One by one this takes a time-out per host; a bound of a few is no race.
    EXPECT_LT(elapsed.elapsed(), 5 * timeOut);
    for (int i = 0; i < w.lb_add->Count(); ++i)
        ASSERT_EQ(w.EntryState(i), 1u) << w.lb_add->Item(i).toStdString();
    EXPECT_EQ(w.lb_add->ItemIndex(), hosts - 1);
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
        CheckAllAndWait(w);
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

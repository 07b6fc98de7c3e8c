// The real window with real sockets on the routed test network.
#include "app/Tfm_ns.h"
#include "controls/g_listbox.h"
#include "echo/IcmpBinding.h"
#include "echo/TAxPing.h"
#include "support/TestNetwork.h"

#include <QDir>
#include <QLineEdit>
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

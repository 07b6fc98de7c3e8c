// The real window with real sockets on the routed test network.
#include "app/Tfm_ns.h"
#include "controls/g_listbox.h"
#include "echo/IcmpBinding.h"
#include "echo/TAxPing.h"
#include "support/TestNetwork.h"

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

} // namespace

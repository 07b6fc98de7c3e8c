// Check All over a list that mixes plain entries with entries naming a TCP
// or UDP port, in the real window on the routed test network.
#include "app/CheckAllWait.h"
#include "app/Tfm_ns.h"
#include "controls/g_listbox.h"
#include "echo/IcmpBinding.h"
#include "echo/TAxPing.h"
#include "support/EventWait.h"
#include "support/PortServices.h"
#include "support/TestNetwork.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace netsonde::test;

namespace {

const bool network = (RequestTestNetwork(), true);

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

TEST(PortCheckAll, AMixedListStoresWhatCheckOneStoresAndShowsEachState) {
    if (!InTestNetwork())
        GTEST_SKIP() << TestNetworkProblem();
    PortServices services;
    ASSERT_TRUE(services.Ready());
    IcmpBindingScope binding;
    Tfm_ns w;
    w.show();
    w.ApplyTimeOut(400);
    w.ApplyResolve(true);
    const QStringList entries{
        "far.nsd.test:7443",     "far.nsd.test:7444",     "far.nsd.test:7445",
        "far.nsd.test:7007/udp", "far.nsd.test:7009/udp", "far.nsd.test:7445/udp",
        "[fd00:61:4::2]:7443",   "10.61.7.9:443",         "far.nsd.test",
        "quiet.nsd.test",        "far.nsd.test:0"};
    for (const QString& entry : entries)
        w.lb_add->AddItem(entry);
    CheckAllAndWait(w);
    const std::vector<std::string> together = StoredLines(w);

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

    // 0 not checked, 1 timed out, 2 answered, as for plain entries.
    const std::pair<const char*, unsigned> states[] = {
        {"far.nsd.test:7443", 2},     {"far.nsd.test:7444", 2},     {"far.nsd.test:7445", 1},
        {"far.nsd.test:7007/udp", 2}, {"far.nsd.test:7009/udp", 2}, {"far.nsd.test:7445/udp", 1},
        {"[fd00:61:4::2]:7443", 2},   {"10.61.7.9:443", 1},         {"far.nsd.test", 2},
        {"quiet.nsd.test", 1},        {"far.nsd.test:0", 0}};
    for (const auto& [entry, state] : states) {
        const int index = w.lb_add->IndexOf(QString::fromLatin1(entry));
        EXPECT_EQ(w.EntryState(index), state)
            << entry << ": " << w.Results(index).join('|').toStdString();
    }
    EXPECT_TRUE(w.Results(w.lb_add->IndexOf(QStringLiteral("far.nsd.test:7444")))
                    .first()
                    .startsWith("refused by far.nsd.test:7444. time = "));
    EXPECT_EQ(services.BytesReceived(), 0);
}

TEST(PortCheckAll, ASilentNetOnATcpPortTakesAboutOneTimeOut) {
    if (!InTestNetwork())
        GTEST_SKIP() << TestNetworkProblem();
    IcmpBindingScope binding;
    Tfm_ns w;
    w.show();
    constexpr int timeOut = 1000;
    w.ApplyTimeOut(timeOut);
    for (int host = 1; host <= 254; ++host)
        w.lb_add->AddItem(QStringLiteral("10.61.7.%1:443").arg(host));
    QElapsedTimer elapsed;
    elapsed.start();
    CheckAllAndWait(w);
    // One by one this takes a time-out per host; a bound of a few is no race.
    EXPECT_LT(elapsed.elapsed(), 5 * timeOut);
    for (int i = 0; i < w.lb_add->Count(); ++i)
        ASSERT_EQ(w.EntryState(i), 1u) << w.lb_add->Item(i).toStdString();
}

} // namespace

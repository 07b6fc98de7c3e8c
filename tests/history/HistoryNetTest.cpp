// Real runs of the window on the routed test network, recorded into a real
// history file.
#include "HistoryFixture.h"
#include "app/CheckAllWait.h"
#include "app/Tfm_ns.h"
#include "controls/g_listbox.h"
#include "echo/IcmpBinding.h"
#include "echo/TAxPing.h"
#include "echo/TAxTrace.h"
#include "history/THistoryStore.h"
#include "historyview/THistory.h"
#include "support/EventWait.h"
#include "support/TestNetwork.h"

#include <QDateTime>
#include <gtest/gtest.h>

using namespace netsonde::test;

namespace {

const bool network = (RequestTestNetwork(), true);

struct Row {
    QString entry, address;
    int command, automatic, sent, received, outcome, code;
    qint64 t;
    QVariant rtt;
    QString echoes, message;
};

QList<Row> Rows(const QString& path) {
    QList<Row> rows;
    ForEachRow(path,
               "SELECT e.text, a.text, r.command, r.automatic, r.sent, r.received, r.outcome, "
               "r.code, r.t, r.rtt_avg, r.echoes, r.message FROM runs r JOIN names e ON e.id = "
               "r.entry LEFT JOIN names a ON a.id = r.address ORDER BY r.id",
               [&](const QSqlQuery& q) {
                   rows.append({q.value(0).toString(), q.value(1).toString(), q.value(2).toInt(),
                                q.value(3).toInt(), q.value(4).toInt(), q.value(5).toInt(),
                                q.value(6).toInt(), q.value(7).toInt(), q.value(8).toLongLong(),
                                q.value(9), q.value(10).toString(), q.value(11).toString()});
               });
    return rows;
}

TEST(HistoryOnTheNetwork, EveryEndedRunIsOneRowWithItsOutcome) {
    if (!InTestNetwork())
        GTEST_SKIP() << TestNetworkProblem();
    IcmpBindingScope binding;
    ASSERT_TRUE(IcmpAvailable());
    QTemporaryDir dir;
    const QString path = dir.filePath("history.sqlite");
    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    {
        Tfm_ns w;
        w.show();
        w.SetHistory(new history::THistory(path));
        w.ApplyTimeOut(400);
        for (const char* host : {net::Far, net::Quiet, net::NetUnreachable, "nohost.nsd.test"})
            w.lb_add->AddItem(QString::fromLatin1(host));
        // far, quiet, unreachable, and a name nobody knows.
        CheckAllAndWait(w);
        // A ping of three echoes and a trace of far.
        w.lb_add->SetItemIndex(0);
        w.ApplyNumber(3);
        w.bn_pingClick(nullptr);
        ASSERT_TRUE(WaitUntil([&] { return !w.Ping->Busy(); }, 30000));
        w.bn_traceClick(nullptr);
        ASSERT_TRUE(WaitUntil([&] { return !w.Trace->Busy(); }, 30000));
        w.History()->Store()->Sync();
    }
    const qint64 after = QDateTime::currentMSecsSinceEpoch();
    const QList<Row> rows = Rows(path);
    ASSERT_EQ(rows.size(), 6);
    for (const Row& r : rows) {
        EXPECT_GE(r.t, before);
        EXPECT_LE(r.t, after);
        EXPECT_EQ(r.automatic, 0);
    }
    for (int i = 1; i < rows.size(); ++i)
        EXPECT_LE(rows[i - 1].t, rows[i].t);
    // Check All, in the list's order.
    EXPECT_EQ(rows[0].entry, QString(net::Far));
    EXPECT_EQ(rows[0].command, int(history::Command::CheckAll));
    EXPECT_EQ(rows[0].outcome, int(history::Outcome::Answered));
    EXPECT_EQ(rows[0].address, QString(net::Far));
    EXPECT_EQ(rows[0].sent, 1);
    EXPECT_EQ(rows[0].received, 1);
    EXPECT_EQ(rows[0].echoes, rows[0].rtt.toString());
    EXPECT_EQ(rows[1].entry, QString(net::Quiet));
    EXPECT_EQ(rows[1].outcome, int(history::Outcome::TimedOut));
    EXPECT_EQ(rows[1].code, 11010);
    EXPECT_TRUE(rows[1].rtt.isNull());
    EXPECT_EQ(rows[1].echoes, QStringLiteral("*"));
    EXPECT_EQ(rows[2].entry, QString(net::NetUnreachable));
    EXPECT_EQ(rows[2].outcome, int(history::Outcome::Unreachable));
    EXPECT_EQ(rows[2].code, 11002);
    EXPECT_EQ(rows[3].entry, QStringLiteral("nohost.nsd.test"));
    EXPECT_EQ(rows[3].outcome, int(history::Outcome::Error));
    EXPECT_NE(rows[3].code, 0);
    EXPECT_FALSE(rows[3].message.isEmpty());
    EXPECT_EQ(rows[3].sent, 0);
    // The ping: three answered echoes.
    EXPECT_EQ(rows[4].command, int(history::Command::Ping));
    EXPECT_EQ(rows[4].sent, 3);
    EXPECT_EQ(rows[4].received, 3);
    EXPECT_EQ(rows[4].echoes.split(',').size(), 3);
    // The trace: hops through r1, r2, r3 to far.
    EXPECT_EQ(rows[5].command, int(history::Command::Trace));
    EXPECT_EQ(rows[5].outcome, int(history::Outcome::Answered));
    EXPECT_TRUE(rows[5].echoes.startsWith("1:")) << rows[5].echoes.toStdString();
    EXPECT_TRUE(rows[5].echoes.contains("@10.61.1.1")) << rows[5].echoes.toStdString();
    EXPECT_TRUE(rows[5].echoes.endsWith(QStringLiteral("@") + net::Far))
        << rows[5].echoes.toStdString();
    // far answered throughout, quiet and the unreachable host were down.
    EXPECT_EQ(Count(path, "SELECT count(*) FROM outages WHERE stop IS NULL"), 3);
}

} // namespace

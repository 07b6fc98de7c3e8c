// The history file: rows as written, several writers at once, retention,
// and files that cannot be used.
#include "FileLocker.h"
#include "HistoryFixture.h"
#include "history/TSqlThread.h"
#include "support/EventWait.h"
#include "support/ScratchMount.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <cstdio>
#include <gtest/gtest.h>

using namespace netsonde::test;
using history::Outcome;
using history::THistoryStore;

namespace {

constexpr qint64 DayMs = 86400000;

class HistoryStoreTest : public testing::Test {
protected:
    QTemporaryDir dir;
    QString path() const { return dir.filePath(QStringLiteral("history.sqlite")); }
};

TEST_F(HistoryStoreTest, RunsOutagesAndMinuteSumsAreWrittenInOneCommit) {
    const qint64 t0 = qint64{1'800'000'000'000};
    {
        THistoryStore store(path());
        store.Record(MakeRun("far", t0, Outcome::Answered, 4));
        store.Record(MakeRun("far", t0 + 1000, Outcome::TimedOut));
        store.Record(MakeRun("far", t0 + 2000, Outcome::TimedOut));
        store.Record(MakeRun("far", t0 + 3000, Outcome::Answered, 9));
        store.Record(MakeRun("far", t0 + 4000, Outcome::Cancelled));
        store.Record(MakeRun("near", t0 + 5000, Outcome::TimedOut));
        store.Sync();
        EXPECT_TRUE(store.Enabled());
        EXPECT_EQ(store.Committed(), 6);
    }
    EXPECT_EQ(Count(path(), "SELECT count(*) FROM runs"), 6);
    // far: down from its second run to its fourth; near: down since its
    // first; a cancelled run neither opens nor closes an outage.
    QStringList outages;
    ForEachRow(path(),
               "SELECT n.text, o.start, o.stop FROM outages o JOIN names n ON n.id = o.entry "
               "ORDER BY o.start",
               [&](const QSqlQuery& q) {
                   outages << QStringLiteral("%1 %2 %3")
                                  .arg(q.value(0).toString())
                                  .arg(q.value(1).toLongLong() - t0)
                                  .arg(q.value(2).isNull() ? -1 : q.value(2).toLongLong() - t0);
               });
    EXPECT_EQ(outages, QStringList({"far 1000 3000", "near 5000 -1"}));
    // far's minute: 5 runs, 4 judged, 2 answered, RTT 4 to 9.
    ForEachRow(path(),
               "SELECT m.runs, m.judged, m.answered, m.sent, m.received, m.rtt_min, m.rtt_max "
               "FROM minutes m JOIN names n ON n.id = m.entry WHERE n.text = 'far'",
               [&](const QSqlQuery& q) {
                   EXPECT_EQ(q.value(0).toInt(), 5);
                   EXPECT_EQ(q.value(1).toInt(), 4);
                   EXPECT_EQ(q.value(2).toInt(), 2);
                   EXPECT_EQ(q.value(3).toInt(), 5);
                   EXPECT_EQ(q.value(4).toInt(), 2);
                   EXPECT_EQ(q.value(5).toInt(), 4);
                   EXPECT_EQ(q.value(6).toInt(), 9);
               });
    ForEachRow(path(), "PRAGMA journal_mode",
               [](const QSqlQuery& q) { EXPECT_EQ(q.value(0).toString(), QStringLiteral("wal")); });
    EXPECT_EQ(Count(path(), "PRAGMA user_version"), THistoryStore::SchemaVersion);
}

TEST_F(HistoryStoreTest, RunsBeyondTheRetentionAreRemovedAtTheNextStart) {
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    {
        THistoryStore store(path());
        // An outage that ended before the retention period, and one that
        // reaches into it.
        store.Record(MakeRun("far", now - 403 * DayMs, Outcome::TimedOut));
        store.Record(MakeRun("far", now - 402 * DayMs, Outcome::Answered));
        store.Record(MakeRun("near", now - 401 * DayMs, Outcome::TimedOut));
        store.Record(MakeRun("near", now - 10 * DayMs, Outcome::Answered));
        store.Sync();
    }
    ASSERT_EQ(Count(path(), "SELECT count(*) FROM runs"), 4);
    {
        THistoryStore store(path());
        store.Sync();
    }
    EXPECT_EQ(Count(path(), "SELECT count(*) FROM runs"), 1);
    EXPECT_EQ(Count(path(), "SELECT count(*) FROM minutes"), 1);
    EXPECT_EQ(Count(path(), "SELECT count(*) FROM outages"), 1);
}

TEST_F(HistoryStoreTest, TwoProcessesWritingAtOnceLoseNoRow) {
    const QString writer = QCoreApplication::applicationDirPath() + "/history_writer";
    ASSERT_TRUE(QFile::exists(writer));
    // Many small transactions from each side, so they meet on the lock.
    ChildProcess a(writer, {path(), "a", "60", "5"});
    ChildProcess b(writer, {path(), "b", "60", "5"});
    ASSERT_TRUE(a.Started() && b.Started());
    EXPECT_EQ(a.Stop(60000), 0);
    EXPECT_EQ(b.Stop(60000), 0);
    EXPECT_EQ(Count(path(), "SELECT count(*) FROM runs"), 600);
    EXPECT_EQ(Count(path(), "SELECT count(*) FROM names"), 2);
}

TEST_F(HistoryStoreTest, RunsWaitWhileAnotherWriterHoldsTheFile) {
    {
        THistoryStore store(path());
        store.Sync();
    }
    const QString name = QStringLiteral("other-writer");
    {
        QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        other.setDatabaseName(path());
        ASSERT_TRUE(other.open());
        THistoryStore store(path());
        QSignalSpy failed(&store, &THistoryStore::Failed);
        store.Sync();
        QSqlQuery lock(other);
        ASSERT_TRUE(lock.exec("BEGIN IMMEDIATE"));
        store.Record(MakeRun("far", 1, Outcome::Answered));
        store.Sync();
        // Still held: nothing written, nothing lost, no complaint.
        EXPECT_EQ(store.Committed(), 0);
        EXPECT_TRUE(store.Enabled());
        ASSERT_TRUE(lock.exec("ROLLBACK"));
        store.Sync();
        EXPECT_EQ(store.Committed(), 1);
        QCoreApplication::processEvents();
        EXPECT_EQ(failed.count(), 0);
    }
    QSqlDatabase::removeDatabase(name);
    EXPECT_EQ(Count(path(), "SELECT count(*) FROM runs"), 1);
}

// Another program holds the file for long: requests to write share one
// short attempt, and the runs queued meanwhile go in once it is free,
// without being asked again.
TEST_F(HistoryStoreTest, RunsQueuedWhileAnotherProcessHoldsTheFileGoInOnceItIsFree) {
    {
        THistoryStore store(path());
        store.Sync();
    }
    FileLocker locker(path());
    ASSERT_TRUE(locker.locked);
    THistoryStore store(path());
    QSignalSpy written(&store, &THistoryStore::Written);
    for (int i = 0; i < 3; ++i)
        store.Record(MakeRun("far", 1000 + i, Outcome::Answered));
    QObject context;
    int done = 0;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 5; ++i)
        store.Flush(&context, [&] { ++done; });
    ASSERT_TRUE(WaitUntil([&] { return done == 5; }));
    const qint64 flushMs = clock.elapsed();
    std::printf("five flushes with the file held: %lld ms\n", static_cast<long long>(flushMs));
    EXPECT_LT(flushMs, Scaled(1000));
    EXPECT_EQ(store.Committed(), 0);
    EXPECT_EQ(written.count(), 0);
    // A request whose context has gone is dropped.
    {
        QObject gone;
        store.Flush(&gone, [&] { ADD_FAILURE() << "called for a context that has gone"; });
    }
    locker.Release();
    ASSERT_TRUE(WaitUntil([&] { return store.Committed() == 3; }));
    EXPECT_TRUE(store.Enabled());
    EXPECT_EQ(Count(path(), "SELECT count(*) FROM runs"), 3);
}

// A new file that another program holds before it has its tables: the
// store makes them once the file is free, and the runs recorded meanwhile
// go in after them.
TEST_F(HistoryStoreTest, ANewFileHeldByAnotherProcessIsSetUpOnceItIsFree) {
    ForEachRow(path(), "PRAGMA journal_mode=WAL", [](const QSqlQuery&) {});
    FileLocker locker(path());
    ASSERT_TRUE(locker.locked);
    THistoryStore store(path());
    QSignalSpy failed(&store, &THistoryStore::Failed);
    store.Record(MakeRun("far", 1000, Outcome::Answered));
    store.Sync();
    EXPECT_EQ(store.Committed(), 0);
    locker.Release();
    ASSERT_TRUE(WaitUntil([&] { return store.Committed() == 1; }));
    EXPECT_EQ(failed.count(), 0);
    EXPECT_EQ(Count(path(), "PRAGMA user_version"), THistoryStore::SchemaVersion);
}

// The owner's thread never waits for a held file: the store goes at once
// and its worker ends by itself after one short last attempt.
TEST_F(HistoryStoreTest, AStoreWhoseFileIsHeldGoesAtOnce) {
    {
        THistoryStore store(path());
        store.Sync();
    }
    ASSERT_TRUE(history::TSqlThread::WaitForEnded(Scaled(5000)));
    FileLocker locker(path());
    ASSERT_TRUE(locker.locked);
    auto* store = new THistoryStore(path());
    QObject context;
    for (int i = 0; i < 5; ++i) {
        store->Record(MakeRun("far", 1000 + i, Outcome::Answered));
        store->Flush(&context, [] {});
    }
    QElapsedTimer clock;
    clock.start();
    delete store;
    const qint64 deleteMs = clock.elapsed();
    clock.restart();
    const bool ended = history::TSqlThread::WaitForEnded(Scaled(2000));
    const qint64 endMs = clock.elapsed();
    std::printf("store deleted in %lld ms, its worker ended %lld ms later\n",
                static_cast<long long>(deleteMs), static_cast<long long>(endMs));
    EXPECT_LT(deleteMs, Scaled(200));
    EXPECT_TRUE(ended);
    EXPECT_LT(endMs, Scaled(1000));
    EXPECT_EQ(history::TSqlThread::Ending(), 0);
}

TEST_F(HistoryStoreTest, DamagedFileIsMovedAsideAndTheHistoryIsOffWithOneMessage) {
    {
        QFile f(path());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(8192, 'x'));
    }
    THistoryStore store(path());
    QSignalSpy failed(&store, &THistoryStore::Failed);
    store.Record(MakeRun("far", 1, Outcome::Answered));
    store.Sync();
    ASSERT_TRUE(failed.wait(5000) || failed.count() == 1);
    EXPECT_EQ(failed.count(), 1);
    const QString message = failed.at(0).at(0).toString();
    EXPECT_TRUE(message.contains(QDir::toNativeSeparators(path()))) << message.toStdString();
    EXPECT_TRUE(message.contains("not a database")) << message.toStdString();
    EXPECT_FALSE(store.Enabled());
    EXPECT_EQ(store.Committed(), 0);
    // Kept aside, byte for byte, and named in the message.
    const QStringList aside = QDir(dir.path()).entryList({"history.sqlite.broken-*"});
    ASSERT_EQ(aside.size(), 1);
    EXPECT_TRUE(message.contains(aside.front())) << message.toStdString();
    QFile kept(dir.filePath(aside.front()));
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), QByteArray(8192, 'x'));
    EXPECT_FALSE(QFile::exists(path()));
    // Later runs are dropped without another message.
    store.Record(MakeRun("far", 2, Outcome::Answered));
    store.Sync();
    QCoreApplication::processEvents();
    EXPECT_EQ(failed.count(), 1);
}

TEST_F(HistoryStoreTest, FileOfANewerVersionIsLeftAlone) {
    {
        THistoryStore store(path());
        store.Sync();
    }
    ForEachRow(path(), "PRAGMA user_version=7", [](const QSqlQuery&) {});
    THistoryStore store(path());
    QSignalSpy failed(&store, &THistoryStore::Failed);
    store.Sync();
    ASSERT_TRUE(failed.wait(5000) || failed.count() == 1);
    EXPECT_TRUE(failed.at(0).at(0).toString().contains("newer version"));
    EXPECT_TRUE(QFile::exists(path()));
    EXPECT_TRUE(QDir(dir.path()).entryList({"*.broken-*"}).isEmpty());
}

TEST_F(HistoryStoreTest, ReadOnlyFileTurnsTheHistoryOffAndStaysWhereItIs) {
    const QString folder = dir.filePath("ro");
    ASSERT_TRUE(QDir().mkpath(folder));
    ScratchMount mount(folder, 4096);
    if (!mount.Mounted())
        GTEST_SKIP() << "needs root to mount a read-only file system";
    const QString file = folder + "/history.sqlite";
    {
        THistoryStore store(file);
        store.Record(MakeRun("far", 1, Outcome::Answered));
        store.Sync();
        ASSERT_EQ(store.Committed(), 1);
    }
    // The file stays open until the worker has ended.
    ASSERT_TRUE(history::TSqlThread::WaitForEnded(Scaled(5000)));
    ASSERT_TRUE(mount.MakeReadOnly());
    const qint64 size = QFileInfo(file).size();
    THistoryStore store(file);
    QSignalSpy failed(&store, &THistoryStore::Failed);
    store.Record(MakeRun("far", 2, Outcome::Answered));
    store.Sync();
    ASSERT_TRUE(failed.wait(5000) || failed.count() == 1);
    EXPECT_EQ(failed.count(), 1);
    const QString message = failed.at(0).at(0).toString();
    EXPECT_TRUE(message.contains(file)) << message.toStdString();
    EXPECT_TRUE(message.contains("cannot be used")) << message.toStdString();
    EXPECT_EQ(QFileInfo(file).size(), size);
}

TEST(RunRecordTest, EchoesSurviveTheirStoredForm) {
    using history::Echo;
    const QVector<Echo> ping = {{0, 12, 0, {}}, {11010, -1, 0, {}}, {11003, -1, 0, {}}};
    const QString pingText = history::EncodeEchoes(ping, false);
    EXPECT_EQ(pingText, QStringLiteral("12,*,!11003"));
    const QVector<Echo> back = history::DecodeEchoes(pingText, false);
    ASSERT_EQ(back.size(), 3);
    EXPECT_EQ(back[0].Rtt, 12);
    EXPECT_EQ(back[1].Status, 11010);
    EXPECT_EQ(back[2].Status, 11003);
    const QVector<Echo> trace = {
        {11013, 1, 1, "10.61.1.1"}, {11010, -1, 2, {}}, {0, 3, 3, "10.61.4.2"}};
    const QString traceText = history::EncodeEchoes(trace, true);
    EXPECT_EQ(traceText, QStringLiteral("1:1!11013@10.61.1.1,2:*,3:3@10.61.4.2"));
    const QVector<Echo> hops = history::DecodeEchoes(traceText, true);
    ASSERT_EQ(hops.size(), 3);
    EXPECT_EQ(hops[0].Node, QStringLiteral("10.61.1.1"));
    EXPECT_EQ(hops[0].Status, 11013);
    EXPECT_EQ(hops[0].Rtt, 1);
    EXPECT_EQ(hops[1].Ttl, 2);
    EXPECT_EQ(hops[1].Status, 11010);
    EXPECT_EQ(hops[2].Rtt, 3);
}

} // namespace

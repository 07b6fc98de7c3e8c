// Watched paths in the history file: minutes written and read back as the
// figures of a span, a minute in two parts, route changes, the file of the
// second format brought up to date, the size of 30 days of one path, and a
// file held by another process.
#include "FileLocker.h"
#include "HistoryFixture.h"
#include "history/HistoryQueries.h"
#include "history/PathQueries.h"
#include "history/PathRecords.h"
#include "history/TSqlThread.h"
#include "paths/Address.h"
#include "support/EventWait.h"

#include <QDateTime>
#include <QFileInfo>
#include <QSignalSpy>
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <vector>

using namespace netsonde::test;
using history::Outcome;
using history::THistoryStore;
using paths::MinuteSummary;
using paths::RouteChange;

namespace {

constexpr qint64 MinuteMs = 60000;
constexpr qint64 DayMs = 1440 * MinuteMs;

paths::Address Ip(const char* text) {
    const std::optional<platform::AsyncEcho::Target> t = paths::ParseTarget(text);
    return t ? paths::AddressOf(*t) : paths::Address();
}

// A record whose answers had these round trips; diffSum and diffCount as
// the engine would have counted them.
MinuteSummary Rec(qint64 minuteMs, int ttl, const char* responder, std::uint32_t sent,
                  const std::vector<double>& rtts, double diffSum, std::uint32_t diffCount,
                  std::uint32_t forwardedLost = 0) {
    MinuteSummary s;
    s.minuteStartMs = minuteMs;
    s.ttl = ttl;
    if (responder)
        s.responder = Ip(responder);
    s.sent = sent;
    s.forwardedLost = forwardedLost;
    for (double ms : rtts) {
        ++s.answered;
        s.rttSumMs += ms;
        s.rttSquaresMs += ms * ms;
        ++s.histogram[paths::HistogramBucket(ms)];
    }
    s.diffSumMs = diffSum;
    s.diffCount = diffCount;
    return s;
}

std::vector<double> Times(int n, double ms) {
    return std::vector<double>(static_cast<std::size_t>(n), ms);
}

std::vector<double> Join(std::vector<double> a, const std::vector<double>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class HistoryPathsTest : public testing::Test {
protected:
    QString path() const { return dir.filePath(QStringLiteral("history.sqlite")); }

    // Runs fn on a connection of its own to the file.
    template <typename Fn> auto Read(Fn fn) {
        std::optional<decltype(fn(QSqlDatabase()))> result;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "paths");
            db.setDatabaseName(path());
            EXPECT_TRUE(db.open());
            result = fn(db);
        }
        QSqlDatabase::removeDatabase("paths");
        return *result;
    }
    history::PathSpan Load(qint64 from, qint64 to, const QString& entry = "far",
                           const QString& target = {}) {
        return Read([&](const QSqlDatabase& db) {
            return history::LoadPathSpan(db, entry, from, to, target);
        });
    }

    QTemporaryDir dir;
};

// The hop's own figures at ttl (responder empty) or a responder's.
struct Seen {
    std::uint64_t sent = 0;
    std::uint64_t answered = 0;
    double loss = 0;
    double forwarded = 0;
    paths::RttFigures rtt;
};

std::optional<Seen> Find(const paths::PathFigures& f, int ttl, const QString& responder) {
    for (const paths::HopFigures& h : f.hops) {
        if (h.ttl != ttl)
            continue;
        if (responder.isEmpty())
            return Seen{h.sent, h.answered, h.lossPercent, h.forwardedLossPercent, h.rtt};
        for (const paths::ResponderFigures& r : h.responders)
            if (r.address.ToString() == responder)
                return Seen{r.sent, r.answered, r.lossPercent, 0, r.rtt};
    }
    return std::nullopt;
}

// Two minutes of a two-hop path; at the second hop a load balancer splits
// the first minute between two routers.
TEST_F(HistoryPathsTest, MinutesComeBackAsTheFiguresOfASpan) {
    const qint64 a = qint64{1'800'000'000'000} / MinuteMs * MinuteMs;
    const qint64 b = a + MinuteMs;
    {
        THistoryStore store(path());
        store.RecordPathMinutes(
            "far", "10.0.2.1",
            {Rec(a, 1, nullptr, 60, Join(Times(30, 1), Times(30, 3)), 20, 59),
             Rec(a, 1, "10.0.1.1", 60, Join(Times(30, 1), Times(30, 3)), 20, 59),
             Rec(a, 2, nullptr, 60, Join(Times(40, 10), Times(10, 20)), 30, 49, 4),
             Rec(a, 2, "10.0.2.1", 60, Times(40, 10), 0, 39),
             Rec(a, 2, "10.0.2.9", 60, Times(10, 20), 0, 9)});
        store.RecordPathMinutes("far", "10.0.2.1",
                                {Rec(b, 1, nullptr, 60, Times(57, 2), 6, 56, 1),
                                 Rec(b, 1, "10.0.1.1", 60, Times(57, 2), 6, 56),
                                 Rec(b, 2, nullptr, 60, Times(60, 12), 12, 60),
                                 Rec(b, 2, "10.0.2.1", 60, Times(60, 12), 12, 60)});
        store.Sync();
        EXPECT_TRUE(store.Enabled());
    }
    EXPECT_EQ(Count(path(), "SELECT count(*) FROM path_minutes"), 2);
    EXPECT_EQ(Read(history::PathEntries), QStringList{"far"});

    struct Row {
        const char* span;
        qint64 from, to;
        int ttl;
        const char* responder;
        std::uint64_t sent, answered;
        double loss, forwarded, mean, stdev, jitter, median, p95;
    };
    // Buckets: 1 ms lies in [0.8, 1.6), 2 and 3 ms in [1.6, 3.2), 10 and
    // 12 ms in [6.4, 12.8), 20 ms in [12.8, 25.6); a percentile is the upper
    // bound of its bucket.
    const Row rows[] = {
        {"both", a, b + MinuteMs, 1, "", 120, 117, 2.5, 100.0 / 120, 2.0, 0.7161148740394329,
         26.0 / 115, 3.2, 3.2},
        {"both", a, b + MinuteMs, 1, "10.0.1.1", 120, 117, 2.5, 0, 2.0, 0.7161148740394329,
         26.0 / 115, 3.2, 3.2},
        {"both", a, b + MinuteMs, 2, "", 120, 110, 100.0 / 12, 400.0 / 120, 12.0,
         2.6967994498529684, 42.0 / 109, 12.8, 25.6},
        {"both", a, b + MinuteMs, 2, "10.0.2.1", 120, 100, 100.0 / 6, 0, 11.2, 0.9797958971132712,
         12.0 / 99, 12.8, 12.8},
        {"both", a, b + MinuteMs, 2, "10.0.2.9", 60, 10, 250.0 / 3, 0, 20.0, 0, 0, 25.6, 25.6},
        {"first", a, b, 1, "", 60, 60, 0, 0, 2.0, 1.0, 20.0 / 59, 1.6, 3.2},
        {"first", a, b, 2, "", 60, 50, 100.0 / 6, 400.0 / 60, 12.0, 4.0, 30.0 / 49, 12.8, 25.6},
        // A span that begins inside a minute leaves that minute out.
        {"second", a + 1, b + MinuteMs, 1, "", 60, 57, 5, 100.0 / 60, 2.0, 0, 6.0 / 56, 3.2, 3.2},
        {"second", a + 1, b + MinuteMs, 2, "10.0.2.1", 60, 60, 0, 0, 12.0, 0, 0.2, 12.8, 12.8},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.span) + " ttl " + std::to_string(row.ttl) + " " +
                     row.responder);
        const history::PathSpan span = Load(row.from, row.to);
        EXPECT_EQ(span.figures.target, QStringLiteral("10.0.2.1"));
        const std::optional<Seen> seen = Find(span.figures, row.ttl, row.responder);
        ASSERT_TRUE(seen);
        EXPECT_EQ(seen->sent, row.sent);
        EXPECT_EQ(seen->answered, row.answered);
        EXPECT_NEAR(seen->loss, row.loss, 1e-9);
        EXPECT_NEAR(seen->forwarded, row.forwarded, 1e-9);
        EXPECT_EQ(seen->rtt.answers, row.answered);
        EXPECT_NEAR(seen->rtt.meanMs, row.mean, 1e-6);
        EXPECT_NEAR(seen->rtt.stdevMs, row.stdev, 1e-6);
        EXPECT_NEAR(seen->rtt.jitterMs, row.jitter, 1e-6);
        EXPECT_DOUBLE_EQ(seen->rtt.medianMs, row.median);
        EXPECT_DOUBLE_EQ(seen->rtt.p95Ms, row.p95);
    }
    const history::PathSpan both = Load(a, b + MinuteMs);
    EXPECT_EQ(both.minutes, 2);
    EXPECT_EQ(both.figures.rounds, 120U);
    EXPECT_EQ(both.figures.distance, 2);
    ASSERT_EQ(both.figures.hops.size(), 2U);
    EXPECT_EQ(both.figures.hops[1].responders.size(), 2U);
    // Not kept: last, best and worst round trips, and names.
    EXPECT_EQ(both.figures.hops[0].rtt.bestMs, 0);
    EXPECT_TRUE(both.figures.hops[0].responders[0].name.isEmpty());
    EXPECT_TRUE(Load(b + MinuteMs, b + 2 * MinuteMs).Empty());
    EXPECT_TRUE(Load(a, b + MinuteMs, "near").Empty());
}

// The engine closes a minute early when it is reset; the second part adds
// to the first whether it comes in the same commit or a later one, and a
// responder that first answered in the second part counts that part's
// requests only.
TEST_F(HistoryPathsTest, AMinuteInTwoPartsAddsUp) {
    const qint64 m = qint64{1'800'000'000'000} / MinuteMs * MinuteMs;
    for (const bool laterCommit : {false, true}) {
        SCOPED_TRACE(laterCommit ? "later commit" : "same commit");
        const QString entry = laterCommit ? "later" : "same";
        {
            THistoryStore store(path());
            store.RecordPathMinutes(entry, "10.0.9.9",
                                    {Rec(m, 1, nullptr, 20, Times(20, 1), 0, 19),
                                     Rec(m, 1, "10.0.1.1", 20, Times(20, 1), 0, 19)});
            if (laterCommit)
                store.Sync();
            store.RecordPathMinutes(entry, "10.0.9.9",
                                    {Rec(m, 1, nullptr, 40, Times(38, 2), 4, 37, 2),
                                     Rec(m, 1, "10.0.1.1", 40, Times(30, 2), 2, 29),
                                     Rec(m, 1, "10.0.1.2", 40, Times(8, 2), 0, 7),
                                     Rec(m, 2, nullptr, 40, {}, 0, 0, 40)});
            store.Sync();
        }
        const history::PathSpan span = Load(m, m + MinuteMs, entry);
        EXPECT_EQ(span.minutes, 1);
        const std::optional<Seen> hop = Find(span.figures, 1, "");
        const std::optional<Seen> first = Find(span.figures, 1, "10.0.1.1");
        const std::optional<Seen> second = Find(span.figures, 1, "10.0.1.2");
        const std::optional<Seen> silent = Find(span.figures, 2, "");
        ASSERT_TRUE(hop && first && second && silent);
        EXPECT_EQ(hop->sent, 60U);
        EXPECT_EQ(hop->answered, 58U);
        EXPECT_NEAR(hop->forwarded, 100.0 * 2 / 60, 1e-9);
        EXPECT_NEAR(hop->rtt.meanMs, (20 + 76) / 58.0, 1e-9);
        EXPECT_NEAR(hop->rtt.jitterMs, 4.0 / 56, 1e-9);
        EXPECT_EQ(first->sent, 60U);
        EXPECT_EQ(first->answered, 50U);
        EXPECT_NEAR(first->rtt.meanMs, 80.0 / 50, 1e-9);
        EXPECT_EQ(second->sent, 40U);
        EXPECT_EQ(second->answered, 8U);
        EXPECT_EQ(silent->sent, 40U);
        EXPECT_EQ(silent->answered, 0U);
        EXPECT_DOUBLE_EQ(silent->forwarded, 100);
        EXPECT_TRUE(span.figures.hops[1].silent);
    }
    EXPECT_EQ(Count(path(), "SELECT count(*) FROM path_minutes"), 2);
}

TEST_F(HistoryPathsTest, RouteChangesComeBackInTheirSpan) {
    const qint64 t0 = qint64{1'800'000'000'000};
    const paths::Route one = {{Ip("10.0.1.1")}, {}, {Ip("10.0.3.1"), Ip("10.0.3.2")}};
    const paths::Route two = {{Ip("10.0.1.1")}, {Ip("2001:db8::7")}, {Ip("10.0.3.1")}};
    const std::vector<RouteChange> changes = {
        {RouteChange::Kind::Changed, t0, one, two},
        {RouteChange::Kind::FlappingBegan, t0 + 5000, two, one},
        {RouteChange::Kind::FlappingEnded, t0 + 90000, one, two},
        {RouteChange::Kind::Changed, t0 + 200000, two, {}},
    };
    {
        THistoryStore store(path());
        for (const RouteChange& c : changes)
            store.RecordRouteChange("far", "10.0.9.9", c);
        // Another target of the same entry, and another entry.
        store.RecordRouteChange("far", "10.0.8.8", changes[0]);
        store.RecordRouteChange("near", "10.0.9.9", changes[1]);
        store.Sync();
    }
    const history::PathSpan all = Load(t0, t0 + 200001, "far", "10.0.9.9");
    ASSERT_EQ(all.changes.size(), 4);
    for (qsizetype i = 0; i < all.changes.size(); ++i) {
        SCOPED_TRACE(i);
        const RouteChange& want = changes[static_cast<std::size_t>(i)];
        EXPECT_EQ(all.changes[i].kind, want.kind);
        EXPECT_EQ(all.changes[i].timeMs, want.timeMs);
        EXPECT_EQ(all.changes[i].before, want.before);
        EXPECT_EQ(all.changes[i].after, want.after);
    }
    EXPECT_FALSE(all.figures.flapping);
    // Within the flapping: the span's end decides the flag, and only the
    // changes inside the span come back.
    const history::PathSpan flapping = Load(t0 + 1, t0 + 60000, "far", "10.0.9.9");
    ASSERT_EQ(flapping.changes.size(), 1);
    EXPECT_EQ(flapping.changes[0].kind, RouteChange::Kind::FlappingBegan);
    EXPECT_TRUE(flapping.figures.flapping);
    EXPECT_EQ(Load(t0, t0 + 1, "far", "10.0.8.8").changes.size(), 1);
    EXPECT_EQ(Load(t0, t0 + DayMs, "near", "10.0.9.9").changes.size(), 1);

    EXPECT_EQ(history::UnpackRoute(history::PackRoute(two)), two);
    // A cut in the second TTL's address leaves the first.
    EXPECT_EQ(history::UnpackRoute(history::PackRoute(two).left(8)).size(), 1U);
}

// What the engine hands over comes back from the packed form, to the
// microsecond, and a damaged blob gives what was read before the damage.
TEST(HistoryPathRecordsTest, PackedMinutesComeBackAsTheyWere) {
    const qint64 m = 1'800'000'000'000 / MinuteMs * MinuteMs;
    const QList<MinuteSummary> minute = {Rec(m, 1, nullptr, 60, {0.05, 1.234, 1.5}, 1.5, 2),
                                         Rec(m, 1, "10.0.1.1", 60, {0.05, 1.234, 1.5}, 1.5, 2),
                                         Rec(m, 3, nullptr, 60, {30000, 250.125}, 0, 0, 58),
                                         Rec(m, 3, "2001:db8::1", 59, {30000}, 0, 0),
                                         Rec(m, 3, "10.0.3.3", 60, {250.125}, 0, 0)};
    const QByteArray blob = history::PackMinute(minute);
    const QList<MinuteSummary> back = history::UnpackMinute(blob, m);
    ASSERT_EQ(back.size(), minute.size());
    for (qsizetype i = 0; i < back.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(back[i].minuteStartMs, m);
        EXPECT_EQ(back[i].ttl, minute[i].ttl);
        EXPECT_EQ(back[i].responder, minute[i].responder);
        EXPECT_EQ(back[i].sent, minute[i].sent);
        EXPECT_EQ(back[i].answered, minute[i].answered);
        EXPECT_EQ(back[i].forwardedLost, minute[i].forwardedLost);
        EXPECT_NEAR(back[i].rttSumMs, minute[i].rttSumMs, 0.0005);
        EXPECT_NEAR(back[i].rttSquaresMs, minute[i].rttSquaresMs, 0.000001);
        EXPECT_NEAR(back[i].diffSumMs, minute[i].diffSumMs, 0.0005);
        EXPECT_EQ(back[i].diffCount, minute[i].diffCount);
        EXPECT_EQ(back[i].histogram, minute[i].histogram);
    }
    // A hop whose one responder has the hop's figures costs its address.
    const QByteArray alone = history::PackMinute({minute[0], minute[1]});
    EXPECT_EQ(alone.size(), history::PackMinute({minute[0]}).size() + 5);
    for (qsizetype cut = 0; cut < blob.size(); ++cut) {
        const QList<MinuteSummary> part = history::UnpackMinute(blob.left(cut), m);
        ASSERT_LT(part.size(), minute.size()) << cut;
        for (qsizetype i = 0; i < part.size(); ++i)
            EXPECT_EQ(part[i].sent, minute[i].sent) << cut;
    }
}

TEST_F(HistoryPathsTest, AFileOfTheSecondFormatKeepsEveryRun) {
    const qint64 now = QDateTime::currentMSecsSinceEpoch() / MinuteMs * MinuteMs;
    {
        THistoryStore store(path());
        for (int i = 0; i < 500; ++i)
            store.Record(MakeRun(i % 2 ? "far" : "near", now - DayMs + i * 7000,
                                 i % 9 ? Outcome::Answered : Outcome::TimedOut, 3 + i % 11));
        store.Sync();
    }
    // Take the file back to the second format, as an earlier version left it.
    for (const char* sql :
         {"DROP TABLE path_minutes", "DROP TABLE path_routes", "PRAGMA user_version=2"})
        ForEachRow(path(), sql, [](const QSqlQuery&) {});
    ASSERT_EQ(Count(path(), "PRAGMA user_version"), 2);
    const auto summary = [&] {
        return Read([&](const QSqlDatabase& db) {
            return history::ExportCsv(db, "far", now - 2 * DayMs, now) +
                   history::ExportCsv(db, "near", now - 2 * DayMs, now);
        });
    };
    const QByteArray before = summary();
    {
        THistoryStore store(path());
        store.RecordPathMinutes("far", "10.0.9.9",
                                {Rec(now - MinuteMs, 1, nullptr, 60, Times(60, 1), 0, 59)});
        store.Sync();
        EXPECT_TRUE(store.Enabled());
    }
    EXPECT_EQ(Count(path(), "PRAGMA user_version"), THistoryStore::SchemaVersion);
    EXPECT_EQ(Count(path(), "SELECT count(*) FROM runs"), 500);
    EXPECT_EQ(summary(), before);
    EXPECT_EQ(Load(now - DayMs, now).figures.hops.size(), 1U);
}

TEST_F(HistoryPathsTest, PathMinutesBeyondTheRetentionAreRemovedAtTheNextStart) {
    const qint64 now = QDateTime::currentMSecsSinceEpoch() / MinuteMs * MinuteMs;
    const qint64 old = now - (THistoryStore::RetentionDays + 1) * DayMs;
    {
        THistoryStore store(path());
        store.RecordPathMinutes("far", "10.0.9.9", {Rec(old, 1, nullptr, 60, {}, 0, 0)});
        store.RecordPathMinutes("far", "10.0.9.9", {Rec(now, 1, nullptr, 60, {}, 0, 0)});
        store.RecordRouteChange("far", "10.0.9.9", {RouteChange::Kind::Changed, old, {}, {}});
        store.RecordRouteChange("far", "10.0.9.9", {RouteChange::Kind::Changed, now, {}, {}});
        store.Sync();
    }
    ASSERT_EQ(Count(path(), "SELECT count(*) FROM path_minutes"), 2);
    {
        THistoryStore store(path());
        store.Sync();
    }
    EXPECT_EQ(Count(path(), "SELECT count(*) FROM path_minutes"), 1);
    EXPECT_EQ(Count(path(), "SELECT count(*) FROM path_routes"), 1);
}

// Another program holds the file: the minutes and route changes wait and
// go in once it is free.
TEST_F(HistoryPathsTest, PathMinutesWaitWhileAnotherProcessHoldsTheFile) {
    const qint64 m = qint64{1'800'000'000'000} / MinuteMs * MinuteMs;
    {
        THistoryStore store(path());
        store.Sync();
    }
    FileLocker locker(path());
    ASSERT_TRUE(locker.locked);
    THistoryStore store(path());
    QSignalSpy failed(&store, &THistoryStore::Failed);
    for (int i = 0; i < 3; ++i)
        store.RecordPathMinutes("far", "10.0.9.9",
                                {Rec(m + i * MinuteMs, 1, nullptr, 60, Times(60, 1), 0, 59)});
    store.RecordRouteChange("far", "10.0.9.9", {RouteChange::Kind::Changed, m, {}, {}});
    store.Sync();
    EXPECT_EQ(Count(path(), "SELECT count(*) FROM path_minutes"), 0);
    locker.Release();
    ASSERT_TRUE(WaitUntil([&] {
        return Count(path(), "SELECT count(*) FROM path_minutes") == 3 &&
               Count(path(), "SELECT count(*) FROM path_routes") == 1;
    }));
    EXPECT_TRUE(store.Enabled());
    EXPECT_EQ(failed.count(), 0);
    EXPECT_EQ(Load(m, m + 3 * MinuteMs).figures.rounds, 180U);
}

// 30 days of one path at a round a second: ten hops, the fourth of them
// balanced over two routers, round trips growing along the path with
// noise, a lost answer now and then.
TEST_F(HistoryPathsTest, ThirtyDaysOfOnePathFitInTwentyMegabytes) {
    constexpr int Days = 30;
    constexpr int Hops = 10;
    const qint64 start = QDateTime::currentMSecsSinceEpoch() / MinuteMs * MinuteMs - Days * DayMs;
    quint32 noise = 7;
    const auto next = [&noise] {
        noise = noise * 1103515245U + 12345U;
        return (noise >> 16) & 0x7FFF;
    };
    std::uint64_t sentAtLastHop = 0;
    {
        THistoryStore store(path());
        for (int minute = 0; minute < Days * 1440; ++minute) {
            const qint64 t = start + minute * MinuteMs;
            QList<MinuteSummary> records;
            for (int ttl = 1; ttl <= Hops; ++ttl) {
                const double base = 0.4 + 2.5 * ttl;
                std::vector<double> a;
                std::vector<double> b;
                for (int round = 0; round < 60; ++round) {
                    if (next() % 200 == 0)
                        continue;
                    const double ms = base + static_cast<double>(next() % 4000) / 1000.0;
                    (ttl == 4 && round % 2 ? b : a).push_back(ms);
                }
                MinuteSummary hop =
                    Rec(t, ttl, nullptr, 60, Join(a, b), 0.9 * static_cast<double>(a.size()),
                        static_cast<std::uint32_t>(a.size() + b.size()),
                        static_cast<std::uint32_t>(60 - a.size() - b.size()) / 2);
                const QByteArray first = QStringLiteral("10.%1.0.1").arg(ttl).toLatin1();
                const QByteArray second = QStringLiteral("10.%1.0.2").arg(ttl).toLatin1();
                records << hop;
                if (ttl == 4) {
                    records << Rec(t, ttl, first.constData(), 60, a, 0.8,
                                   static_cast<std::uint32_t>(a.size()))
                            << Rec(t, ttl, second.constData(), 60, b, 0.8,
                                   static_cast<std::uint32_t>(b.size()));
                } else {
                    MinuteSummary r = hop;
                    r.responder = Ip(first.constData());
                    r.forwardedLost = 0;
                    records << r;
                }
            }
            store.RecordPathMinutes("far", "10.10.0.1", records);
            sentAtLastHop += 60;
            if (minute % 1440 == 1439)
                store.Sync();
        }
        store.Sync();
        EXPECT_TRUE(store.Enabled());
    }
    ASSERT_TRUE(history::TSqlThread::WaitForEnded(Scaled(10000)));
    const qint64 bytes = QFileInfo(path()).size() + QFileInfo(path() + "-wal").size();
    std::printf("30 days of one %d-hop path: %.2f MB (%.0f bytes a minute)\n", Hops,
                static_cast<double>(bytes) / (1024.0 * 1024.0),
                static_cast<double>(bytes) / (Days * 1440));
    EXPECT_LE(bytes, qint64{20} * 1024 * 1024);
    const history::PathSpan all = Load(start, start + Days * DayMs);
    EXPECT_EQ(all.minutes, Days * 1440);
    ASSERT_EQ(all.figures.hops.size(), static_cast<std::size_t>(Hops));
    EXPECT_EQ(all.figures.hops.back().sent, sentAtLastHop);
    EXPECT_EQ(all.figures.hops[3].responders.size(), 2U);
    EXPECT_EQ(all.figures.distance, Hops);
}

// A history that does not exist yet (a fresh machine) reads as empty, and
// quietly: no query runs on a connection that could not be opened, so
// nothing says "database not open" on standard error.
TEST(HistoryReaders, AMissingFileReadsAsEmptyWithoutWarnings) {
    QTemporaryDir dir;
    const QString missing = dir.filePath("none/history.sqlite");
    static QStringList warnings;
    warnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString& text) { warnings << text; });
    {
        const QSqlDatabase db = history::ReaderConnection("missing-reader", missing, 0);
        EXPECT_FALSE(db.isOpen());
        qint64 first = 0, last = 0;
        EXPECT_FALSE(history::Extent(db, "gateway", &first, &last));
        EXPECT_EQ(history::LoadSpan(db, "gateway", 0, 60'000, 10).From, 0);
        EXPECT_TRUE(history::PathEntries(db).isEmpty());
        EXPECT_EQ(history::LoadPathSpan(db, "gateway", 0, 60'000).minutes, 0);
        EXPECT_FALSE(history::ExportCsv(db, "gateway", 0, 60'000).isEmpty());
        EXPECT_FALSE(history::ExportAllCsv(db, 0, 60'000).isEmpty());
    }
    QSqlDatabase::removeDatabase("missing-reader");
    qInstallMessageHandler(previous);
    EXPECT_TRUE(warnings.isEmpty()) << warnings.join('\n').toStdString();
}

} // namespace

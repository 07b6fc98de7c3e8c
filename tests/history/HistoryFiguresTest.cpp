// The figures of a span beyond loss and availability: the median, 95th
// percentile and jitter of the round-trip times, the same whether read from
// the runs or from the hourly and minute sums of long spans, also for a
// file of the first format; and the changes of state with the degraded
// periods they make.
#include "HistoryFixture.h"
#include "history/HistoryQueries.h"

#include <QSqlDatabase>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

using namespace netsonde::test;
using history::Outcome;
using states::HostState;

namespace {

constexpr qint64 MinuteMs = 60000;
constexpr qint64 HourMs = 60 * MinuteMs;
constexpr qint64 DayMs = 24 * HourMs;
// 2026-12-08 12:00:00 UTC.
constexpr qint64 Now = qint64{1796731200000};

struct Sample {
    qint64 t;
    int rtt; // -1: lost
};

// Three days of checks every 50 s, with slow evenings and lost echoes.
std::vector<Sample> Samples() {
    std::vector<Sample> out;
    quint32 noise = 99;
    for (qint64 t = Now - 3 * DayMs; t < Now; t += 50000) {
        noise = noise * 1103515245u + 12345u;
        const bool lost = (noise >> 20) % 17 == 0;
        const int hour = static_cast<int>((t / HourMs) % 24);
        out.push_back(
            {t, lost ? -1 : 3 + static_cast<int>((noise >> 16) % 23) + (hour >= 18 ? 40 : 0)});
    }
    return out;
}

// What the figures of [from, to) must be, computed the plain way.
history::RttFigures Expected(const std::vector<Sample>& samples, qint64 from, qint64 to) {
    history::RttFigures f;
    std::vector<int> rtts;
    int previous = -1;
    double steps = 0;
    int pairs = 0;
    for (const Sample& s : samples) {
        if (s.rtt < 0)
            continue;
        if (s.t >= from && s.t < to) {
            rtts.push_back(s.rtt);
            if (previous >= 0) {
                steps += std::abs(s.rtt - previous);
                ++pairs;
            }
        }
        previous = s.rtt;
    }
    std::sort(rtts.begin(), rtts.end());
    const auto n = static_cast<qint64>(rtts.size());
    f.Samples = n;
    f.Min = rtts.front();
    f.Max = rtts.back();
    f.Median = rtts[static_cast<size_t>((n + 1) / 2 - 1)];
    f.P95 = rtts[static_cast<size_t>((95 * n + 99) / 100 - 1)];
    f.Jitter = steps / pairs;
    return f;
}

class HistoryFiguresTest : public testing::Test {
protected:
    void SetUp() override {
        path = dir.filePath("history.sqlite");
        history::THistoryStore store(path);
        for (const Sample& s : samples)
            store.Record(
                MakeRun("far", s.t, s.rtt < 0 ? Outcome::TimedOut : Outcome::Answered, s.rtt));
        store.Sync();
    }
    history::SpanData Load(qint64 from, qint64 to, const QString& entry = "far") {
        history::SpanData d;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "figures");
            db.setDatabaseName(path);
            EXPECT_TRUE(db.open());
            d = history::LoadSpan(db, entry, from, to, 300);
        }
        QSqlDatabase::removeDatabase("figures");
        return d;
    }
    void ExpectFigures(qint64 from, qint64 to) {
        const history::RttFigures want = Expected(samples, from, to);
        const history::RttFigures got = Load(from, to).Rtt;
        EXPECT_EQ(got.Samples, want.Samples);
        EXPECT_EQ(got.Min, want.Min);
        EXPECT_EQ(got.Median, want.Median);
        EXPECT_EQ(got.P95, want.P95);
        EXPECT_EQ(got.Max, want.Max);
        EXPECT_NEAR(got.Jitter, want.Jitter, 1e-9);
    }

    const std::vector<Sample> samples = Samples();
    QTemporaryDir dir;
    QString path;
};

TEST_F(HistoryFiguresTest, RunsAndSumsOfLongSpansGiveTheSameFigures) {
    // Short spans read the runs; longer ones the hourly counts between two
    // stretches of runs at the ends, and the minute sums (whole minutes).
    ExpectFigures(Now - 5 * HourMs - 1234, Now - 17 * MinuteMs + 5);
    ExpectFigures(Now - 2 * DayMs - 7 * MinuteMs, Now - 3 * MinuteMs);
    ExpectFigures(Now - 3 * DayMs, Now);
    // A span without answers has no figures.
    const history::SpanData empty = Load(Now + HourMs, Now + 2 * HourMs);
    EXPECT_EQ(empty.Rtt.Samples, 0);
    EXPECT_EQ(empty.Rtt.Median, -1);
    EXPECT_EQ(empty.Rtt.Jitter, -1);

    EXPECT_EQ(history::Percentile({}, 0.5), -1);
    EXPECT_EQ(history::Percentile({{5, 1}, {7, 1}}, 0.5), 5);
    EXPECT_EQ(history::Percentile({{5, 1}, {7, 1}}, 0.95), 7);
    EXPECT_EQ(history::Percentile({{5, 19}, {9, 1}}, 0.95), 5);
    EXPECT_EQ(history::Percentile({{5, 18}, {9, 2}}, 0.95), 9);
}

TEST_F(HistoryFiguresTest, AFileOfTheFirstFormatGetsItsSumsWhenOpened) {
    // Take the file back to the first format, as an earlier version left it.
    for (const char* sql :
         {"DROP TABLE path_minutes", "DROP TABLE path_routes", "DROP TABLE rtt_hours",
          "DROP TABLE states", "ALTER TABLE minutes DROP COLUMN jitter_sum",
          "ALTER TABLE minutes DROP COLUMN jitter_n", "PRAGMA user_version=1"})
        ForEachRow(path, sql, [](const QSqlQuery&) {});
    ASSERT_EQ(Count(path, "PRAGMA user_version"), 1);
    {
        history::THistoryStore store(path);
        store.Sync();
        EXPECT_TRUE(store.Enabled());
    }
    EXPECT_EQ(Count(path, "PRAGMA user_version"), history::THistoryStore::SchemaVersion);
    ExpectFigures(Now - 2 * DayMs - 7 * MinuteMs, Now - 3 * MinuteMs);
    // Runs written after the change go on from the runs before it.
    {
        history::THistoryStore store(path);
        store.Record(MakeRun("far", Now + 10 * MinuteMs, Outcome::Answered, 1000));
        store.Sync();
    }
    const history::SpanData later = Load(Now - 2 * DayMs, Now + HourMs);
    const history::SpanData before = Load(Now - 2 * DayMs, Now);
    EXPECT_EQ(later.Rtt.Max, 1000);
    EXPECT_GT(later.Rtt.Jitter, before.Rtt.Jitter);
}

TEST_F(HistoryFiguresTest, StateChangesMarkTheSpanAndMakeDegradedPeriods) {
    const qint64 t0 = Now - 10 * HourMs;
    const qint64 t1 = Now - 9 * HourMs;
    const qint64 t2 = Now - 8 * HourMs;
    const qint64 t3 = Now - 7 * HourMs;
    const qint64 t4 = Now - 6 * HourMs;
    const qint64 t6 = Now - 2 * HourMs;
    {
        history::THistoryStore store(path);
        // The first state and a start of the program that finds the host
        // as it was are no changes.
        for (const history::StateRecord& change :
             std::vector<history::StateRecord>{{t0, "far", HostState::Up},
                                               {t1, "far", HostState::Degraded},
                                               {t2, "far", HostState::Up},
                                               {t3, "far", HostState::Up},
                                               {t4, "far", HostState::Degraded},
                                               {t6, "far", HostState::Down},
                                               {t6, "near", HostState::Down}})
            store.RecordState(change);
        store.Sync();
    }
    const auto marks = [](const history::SpanData& d) {
        QStringList out;
        for (const history::StateMark& m : d.States)
            out << QString("%1 %2")
                       .arg((Now - m.TimeMs) / HourMs)
                       .arg(states::MetricLabel(m.State));
        return out;
    };
    const auto periods = [](const history::SpanData& d) {
        QStringList out;
        for (const history::Period& p : d.Degraded)
            out << QString("%1-%2")
                       .arg((Now - p.Start) / HourMs)
                       .arg(p.Stop < 0 ? -1 : (Now - p.Stop) / HourMs);
        return out;
    };
    const history::SpanData whole = Load(Now - 11 * HourMs, Now - 3 * HourMs);
    EXPECT_EQ(marks(whole), (QStringList{"9 degraded", "8 up", "6 degraded"}));
    // The last period goes on past the span's end, to the change after it.
    EXPECT_EQ(periods(whole), (QStringList{"9-8", "6-2"}));
    // A period that began before the span reaches into it.
    const history::SpanData inside = Load(Now - 8 * HourMs - 30 * MinuteMs, Now);
    EXPECT_EQ(marks(inside), (QStringList{"8 up", "6 degraded", "2 down"}));
    EXPECT_EQ(periods(inside), (QStringList{"9-8", "6-2"}));
    EXPECT_EQ(history::TimeIn(inside.Degraded, inside.From, inside.To, Now),
              30 * MinuteMs + 4 * HourMs);
    // A host down from its first round shows that.
    EXPECT_EQ(marks(Load(Now - 3 * HourMs, Now, "near")), QStringList{"2 down"});
}

} // namespace

// The history window on a file of generated runs: spans, loss and
// availability, the outage list, CSV export, zooming by dragging, and how
// it looks on light and dark palettes.
#include "HistoryFixture.h"
#include "historyview/Tfm_history.h"
#include "support/EventWait.h"
#include "support/FakeMessageBoxes.h"

#include <QAreaSeries>
#include <QButtonGroup>
#include <QChartView>
#include <QDateTimeAxis>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineSeries>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <vector>

using namespace netsonde::test;
using history::Command;
using history::Outcome;
using history::Tfm_history;

namespace {

constexpr qint64 MinuteMs = 60000;
constexpr qint64 HourMs = 60 * MinuteMs;
constexpr qint64 DayMs = 24 * HourMs;
// 2026-12-08 12:00:00 UTC.
constexpr qint64 Now = qint64{1796731200000};

class HistoryWindowTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        // The window shows local times; the expected texts are in UTC.
        qputenv("TZ", "UTC");
        tzset();
    }
    void SetUp() override {
        path = dir.filePath("history.sqlite");
        history::THistoryStore store(path);
        history::RunRecord ping =
            MakeRun("far", Now - 20 * DayMs, Outcome::Answered, 40, Command::Ping);
        ping.Sent = 4;
        ping.Received = 3;
        ping.MinRtt = 38;
        ping.AvgRtt = 40;
        ping.MaxRtt = 44;
        ping.Echoes = {{0, 38, 0, {}}, {11010, -1, 0, {}}, {0, 44, 0, {}}, {0, 38, 0, {}}};
        history::RunRecord error = MakeRun("far", Now - 40 * MinuteMs, Outcome::Error);
        error.Sent = 0;
        error.Code = 11001;
        error.Message = "General failure, \"buffer\"";
        error.Address.clear();
        error.Echoes.clear();
        for (const history::RunRecord& r :
             {MakeRun("far", Now - 100 * DayMs, Outcome::Answered, 50), ping,
              MakeRun("far", Now - 2 * DayMs, Outcome::TimedOut),
              MakeRun("far", Now - 2 * DayMs + HourMs, Outcome::Answered, 30),
              MakeRun("far", Now - 3 * HourMs, Outcome::Answered, 20), error,
              MakeRun("far", Now - 30 * MinuteMs, Outcome::Answered, 5),
              MakeRun("far", Now - 20 * MinuteMs, Outcome::TimedOut),
              MakeRun("far", Now - 10 * MinuteMs, Outcome::TimedOut),
              MakeRun("far", Now - 5 * MinuteMs, Outcome::Answered, 7),
              MakeRun("near", Now - 5 * MinuteMs, Outcome::TimedOut)})
            store.Record(r);
        store.Sync();
    }

    Tfm_history* Open(const QString& entry = "far") {
        auto* w = new Tfm_history(path, entry);
        w->SetClockForTests([] { return Now; });
        // The window asked for 24 hours before its clock was set.
        QSignalSpy loaded(w, &Tfm_history::Loaded);
        EXPECT_TRUE(loaded.wait(5000));
        w->show();
        Show(w, Tfm_history::Day);
        return w;
    }
    void Show(Tfm_history* w, Tfm_history::Span span) {
        QSignalSpy loaded(w, &Tfm_history::Loaded);
        w->SetSpan(span);
        ASSERT_TRUE(loaded.wait(5000));
    }
    static QStringList OutageRows(const Tfm_history* w) {
        QStringList rows;
        for (int i = 0; i < w->tv_outages->topLevelItemCount(); ++i) {
            const QTreeWidgetItem* item = w->tv_outages->topLevelItem(i);
            rows << QStringList({item->text(0), item->text(1), item->text(2), item->text(3)})
                        .join(" | ");
        }
        return rows;
    }

    QTemporaryDir dir;
    QString path;
};

TEST_F(HistoryWindowTest, EachSpanCountsItsRunsLossAvailabilityAndOutages) {
    std::unique_ptr<Tfm_history> w(Open());
    // The last hour: error, answered, two timeouts, answered.
    Show(w.get(), Tfm_history::Hour);
    EXPECT_EQ(w->Shown().Runs, 5);
    EXPECT_EQ(w->Shown().Sent, 4);
    EXPECT_EQ(w->Shown().Received, 2);
    EXPECT_DOUBLE_EQ(w->Shown().LossPercent(), 50.0);
    EXPECT_DOUBLE_EQ(w->Shown().AvailabilityPercent(), 40.0);
    EXPECT_EQ(w->lb_summary->text(), "Loss 50.0 %    Availability 40.0 %    5 runs");
    // The error at -40 min opened an outage that the run at -30 min ended.
    EXPECT_EQ(OutageRows(w.get()),
              QStringList(
                  {"2026-12-08 11:20:00 | 2026-12-08 11:30:00 | 10 min 0 s | error (11001)",
                   "2026-12-08 11:40:00 | 2026-12-08 11:55:00 | 15 min 0 s | timed out (11010)"}));
    Show(w.get(), Tfm_history::Day);
    EXPECT_EQ(w->Shown().Runs, 6);
    // Longer spans read the minute sums.
    Show(w.get(), Tfm_history::Week);
    EXPECT_EQ(w->Shown().Runs, 8);
    EXPECT_EQ(OutageRows(w.get()).size(), 3);
    EXPECT_EQ(OutageRows(w.get()).front(),
              "2026-12-06 12:00:00 | 2026-12-06 13:00:00 | 1 h 0 min | timed out (11010)");
    Show(w.get(), Tfm_history::Month);
    EXPECT_EQ(w->Shown().Runs, 9);
    EXPECT_EQ(w->Shown().Sent, 11);
    EXPECT_EQ(w->Shown().Received, 7);
    Show(w.get(), Tfm_history::All);
    EXPECT_EQ(w->Shown().Runs, 10);
    EXPECT_EQ(w->Shown().From, Now - 100 * DayMs);
    // Every column stays inside the plot.
    for (const history::Column& c : w->Shown().Columns) {
        EXPECT_GE(c.Index, 0);
        EXPECT_LT(c.Index, w->Shown().Width);
    }
}

TEST_F(HistoryWindowTest, OngoingOutageAndAnEntryWithoutRuns) {
    std::unique_ptr<Tfm_history> near(Open("near"));
    EXPECT_EQ(OutageRows(near.get()),
              QStringList({"2026-12-08 11:55:00 | not yet | 5 min 0 s | timed out (11010)"}));
    std::unique_ptr<Tfm_history> none(Open("never.example"));
    EXPECT_EQ(none->Shown().Runs, 0);
    EXPECT_EQ(none->lb_summary->text(), "No runs recorded in this span.");
    EXPECT_EQ(none->tv_outages->topLevelItemCount(), 0);
}

TEST_F(HistoryWindowTest, ExportWritesTheShownSpanAsCsv) {
    std::unique_ptr<Tfm_history> w(Open());
    Show(w.get(), Tfm_history::Hour);
    const QString file = dir.filePath("far.csv");
    QSignalSpy exported(w.get(), &Tfm_history::Exported);
    w->ExportTo(file);
    ASSERT_TRUE(exported.wait(5000));
    EXPECT_TRUE(exported.at(0).at(0).toBool());
    QFile csv(file);
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    EXPECT_EQ(csv.readAll().toStdString(),
              "time_utc,entry,address,command,automatic,sent,received,min_ms,avg_ms,max_ms,"
              "outcome,code,message,echoes\n"
              "2026-12-08T11:20:00.000Z,far,,check one,no,0,0,,,,error,11001,"
              "\"General failure, \"\"buffer\"\"\",\n"
              "2026-12-08T11:30:00.000Z,far,far,check one,no,1,1,5,5,5,answered,0,,5\n"
              "2026-12-08T11:40:00.000Z,far,far,check one,no,1,0,,,,timed out,11010,,*\n"
              "2026-12-08T11:50:00.000Z,far,far,check one,no,1,0,,,,timed out,11010,,*\n"
              "2026-12-08T11:55:00.000Z,far,far,check one,no,1,1,7,7,7,answered,0,,7\n"
              "\n"
              "from_utc,to_utc,entry,runs,sent,received,loss_percent,availability_percent,"
              "min_ms,median_ms,p95_ms,max_ms,jitter_ms,outages,down_s,degraded_periods,"
              "degraded_s\n"
              "2026-12-08T11:00:00.000Z,2026-12-08T12:00:00.000Z,far,5,4,2,50.00,40.00,5,5,7,7,"
              "8.50,2,1500,0,0\n");
    // The ping's echoes, a month back.
    Show(w.get(), Tfm_history::Month);
    w->ExportTo(file);
    ASSERT_TRUE(exported.wait(5000));
    csv.close();
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    EXPECT_TRUE(csv.readAll().contains(
        "2026-11-18T12:00:00.000Z,far,far,ping,no,4,3,38,40,44,answered,0,,38 * 44 38\n"));
}

TEST_F(HistoryWindowTest, DegradedPeriodsRoundTripFiguresAndLossPerStretchOfTime) {
    {
        history::THistoryStore store(path);
        store.RecordState({Now - 50 * MinuteMs, "far", states::HostState::Up});
        store.RecordState({Now - 45 * MinuteMs, "far", states::HostState::Degraded});
        store.RecordState({Now - 41 * MinuteMs, "far", states::HostState::Up});
        store.RecordState({Now - 15 * MinuteMs, "far", states::HostState::Down});
        store.Sync();
    }
    std::unique_ptr<Tfm_history> w(Open());
    Show(w.get(), Tfm_history::Hour);
    // The degraded period joins the outages in the order they began.
    EXPECT_EQ(OutageRows(w.get()),
              QStringList(
                  {"2026-12-08 11:15:00 | 2026-12-08 11:19:00 | 4 min 0 s | degraded",
                   "2026-12-08 11:20:00 | 2026-12-08 11:30:00 | 10 min 0 s | error (11001)",
                   "2026-12-08 11:40:00 | 2026-12-08 11:55:00 | 15 min 0 s | timed out (11010)"}));
    const auto words = [&](int row) {
        return w->tv_outages->topLevelItem(row)->data(0, Qt::AccessibleTextRole).toString();
    };
    EXPECT_EQ(words(0), "Degraded from 2026-12-08 11:15:00 to 11:19:00, 4 min 0 s");
    EXPECT_EQ(words(2), "Down from 2026-12-08 11:40:00 to 11:55:00, 15 min 0 s, timed out (11010)");
    EXPECT_EQ(w->Shown().States.size(), 3);
    // Answers of 5 and 7 ms; the jitter counts the step from the answer
    // of 20 ms before the span too.
    EXPECT_EQ(w->lb_rtt->text(),
              "Round-trip time: median 5 ms    95th percentile 7 ms    jitter 8.5 ms");
    // Loss in steps: each column with echoes is a step at its loss.
    QList<qreal> heights;
    auto* area = qobject_cast<QAreaSeries*>(w->ch_loss->chart()->series().value(0));
    ASSERT_NE(area, nullptr);
    for (const QPointF& p : area->upperSeries()->points())
        if (!heights.contains(p.y()))
            heights << p.y();
    std::sort(heights.begin(), heights.end());
    EXPECT_EQ(heights, (QList<qreal>{0, 100}));

    // An outage still going on says so in words.
    std::unique_ptr<Tfm_history> near(Open("near"));
    EXPECT_EQ(near->tv_outages->topLevelItem(0)->data(0, Qt::AccessibleTextRole).toString(),
              "Down from 2026-12-08 11:55:00, still, for 5 min 0 s, timed out (11010)");
    EXPECT_TRUE(near->lb_rtt->text().isEmpty());
}

TEST_F(HistoryWindowTest, ExportAllWritesOneSummaryRowPerHost) {
    std::unique_ptr<Tfm_history> w(Open());
    Show(w.get(), Tfm_history::Hour);
    const QString file = dir.filePath("all.csv");
    QSignalSpy exported(w.get(), &Tfm_history::Exported);
    w->ExportAllTo(file);
    ASSERT_TRUE(exported.wait(5000));
    EXPECT_TRUE(exported.at(0).at(0).toBool());
    QFile csv(file);
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = csv.readAll().split('\n');
    ASSERT_EQ(lines.size(), 4) << lines.join('\n').toStdString();
    EXPECT_TRUE(lines[0].startsWith("from_utc,to_utc,entry,runs,"));
    EXPECT_EQ(lines[1], "2026-12-08T11:00:00.000Z,2026-12-08T12:00:00.000Z,far,5,4,2,50.00,40.00,"
                        "5,5,7,7,8.50,2,1500,0,0");
    // The ongoing outage counts up to the span's end.
    EXPECT_EQ(lines[2], "2026-12-08T11:00:00.000Z,2026-12-08T12:00:00.000Z,near,1,1,0,100.00,0.00,"
                        ",,,,,1,300,0,0");
    EXPECT_TRUE(lines[3].isEmpty());
    EXPECT_EQ(w->bn_exportall->objectName(), "bn_exportall");
}

TEST_F(HistoryWindowTest, ExportIntoAFolderThatCannotBeWrittenSaysSo) {
    FakeMessageBoxes boxes;
    std::unique_ptr<Tfm_history> w(Open());
    QSignalSpy exported(w.get(), &Tfm_history::Exported);
    const QString file = dir.filePath("missing/far.csv");
    w->ExportTo(file);
    ASSERT_TRUE(exported.wait(5000));
    EXPECT_FALSE(exported.at(0).at(0).toBool());
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_TRUE(boxes.shown.front().startsWith("error: Cannot write " + file));
}

TEST_F(HistoryWindowTest, DraggingOverTheGraphShowsThatStretchOfTime) {
    std::unique_ptr<Tfm_history> w(Open());
    w->resize(800, 560);
    Show(w.get(), Tfm_history::Day);
    const QRectF plot = w->ch_rtt->chart()->plotArea();
    QWidget* view = w->ch_rtt->viewport();
    const int y = static_cast<int>(plot.center().y());
    const QPoint from(static_cast<int>(plot.left() + plot.width() * 0.75), y);
    const QPoint to(static_cast<int>(plot.right() - 1), y);
    QSignalSpy loaded(w.get(), &Tfm_history::Loaded);
    QTest::mousePress(view, Qt::LeftButton, {}, from);
    QTest::mouseMove(view, (from + to) / 2);
    QTest::mouseMove(view, to);
    QTest::mouseRelease(view, Qt::LeftButton, {}, to);
    ASSERT_TRUE(loaded.wait(5000));
    // About the last quarter of the day: the last few hours.
    const history::SpanData& shown = w->Shown();
    EXPECT_GT(shown.From, Now - 7 * HourMs);
    EXPECT_LT(shown.From, Now - 5 * HourMs);
    EXPECT_EQ(shown.Runs, 6);
    EXPECT_EQ(w->FSpanButtons->checkedButton(), nullptr);
}

TEST_F(HistoryWindowTest, ReadableOnLightAndDarkPalettes) {
    // A day of checks once a minute: a busy evening, a quarter of an hour
    // without answers in the night, and a lost echo now and then.
    const QString busy = dir.filePath("busy.sqlite");
    {
        history::THistoryStore store(busy);
        quint32 noise = 7;
        for (int m = 24 * 60; m > 0; --m) {
            noise = noise * 1103515245u + 12345u;
            const qint64 t = Now - m * MinuteMs;
            const int hour = static_cast<int>((t / HourMs) % 24);
            const bool night = m > 8 * 60 + 30 && m <= 8 * 60 + 45;
            history::RunRecord r = MakeRun("far", t, night ? Outcome::TimedOut : Outcome::Answered,
                                           6 + static_cast<int>((noise >> 16) % 5) +
                                               (hour >= 18 && hour < 21 ? 14 : 0),
                                           Command::Ping);
            r.Sent = 4;
            r.Received = night ? 0 : (m % 97 == 0 ? 3 : 4);
            r.MaxRtt = r.MinRtt + static_cast<int>((noise >> 8) % 7);
            store.Record(r);
        }
        // The watch saw the slow evening and the silent quarter of an hour.
        const qint64 evening = (Now - DayMs) / DayMs * DayMs + 18 * HourMs;
        for (const history::StateRecord& change : std::vector<history::StateRecord>{
                 {Now - DayMs + 5 * MinuteMs, "far", states::HostState::Up},
                 {evening + 10 * MinuteMs, "far", states::HostState::Degraded},
                 {evening + 3 * HourMs + 10 * MinuteMs, "far", states::HostState::Up},
                 {Now - (8 * 60 + 42) * MinuteMs, "far", states::HostState::Down},
                 {Now - (8 * 60 + 28) * MinuteMs, "far", states::HostState::Up}})
            store.RecordState(change);
        store.Sync();
    }
    const QString folder = QStringLiteral(NETSONDE_SCREENSHOT_DIR);
    QDir().mkpath(folder);
    for (const bool dark : {false, true}) {
        std::unique_ptr<Tfm_history> w(new Tfm_history(busy, "far"));
        w->SetClockForTests([] { return Now; });
        QPalette p = w->palette();
        if (dark) {
            p.setColor(QPalette::Window, QColor(0x2B, 0x2B, 0x2B));
            p.setColor(QPalette::Base, QColor(0x1E, 0x1E, 0x1E));
            p.setColor(QPalette::Text, QColor(0xE8, 0xE8, 0xE8));
            p.setColor(QPalette::WindowText, QColor(0xE8, 0xE8, 0xE8));
            p.setColor(QPalette::Button, QColor(0x3A, 0x3A, 0x3A));
            p.setColor(QPalette::ButtonText, QColor(0xE8, 0xE8, 0xE8));
        }
        w->setPalette(p);
        w->resize(760, 640);
        w->show();
        Show(w.get(), Tfm_history::Day);
        const QImage shot = w->grab().toImage();
        ASSERT_TRUE(shot.save(folder + (dark ? "/history-dark.png" : "/history-light.png")));
        // The chart's background follows the palette: the axis labels stand
        // out from it.
        const QColor base = w->ch_rtt->chart()->backgroundBrush().color();
        EXPECT_EQ(base, p.color(QPalette::Base));
        const QColor label = w->ch_rtt->chart()->axes(Qt::Horizontal).front()->labelsColor();
        EXPECT_GT(std::abs(label.lightness() - base.lightness()), 120);
    }
}

} // namespace

// The Path window over a history file written by an earlier run: the spans
// it offers, the stored minutes and route changes of each span in the table
// and the list (stored rows without last, best and worst, and as a screen
// reader says them), a span without minutes, only the latest of two reads
// shown, and the live watch's figures and changes back with "Live".
#include "pathview/Tfm_path.h"

#include "history/THistoryStore.h"
#include "paths/Address.h"
#include "pathview/PathTableModel.h"
#include "platform/IcmpTypes.h"
#include "support/EventWait.h"
#include "support/FakeEchoSender.h"

#include <QComboBox>
#include <QDateTime>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <memory>
#include <tuple>

namespace netsonde::test {
namespace {

using pathview::PathTableModel;
using pathview::Tfm_path;

constexpr qint64 MinuteMs = 60000;
constexpr qint64 HourMs = 60 * MinuteMs;
constexpr const char* Far = "10.61.4.2";
// The clock of the window: a whole minute, so that stored minutes fall
// where the test puts them.
constexpr qint64 Now = qint64{1'800'000'000'000} / MinuteMs * MinuteMs;

paths::Address Ip(const char* text) {
    const std::optional<platform::AsyncEcho::Target> t = paths::ParseTarget(text);
    return t ? paths::AddressOf(*t) : paths::Address();
}

std::array<std::uint8_t, 16> bytesOf(const char* text) {
    std::array<std::uint8_t, 16> bytes{};
    ::inet_pton(AF_INET, text, bytes.data());
    return bytes;
}

// One minute of the path, 60 rounds: hop 1 at 1 ms, hop 2 silent, the
// target at hop 3 in 3 ms; each hop's own record and its responder's.
QList<paths::MinuteSummary> Minute(qint64 minuteMs) {
    QList<paths::MinuteSummary> records;
    for (const auto& [ttl, responder, ms] :
         {std::tuple(1, "10.61.1.1", 1.0), std::tuple(2, "", 0.0), std::tuple(3, Far, 3.0)}) {
        paths::MinuteSummary s;
        s.minuteStartMs = minuteMs;
        s.ttl = ttl;
        s.sent = 60;
        s.answered = ms > 0 ? 60 : 0;
        s.rttSumMs = ms * s.answered;
        s.rttSquaresMs = ms * ms * s.answered;
        s.histogram[paths::HistogramBucket(ms)] = s.answered;
        records << s;
        if (ms > 0) {
            s.responder = Ip(responder);
            records << s;
        }
    }
    return records;
}

class PathSpanTest : public testing::Test {
protected:
    void SetUp() override { previous = Tfm_path::SetEchoSenderForTests(fake); }
    void TearDown() override {
        delete window.data();
        Tfm_path::SetEchoSenderForTests(previous);
    }
    QString File() const { return dir.filePath(QStringLiteral("history.sqlite")); }

    // An earlier run of the program: minutes 10 minutes, 3 hours and 3 days
    // ago and a route change 5 minutes ago, written and the store closed.
    void WriteEarlierRun() {
        history::THistoryStore store(File());
        for (qint64 ago : {10 * MinuteMs, 3 * HourMs, 72 * HourMs})
            store.RecordPathMinutes(Far, Far, Minute(Now - ago));
        const paths::Route before = {{Ip("10.61.1.1")}, {}, {Ip(Far)}};
        const paths::Route after = {{Ip("10.61.1.9")}, {}, {Ip(Far)}};
        store.RecordRouteChange(
            Far, Far, {paths::RouteChange::Kind::Changed, Now - 5 * MinuteMs, before, after});
        store.Sync();
    }
    Tfm_path* Open(const QString& entry) {
        window = new Tfm_path(entry);
        window->SetClockForTests([] { return Now; });
        window->SetHistoryFile(File());
        window->show();
        return window;
    }
    // Chooses a span as the user does and waits until it is shown.
    bool Choose(const QString& caption) {
        QSignalSpy loaded(window.data(), &Tfm_path::SpanLoaded);
        const int index = window->cb_span->findText(caption);
        if (index < 0)
            return false;
        window->cb_span->setCurrentIndex(index);
        emit window->cb_span->activated(index);
        return WaitUntil([&] { return !loaded.isEmpty(); });
    }
    QString Cell(int row, int column) const {
        const auto* model = window->Model();
        return model->data(model->index(row, column), Qt::DisplayRole).toString();
    }
    // One live round: hop 1 and the target at hop 2, both in 7 ms.
    void LiveRound() {
        if (fake->waiting.empty())
            window->Watch()->RunRound();
        fake->EndAll([](int ttl, platform::AsyncEcho::Outcome& o) {
            o.status = ttl == 1 ? IcmpStatus::TtlExpiredTransit : IcmpStatus::Success;
            o.from = bytesOf(ttl == 1 ? "10.61.1.1" : Far);
            return 7.0;
        });
    }

    std::shared_ptr<FakeEchoSender> fake = std::make_shared<FakeEchoSender>();
    std::shared_ptr<paths::EchoSender> previous;
    QTemporaryDir dir;
    QPointer<Tfm_path> window;
};

// After a restart the window shows the stored hour although its own watch
// has just begun: the stored hops, dashes for what the history does not
// keep, the rows as spoken, and the route change. The watch runs on
// underneath, and "Live" brings its figures and changes back.
TEST_F(PathSpanTest, StoredHourAfterARestartAndLiveAgain) {
    WriteEarlierRun();
    Open(Far);
    window->Watch()->SetResolveNames(false);
    EXPECT_EQ(window->cb_span->currentText(), "Live");
    ASSERT_TRUE(Choose("Last hour"));

    const QStringList expected[] = {
        {"1", "10.61.1.1", "0.0", "0.0", "60", "\u2013", "1.0", "\u2013", "\u2013"},
        {"2", "no answer", "", "", "60", "", "", "", ""},
        {"3", "10.61.4.2", "0.0", "0.0", "60", "\u2013", "3.0", "\u2013", "\u2013"},
    };
    ASSERT_EQ(window->Model()->rowCount(), 3);
    for (int row = 0; row < 3; ++row)
        for (int column = PathTableModel::Hop; column <= PathTableModel::Worst; ++column)
            EXPECT_EQ(Cell(row, column), expected[row][column]) << row << "," << column;
    EXPECT_EQ(window->Model()->RowText(0),
              "hop 1, 10.61.1.1, loss 0 %, forwarded loss 0 %, average 1 ms");
    EXPECT_EQ(window->Model()->RowText(1), "hop 2, no answer");
    EXPECT_EQ(window->Model()->index(0, PathTableModel::Recent).data(Qt::AccessibleTextRole),
              "no recent round trips in the history");
    ASSERT_EQ(window->lb_changes->count(), 1);
    EXPECT_TRUE(window->lb_changes->item(0)->text().endsWith(
        "route changed: 10.61.1.1 * 10.61.4.2 \u2192 10.61.1.9 * 10.61.4.2"))
        << window->lb_changes->item(0)->text().toStdString();
    EXPECT_FALSE(window->bn_reset->isEnabled()) << "Reset acts on the live figures";

    // Live rounds go on without touching the stored table.
    QSignalSpy updated(window.data(), &Tfm_path::Updated);
    LiveRound();
    LiveRound();
    EXPECT_EQ(Cell(0, PathTableModel::Avg), "1.0");
    EXPECT_TRUE(updated.isEmpty());
    EXPECT_GE(window->Watch()->Figures().rounds, 2u);

    window->cb_span->setCurrentIndex(0);
    emit window->cb_span->activated(0);
    ASSERT_EQ(window->Model()->rowCount(), 2);
    EXPECT_EQ(Cell(1, PathTableModel::Best), "7.0");
    EXPECT_EQ(window->lb_changes->count(), 0);
    EXPECT_TRUE(window->StatusText().startsWith("Path to 10.61.4.2: 2 hops, "))
        << window->StatusText().toStdString();
}

// Each span counts the minutes that begin inside it, up to the window's
// clock; an entry without minutes says so.
TEST_F(PathSpanTest, EachSpanShowsItsOwnMinutes) {
    WriteEarlierRun();
    const std::pair<const char*, const char*> cases[] = {
        {"Last hour", "Path to 10.61.4.2 over the last hour: 3 hops, 1 minute, 60 rounds"},
        {"Last 24 hours",
         "Path to 10.61.4.2 over the last 24 hours: 3 hops, 2 minutes, 120 rounds"},
        {"Last 7 days", "Path to 10.61.4.2 over the last 7 days: 3 hops, 3 minutes, 180 rounds"},
        {"Last 30 days", "Path to 10.61.4.2 over the last 30 days: 3 hops, 3 minutes, 180 rounds"},
    };
    Open(Far);
    for (const auto& [caption, status] : cases) {
        ASSERT_TRUE(Choose(caption));
        EXPECT_EQ(window->lb_status->text(), status);
    }
    delete window.data();
    Open("10.61.9.9");
    ASSERT_TRUE(Choose("Last 30 days"));
    EXPECT_EQ(window->lb_status->text(),
              "The history has no minutes of 10.61.9.9 in the last 30 days.");
    EXPECT_EQ(window->Model()->rowCount(), 0);
}

// Only the answer to the latest span asked for is shown, and none once Live
// is back; a window without a history offers "Live" alone.
TEST_F(PathSpanTest, OnlyTheLatestSpanIsShownAndNoHistoryMeansLiveOnly) {
    WriteEarlierRun();
    Open(Far);
    QSignalSpy loaded(window.data(), &Tfm_path::SpanLoaded);
    // The reader answers in order, so each answer before the last one has
    // come (and been dropped) when the last one arrives.
    for (Tfm_path::Span span :
         {Tfm_path::Span::Hour, Tfm_path::Span::Live, Tfm_path::Span::Day, Tfm_path::Span::Week})
        window->SetSpan(span);
    ASSERT_TRUE(WaitUntil([&] { return !loaded.isEmpty(); }));
    EXPECT_EQ(loaded.size(), 1);
    EXPECT_EQ(window->StoredSpan().minutes, 3);

    window->SetHistoryFile(QString());
    EXPECT_EQ(window->cb_span->count(), 1);
    EXPECT_FALSE(window->cb_span->isEnabled());
    window->SetSpan(Tfm_path::Span::Hour);
    EXPECT_EQ(window->ShownSpan(), Tfm_path::Span::Live);
}

} // namespace
} // namespace netsonde::test

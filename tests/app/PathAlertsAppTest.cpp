// What a Path window's watch reports reaches the alert watch and the
// history: forwarded loss from a hop and a route change make notices, and
// the path's minutes and route changes are in the history file once the
// window is closed; the window reads its spans from the main window's
// history, the minutes still queued included.
#include "MainWindowFixture.h"
#include "alerts/AlertSettings.h"
#include "app/TAlertWatch.h"
#include "history/PathQueries.h"
#include "history/THistoryStore.h"
#include "historyview/THistory.h"
#include "pathview/PathTableModel.h"
#include "pathview/Tfm_path.h"
#include "platform/IcmpTypes.h"
#include "support/FakeEchoSender.h"
#include "support/FakeSounds.h"

#include <QComboBox>
#include <QDateTime>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QTemporaryDir>

#include <arpa/inet.h>

namespace netsonde::test {
namespace {

std::array<std::uint8_t, 16> bytesOf(const char* text) {
    std::array<std::uint8_t, 16> bytes{};
    ::inet_pton(AF_INET, text, bytes.data());
    return bytes;
}

class PathAlertsAppTest : public MainWindowTest {
protected:
    void SetUp() override {
        previous = pathview::Tfm_path::SetEchoSenderForTests(fake);
        MainWindowTest::SetUp();
        w->SetHistory(new history::THistory(dir.filePath("history.sqlite")));
        watch = new TAlertWatch(dir.filePath("alerts.conf"));
        alerts::AlertSettings settings = watch->Settings();
        settings.Thresholds.FailuresToDown = 2;
        settings.Thresholds.AnswersToUp = 2;
        watch->Apply(settings);
        watch->SetNoticeSinkForTests([this](const alerts::Notice& n) { notices << n.Summary; });
        w->SetAlerts(watch);
    }
    void TearDown() override {
        MainWindowTest::TearDown();
        pathview::Tfm_path::SetEchoSenderForTests(previous);
    }
    // One round: hop 1 answers from first, hop 2 from 10.61.2.2, the target
    // at TTL 3, or nothing from hop 2 on when lost.
    void Round(pathview::Tfm_path* p, const char* first, bool lost) {
        if (fake->waiting.empty())
            p->Watch()->RunRound();
        fake->EndAll([&](int ttl, platform::AsyncEcho::Outcome& o) {
            o.status = IcmpStatus::TtlExpiredTransit;
            if (ttl == 1) {
                o.from = bytesOf(first);
            } else if (lost) {
                o.status = IcmpStatus::ReqTimedOut;
            } else if (ttl == 2) {
                o.from = bytesOf("10.61.2.2");
            } else {
                o.status = IcmpStatus::Success;
                o.from = bytesOf("10.61.4.2");
            }
            return 2.0;
        });
    }

    std::shared_ptr<FakeEchoSender> fake = std::make_shared<FakeEchoSender>();
    std::shared_ptr<paths::EchoSender> previous;
    QTemporaryDir dir;
    FakeSounds sounds;
    TAlertWatch* watch = nullptr;
    QStringList notices;
};

TEST_F(PathAlertsAppTest, LossRouteChangesAndMinutesGoToTheAlertsAndTheHistory) {
    const qint64 start = QDateTime::currentMSecsSinceEpoch();
    w->ShowPathOf("10.61.4.2");
    auto* p = w->findChild<pathview::Tfm_path*>();
    ASSERT_NE(p, nullptr);
    ASSERT_NE(p->Watch(), nullptr);
    // Rounds come when the test says; the first one is out already.
    p->Watch()->Pause();
    p->Watch()->SetResolveNames(false);
    for (int i = 0; i < 4; ++i)
        Round(p, "10.61.1.1", false);
    EXPECT_TRUE(notices.isEmpty()) << notices.join('\n').toStdString();
    // Lost from hop 2 on: forwarded loss there, over 20 % of the rounds from
    // the sixth on, and a notice after two such rounds.
    Round(p, "10.61.1.1", true);
    Round(p, "10.61.1.1", true);
    EXPECT_TRUE(notices.isEmpty());
    Round(p, "10.61.1.1", true);
    EXPECT_EQ(notices, QStringList{"10.61.4.2: loss from hop 2"});
    // A new first hop for two rounds is a route change.
    notices.clear();
    Round(p, "10.61.1.9", false);
    Round(p, "10.61.1.9", false);
    EXPECT_TRUE(notices.contains("10.61.4.2: route changed")) << notices.join('\n').toStdString();

    // Closed: the minute so far goes to the history with the route change.
    p->close();
    w->History()->Store()->Sync();
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("paths"));
    db.setDatabaseName(dir.filePath("history.sqlite"));
    ASSERT_TRUE(db.open());
    {
        const history::PathSpan span = history::LoadPathSpan(
            db, "10.61.4.2", start - 60000, QDateTime::currentMSecsSinceEpoch() + 60000);
        EXPECT_EQ(span.targets, QStringList{"10.61.4.2"});
        ASSERT_GE(span.figures.hops.size(), 2u);
        EXPECT_EQ(span.figures.hops[0].sent, 9u);
        EXPECT_EQ(span.figures.hops[1].answered, 6u);
        EXPECT_EQ(span.changes.size(), 1);
    }
    db.close();
    db = {};
    QSqlDatabase::removeDatabase(QStringLiteral("paths"));
}

// The window opened by the main window offers the history's spans, and a
// span shows a minute the store had only queued when it was asked for.
TEST_F(PathAlertsAppTest, PathWindowReadsItsSpansFromTheHistoryWithQueuedMinutes) {
    w->ShowPathOf("10.61.4.2");
    auto* p = w->findChild<pathview::Tfm_path*>();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->cb_span->count(), 5);
    EXPECT_TRUE(p->cb_span->isEnabled());
    paths::MinuteSummary hop;
    hop.minuteStartMs = (QDateTime::currentMSecsSinceEpoch() / 60000 - 2) * 60000;
    hop.ttl = 1;
    hop.sent = hop.answered = 10;
    hop.rttSumMs = 20;
    hop.rttSquaresMs = 40;
    w->History()->Store()->RecordPathMinutes("10.61.4.2", "10.61.4.2", {hop});
    QSignalSpy loaded(p, &pathview::Tfm_path::SpanLoaded);
    p->SetSpan(pathview::Tfm_path::Span::Hour);
    ASSERT_TRUE(WaitUntil([&] { return !loaded.isEmpty(); }));
    EXPECT_EQ(p->StoredSpan().minutes, 1);
    EXPECT_EQ(p->Model()->rowCount(), 1);
}

} // namespace
} // namespace netsonde::test

// The watch in the program: automatic rounds of the real window over
// scripted echo answers make one notice and one sound per change of state,
// and every row of the list tells assistive technology its state.
#include "app/MainWindowFixture.h"
#include "app/TAlertWatch.h"
#include "history/HistoryFixture.h"
#include "historyview/THistory.h"
#include "support/FakeNotifyArea.h"
#include "support/FakeSounds.h"
#include "tray/TTrayIcon.h"
#include "tray/TrayMark.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QTemporaryDir>
#include <QTimer>

namespace netsonde::test {
namespace {

class AlertWatchTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        w->SetHistory(new history::THistory(dir.filePath("history.sqlite")));
        watch = new TAlertWatch(dir.filePath("config/alerts.conf"));
        watch->SetNoticeSinkForTests([this](const alerts::Notice& n) { notices << n.Summary; });
        w->SetAlerts(watch);
    }
    void Answer(const char* host, bool answers) {
        service.SetAnswer(host,
                          answers ? FakeAnswer::Echo(host, 2) : FakeAnswer::IcmpError(host, 11010));
    }
    void Round() {
        w->TickTimer(w->Tick);
        ASSERT_TRUE(WaitUntil([&] { return !w->Ping->Busy() && w->CheckKind() == rkNone; }));
    }
    // The colour in the lower right corner of the tray icon's 32 px picture.
    QColor Mark() { return w->tray->Icon().pixmap(32, 32).toImage().pixelColor(26, 26); }
    // The items of the list's context menu opened at a point of the list.
    QStringList ContextMenu(const QPoint& at) {
        QStringList texts;
        QTimer::singleShot(0, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            ASSERT_NE(menu, nullptr);
            for (QAction* a : menu->actions())
                texts << (a->isSeparator() ? QStringLiteral("-") : a->text());
            menu->close();
        });
        emit w->lb_add->customContextMenuRequested(at);
        return texts;
    }
    QString RowText(int row) {
        return w->lb_add->model()->index(row, 0).data(Qt::AccessibleTextRole).toString();
    }

    QTemporaryDir dir;
    FakeNotifyArea area;
    FakeSounds sounds;
    TAlertWatch* watch = nullptr;
    QStringList notices;
};

TEST_F(AlertWatchTest, OneNoticeAndOneSoundPerChangeOfState) {
    SetList({"192.168.1.1", "192.168.1.2", "192.168.1.3"});
    Answer("192.168.1.1", true);
    Answer("192.168.1.2", true);
    Answer("192.168.1.3", false);
    EXPECT_EQ(RowText(0), "192.168.1.1, not checked");
    // The first round learns; .3 is silent from the start.
    w->CheckAll1->trigger();
    ASSERT_TRUE(WaitUntil([&] { return !w->Ping->Busy() && w->CheckKind() == rkNone; }));
    EXPECT_TRUE(WaitUntil([&] { return RowText(0) == "192.168.1.1, answered"; }));
    EXPECT_TRUE(WaitUntil([&] { return RowText(2) == "192.168.1.3, timed out"; }));
    // A single lost echo is no news.
    Answer("192.168.1.2", false);
    Round();
    Answer("192.168.1.2", true);
    Round();
    EXPECT_TRUE(notices.isEmpty()) << notices.join('\n').toStdString();
    EXPECT_TRUE(sounds.played.isEmpty());
    EXPECT_EQ(watch->States().State("192.168.1.3"), states::HostState::Down);
    EXPECT_TRUE(WaitUntil([&] { return RowText(2).startsWith("192.168.1.3, down since "); }))
        << RowText(2).toStdString();

    // .1 stops answering: one notice and one sound on the third round.
    Answer("192.168.1.1", false);
    Round();
    Round();
    EXPECT_TRUE(notices.isEmpty());
    Round();
    EXPECT_EQ(notices, QStringList{"192.168.1.1 down"});
    EXPECT_EQ(sounds.played, QStringList{alerts::AlertDown});
    Round();
    EXPECT_EQ(notices.size(), 1);
    // Back after two answering rounds, together with .3.
    Answer("192.168.1.1", true);
    Answer("192.168.1.3", true);
    Round();
    Round();
    EXPECT_EQ(notices.size(), 2);
    EXPECT_EQ(notices.back(), "2 hosts changed state");
    EXPECT_EQ(sounds.played, (QStringList{alerts::AlertDown, alerts::AlertUp}));
    EXPECT_TRUE(WaitUntil([&] { return RowText(2) == "192.168.1.3, answered"; }))
        << RowText(2).toStdString();

    // Runs outside the automatic mode count for nothing.
    w->Stop1->trigger();
    Answer("192.168.1.1", false);
    Select(0);
    for (int i = 0; i < 4; ++i)
        Run(w->bn_one);
    EXPECT_EQ(watch->States().State("192.168.1.1"), states::HostState::Up);
    EXPECT_EQ(notices.size(), 2);
}

TEST_F(AlertWatchTest, SettingsApplyAtOnceAndAreKept) {
    SetList({"192.168.1.1"});
    Answer("192.168.1.1", true);
    w->CheckAll1->trigger();
    ASSERT_TRUE(WaitUntil([&] { return !w->Ping->Busy() && w->CheckKind() == rkNone; }));
    alerts::AlertSettings s = watch->Settings();
    s.Thresholds.FailuresToDown = 1;
    s.Sounds = false;
    ASSERT_TRUE(watch->Apply(s));
    Answer("192.168.1.1", false);
    Round();
    EXPECT_EQ(notices, QStringList{"192.168.1.1 down"});
    EXPECT_TRUE(sounds.played.isEmpty());
    EXPECT_EQ(alerts::AlertSettings::Load(dir.filePath("config/alerts.conf")), s);
    // Notices off: nothing goes out.
    s.Notices = false;
    watch->Apply(s);
    Answer("192.168.1.1", true);
    Round();
    Round();
    EXPECT_EQ(notices.size(), 1);
    EXPECT_TRUE(w->findChild<QAction*>("Alerts1")->isEnabled());
}

TEST_F(AlertWatchTest, TrayMarkShowsTheWorstStateAndItsMenuOpensTheDialog) {
    SetList({"192.168.1.1", "192.168.1.2"});
    alerts::AlertSettings s = watch->Settings();
    s.Thresholds.RttLimitMs = 50;
    watch->Apply(s);
    Answer("192.168.1.1", true);
    Answer("192.168.1.2", true);
    const QColor plain = Mark();
    w->CheckAll1->trigger();
    ASSERT_TRUE(WaitUntil([&] { return !w->Ping->Busy() && w->CheckKind() == rkNone; }));
    EXPECT_EQ(Mark(), plain);

    // .2 answers slowly: amber once it is degraded.
    service.SetAnswer("192.168.1.2", FakeAnswer::Echo("192.168.1.2", 120));
    Round();
    Round();
    ASSERT_EQ(watch->States().State("192.168.1.2"), states::HostState::Degraded);
    EXPECT_EQ(Mark(), tray::MarkAmber);
    // .1 goes down: red wins over amber.
    Answer("192.168.1.1", false);
    Round();
    Round();
    EXPECT_EQ(Mark(), tray::MarkAmber);
    Round();
    EXPECT_EQ(Mark(), tray::MarkRed);
    // Both well again: no mark.
    Answer("192.168.1.1", true);
    Answer("192.168.1.2", true);
    Round();
    Round();
    EXPECT_EQ(Mark(), plain);
    // The history keeps the changes for its window.
    w->History()->Store()->Sync();
    QStringList kept;
    ForEachRow(dir.filePath("history.sqlite"),
               "SELECT n.text, s.state FROM states s JOIN names n ON n.id = s.entry ORDER BY s.id",
               [&](const QSqlQuery& q) {
                   kept << q.value(0).toString() + " " +
                               states::MetricLabel(states::FromStored(q.value(1).toInt()));
               });
    EXPECT_EQ(kept, (QStringList{"192.168.1.1 up", "192.168.1.2 up", "192.168.1.2 degraded",
                                 "192.168.1.1 down", "192.168.1.1 up", "192.168.1.2 up"}));

    auto* menu = w->findChild<QMenu*>("pm_tray");
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(w->tray->PopupMenu(), menu);
    EXPECT_TRUE(menu->actions().contains(w->findChild<QAction*>("Alerts1")));

    // Without the watch, the icon is the plain one again.
    w->SetAlerts(nullptr);
    watch = nullptr;
    EXPECT_EQ(Mark(), plain);
}

// The alerts hold for the whole list: its context menu offers them over an
// entry and over an empty list alike.
TEST_F(AlertWatchTest, TheListsMenuOffersTheAlertsAlsoWhenItIsEmpty) {
    const QString hide = QStringLiteral("Hide to Notification Area");
    EXPECT_EQ(ContextMenu(QPoint(5, 5)), (QStringList{"Alerts\u2026", "-", hide}));
    SetList({"192.168.1.1"});
    const QPoint row = w->lb_add->visualRect(w->lb_add->model()->index(0, 0)).center();
    EXPECT_EQ(ContextMenu(row),
              (QStringList{"History\u2026", "Alerts\u2026", "Watch &Path\u2026", "-", hide}));
}

} // namespace
} // namespace netsonde::test

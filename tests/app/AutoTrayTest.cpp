// The automatic mode and the window's life in the notification area, on the
// real window with scripted services; ticks are fired directly.
#include "MainWindowFixture.h"
#include "controls/g_PopupMenu.h"
#include "controls/g_btnmenu.h"
#include "controls/g_edit.h"
#include "support/FakeNotifyArea.h"
#include "tray/TTrayIcon.h"

#include <QAction>
#include <QDeadlineTimer>
#include <QTimer>

namespace netsonde::test {
namespace {

class AutoTrayTest : public MainWindowTest {
protected:
    void Tick() { w->TickTimer(w->Tick); }
    bool Idle() const { return !w->Ping->Busy() && !w->Trace->Busy() && w->CheckKind() == rkNone; }

    FakeNotifyArea area;
};

TEST_F(AutoTrayTest, ACommandItemRunsOnceAtOnceThenOnEveryTick) {
    SetList({"192.168.1.1"});
    // Nothing selected: Check One's ticks do nothing, the mode keeps running.
    w->CheckOne1->trigger();
    Tick();
    EXPECT_TRUE(service.Requests().empty());
    EXPECT_TRUE(w->Tick->isActive());

    Select(0);
    w->Ping1->trigger();
    EXPECT_EQ(w->AutoKind(), rkPing);
    ASSERT_TRUE(WaitUntil([&] { return Idle(); }));
    EXPECT_EQ(service.Requests().size(), 10u);
    Tick();
    ASSERT_TRUE(WaitUntil([&] { return Idle(); }));
    EXPECT_EQ(service.Requests().size(), 20u);
    EXPECT_TRUE(w->HasResults(0));
}

TEST_F(AutoTrayTest, TicksDuringACheckStartNothingAndCancelStopsTheMode) {
    SetList({"192.168.1.1"});
    Select(0);
    service.HoldRequests(true);
    w->CheckOne1->trigger();
    ASSERT_TRUE(WaitUntil([&] { return service.WaitForHeld(1, 0); }));
    Tick();
    Tick();
    EXPECT_EQ(service.Requests().size(), 1u);
    EXPECT_EQ(w->CheckKind(), rkCheckOne);

    w->bn_cancel->click();
    service.ReleaseAll();
    ASSERT_TRUE(WaitUntil([&] { return Idle(); }));
    EXPECT_EQ(w->AutoKind(), rkNone);
    EXPECT_FALSE(w->Tick->isActive());
    EXPECT_FALSE(w->bn_auto->IgnoreLight());
    w->popupPopup(w->popup);
    EXPECT_TRUE(w->Stop1->isChecked());
    // A tick that finds no command switches the mode off.
    w->SetAutoRun(true);
    Tick();
    EXPECT_FALSE(w->Tick->isActive());
    EXPECT_EQ(service.Requests().size(), 1u);
}

TEST_F(AutoTrayTest, AnotherSecsValueStartsTheCountAgain) {
    w->CheckAll1->trigger();
    ASSERT_TRUE(WaitUntil([&] { return Idle(); }));
    ASSERT_TRUE(w->Tick->isActive());
    EXPECT_GT(w->Tick->remainingTime(), 25000);
    w->ed_secs->setText("5");
    EXPECT_TRUE(w->Tick->isActive());
    // A coarse timer may fire up to 5 % late, and says so in remainingTime.
    EXPECT_GT(w->Tick->remainingTime(), 4000);
    EXPECT_LE(w->Tick->remainingTime(), 5250);
    // Choosing another command keeps the count and only changes the command:
    // once the count has run down a little, it goes on from there.
    QDeadlineTimer passed(600);
    ASSERT_TRUE(WaitUntil([&] { return passed.hasExpired(); }));
    const int before = w->Tick->remainingTime();
    ASSERT_LT(before, 4750);
    w->CheckOne1->trigger();
    EXPECT_EQ(w->AutoKind(), rkCheckOne);
    EXPECT_LE(w->Tick->remainingTime(), before);
}

TEST_F(AutoTrayTest, MinimisingHidesIntoTheAreaAndAClickBringsTheWindowBack) {
    EXPECT_FALSE(w->tray->Active());
    w->setWindowState(w->windowState() | Qt::WindowMinimized);
    EXPECT_TRUE(w->isHidden());
    ASSERT_EQ(area.icons.size(), 1);
    EXPECT_EQ(area.icons[0].szTip, "Netsonde");
    EXPECT_FALSE(area.icons[0].hIcon.isNull());

    // A right click or a double click is no way back; the left click is.
    area.Mouse(platform::WM_RBUTTONUP);
    area.Mouse(platform::WM_LBUTTONDBLCLK);
    EXPECT_TRUE(w->isHidden());
    area.Mouse(platform::WM_LBUTTONUP);
    EXPECT_TRUE(w->isVisible());
    EXPECT_FALSE(w->isMinimized());
    EXPECT_TRUE(area.icons.isEmpty());
    EXPECT_FALSE(w->tray->Active());

    // The mode runs on while the window is in the area.
    w->CheckAll1->trigger();
    w->setWindowState(w->windowState() | Qt::WindowMinimized);
    EXPECT_TRUE(w->Tick->isActive());
    EXPECT_EQ(area.icons.size(), 1);
}

// Hiding the window with no notification area would leave no way back to it.
TEST_F(AutoTrayTest, WithoutANotificationAreaTheWindowStaysInTheTaskBar) {
    area.available = false;
    w->setWindowState(w->windowState() | Qt::WindowMinimized);
    EXPECT_TRUE(w->isVisible());
    EXPECT_TRUE(w->isMinimized());
    EXPECT_TRUE(area.calls.isEmpty());
    w->setWindowState(w->windowState() & ~Qt::WindowMinimized);
    EXPECT_TRUE(w->isVisible());
    EXPECT_TRUE(area.calls.isEmpty());
}

} // namespace
} // namespace netsonde::test

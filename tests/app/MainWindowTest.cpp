#include "MainWindowFixture.h"
#include "app/CheckAllWait.h"

#include "app/Tfm_about.h"
#include "controls/g_PopupMenu.h"
#include "controls/g_btnmenu.h"
#include "controls/g_checkbox.h"
#include "controls/g_edit.h"
#include "controls/g_imagelist.h"
#include "controls/g_memo.h"
#include "controls/g_panel.h"
#include "controls/g_progressbar.h"
#include "controls/g_updown.h"
#include "dialogs/Tfm_add.h"

#include <QAbstractTextDocumentLayout>
#include <QAccessible>
#include <QAccessibleEditableTextInterface>
#include <QApplication>
#include <QClipboard>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QLocale>
#include <QMimeData>
#include <QScreen>
#include <QTest>

using namespace netsonde::test;

namespace {

const QStringList CheckOneLines = {
    "56 bytes received from 192.168.1.1. time = 1ms",
    "",
    "",
    "Stats: Rcvd/Sent: 1/1, Min/Avg/Max: 1/1/1",
    "",
    "IP Address: 192.168.1.1",
    "Destination: gateway",
    "Return Name: 192.168.1.1",
};

TEST_F(MainWindowTest, StartsWithItsControlsInPlaceAndTheValuesAtShow) {
    EXPECT_EQ(w->windowTitle(), "Netsonde");
    EXPECT_EQ(w->size(), QSize(qRound(625 * w->Scale()), qRound(426 * w->Scale())));
    for (const char* name :
         {"lb_add",     "bn_add",    "bn_one",    "bn_all",   "bn_ping",   "bn_trace", "bn_load",
          "bn_save",    "bn_auto",   "pn_ctrls",  "bn_close", "bn_cancel", "bar",      "ed_results",
          "ck_Resolve", "ed_number", "ud_number", "ed_size",  "ud_size",   "ed_tmout", "ud_tmout",
          "ed_ttl",     "ud_ttl",    "ed_secs",   "ud_secs",  "g_bevel1",  "g_bevel2"})
        EXPECT_NE(w->findChild<QWidget*>(name), nullptr) << name;
    EXPECT_EQ(w->bn_load->accessibleName(), "Load a old session");
    EXPECT_EQ(w->bn_save->accessibleName(), "Save the current session");
    ASSERT_TRUE(QTest::qWaitForWindowActive(w));
    EXPECT_EQ(QApplication::focusWidget(), w->lb_add);
    EXPECT_EQ(w->CheckKind(), rkNone);
    EXPECT_EQ(w->AutoKind(), rkNone);
    // An empty list: only Check All of the commands.
    EXPECT_FALSE(w->bn_one->isEnabled());
    EXPECT_FALSE(w->bn_ping->isEnabled());
    EXPECT_FALSE(w->bn_trace->isEnabled());
    EXPECT_TRUE(w->bn_all->isEnabled());
    EXPECT_TRUE(w->bn_cancel->isHidden());
    // The option fields.
    const QString sep = QLocale().groupSeparator();
    EXPECT_FALSE(w->ck_Resolve->isChecked());
    EXPECT_EQ(w->ed_number->text(), "10");
    EXPECT_EQ(w->ed_size->text(), "56");
    EXPECT_EQ(w->ed_tmout->text(), "2" + sep + "500");
    EXPECT_EQ(w->ed_ttl->text(), "32");
    EXPECT_EQ(w->ed_secs->text(), "30");
    EXPECT_EQ(w->bn_auto->toolTip(), "Run every 30 seconds");
    EXPECT_EQ(w->Ping->Number(), 10);
    EXPECT_EQ(w->Trace->TimeOut(), 2500);
    EXPECT_EQ(w->Tick->interval(), 30000);
    EXPECT_FALSE(w->Tick->isActive());
    EXPECT_EQ(w->bar->maximum(), 10);
    Screenshot(w, "main-at-rest");
    // Check All on the empty list does nothing.
    w->bn_all->click();
    EXPECT_TRUE(service.Requests().empty());
}

// Assistive technology reads the window's name whether it is on the screen
// or minimised.
TEST_F(MainWindowTest, TheWindowKeepsItsSpokenNameWhenMinimised) {
    QAccessibleInterface* window = QAccessible::queryAccessibleInterface(w);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->text(QAccessible::Name), "Netsonde");
    w->showMinimized();
    ASSERT_TRUE(w->isMinimized());
    EXPECT_EQ(window->text(QAccessible::Name), "Netsonde");
    w->showNormal();
}

// An entry chosen through the list's accessible interface (a screen reader's
// or voice control's toggle, or its selection) is the user's choice as a
// click is: the commands for one entry come on. The program's own selection
// is not.
TEST_F(MainWindowTest, AnEntryChosenByAssistiveTechnologyIsTheUsersChoice) {
    SetList({"gateway", "far", "10.1.1.1"});
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(w->lb_add);
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->childCount(), 3);
    EXPECT_FALSE(w->bn_one->isEnabled());

    QAccessibleInterface* far = list->child(1);
    ASSERT_NE(far, nullptr);
    ASSERT_NE(far->actionInterface(), nullptr);
    far->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    EXPECT_EQ(w->lb_add->ItemIndex(), 1);
    EXPECT_TRUE(w->bn_one->isEnabled()) << "the toggle did not count as the user's choice";

    Select(-1);
    EXPECT_FALSE(w->bn_one->isEnabled());
    ASSERT_NE(list->tableInterface(), nullptr);
    list->tableInterface()->selectRow(2);
    EXPECT_EQ(w->lb_add->ItemIndex(), 2);
    EXPECT_TRUE(w->bn_one->isEnabled()) << "the selection did not count as the user's choice";

    // The program's selection fires nothing by itself.
    int clicks = 0;
    w->lb_add->OnClick = [&](QObject*) { ++clicks; };
    w->lb_add->SetItemIndex(0);
    w->lb_add->DeleteItem(0);
    EXPECT_EQ(clicks, 0);
}

TEST_F(MainWindowTest, OptionFieldsKeepTheirValueOnTextThatIsNoNumberInRange) {
    w->ed_size->setText("7");
    EXPECT_EQ(w->Ping->PacketSize(), 8);
    EXPECT_EQ(w->Trace->PacketSize(), 8);
    EXPECT_EQ(w->ed_size->text(), "7");
    w->ed_number->setText("");
    EXPECT_EQ(w->Ping->Number(), 10);
    w->ed_number->setText("4");
    EXPECT_EQ(w->Ping->Number(), 4);
    EXPECT_EQ(w->bar->maximum(), 4);
    w->ed_ttl->setText("500");
    EXPECT_EQ(w->Ping->TimeToLive(), 32);
    w->ed_ttl->setText("64");
    EXPECT_EQ(w->Trace->TimeToLive(), 64);
    w->ed_tmout->setText("abc");
    EXPECT_EQ(w->Ping->TimeOut(), 2500);
    w->ck_Resolve->click();
    EXPECT_TRUE(w->Ping->Resolve());
    EXPECT_TRUE(w->Trace->Resolve());
    w->ed_secs->setText("5");
    EXPECT_EQ(w->Tick->interval(), 5000);
    EXPECT_EQ(w->bn_auto->toolTip(), "Run every 5 seconds");
}

// Option fields typed key by key, as a user types: every intermediate text
// reaches the field's change handler.
class TypedOptionsTest : public MainWindowTest {
protected:
    void TypeOver(g_edit* field, const QString& keys) {
        field->setFocus();
        field->selectAll();
        QTest::keyClicks(field, keys);
    }
};

TEST_F(TypedOptionsTest, TypedTextStaysAsTypedAndOnlyAValidTextSetsTheOption) {
    QApplication::setActiveWindow(w);
    // "5" and "50" are below the range: the time-out keeps 2500 and the
    // field keeps what was typed, until "500" is a valid value.
    TypeOver(w->ed_tmout, "5");
    EXPECT_EQ(w->ed_tmout->text(), "5");
    EXPECT_EQ(w->Ping->TimeOut(), 2500);
    TypeOver(w->ed_tmout, "500");
    EXPECT_EQ(w->ed_tmout->text(), "500");
    EXPECT_EQ(w->Ping->TimeOut(), 500);
    EXPECT_EQ(w->Trace->TimeOut(), 500);
    TypeOver(w->ed_tmout, "50");
    EXPECT_EQ(w->ed_tmout->text(), "50");
    EXPECT_EQ(w->Ping->TimeOut(), 500);

    TypeOver(w->ed_number, "2.5");
    EXPECT_EQ(w->ed_number->text(), "2.5");
    EXPECT_EQ(w->Ping->Number(), 2);
    EXPECT_EQ(w->bar->maximum(), 2);
    TypeOver(w->ed_size, "1e3");
    EXPECT_EQ(w->ed_size->text(), "1e3");
    EXPECT_EQ(w->Ping->PacketSize(), 8); // 1, raised to the least size
    TypeOver(w->ed_ttl, "500");
    EXPECT_EQ(w->ed_ttl->text(), "500");
    EXPECT_EQ(w->Ping->TimeToLive(), 50);

    // The Pings field can be emptied; the count stays.
    TypeOver(w->ed_number, "7");
    QTest::keyClick(w->ed_number, Qt::Key_Backspace);
    EXPECT_EQ(w->ed_number->text(), "");
    EXPECT_EQ(w->Ping->Number(), 7);
    // Pasted text follows the same rule.
    QApplication::clipboard()->setText("3x");
    QTest::keyClick(w->ed_number, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(w->ed_number->text(), "3x");
    EXPECT_EQ(w->Ping->Number(), 7);
    // The spin buttons step from the option's value and write it.
    QTest::keyClick(w->ed_number, Qt::Key_Up);
    EXPECT_EQ(w->ed_number->text(), "8");
    EXPECT_EQ(w->Ping->Number(), 8);
}

TEST_F(TypedOptionsTest, TextFromEveryRouteIsTheUsersText) {
    QApplication::setActiveWindow(w);
    // Through the accessibility interface, as voice control and screen
    // readers set a field's text.
    QAccessibleInterface* field = QAccessible::queryAccessibleInterface(w->ed_number);
    ASSERT_NE(field, nullptr);
    field->setText(QAccessible::Value, "abc");
    EXPECT_EQ(w->ed_number->text(), "abc");
    EXPECT_EQ(w->Ping->Number(), 10);
    ASSERT_NE(field->editableTextInterface(), nullptr);
    field->editableTextInterface()->replaceText(0, 3, "500");
    EXPECT_EQ(w->ed_number->text(), "500");
    EXPECT_EQ(w->Ping->Number(), 10);
    field->editableTextInterface()->deleteText(1, 3);
    EXPECT_EQ(w->ed_number->text(), "5");
    EXPECT_EQ(w->Ping->Number(), 5);
    field->editableTextInterface()->insertText(1, "x");
    EXPECT_EQ(w->ed_number->text(), "5x");
    EXPECT_EQ(w->Ping->Number(), 5);

    // An input method commits its text.
    w->ed_tmout->setFocus();
    w->ed_tmout->selectAll();
    QInputMethodEvent compose("12", {});
    QCoreApplication::sendEvent(w->ed_tmout, &compose);
    QInputMethodEvent commit;
    commit.setCommitString("12");
    QCoreApplication::sendEvent(w->ed_tmout, &commit);
    EXPECT_EQ(w->ed_tmout->text(), "12");
    EXPECT_EQ(w->Ping->TimeOut(), 2500);

    // Text dropped onto the field.
    w->ed_ttl->selectAll();
    w->ed_ttl->del();
    QMimeData mime;
    mime.setText("7x");
    const QPoint at = w->ed_ttl->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w->ed_ttl, &enter);
    QDragMoveEvent move(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w->ed_ttl, &move);
    QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w->ed_ttl, &drop);
    EXPECT_EQ(w->ed_ttl->text(), "7x");
    EXPECT_EQ(w->Ping->TimeToLive(), 32);
    // The spin buttons still write a new value over any of them.
    QTest::keyClick(w->ed_number, Qt::Key_Up);
    EXPECT_EQ(w->ed_number->text(), "6");
    EXPECT_EQ(w->Ping->Number(), 6);
}

TEST_F(TypedOptionsTest, RetypingTheSameSecondsKeepsTheAutomaticCount) {
    SetList({"192.168.1.1"});
    Select(0);
    // A precise timer says exactly how much of the count is left; a coarse
    // one may move its deadline by up to 5 % on a loaded machine.
    w->Tick->setTimerType(Qt::PreciseTimer);
    w->Ping1->trigger();
    ASSERT_TRUE(WaitUntil([&] { return !w->Ping->Busy(); }));
    ASSERT_TRUE(w->Tick->isActive());
    // Let the count run down well below a fresh start.
    QDeadlineTimer passed(1800);
    ASSERT_TRUE(WaitUntil([&] { return passed.hasExpired(); }, 5000));
    const int before = w->Tick->remainingTime();
    ASSERT_LT(before, 28500);
    w->ed_secs->setFocus();
    QTest::keyClick(w->ed_secs, Qt::Key_End);
    QTest::keyClick(w->ed_secs, Qt::Key_X); // "30x": no number
    QTest::keyClick(w->ed_secs, Qt::Key_Backspace);
    QTest::keyClick(w->ed_secs, Qt::Key_Home);
    QTest::keyClick(w->ed_secs, Qt::Key_0); // "030": the same interval
    EXPECT_EQ(w->ed_secs->text(), "030");
    EXPECT_LE(w->Tick->remainingTime(), before);
    // A changed interval does restart the count.
    w->ed_secs->selectAll();
    QTest::keyClicks(w->ed_secs, "40");
    EXPECT_GT(w->Tick->remainingTime(), 38000);
}

TEST_F(MainWindowTest, CheckOneShowsAndStoresItsLinesAndRestoresThePingCount) {
    SetList({"192.168.1.1", "192.168.1.9"});
    Select(0);
    EXPECT_TRUE(w->bn_one->isEnabled());
    EXPECT_FALSE(w->bn_trace->isEnabled());
    Run(w->bn_one);
    ASSERT_EQ(service.Requests().size(), 1u);
    EXPECT_EQ(w->PaneLines(), CheckOneLines);
    EXPECT_EQ(w->Results(0), CheckOneLines);
    EXPECT_EQ(w->EntryState(0), 2u);
    EXPECT_EQ(w->Ping->Number(), 10);
    EXPECT_EQ(w->bar->maximum(), 10);
    // Selecting the other entry and back shows the stored lines again, and
    // an answered entry may be traced.
    Select(1);
    EXPECT_TRUE(w->PaneLines().isEmpty());
    EXPECT_FALSE(w->bn_trace->isEnabled());
    Select(0);
    EXPECT_EQ(w->PaneLines(), CheckOneLines);
    EXPECT_TRUE(w->bn_trace->isEnabled());
    Screenshot(w, "main-with-results");
}

TEST_F(MainWindowTest, StoredLinesFollowTheTextNotTheWrappedScreen) {
    SetList({"192.168.1.1"});
    Select(0);
    // A narrow pane wraps every line on screen; the lines stay whole.
    w->ed_results->setFixedWidth(60);
    Run(w->bn_one);
    EXPECT_EQ(w->Results(0), CheckOneLines);
    // The plain text layout measures its height in screen lines.
    EXPECT_GT(w->ed_results->document()->documentLayout()->documentSize().height(),
              CheckOneLines.size());
}

TEST_F(MainWindowTest, PingOfFourShowsEveryReplyAndTimedOutEntryCannotBeTraced) {
    SetList({"192.168.1.1"});
    Select(0);
    w->ed_number->setText("4");
    service.QueueAnswer("192.168.1.1", FakeAnswer::Echo("192.168.1.1", 2));
    service.QueueAnswer("192.168.1.1", FakeAnswer::NoAnswer());
    service.QueueAnswer("192.168.1.1", FakeAnswer::Echo("192.168.1.1", 4));
    Run(w->bn_ping);
    EXPECT_EQ(service.Requests().size(), 4u);
    const QStringList lines = w->Results(0);
    ASSERT_EQ(lines.size(), 11);
    EXPECT_EQ(lines[0], "56 bytes received from 192.168.1.1. time = 2ms");
    EXPECT_TRUE(lines[1].contains("timed out")) << lines[1].toStdString();
    EXPECT_EQ(lines[2], "56 bytes received from 192.168.1.1. time = 4ms");
    EXPECT_EQ(lines[3], "56 bytes received from 192.168.1.1. time = 1ms");
    EXPECT_EQ(lines.mid(4), QStringList({"", "", "Stats: Rcvd/Sent: 3/4, Min/Avg/Max: 1/2/4", "",
                                         "IP Address: 192.168.1.1", "Destination: gateway",
                                         "Return Name: 192.168.1.1"}));
    EXPECT_EQ(w->PaneLines(), lines);
    EXPECT_EQ(w->EntryState(0), 1u);
    Select(0);
    EXPECT_FALSE(w->bn_trace->isEnabled());
    EXPECT_TRUE(w->bn_ping->isEnabled());
}

TEST_F(MainWindowTest, TraceShowsHopsAgainstTheExpectedHopCount) {
    service.SetRoute("10.20.30.40", {"10.0.0.1", "10.0.0.2"});
    SetList({"10.20.30.40"});
    Select(0);
    int maximum = -1;
    // The bar as the window left it when the trace said how many hops to expect.
    QObject::connect(w->Runs(), &runs::RunController::ProgressRange, w,
                     [&] { maximum = w->bar->maximum(); });
    w->bn_trace->click(); // disabled: the entry has no results yet
    EXPECT_FALSE(w->Trace->Busy());
    w->bn_traceClick(w->bn_trace);
    ASSERT_TRUE(WaitUntil([&] { return !w->Trace->Busy(); }));
    EXPECT_EQ(maximum, 3);
    const QStringList lines = w->Results(0);
    ASSERT_EQ(lines.size(), 10);
    EXPECT_TRUE(lines[0].contains("10.0.0.1"));
    EXPECT_TRUE(lines[1].contains("10.0.0.2"));
    EXPECT_TRUE(lines[2].contains("10.20.30.40"));
    EXPECT_EQ(lines.mid(3, 2), QStringList({"", ""}));
    EXPECT_EQ(lines.mid(6), QStringList({"", "IP Address: 10.20.30.40", "Destination: far",
                                         "Return Name: 10.20.30.40"}));
    EXPECT_EQ(w->bar->maximum(), 3); // kept until the Pings option sets it again
    EXPECT_TRUE(w->bn_all->isEnabled());
}

TEST_F(MainWindowTest, AnErrorKeepsTheEarlierResults) {
    names.SetNameError("nohost", 11001);
    SetList({"nohost"});
    w->lb_add->SetItemData(0, CheckOneLines);
    Select(0);
    Run(w->bn_ping);
    ASSERT_EQ(w->PaneLines().size(), 1);
    EXPECT_TRUE(w->PaneLines()[0].startsWith("Error 11001: ")) << w->PaneLines()[0].toStdString();
    EXPECT_EQ(w->Results(0), CheckOneLines);
    EXPECT_TRUE(w->bn_one->isEnabled());
    EXPECT_FALSE(w->bn_cancel->isVisible());
    Select(0);
    EXPECT_EQ(w->PaneLines(), CheckOneLines);
}

TEST_F(MainWindowTest, BusyModeDisablesEverythingButCancelWhichEscClicks) {
    SetList({"192.168.1.1"});
    Select(0);
    service.HoldRequests(true);
    w->bn_ping->click();
    ASSERT_TRUE(WaitUntil([&] { return service.WaitForHeld(1, 0); }));
    for (QWidget* c : std::initializer_list<QWidget*>{w->bn_add, w->bn_one, w->bn_all, w->bn_ping,
                                                      w->bn_trace, w->bn_close, w->lb_add,
                                                      w->bn_load, w->bn_save, w->bn_auto})
        EXPECT_FALSE(c->isEnabled()) << c->objectName().toStdString();
    EXPECT_TRUE(w->pn_ctrls->isHidden());
    EXPECT_TRUE(w->bn_cancel->isVisible());
    EXPECT_TRUE(w->bn_cancel->isEnabled());
    EXPECT_TRUE(w->PaneLines().isEmpty());
    // Commands refuse a second run.
    w->bn_oneClick(nullptr);
    w->bn_traceClick(nullptr);
    EXPECT_FALSE(w->Trace->Busy());
    Screenshot(w, "main-busy");
    QTest::keyClick(w, Qt::Key_Escape);
    EXPECT_TRUE(w->Ping->Cancelled());
    service.ReleaseAll();
    ASSERT_TRUE(WaitUntil([&] { return !w->Ping->Busy(); }));
    EXPECT_TRUE(w->bn_cancel->isHidden());
    EXPECT_TRUE(w->pn_ctrls->isVisible());
    EXPECT_TRUE(w->HasResults(0)); // a cancelled run that sent echoes ends normally
}

TEST_F(MainWindowTest, CheckAllStopsAfterTheEntryThatIsCancelled) {
    SetList({"10.0.0.1", "10.0.0.2", "10.0.0.3"});
    service.SetAnswer("10.0.0.1", FakeAnswer::Echo("10.0.0.1"));
    service.SetAnswer("10.0.0.3", FakeAnswer::Echo("10.0.0.3"));
    service.HoldRequestsTo("10.0.0.2");
    w->SetAutoRun(true);
    bool cancelled = false;
    Script([&] {
        // Resolved, and its echo held.
        if (w->Ping->HostAddress() != "10.0.0.2" || !w->Ping->Busy() || !service.WaitForHeld(1, 0))
            return false;
        EXPECT_EQ(w->lb_add->ItemIndex(), 1);
        // The silent host is in flight: the window waits in busy mode.
        EXPECT_EQ(w->CheckKind(), rkCheckOne);
        EXPECT_FALSE(w->lb_add->isEnabled());
        w->bn_cancel->click();
        service.ReleaseAll();
        cancelled = true;
        return true;
    });
    CheckAllAndWait(*w);
    EXPECT_TRUE(cancelled);
    EXPECT_EQ(w->EntryState(0), 2u);
    EXPECT_TRUE(w->HasResults(1));
    // The third entry's check may have gone out ahead; nothing of it shows.
    EXPECT_FALSE(w->HasResults(2));
    EXPECT_EQ(w->lb_add->ItemIndex(), 1);
    EXPECT_EQ(w->PaneLines(), w->Results(1));
    EXPECT_EQ(w->AutoKind(), rkNone);
    EXPECT_FALSE(w->Tick->isActive());
    EXPECT_EQ(w->Ping->Number(), 10);
}

TEST_F(MainWindowTest, ClosingDuringCheckAllStopsTheWaitAndLeavesNothingBehind) {
    SetList({"10.0.0.1", "10.0.0.2"});
    service.HoldRequests(true);
    bool closed = false;
    Script([&] {
        if (!service.WaitForHeld(1, 0))
            return false;
        closed = w->close();
        return true;
    });
    w->bn_allClick(w->bn_all);
    ASSERT_TRUE(WaitUntil([&] { return closed; }));
    // The Check All stops after the entry in flight and starts no other.
    EXPECT_TRUE(w->Ping->Cancelled());
    EXPECT_LE(service.Requests().size(), 2u);
    // The window goes while its request is still held; TearDown then
    // releases it and finds no worker and no handle left.
    delete w;
    w = nullptr;
}

TEST_F(MainWindowTest, CheckAllGoesOnAfterAnErrorAndMarksEveryEntry) {
    SetList({"10.0.0.1", "10.0.0.2", "10.0.0.3", "nohost"});
    service.SetAnswer("10.0.0.1", FakeAnswer::Echo("10.0.0.1"));
    service.SetAnswer("10.0.0.3", FakeAnswer::Echo("10.0.0.3"));
    names.SetNameError("nohost", 11001);
    CheckAllAndWait(*w);
    EXPECT_EQ(service.Requests().size(), 3u);
    EXPECT_EQ(w->EntryState(0), 2u);
    EXPECT_EQ(w->EntryState(1), 1u); // silent: timed out
    EXPECT_EQ(w->EntryState(2), 2u);
    EXPECT_EQ(w->EntryState(3), 0u); // the lookup failed: nothing stored
    EXPECT_EQ(w->lb_add->ItemIndex(), 3);
    // The screen shows the last host's lines and the idle window again.
    EXPECT_EQ(w->ed_results->toPlainText(), w->PaneLines().join('\n'));
    EXPECT_TRUE(w->updatesEnabled());
    EXPECT_TRUE(w->bn_cancel->isHidden());
    EXPECT_TRUE(w->pn_ctrls->isVisible());
    EXPECT_TRUE(w->bn_all->isEnabled());
    EXPECT_TRUE(w->PaneLines().last().startsWith("Error 11001"))
        << w->PaneLines().last().toStdString();
    EXPECT_EQ(w->CheckKind(), rkNone);
}

// What the screen shows of a widget (the window's backing store), against
// what the widget paints now.
bool OnScreenAsPainted(Tfm_ns* w, QWidget* part) {
    const QRect area(part->mapTo(w, QPoint(0, 0)), part->size());
    const QImage screen =
        w->screen()
            ->grabWindow(w->winId(), area.x(), area.y(), area.width(), area.height())
            .toImage()
            .convertToFormat(QImage::Format_RGB32);
    const QImage painted =
        w->grab(area).toImage().scaled(screen.size()).convertToFormat(QImage::Format_RGB32);
    return !screen.isNull() && screen == painted;
}

TEST_F(MainWindowTest, TheScreenShowsTheIdleWindowAfterCheckAll) {
    QStringList hosts;
    for (int i = 1; i <= 40; ++i)
        hosts << QStringLiteral("10.0.0.%1").arg(i);
    SetList(hosts);
    for (const QString& host : hosts)
        service.SetAnswer(host.toLatin1().constData(),
                          FakeAnswer::Echo(host.toLatin1().constData()));
    QEventLoop ended;
    QObject::connect(w->Runs(), &runs::RunController::CheckAllEnds, &ended, &QEventLoop::quit);
    QTest::mouseClick(w->bn_all, Qt::LeftButton);
    if (w->Runs()->InCheckAll())
        ended.exec();
    EXPECT_EQ(w->EntryState(39), 2u);
    // Once the events are handled, the screen shows the idle window with
    // the last host's lines and every row's new picture.
    for (QWidget* part : std::initializer_list<QWidget*>{w->bn_close, w->pn_ctrls, w->bn_all,
                                                         w->lb_add, w->ed_results})
        EXPECT_TRUE(WaitUntil([&] { return OnScreenAsPainted(w, part); }, 2000))
            << part->objectName().toStdString();
    EXPECT_TRUE(w->bn_cancel->isHidden());
}

TEST_F(MainWindowTest, EntryStateFollowsTheExactWordsTimedOut) {
    SetList({"a", "b", "c"});
    w->lb_add->SetItemData(0, QStringList{"x: Request timed", "out"});
    w->lb_add->SetItemData(1, QStringList{"x: Request Timed Out"});
    w->lb_add->SetItemData(2, QStringList{"x: Request timed out"});
    EXPECT_EQ(w->EntryState(0), 2u);
    EXPECT_EQ(w->EntryState(1), 2u);
    EXPECT_EQ(w->EntryState(2), 1u);
    Select(1);
    EXPECT_TRUE(w->bn_trace->isEnabled());
    Select(2);
    EXPECT_FALSE(w->bn_trace->isEnabled());
    // Each row shows its own picture: the timed-out row's yellow mark.
    const QImage shot = w->lb_add->viewport()->grab().toImage();
    const QImage yellow = w->il_states->Image(1);
    const QRect row = w->lb_add->visualRect(w->lb_add->model()->index(2, 0));
    int matching = 0;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            if (qAlpha(yellow.pixel(x, y)) == 255 &&
                shot.pixel(row.left() + 2 + x, row.top() + 1 + y) == yellow.pixel(x, y))
                ++matching;
    EXPECT_GT(matching, 50);
}

TEST_F(MainWindowTest, TheDialogEditKeepsTheResultsOfEntriesThatStay) {
    SetList({"192.168.1.1", "10.0.0.9"});
    Select(1);
    w->lb_add->SetItemData(0, QStringList{"dropped"});
    w->lb_add->SetItemData(1, QStringList{"kept"});
    QTimer::singleShot(0, [] {
        ASSERT_TRUE(fm_add);
        for (const char* name : {"lb_sel", "ed_add", "bn_one", "ed_net", "ud_from", "bn_ok"})
            EXPECT_NE(fm_add->findChild<QWidget*>(name), nullptr) << name;
        fm_add->lb_sel->SetItemIndex(0); // 10.0.0.9
        fm_add->bn_delClick(nullptr);
        fm_add->ed_add->setText("10.0.0.9");
        fm_add->bn_oneClick(nullptr);
        fm_add->ed_add->setText("192.168.1.1"); // already listed: nothing changes
        fm_add->bn_oneClick(nullptr);
        fm_add->bn_ok->click();
    });
    w->bn_add->click();
    ASSERT_EQ(w->lb_add->Items(), QStringList({"10.0.0.9", "192.168.1.1"}));
    EXPECT_FALSE(w->HasResults(0));
    EXPECT_EQ(w->Results(1), QStringList{"kept"});
    EXPECT_EQ(w->lb_add->ItemIndex(), -1);
    EXPECT_FALSE(w->bn_one->isEnabled());
    // Cancel keeps the list and the selection.
    Select(1);
    QTimer::singleShot(0, [] {
        fm_add->bn_delAllClick(nullptr);
        fm_add->bn_cancel->click();
    });
    w->bn_add->click();
    EXPECT_EQ(w->lb_add->Count(), 2);
    EXPECT_EQ(w->PaneLines(), QStringList{"kept"});
}

TEST_F(MainWindowTest, ARunThatEndsWhileTheDialogIsOpenKeepsItsResults) {
    SetList({"192.168.1.1", "10.0.0.9"});
    Select(1);
    QTimer::singleShot(0, [&] {
        ASSERT_TRUE(fm_add);
        // The automatic mode pings the selected entry while the dialog is
        // open; the user adds a host and presses OK after the run.
        w->Ping1->trigger();
        ASSERT_TRUE(WaitUntil([&] { return !w->Ping->Busy(); }));
        fm_add->ed_add->setText("10.0.0.1");
        fm_add->bn_oneClick(nullptr);
        fm_add->bn_ok->click();
    });
    w->bn_add->click();
    w->SetAutoRun(false);
    ASSERT_EQ(w->lb_add->Items(), QStringList({"10.0.0.1", "10.0.0.9", "192.168.1.1"}));
    EXPECT_FALSE(w->HasResults(0));
    EXPECT_FALSE(w->HasResults(1));
    ASSERT_EQ(w->Results(2).size(), 17);
    EXPECT_EQ(w->Results(2).last(), "Return Name: 192.168.1.1");
}

TEST_F(MainWindowTest, CommandButtonsPutTheirCaptionsAtTheMarginAndCancelIsTheCancelKind) {
    const int margin = qRound(8 * w->Scale());
    for (TCBitBtn* b :
         {w->bn_add, w->bn_one, w->bn_all, w->bn_ping, w->bn_trace, w->bn_close, w->bn_cancel}) {
        EXPECT_EQ(b->Margin(), margin) << b->objectName().toStdString();
        EXPECT_EQ(b->Spacing(), -1) << b->objectName().toStdString();
    }
    EXPECT_EQ(w->bn_cancel->Kind(), bkCancel);
    EXPECT_EQ(w->bn_cancel->Caption(), "&Cancel");
    EXPECT_TRUE(w->bn_cancel->Cancel());
    EXPECT_FALSE(w->bn_cancel->Glyph().isNull());
    // The caption of Check All begins at the margin, not in the middle.
    const QImage face = w->bn_all->grab().toImage();
    const QRgb background = face.pixel(1, face.height() / 2);
    int first = -1;
    for (int x = 0; x < face.width() && first < 0; ++x)
        for (int y = 0; y < face.height() && first < 0; ++y)
            if (qGray(face.pixel(x, y)) < qGray(background) - 80)
                first = x;
    EXPECT_GE(first, margin);
    EXPECT_LE(first, margin + 3);
}

TEST_F(MainWindowTest, TheListShowsTwelveWholeRowsAtTheWindowsScale) {
    const int rows = (w->lb_add->height() - 2 * w->lb_add->frameWidth()) / w->lb_add->ItemHeight();
    EXPECT_EQ(rows, 12) << "scale " << w->Scale();
    EXPECT_EQ(w->lb_add->ItemHeight(), qRound(34 * w->Scale()));
    // The list stays inside the window.
    EXPECT_LE(w->lb_add->geometry().bottom(), w->height());
}

TEST_F(MainWindowTest, CloseShowsTheAboutBoxThenEnds) {
    QImage about;
    QTimer::singleShot(0, [&] {
        auto* box = w->findChild<Tfm_about*>();
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->windowTitle(), "About Netsonde");
        about = box->grab().toImage();
        Screenshot(box, "about");
        QTest::keyClick(box, Qt::Key_Return);
    });
    w->bn_close->click();
    EXPECT_EQ(terminated, 1);
    EXPECT_FALSE(about.isNull());
    EXPECT_EQ(w->findChild<Tfm_about*>(), nullptr);
}

TEST_F(MainWindowTest, AutomaticMenuMarksTheRunningCommand) {
    SetList({"192.168.1.1"});
    Select(0);
    w->popupPopup(w->popup);
    EXPECT_TRUE(w->Stop1->isChecked());
    w->Ping1->trigger();
    EXPECT_TRUE(w->Ping->Busy());
    EXPECT_TRUE(w->Tick->isActive());
    EXPECT_TRUE(w->bn_auto->IgnoreLight());
    ASSERT_TRUE(WaitUntil([&] { return !w->Ping->Busy(); }));
    w->popupPopup(w->popup);
    EXPECT_TRUE(w->Ping1->isChecked());
    w->Stop1->trigger();
    EXPECT_FALSE(w->Tick->isActive());
    EXPECT_FALSE(w->bn_auto->IgnoreLight());
}

// With the echo service disabled at start-up, a run reports its error and
// then finishes: the entry is never shown as answered.
class DisabledServiceTest : public MainWindowTest {
protected:
    void SetUp() override {
        service.SetMissingLibrary(true);
        boxes.AnswerNext(platform::MsgAnswer::Ignore);
        Open();
    }
};

TEST_F(DisabledServiceTest, ARunWithAnErrorStoresNothing) {
    ASSERT_FALSE(IcmpAvailable());
    SetList({"192.168.1.1"});
    Select(0);
    Run(w->bn_one);
    // The error line, then the closing lines of the run that finishes at once.
    EXPECT_EQ(w->PaneLines(),
              QStringList({"Error -2147483392: ICMP disabled: Winsock or icmp.dll not found", "",
                           "", "", "", "IP Address: ", "Destination: ", "Return Name: "}));
    EXPECT_FALSE(w->HasResults(0));
    EXPECT_EQ(w->EntryState(0), 0u);
    Select(0);
    EXPECT_FALSE(w->bn_trace->isEnabled());
    EXPECT_EQ(w->Ping->Number(), 10);
    // Check All goes through every entry without storing anything either.
    CheckAllAndWait(*w);
    EXPECT_FALSE(w->HasResults(0));
}

} // namespace

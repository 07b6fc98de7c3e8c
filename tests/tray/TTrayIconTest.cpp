#include "tray/TTrayIcon.h"

#include "platform/Component.h"
#include "support/FakeNotifyArea.h"
#include "tray/TrayMark.h"

#include <QCoreApplication>
#include <QCursor>
#include <QMenu>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <gtest/gtest.h>
#include <memory>

using netsonde::test::FakeNotifyArea;
using namespace platform;

namespace {

QIcon Picture(Qt::GlobalColor colour) {
    QPixmap pixmap(16, 16);
    pixmap.fill(colour);
    return QIcon(pixmap);
}

QRgb CornerOf(const QIcon& icon) {
    return icon.pixmap(16, 16).toImage().pixel(0, 0);
}

// Handles what the component posted to itself.
void HandlePosted() {
    QCoreApplication::sendPostedEvents();
}

class TrayIconTest : public ::testing::Test {
protected:
    FakeNotifyArea area;
    QObject owner;
    TTrayIcon* tray = new TTrayIcon(&owner);
};

TEST_F(TrayIconTest, ToolTipKeepsItsFirst62Characters) {
    tray->SetActive(true);
    const QString hundred = QString(60, 'a') + "bc" + QString(38, 'z');
    tray->SetToolTip(hundred);
    EXPECT_EQ(tray->ToolTip(), QString(60, 'a') + "bc");
    ASSERT_EQ(area.icons.size(), 1);
    EXPECT_EQ(area.icons[0].szTip, QString(60, 'a') + "bc");

    const QString exact(62, 'x');
    tray->SetToolTip(exact);
    EXPECT_EQ(tray->ToolTip(), exact);
    EXPECT_EQ(area.icons[0].szTip, exact);

    // Characters beyond the basic plane are two UTF-16 units each: they
    // count once and are never cut in two.
    const QString face = QString::fromUtf8("\xF0\x9F\x98\x80");
    tray->SetToolTip(QString(61, 'a') + face + "b");
    EXPECT_EQ(tray->ToolTip(), QString(61, 'a') + face);
    QString faces;
    for (int i = 0; i < 63; ++i)
        faces += face;
    tray->SetToolTip(faces);
    EXPECT_EQ(tray->ToolTip(), faces.left(124));
    EXPECT_EQ(area.icons[0].szTip, faces.left(124));
}

TEST_F(TrayIconTest, OneIconWhateverTheActivationsAndNoCallsWhileInactive) {
    tray->SetToolTip("tip");
    tray->SetActive(false);
    tray->SetIcon(Picture(Qt::red));
    tray->SetToolTip("Netsonde");
    EXPECT_TRUE(area.calls.isEmpty());

    tray->SetActive(true);
    tray->SetActive(true);
    HandlePosted();
    EXPECT_EQ(area.Messages(), QList<unsigned>{NIM_ADD});
    ASSERT_EQ(area.icons.size(), 1);
    // The changes made while inactive go out with the activation.
    const NOTIFYICONDATA& shown = area.icons[0];
    EXPECT_EQ(shown.szTip, "Netsonde");
    EXPECT_EQ(CornerOf(shown.hIcon), QColor(Qt::red).rgb());
    EXPECT_EQ(shown.hWnd, tray->Window());
    EXPECT_EQ(shown.uID, 0u);
    EXPECT_EQ(shown.uCallbackMessage, WM_TRAYNOTIFY);
    EXPECT_EQ(shown.uFlags, NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_MENU);
    EXPECT_EQ(shown.hMenu, nullptr);

    // The icon's menu goes to the area, which may show it itself.
    QMenu menu;
    tray->SetPopupMenu(&menu);
    EXPECT_EQ(area.icons[0].hMenu, &menu);
    tray->SetPopupMenu(nullptr);
    EXPECT_EQ(area.icons[0].hMenu, nullptr);

    // Changes while active are sent at once.
    tray->SetIcon(Picture(Qt::blue));
    EXPECT_EQ(CornerOf(area.icons[0].hIcon), QColor(Qt::blue).rgb());

    tray->SetActive(false);
    tray->SetActive(false);
    EXPECT_EQ(area.Messages(),
              (QList<unsigned>{NIM_ADD, NIM_MODIFY, NIM_MODIFY, NIM_MODIFY, NIM_DELETE}));
    EXPECT_TRUE(area.icons.isEmpty());
}

TEST_F(TrayIconTest, AnIconAddedWithoutTipIsSentAgainOnce) {
    tray->SetIcon(Picture(Qt::green));
    area.calls.clear();
    tray->SetActive(true);
    EXPECT_EQ(area.Messages(), QList<unsigned>{NIM_ADD});
    HandlePosted();
    EXPECT_EQ(area.Messages(), (QList<unsigned>{NIM_ADD, NIM_MODIFY}));
    HandlePosted();
    EXPECT_EQ(area.calls.size(), 2);

    // Gone before the re-send is handled: no call for an icon not there.
    tray->SetActive(false);
    tray->SetActive(true);
    tray->SetActive(false);
    area.calls.clear();
    HandlePosted();
    EXPECT_TRUE(area.calls.isEmpty());

    // With a tip there is nothing to send again.
    tray->SetToolTip("Netsonde");
    tray->SetActive(true);
    HandlePosted();
    EXPECT_EQ(area.Messages(), QList<unsigned>{NIM_ADD});
}

TEST_F(TrayIconTest, ClicksArriveAsEventsInTheOrderReceived) {
    QStringList log;
    tray->OnClick = [&](QObject* s) { log << (s == tray ? "click" : "click?"); };
    tray->OnDblClick = [&](QObject* s) { log << (s == tray ? "double" : "double?"); };
    tray->OnRightClick = [&](QObject* s, TMouseButton b, TShiftState shift, int x, int y) {
        log << QString("right %1 %2 %3,%4").arg(s == tray && b == mbRight).arg(shift).arg(x).arg(y);
    };
    tray->SetToolTip("Netsonde");
    tray->SetActive(true);

    // A double click: up, double click, up; presses and moves are not clicks.
    for (unsigned m : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP, WM_MOUSEMOVE,
                       WM_MBUTTONUP, WM_RBUTTONDOWN})
        ASSERT_TRUE(area.Mouse(m));
    EXPECT_EQ(log, (QStringList{"click", "double", "click"}));

    // The right click reports the cursor on the screen.
    log.clear();
    QCursor::setPos(QPoint(523, 311));
    const QPoint cursor = QCursor::pos();
    area.Mouse(WM_RBUTTONUP);
    EXPECT_EQ(log, QStringList{QString("right 1 0 %1,%2").arg(cursor.x()).arg(cursor.y())});
    EXPECT_EQ(cursor, QPoint(523, 311));

    // Unassigned events are skipped.
    log.clear();
    tray->OnClick = nullptr;
    tray->OnRightClick = nullptr;
    area.Mouse(WM_LBUTTONUP);
    area.Mouse(WM_RBUTTONUP);
    EXPECT_TRUE(log.isEmpty());
}

TEST_F(TrayIconTest, RightClickOpensThePopupMenuAlsoWhenTheHandlerDestroysTheIcon) {
    QMenu menu;
    menu.addAction("Alerts\u2026");
    tray->SetPopupMenu(&menu);
    tray->SetActive(true);
    area.Mouse(WM_LBUTTONUP);
    EXPECT_FALSE(menu.isVisible());
    area.Mouse(WM_RBUTTONUP);
    EXPECT_TRUE(menu.isVisible());
    menu.hide();

    tray->OnRightClick = [&](QObject*, TMouseButton, TShiftState, int, int) { delete tray; };
    area.Mouse(WM_RBUTTONUP);
    EXPECT_TRUE(menu.isVisible());
    menu.hide();

    // A menu that has gone is forgotten.
    auto* other = new TTrayIcon(&owner);
    auto* gone = new QMenu;
    other->SetPopupMenu(gone);
    delete gone;
    EXPECT_EQ(other->PopupMenu(), nullptr);
}

TEST(TrayMarkTest, TheDotTakesItsColourInTheCornerOfEverySize) {
    QIcon icon;
    for (int size : {16, 32}) {
        QPixmap p(size, size);
        p.fill(Qt::blue);
        icon.addPixmap(p);
    }
    for (const QColor& colour : {tray::MarkRed, tray::MarkAmber}) {
        const QIcon marked = tray::MarkedIcon(icon, colour);
        ASSERT_EQ(marked.availableSizes().size(), 2);
        for (int size : {16, 32}) {
            const QImage image = marked.pixmap(size, size).toImage();
            ASSERT_EQ(image.width(), size);
            EXPECT_EQ(image.pixelColor(0, 0), QColor(Qt::blue));
            const int inner = size - 1 - static_cast<int>(std::max(6.0, size * 0.45) / 2);
            EXPECT_EQ(image.pixelColor(inner, inner), colour) << size;
        }
    }
    // An icon without pictures gets the dot alone.
    EXPECT_FALSE(tray::MarkedIcon(QIcon(), tray::MarkAmber).isNull());
}

TEST_F(TrayIconTest, DestroyingRemovesTheShownIconOnly) {
    tray->SetToolTip("Netsonde");
    delete tray;
    EXPECT_TRUE(area.calls.isEmpty());

    auto* shown = new TTrayIcon(&owner);
    shown->SetToolTip("Netsonde");
    shown->SetActive(true);
    QObject* window = shown->Window();
    delete shown;
    EXPECT_EQ(area.Messages(), (QList<unsigned>{NIM_ADD, NIM_DELETE}));
    EXPECT_EQ(area.calls.last().data.hWnd, window);
    EXPECT_TRUE(area.icons.isEmpty());

    // Destroyed by its own click handler, and with a re-send pending.
    auto* clicked = new TTrayIcon(&owner);
    clicked->SetActive(true);
    clicked->OnClick = [clicked](QObject*) { delete clicked; };
    area.Mouse(WM_LBUTTONUP);
    EXPECT_TRUE(area.icons.isEmpty());
    HandlePosted();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    tray = nullptr;
}

TEST_F(TrayIconTest, ShowDesigningOnlyActsWhileDesigning) {
    tray->SetShowDesigning(true);
    EXPECT_FALSE(tray->ShowDesigning());
    EXPECT_TRUE(area.calls.isEmpty());

    QObject form;
    SetDesigning(&form, true);
    auto* designed = new TTrayIcon(&form);
    designed->SetToolTip("Netsonde");
    designed->SetActive(true);
    EXPECT_TRUE(designed->Active());
    EXPECT_TRUE(area.calls.isEmpty());
    designed->SetShowDesigning(true);
    EXPECT_TRUE(designed->ShowDesigning());
    EXPECT_EQ(area.Messages(), QList<unsigned>{NIM_ADD});
    delete designed;
    EXPECT_EQ(area.Messages(), (QList<unsigned>{NIM_ADD, NIM_DELETE}));
}

// Qt's activation reasons, through the real area, reach the events one by
// one in the order Qt reports them.
TEST(TrayIconQtArea, ActivationReasonsBecomeClicks) {
    EXPECT_EQ(MouseMessageOf(QSystemTrayIcon::Trigger), WM_LBUTTONUP);
    EXPECT_EQ(MouseMessageOf(QSystemTrayIcon::DoubleClick), WM_LBUTTONDBLCLK);
    EXPECT_EQ(MouseMessageOf(QSystemTrayIcon::Context), WM_RBUTTONUP);
    EXPECT_EQ(MouseMessageOf(QSystemTrayIcon::Unknown), 0u);

    QObject owner;
    auto* tray = new TTrayIcon(&owner);
    QStringList log;
    tray->OnClick = [&](QObject*) { log << "click"; };
    tray->OnDblClick = [&](QObject*) { log << "double"; };
    tray->OnRightClick = [&](QObject*, TMouseButton, TShiftState, int, int) { log << "right"; };
    tray->SetIcon(Picture(Qt::red));
    tray->SetToolTip("Netsonde");
    tray->SetActive(true);
    auto* icon = tray->Window()->findChild<QSystemTrayIcon*>();
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(icon->toolTip(), "Netsonde");
    tray->SetToolTip("other");
    EXPECT_EQ(icon->toolTip(), "other");

    for (auto reason :
         {QSystemTrayIcon::Trigger, QSystemTrayIcon::Trigger, QSystemTrayIcon::DoubleClick,
          QSystemTrayIcon::MiddleClick, QSystemTrayIcon::Context})
        emit icon->activated(reason);
    EXPECT_TRUE(log.isEmpty()); // posted, as the area's notifications are
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(log, (QStringList{"click", "click", "double", "right"}));

    tray->SetActive(false);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(tray->Window()->findChild<QSystemTrayIcon*>(), nullptr);
}

} // namespace

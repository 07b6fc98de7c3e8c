#include "PixelTools.h"
#include "controls/KindBitmaps.h"
#include "controls/SystemColors.h"
#include "controls/g_PopupMenu.h"
#include "controls/g_btnmenu.h"
#include "support/EventWait.h"
#include "support/FakeSounds.h"

#include <QApplication>
#include <QEnterEvent>
#include <QTest>
#include <gtest/gtest.h>
#include <set>

using netsonde::test::WaitUntil;

namespace {

class BtnMenuTest : public testing::Test {
protected:
    void SetUp() override { QApplication::setPalette(ClassicPalette()); }

    static void Enter(QWidget* w) {
        QEnterEvent e(QPointF(3, 3), QPointF(3, 3), w->mapToGlobal(QPointF(3, 3)));
        QApplication::sendEvent(w, &e);
    }

    netsonde::test::FakeSounds sounds;
};

TEST_F(BtnMenuTest, ArrowOfA33By28Button) {
    g_btnmenu b;
    b.resize(33, 28);
    EXPECT_EQ(b.Margin(), 4);
    QImage img = netsonde::test::BlankImage(33, 28);
    b.render(&img, QPoint(), QRegion(), QWidget::DrawChildren);
    std::set<std::pair<int, int>> black;
    for (int y = 0; y < 28; ++y)
        for (int x = 0; x < 33; ++x)
            if (img.pixel(x, y) == 0xFF000000)
                black.insert({x, y});
    const std::set<std::pair<int, int>> arrow{{23, 13}, {24, 13}, {25, 13}, {26, 13}, {27, 13},
                                              {24, 14}, {25, 14}, {26, 14}, {25, 15}};
    EXPECT_EQ(black, arrow);

    // The same place whether pressed or disabled.
    CircButton::ClickSounds = false;
    b.setDown(true);
    b.setEnabled(false);
    img = netsonde::test::BlankImage(33, 28);
    b.render(&img, QPoint(), QRegion(), QWidget::DrawChildren);
    for (auto [x, y] : arrow)
        EXPECT_EQ(img.pixel(x, y), 0xFF000000u) << x << "," << y;
    CircButton::ClickSounds = true;
}

TEST_F(BtnMenuTest, ClickRunsOnClickThenRestsTheButtonThenDropsTheMenuBelowIt) {
    QWidget window;
    window.resize(200, 150);
    window.move(100, 80);
    auto* b = new g_btnmenu(&window);
    b->setGeometry(40, 30, 33, 28);
    b->SetGlyph(GetKindBitmap(bkAll));
    g_PopupMenu menu;
    menu.addAction(QStringLiteral("Start"));
    b->SetMenu(&menu);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    const int points = b->font().pointSize();
    Enter(b);
    ASSERT_TRUE(b->MouseInside());
    bool menuOpenAtClick = true;
    QStringList soundsAtClick;
    b->OnClick = [&](QObject*) {
        menuOpenAtClick = menu.isVisible();
        soundsAtClick = sounds.played;
    };
    QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_FALSE(menuOpenAtClick);
    ASSERT_FALSE(soundsAtClick.isEmpty());
    EXPECT_EQ(soundsAtClick.last(), QStringLiteral("UP"));
    EXPECT_FALSE(b->MouseInside());
    EXPECT_FALSE(b->Lit());
    EXPECT_EQ(b->font().pointSize(), points);
    ASSERT_TRUE(WaitUntil([&] { return menu.isVisible(); }));
    EXPECT_EQ(menu.pos(), b->mapToGlobal(QPoint(0, 27)));
    menu.close();

    // A keyboard click drops it at the same place.
    b->setFocus();
    QTest::keyClick(b, Qt::Key_Space);
    ASSERT_TRUE(WaitUntil([&] { return menu.isVisible(); }));
    EXPECT_EQ(menu.pos(), b->mapToGlobal(QPoint(0, 27)));
    menu.close();
}

TEST_F(BtnMenuTest, MenuClosingUnderThePointerLeavesTheButtonAtRestUntilItIsEnteredAgain) {
    QWidget window;
    window.resize(200, 150);
    auto* b = new g_btnmenu(&window);
    b->setGeometry(40, 30, 33, 28);
    g_PopupMenu menu;
    menu.addAction(QStringLiteral("Start"));
    b->SetMenu(&menu);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const int points = b->font().pointSize();
    auto dropAndClose = [&](QPoint pointer) {
        QCursor::setPos(pointer);
        b->click();
        ASSERT_TRUE(WaitUntil([&] { return menu.isVisible(); }));
        menu.close();
        Enter(b); // what the window system sends once the menu is gone
    };

    dropAndClose(b->mapToGlobal(QPoint(10, 10)));
    EXPECT_FALSE(b->MouseInside());
    EXPECT_FALSE(b->Lit());
    EXPECT_EQ(b->font().pointSize(), points);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(b, &leave);
    Enter(b);
    EXPECT_TRUE(b->MouseInside());
    EXPECT_EQ(b->font().pointSize(), points + 2);

    // Closed away from the button, the next entry lights it at once.
    QApplication::sendEvent(b, &leave);
    dropAndClose(window.mapToGlobal(QPoint(150, 120)));
    EXPECT_TRUE(b->MouseInside());
}

TEST_F(BtnMenuTest, WithoutAMenuOrAfterTheMenuIsGoneAClickStillResetsTheHover) {
    g_btnmenu b;
    b.resize(33, 28);
    int clicks = 0;
    b.OnClick = [&](QObject*) { ++clicks; };
    Enter(&b);
    b.click();
    EXPECT_EQ(clicks, 1);
    EXPECT_FALSE(b.MouseInside());

    auto* menu = new g_PopupMenu;
    b.SetMenu(menu);
    delete menu;
    EXPECT_EQ(b.Menu(), nullptr);
    b.click();
    EXPECT_EQ(clicks, 2);
}

} // namespace

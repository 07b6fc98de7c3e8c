#include "ControlFixture.h"
#include "controls/g_checkbox.h"
#include "controls/g_edit.h"
#include "controls/g_listbox.h"
#include "controls/g_memo.h"
#include "support/EventWait.h"

using namespace netsonde::test;

namespace {

QRgb background(const QWidget* w) {
    return w->palette().color(QPalette::Base).rgba();
}
QRgb text(const QWidget* w) {
    return w->palette().color(QPalette::Text).rgba();
}

class HighlightControls : public ControlFixture {
protected:
    void SetUp() override {
        ControlFixture::SetUp();
        edit = new g_edit(window.get());
        other = new g_edit(window.get());
        other->move(0, 40);
        memo = new g_memo(window.get());
        memo->setGeometry(0, 80, 100, 60);
        list = new g_listbox(window.get());
        list->setGeometry(120, 0, 100, 100);
        check = new g_checkbox(window.get());
        check->setText(QStringLiteral("&Resolve"));
        check->move(120, 120);
        ShowActive();
        other->setFocus(Qt::OtherFocusReason);
    }

    // The three looks of the edit-like controls.
    void ExpectResting(QWidget* w) {
        EXPECT_EQ(background(w), kFace);
        EXPECT_EQ(text(w), kBlack);
    }
    void ExpectHovered(QWidget* w) {
        EXPECT_EQ(background(w), kFace);
        EXPECT_EQ(text(w), kSelection);
    }
    void ExpectFocused(QWidget* w) {
        EXPECT_EQ(background(w), kWhite);
        EXPECT_EQ(text(w), kBlack);
    }

    g_edit* edit = nullptr;
    g_edit* other = nullptr;
    g_memo* memo = nullptr;
    g_listbox* list = nullptr;
    g_checkbox* check = nullptr;
};

} // namespace

TEST_F(HighlightControls, StartResting) {
    for (QWidget* w :
         {static_cast<QWidget*>(edit), static_cast<QWidget*>(memo), static_cast<QWidget*>(list)})
        ExpectResting(w);
    EXPECT_EQ(edit->Color(), clBtnFace);
    EXPECT_EQ(edit->ColorHigh(), clWindow);
    EXPECT_EQ(edit->FontColor(), clWindowText);
}

TEST_F(HighlightControls, HoverOverFocusedEditChangesNothing) {
    edit->setFocus(Qt::TabFocusReason);
    ExpectFocused(edit);
    Enter(edit);
    ExpectFocused(edit);
    Leave(edit);
    ExpectFocused(edit);
}

TEST_F(HighlightControls, ClickIntoHoveredEdit) {
    for (QWidget* w :
         {static_cast<QWidget*>(edit), static_cast<QWidget*>(memo), static_cast<QWidget*>(list)}) {
        Enter(w);
        ExpectHovered(w);
        w->setFocus(Qt::MouseFocusReason);
        ExpectFocused(w);
        Leave(w);
        ExpectFocused(w);
        other->setFocus(Qt::TabFocusReason);
        ExpectResting(w);
    }
}

TEST_F(HighlightControls, LosingFocusUnderThePointerRestsUntilThePointerComesBack) {
    Enter(edit);
    edit->setFocus(Qt::MouseFocusReason);
    other->setFocus(Qt::TabFocusReason);
    ExpectResting(edit);
    Leave(edit);
    ExpectResting(edit);
    Enter(edit);
    ExpectHovered(edit);
}

TEST_F(HighlightControls, ReadOnlyMemoTakesTheFocusColour) {
    memo->setReadOnly(true);
    memo->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(memo->hasFocus());
    ExpectFocused(memo);
}

TEST_F(HighlightControls, OwnColoursGiveWayToTheRestingOnes) {
    edit->SetColor(TColor(0xFF0000));
    EXPECT_EQ(background(edit), 0xFFFF0000);
    edit->setFocus(Qt::TabFocusReason);
    other->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(background(edit), kFace);
    EXPECT_EQ(edit->Color(), clBtnFace);
}

TEST_F(HighlightControls, ColorHighAppliesFromTheNextFocus) {
    edit->setFocus(Qt::TabFocusReason);
    edit->SetColorHigh(TColor(0xFFFF00));
    EXPECT_EQ(background(edit), kWhite);
    other->setFocus(Qt::TabFocusReason);
    edit->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(background(edit), 0xFFFFFF00);
}

TEST_F(HighlightControls, CheckBoxHoverTextAndFocus) {
    const QPalette before = check->palette();
    const auto caption = [&] { return check->palette().color(QPalette::WindowText).rgba(); };
    Enter(check);
    EXPECT_EQ(caption(), kSelection);
    check->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(caption(), kBlack);
    Leave(check);
    EXPECT_EQ(caption(), kBlack);
    other->setFocus(Qt::TabFocusReason);
    Enter(check);
    EXPECT_EQ(caption(), kSelection);
    Leave(check);
    EXPECT_EQ(caption(), kBlack);
    // The background never changes.
    EXPECT_EQ(check->palette().color(QPalette::Window), before.color(QPalette::Window));
    EXPECT_EQ(check->palette().color(QPalette::Base), before.color(QPalette::Base));
}

TEST_F(HighlightControls, CheckBoxClickFiresOnStateChangesOnly) {
    int clicks = 0;
    check->OnClick = [&](QObject* sender) {
        EXPECT_EQ(sender, check);
        ++clicks;
    };
    check->SetChecked(true);
    check->SetChecked(true);
    EXPECT_EQ(clicks, 1);
    QTest::mouseClick(check, Qt::LeftButton, {}, QPoint(5, check->height() / 2));
    EXPECT_FALSE(check->Checked());
    EXPECT_EQ(clicks, 2);
}

TEST_F(HighlightControls, EnterExitAndChangeEvents) {
    QStringList seen;
    edit->OnEnter = [&](QObject*) { seen << "enter"; };
    edit->OnExit = [&](QObject*) { seen << "exit"; };
    edit->OnChange = [&](QObject*) { seen << "change"; };
    edit->setFocus(Qt::TabFocusReason);
    QTest::keyClick(edit, Qt::Key_A);
    other->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(seen, (QStringList{"enter", "change", "exit"}));
}

TEST_F(HighlightControls, FollowsAChangedApplicationPalette) {
    QPalette p = ClassicPalette();
    p.setColor(QPalette::Button, QColor(0x336699));
    QApplication::setPalette(p);
    ASSERT_TRUE(WaitUntil([&] { return background(edit) == 0xFF336699; }));
    EXPECT_EQ(text(edit), kBlack);
}

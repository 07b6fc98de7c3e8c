// The alerts dialog typed as a user would: every valid change applies at
// once, anything else never does.
#include "dialogs/Tfm_alerts.h"

#include "controls/TCBitBtn.h"
#include "controls/g_checkbox.h"
#include "controls/g_edit.h"
#include "controls/g_updown.h"
#include "support/FakeSounds.h"

#include <QApplication>
#include <QDir>
#include <QTest>
#include <gtest/gtest.h>

using alerts::AlertSettings;

namespace {

class AlertsDialogTest : public testing::Test {
protected:
    void SetUp() override {
        fm.OnApply = [this](const AlertSettings& s) { applied.push_back(s); };
        fm.show();
        QApplication::setActiveWindow(&fm);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&fm));
    }
    // Replaces the edit's text by typing, as a user does after Ctrl+A.
    void Retype(QWidget* edit, const QString& text) {
        edit->setFocus();
        QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
        if (text.isEmpty())
            QTest::keyClick(edit, Qt::Key_Backspace);
        else
            QTest::keyClicks(edit, text);
    }

    netsonde::test::FakeSounds sounds;
    Tfm_alerts fm;
    std::vector<AlertSettings> applied;
};

TEST_F(AlertsDialogTest, OpensWithTheSettingsAndNamedControls) {
    EXPECT_EQ(fm.windowTitle(), "Alerts");
    EXPECT_EQ(fm.bn_close->text(), "&Close");
    EXPECT_EQ(fm.ed_fails->text(), "3");
    EXPECT_EQ(fm.ed_answers->text(), "2");
    EXPECT_EQ(fm.ed_rtt->text(), "0");
    EXPECT_EQ(fm.ed_base->text(), "0");
    EXPECT_EQ(fm.ed_loss->text(), "20");
    EXPECT_EQ(fm.ed_window->text(), "20");
    EXPECT_TRUE(fm.ck_sounds->Checked());
    EXPECT_TRUE(fm.ck_notices->Checked());
    EXPECT_EQ(QApplication::focusWidget(), fm.ed_fails);
    for (QWidget* w : fm.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        EXPECT_FALSE(w->objectName().isEmpty()) << w->metaObject()->className();
    // Every control lies within the form, the labels uncut.
    for (QWidget* w : fm.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        EXPECT_TRUE(fm.rect().contains(w->geometry())) << w->objectName().toStdString();

    AlertSettings s;
    s.Thresholds = {4, 1, 300, 5, 10, 50};
    s.Sounds = false;
    fm.SetSettings(s);
    EXPECT_EQ(fm.ed_rtt->text(), "300");
    EXPECT_EQ(fm.ud_rtt->Position(), 300);
    EXPECT_FALSE(fm.ck_sounds->Checked());
    EXPECT_EQ(fm.Settings(), s);
    EXPECT_TRUE(applied.empty()) << "showing settings is no change";

    const QDir out(QStringLiteral(NETSONDE_SCREENSHOT_DIR));
    QDir().mkpath(out.path());
    EXPECT_TRUE(fm.grab().save(out.filePath("alerts-dialog.png")));
}

TEST_F(AlertsDialogTest, EveryValidChangeAppliesAtOnce) {
    Retype(fm.ed_fails, "5");
    ASSERT_EQ(applied.size(), 1u);
    EXPECT_EQ(applied.back().Thresholds.FailuresToDown, 5);
    // The arrow keys step the number.
    fm.ed_answers->setFocus();
    QTest::keyClick(fm.ed_answers, Qt::Key_Up);
    EXPECT_EQ(applied.back().Thresholds.AnswersToUp, 3);
    Retype(fm.ed_rtt, "250");
    EXPECT_EQ(applied.back().Thresholds.RttLimitMs, 250);
    // The check boxes' accelerators toggle them (after the button's short
    // pressed look).
    QTest::keyClick(&fm, Qt::Key_S, Qt::AltModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !applied.back().Sounds; })) << "Alt+S";
    QTest::keyClick(&fm, Qt::Key_S, Qt::AltModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return applied.back().Sounds; })) << "Alt+S";
    // A caption's accelerator moves to its edit.
    QTest::keyClick(&fm, Qt::Key_L, Qt::AltModifier);
    EXPECT_EQ(QApplication::focusWidget(), fm.ed_loss);
    QTest::mouseClick(fm.ck_notices, Qt::LeftButton, {}, QPoint(6, fm.ck_notices->height() / 2));
    EXPECT_FALSE(applied.back().Notices);
    // The paths' switches, by accelerator and by click.
    QTest::keyClick(&fm, Qt::Key_P, Qt::AltModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !applied.back().PathChanges; })) << "Alt+P";
    QTest::mouseClick(fm.ck_pathLoss, Qt::LeftButton, {}, QPoint(6, fm.ck_pathLoss->height() / 2));
    EXPECT_FALSE(applied.back().PathLoss);
    Retype(fm.ed_window, "50");
    Retype(fm.ed_loss, "0");
    AlertSettings expected;
    expected.Thresholds = {5, 3, 250, 0, 50, 0};
    expected.Notices = false;
    expected.PathChanges = false;
    expected.PathLoss = false;
    EXPECT_EQ(applied.back(), expected);
    EXPECT_EQ(fm.Settings(), expected);
}

TEST_F(AlertsDialogTest, InvalidNumbersAreNeverApplied) {
    Retype(fm.ed_fails, "");
    Retype(fm.ed_fails, "0");
    Retype(fm.ed_answers, "-");
    EXPECT_TRUE(applied.empty());
    // 150 % cannot be typed: the loss edit takes three digits, and 150 is
    // out of range.
    Retype(fm.ed_loss, "150");
    for (const AlertSettings& s : applied)
        EXPECT_LE(s.Thresholds.LossPercent, 100);
    EXPECT_LE(fm.Settings().Thresholds.LossPercent, 100);
    // Leaving an edit with no valid number shows the value in force again.
    Retype(fm.ed_fails, "0");
    QTest::keyClick(fm.ed_fails, Qt::Key_Tab);
    EXPECT_EQ(fm.ed_fails->text(), "3");
    EXPECT_EQ(fm.Settings().Thresholds.FailuresToDown, 3);
}

TEST_F(AlertsDialogTest, CloseAndEscapeCloseIt) {
    QTest::keyClick(&fm, Qt::Key_Escape);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !fm.isVisible(); }));
    fm.show();
    QApplication::setActiveWindow(&fm);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&fm));
    QTest::mouseClick(fm.bn_close, Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !fm.isVisible(); }));
}

} // namespace

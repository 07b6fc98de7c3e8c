#include "controls/TCBitBtn.h"
#include "controls/TForm.h"
#include "controls/g_edit.h"
#include "support/EventWait.h"
#include "support/FakeSounds.h"

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using netsonde::test::WaitUntil;

namespace {

// A modal form with an edit, an OK button (default), a Cancel button and a
// plain button, shown and active with the focus in the edit.
class FormTest : public testing::Test {
protected:
    void SetUp() override {
        edit = new g_edit(&form);
        ok = new TCBitBtn(&form);
        ok->SetKind(bkOK);
        ok->setGeometry(0, 30, 75, 25);
        cancel = new TCBitBtn(&form);
        cancel->SetKind(bkCancel);
        cancel->setGeometry(80, 30, 75, 25);
        plain = new TCBitBtn(&form);
        plain->SetCaption(QStringLiteral("&Plain"));
        plain->setGeometry(160, 30, 75, 25);
        for (TCBitBtn* b : {ok, cancel, plain})
            b->OnClick = [this](QObject* sender) { clicked.append(sender); };
    }

    void Open() {
        form.open();
        QApplication::setActiveWindow(&form);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
        edit->setFocus();
    }
    bool Closed() {
        return WaitUntil([this] { return !form.isVisible(); }, 5000);
    }
    // Lets queued work run without waiting for anything in particular.
    static void Settle() {
        for (int i = 0; i < 5; ++i)
            QApplication::processEvents();
    }

    netsonde::test::FakeSounds sounds;
    TForm form;
    g_edit* edit = nullptr;
    TCBitBtn* ok = nullptr;
    TCBitBtn* cancel = nullptr;
    TCBitBtn* plain = nullptr;
    QList<QObject*> clicked;
};

TEST_F(FormTest, EnterInAnEditClicksTheDefaultButtonAndTheFormClosesWithItsResult) {
    Open();
    QTest::keyClick(edit, Qt::Key_Return);
    ASSERT_TRUE(Closed());
    EXPECT_EQ(clicked, QList<QObject*>{ok});
    EXPECT_EQ(form.result(), mrOk);
    EXPECT_EQ(form.ModalResult(), mrOk);
    EXPECT_TRUE(sounds.played.contains(QStringLiteral("UP")));
}

TEST_F(FormTest, EscClicksTheCancelButton) {
    Open();
    QTest::keyClick(edit, Qt::Key_Escape);
    ASSERT_TRUE(Closed());
    EXPECT_EQ(clicked, QList<QObject*>{cancel});
    EXPECT_EQ(form.result(), mrCancel);
}

TEST_F(FormTest, EnterOnAFocusedButtonClicksThatButton) {
    Open();
    plain->SetModalResult(mrRetry);
    plain->setFocus();
    QTest::keyClick(plain, Qt::Key_Return);
    ASSERT_TRUE(Closed());
    EXPECT_EQ(clicked, QList<QObject*>{plain});
    EXPECT_EQ(form.result(), mrRetry);
}

TEST_F(FormTest, ButtonsWithoutAResultLeaveTheFormOpen) {
    Open();
    plain->setFocus();
    QTest::keyClick(plain, Qt::Key_Return);
    Settle();
    EXPECT_EQ(clicked, QList<QObject*>{plain});
    EXPECT_TRUE(form.isVisible());
}

TEST_F(FormTest, AHandlerCanTakeTheResultBack) {
    ok->OnClick = [this](QObject*) { form.SetModalResult(mrNone); };
    Open();
    QTest::keyClick(edit, Qt::Key_Return);
    Settle();
    EXPECT_TRUE(form.isVisible());
}

TEST_F(FormTest, HiddenOrDisabledRoleButtonsAndMissingOnesIgnoreTheKeys) {
    ok->setEnabled(false);
    cancel->hide();
    Open();
    QTest::keyClick(edit, Qt::Key_Return);
    Settle();
    EXPECT_TRUE(form.isVisible());
    EXPECT_TRUE(clicked.isEmpty());
    // Esc without a cancel button still closes, as the close box does.
    QTest::keyClick(edit, Qt::Key_Escape);
    ASSERT_TRUE(Closed());
    EXPECT_TRUE(clicked.isEmpty());
    EXPECT_EQ(form.result(), mrCancel);
}

TEST_F(FormTest, AFormShownWithoutModalityKeepsOpenOnEscAndResults) {
    cancel->hide();
    form.show();
    QApplication::setActiveWindow(&form);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_Escape);
    QTest::keyClick(edit, Qt::Key_Return);
    Settle();
    EXPECT_EQ(clicked, QList<QObject*>{ok});
    EXPECT_TRUE(form.isVisible());
}

TEST_F(FormTest, AltWithTheMnemonicClicksTheButton) {
    Open();
    QTest::keyClick(edit, Qt::Key_P, Qt::AltModifier);
    ASSERT_TRUE(WaitUntil([this] { return !clicked.isEmpty(); }, 5000));
    EXPECT_EQ(clicked, QList<QObject*>{plain});
    QTest::keyClick(edit, Qt::Key_C, Qt::AltModifier); // "&Cancelar"
    ASSERT_TRUE(Closed());
    EXPECT_EQ(clicked.last(), cancel);
    EXPECT_EQ(form.result(), mrCancel);
}

TEST_F(FormTest, CloseBoxAndShowModal) {
    Open();
    form.close();
    ASSERT_TRUE(Closed());
    EXPECT_EQ(form.ModalResult(), mrCancel);

    QTimer::singleShot(0, &form, [this] { ok->click(); });
    EXPECT_EQ(form.ShowModal(), mrOk);
}

TEST_F(FormTest, CloseKindClosesTheFormAndHelpKindAsksForHelp) {
    plain->SetKind(bkClose);
    Open();
    plain->click();
    ASSERT_TRUE(Closed());
    EXPECT_TRUE(clicked.isEmpty()); // closing replaces OnClick

    // Help: the nearest help context up the parents is shown instead of a
    // click; without one the button clicks as usual.
    TCBitBtn help(&form);
    help.SetKind(bkHelp);
    help.OnClick = [this](QObject* sender) { clicked.append(sender); };
    int shown = 0;
    CircButton::ShowHelp = [&shown](int context) { shown = context; };
    help.click();
    EXPECT_EQ(shown, 0);
    EXPECT_EQ(clicked, QList<QObject*>{&help});
    form.setProperty("HelpContext", 42);
    help.click();
    EXPECT_EQ(shown, 42);
    EXPECT_EQ(clicked.size(), 1);
    CircButton::ShowHelp = nullptr;
}

} // namespace

#include "ControlFixture.h"
#include "controls/g_edit.h"
#include "controls/g_updown.h"

#include <QLocale>

using namespace netsonde::test;

namespace {

class UpDown : public ControlFixture {
protected:
    void SetUp() override {
        ControlFixture::SetUp();
        edit = new g_edit(window.get());
        spin = new g_updown(window.get());
        spin->SetMin(100);
        spin->SetMax(32000);
        spin->SetAssociate(edit);
    }
    QString sep() const { return QLocale().groupSeparator(); }

    g_edit* edit = nullptr;
    g_updown* spin = nullptr;
};

} // namespace

TEST_F(UpDown, WritesThePositionWithTheThousandsSeparator) {
    spin->SetPosition(2500);
    EXPECT_EQ(edit->text(), "2" + sep() + "500");
    spin->SetPosition(32000);
    EXPECT_EQ(edit->text(), "32" + sep() + "000");
    spin->SetThousands(false);
    spin->SetPosition(1234);
    EXPECT_EQ(edit->text(), "1234");
    spin->SetPosition(150);
    EXPECT_EQ(edit->text(), "150");
}

TEST_F(UpDown, FollowsTheEditOnlyForWholeNumbersInRange) {
    spin->SetPosition(2500);
    edit->setText("3000");
    EXPECT_EQ(spin->Position(), 3000);
    edit->setText("4" + sep() + "100");
    EXPECT_EQ(spin->Position(), 4100);
    edit->setText("0100");
    EXPECT_EQ(spin->Position(), 100);
    for (const QString& bad : {QString(), QStringLiteral("abc"), QStringLiteral("40000"),
                               QStringLiteral("99"), QStringLiteral("12.5"), QStringLiteral("-500"),
                               QStringLiteral(" 200"), QStringLiteral("99999999999999999999")}) {
        edit->setText(bad);
        EXPECT_EQ(spin->Position(), 100) << bad.toStdString();
        EXPECT_EQ(edit->text(), bad) << "the field keeps the text as typed";
    }
}

TEST_F(UpDown, ClampsAndStopsAtTheLimits) {
    spin->SetPosition(50000);
    EXPECT_EQ(spin->Position(), 32000);
    spin->SetIncrement(16);
    spin->Step(1);
    EXPECT_EQ(spin->Position(), 32000);
    spin->SetPosition(110);
    spin->Step(-1);
    EXPECT_EQ(spin->Position(), 100);
    spin->Step(-1);
    EXPECT_EQ(spin->Position(), 100);
    spin->Step(3);
    EXPECT_EQ(spin->Position(), 148);
    EXPECT_EQ(edit->text(), "148");
}

TEST_F(UpDown, SettingTheShownPositionChangesNothing) {
    spin->SetPosition(2500);
    int changes = 0;
    edit->OnChange = [&](QObject*) { ++changes; };
    spin->SetPosition(2500);
    EXPECT_EQ(changes, 0);
    // A field typed without the separator keeps its text.
    edit->setText("2600");
    spin->SetPosition(2600);
    EXPECT_EQ(edit->text(), "2600");
    EXPECT_EQ(changes, 1);
}

// A change handler that sets the option from the position, as the main
// window's option fields do, over text typed key by key.
TEST_F(UpDown, TypedTextStaysWhileAHandlerSetsTheSamePosition) {
    spin->SetPosition(2500);
    edit->OnChange = [&](QObject*) { spin->SetPosition(spin->Position()); };
    ShowActive();
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, "5");
    EXPECT_EQ(edit->text(), "5");
    EXPECT_EQ(spin->Position(), 2500);
    QTest::keyClicks(edit, "00");
    EXPECT_EQ(edit->text(), "500");
    EXPECT_EQ(spin->Position(), 500);
    // Text set from outside by any route (here as assistive technology
    // sets it, through the edit's setText) is the user's too.
    edit->setText("abc");
    spin->SetPosition(spin->Position());
    EXPECT_EQ(edit->text(), "abc");
    EXPECT_EQ(spin->Position(), 500);
    // A new position is written over it.
    spin->SetPosition(600);
    EXPECT_EQ(edit->text(), "600");
}

TEST_F(UpDown, ChangeHandlerThatSetsThePositionEnds) {
    int changes = 0;
    edit->OnChange = [&](QObject*) {
        ++changes;
        ASSERT_LT(changes, 10) << "endless re-entry";
        spin->SetPosition(spin->Position());
    };
    spin->SetPosition(2500);
    edit->setText("7000");
    EXPECT_EQ(spin->Position(), 7000);
    edit->setText("x");
    EXPECT_EQ(spin->Position(), 7000);
    EXPECT_LT(changes, 10);
}

TEST_F(UpDown, ArrowKeysAndButtonsStep) {
    spin->SetPosition(200);
    int clicks = 0;
    spin->OnClick = [&](QObject*) { ++clicks; };
    ShowActive();
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_Up);
    EXPECT_EQ(spin->Position(), 201);
    QTest::keyClick(edit, Qt::Key_Down);
    QTest::keyClick(edit, Qt::Key_Down);
    EXPECT_EQ(spin->Position(), 199);
    QWidget* up = spin->childAt(spin->width() / 2, 2);
    ASSERT_NE(up, nullptr);
    QTest::mouseClick(up, Qt::LeftButton);
    EXPECT_EQ(spin->Position(), 200);
    EXPECT_EQ(clicks, 4);
}

TEST_F(UpDown, SurvivesItsEdit) {
    delete edit;
    edit = nullptr;
    spin->SetPosition(300);
    EXPECT_EQ(spin->Position(), 300);
    spin->Step(1);
    EXPECT_EQ(spin->Position(), 301);
}

#include "dialogs/Tfm_add.h"

#include "controls/TCBitBtn.h"
#include "controls/g_edit.h"
#include "controls/g_listbox.h"
#include "support/FakeSounds.h"

#include <QApplication>
#include <QDir>
#include <QEnterEvent>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// Renders the dialog at rest and with the pointer over a button into the
// build folder, for a reviewer to look at.
TEST(DialogScreenshots, AtRestAndWithPointerOverAButton) {
    netsonde::test::FakeSounds sounds;
    Tfm_add fm;
    for (const char* text : {"192.168.1.001", "192.168.1.002", "host.example", "10.0.0.1"})
        fm.AddItem(text);
    fm.ed_net->setText("192.168.1.");
    fm.show();
    QApplication::setActiveWindow(&fm);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&fm));

    const QDir out(QStringLiteral(NETSONDE_SCREENSHOT_DIR));
    ASSERT_TRUE(QDir().mkpath(out.path()));
    const QImage rest = fm.grab().toImage();
    ASSERT_TRUE(rest.save(out.filePath("select_addresses.png")));

    const QPointF inside(fm.bn_load->rect().center());
    QEnterEvent enter(inside, fm.bn_load->mapTo(&fm, inside), fm.bn_load->mapToGlobal(inside));
    QApplication::sendEvent(fm.bn_load, &enter);
    const QImage hover = fm.grab().toImage();
    ASSERT_TRUE(hover.save(out.filePath("select_addresses_hover.png")));

    // The hover look changes the button and nothing else.
    const QRect button = fm.bn_load->geometry();
    EXPECT_NE(rest.copy(button), hover.copy(button));
    EXPECT_EQ(rest.copy(fm.lb_sel->geometry()), hover.copy(fm.lb_sel->geometry()));
}

} // namespace

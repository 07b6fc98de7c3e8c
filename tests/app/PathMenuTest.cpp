// The main window's ways into the Path windows: "Watch Path…" in the list's
// context menu and Ctrl+Shift+P, one window per host.
#include "MainWindowFixture.h"
#include "pathview/Tfm_path.h"
#include "support/FakeEchoSender.h"

#include <QAction>
#include <QMenu>
#include <QTest>

namespace netsonde::test {
namespace {

class PathMenuTest : public MainWindowTest {
protected:
    void SetUp() override {
        previous = pathview::Tfm_path::SetEchoSenderForTests(fake);
        MainWindowTest::SetUp();
    }
    void TearDown() override {
        MainWindowTest::TearDown();
        pathview::Tfm_path::SetEchoSenderForTests(previous);
    }
    QList<pathview::Tfm_path*> Paths() const {
        QList<pathview::Tfm_path*> open;
        for (auto* p : w->findChildren<pathview::Tfm_path*>(QString(), Qt::FindDirectChildrenOnly))
            if (p->isVisible())
                open << p;
        return open;
    }
    QStringList Entries() const {
        QStringList entries;
        for (const auto* p : Paths())
            entries << p->Entry();
        return entries;
    }
    void CtrlShiftP() {
        QApplication::setActiveWindow(w);
        QTest::keyClick(w, Qt::Key_P, Qt::ControlModifier | Qt::ShiftModifier);
    }
    // Opens the list's context menu over row and picks the item named name
    // (nothing when name is empty); returns the items' texts.
    QStringList ContextMenu(int row, const QString& name) {
        QStringList texts;
        const QRect at = w->lb_add->visualRect(w->lb_add->model()->index(row, 0));
        QTimer::singleShot(0, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            ASSERT_NE(menu, nullptr);
            QAction* chosen = nullptr;
            for (QAction* a : menu->actions()) {
                texts << (a->isSeparator() ? QStringLiteral("-") : a->text());
                if (!name.isEmpty() && a->objectName() == name)
                    chosen = a;
            }
            if (chosen)
                chosen->trigger();
            menu->close();
        });
        emit w->lb_add->customContextMenuRequested(at.center());
        return texts;
    }

    std::shared_ptr<FakeEchoSender> fake = std::make_shared<FakeEchoSender>();
    std::shared_ptr<paths::EchoSender> previous;
};

// The menu offers the entry under the mouse; the keys take the selected
// entry; asking again for a host raises its window instead of opening one.
TEST_F(PathMenuTest, MenuAndCtrlShiftPOpenOneWindowPerHost) {
    SetList({"10.61.1.1", "10.61.4.2"});
    Select(0);
    EXPECT_EQ(ContextMenu(1, "WatchPath1"),
              QStringList({"Watch Path\u2026", "-", "Hide to Notification Area"}));
    ASSERT_EQ(Entries(), QStringList{"10.61.4.2"});
    EXPECT_EQ(w->lb_add->ItemIndex(), 0) << "the selection stays";
    auto* action = w->findChild<QAction*>("WatchPath1");
    ASSERT_NE(action, nullptr);
    EXPECT_EQ(action->shortcut(), QKeySequence("Ctrl+Shift+P"));
    EXPECT_FALSE(action->data().isValid()) << "the keys go to the selection afterwards";

    CtrlShiftP();
    EXPECT_EQ(Entries(), QStringList({"10.61.4.2", "10.61.1.1"}));
    CtrlShiftP();
    ContextMenu(1, "WatchPath1");
    ContextMenu(1, QString()); // dismissed: opens nothing
    EXPECT_EQ(Entries(), QStringList({"10.61.4.2", "10.61.1.1"}));
    EXPECT_EQ(w->WatchedPaths(), QStringList({"10.61.4.2", "10.61.1.1"}));
    for (auto* p : Paths())
        EXPECT_NE(p->Watch(), nullptr) << p->Entry().toStdString();

    // Without a selection the keys open nothing; a closed window's rounds
    // end and it is no longer watched.
    Select(-1);
    CtrlShiftP();
    EXPECT_EQ(Paths().size(), 2);
    Paths().front()->close();
    EXPECT_EQ(w->WatchedPaths(), QStringList{"10.61.1.1"});
}

} // namespace
} // namespace netsonde::test

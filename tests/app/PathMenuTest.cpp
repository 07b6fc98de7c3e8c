// The main window's ways into the Path windows: "Watch Path…" in the list's
// context menu and Ctrl+Shift+P, one window per host; and the watched paths
// that session files and the last session keep and open again.
#include "MainWindowFixture.h"
#include "app/LastSession.h"
#include "files/SessionFile.h"
#include "pathview/Tfm_path.h"
#include "support/FakeEchoSender.h"
#include "support/FakeFileDialogs.h"
#include "support/TestFiles.h"

#include <QAction>
#include <QMenu>
#include <QTemporaryDir>
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
    void CloseAllPaths() {
        for (auto* p : Paths())
            p->close();
        ASSERT_TRUE(WaitUntil([&] {
            return w->findChildren<pathview::Tfm_path*>(QString(), Qt::FindDirectChildrenOnly)
                .isEmpty();
        }));
    }

    std::shared_ptr<FakeEchoSender> fake = std::make_shared<FakeEchoSender>();
    std::shared_ptr<paths::EchoSender> previous;
    QTemporaryDir dir;
};

// The menu offers the entry under the mouse; the keys take the selected
// entry; asking again for a host raises its window instead of opening one.
TEST_F(PathMenuTest, MenuAndCtrlShiftPOpenOneWindowPerHost) {
    SetList({"10.61.1.1", "10.61.4.2"});
    Select(0);
    EXPECT_EQ(ContextMenu(1, "WatchPath1"),
              QStringList({"Watch &Path\u2026", "-", "Hide to Notification Area"}));
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

// A saved session keeps the watched paths ahead of its sections, and loading
// it opens them again, for the entries it holds. A file without them loads
// as it always did and opens nothing.
TEST_F(PathMenuTest, SessionsKeepTheWatchedPathsAndOpenThemAgain) {
    FakeFileDialogs dialogs;
    SetList({"10.61.1.1", "10.61.4.2"});
    w->ShowPath(1);
    w->ShowPath(0);
    const QString path = dir.filePath("watched.nsd");
    dialogs.PickNext(path);
    boxes.AnswerNext(platform::MsgAnswer::Yes);
    w->bn_save->click();
    EXPECT_EQ(ContentOf(path), QByteArray("PathWatch=10.61.4.2\r\nPathWatch=10.61.1.1\r\n"
                                          "[10.61.1.1]\r\n=\r\n[10.61.4.2]\r\n=\r\n"));
    CloseAllPaths();

    // A watched path of an entry the file does not hold opens nothing.
    PutContent(dir.filePath("stray.nsd"),
               ContentOf(path).replace("PathWatch=10.61.1.1", "PathWatch=10.9.9.9"));
    for (const auto& [file, expected] :
         {std::pair{path, QStringList({"10.61.4.2", "10.61.1.1"})},
          std::pair{dir.filePath("stray.nsd"), QStringList({"10.61.4.2"})}}) {
        SCOPED_TRACE(file.toStdString());
        w->LoadSessionFrom(file);
        EXPECT_EQ(w->lb_add->Items(), QStringList({"10.61.1.1", "10.61.4.2"}));
        EXPECT_EQ(Entries(), expected);
        CloseAllPaths();
    }

    const QString old = dir.filePath("old.nsd");
    PutContent(old, "[10.61.4.2]\r\n0=56 bytes\r\n");
    w->LoadSessionFrom(old);
    EXPECT_EQ(w->lb_add->Items(), QStringList{"10.61.4.2"});
    EXPECT_EQ(w->Results(0), QStringList{"56 bytes"});
    EXPECT_TRUE(Paths().isEmpty());
    EXPECT_EQ(boxes.shown.filter("error:"), QStringList());
}

// The start at login brings the Path windows back with the list.
TEST_F(PathMenuTest, LastSessionOpensTheWatchedPathsAgain) {
    SetList({"10.61.1.1", "10.61.4.2"});
    w->ShowPath(1);
    const LastSession last(dir.filePath("last"));
    QString error;
    ASSERT_TRUE(last.Save(*w, error)) << error.toStdString();
    CloseAllPaths();
    w->lb_add->Clear();
    last.Restore(*w);
    EXPECT_EQ(w->lb_add->Items(), QStringList({"10.61.1.1", "10.61.4.2"}));
    EXPECT_EQ(Entries(), QStringList{"10.61.4.2"});
}

} // namespace
} // namespace netsonde::test

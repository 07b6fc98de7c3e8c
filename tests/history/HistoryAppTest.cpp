// The window's ways into the history: Ctrl+H and the list's context menu.
#include "app/MainWindowFixture.h"
#include "history/THistoryStore.h"
#include "historyview/THistory.h"
#include "historyview/Tfm_history.h"

#include <QAction>
#include <QFile>
#include <QMenu>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace netsonde::test {
namespace {

class HistoryAppTest : public MainWindowTest {
protected:
    QList<history::Tfm_history*> Open() const {
        return w->findChildren<history::Tfm_history*>(QString(), Qt::FindDirectChildrenOnly);
    }
    // Ctrl+H in the main window, as the active window; the history window
    // opens once the latest runs are written.
    void CtrlH() {
        QApplication::setActiveWindow(w);
        QTest::keyClick(w, Qt::Key_H, Qt::ControlModifier);
        if (w->History())
            w->History()->Store()->Sync();
        QCoreApplication::processEvents();
    }
    QTemporaryDir dir;
};

TEST_F(HistoryAppTest, CtrlHOpensOneHistoryWindowPerEntryWithItsLatestRun) {
    SetList({"192.168.1.1", "far"});
    // Without a history the key does nothing.
    Select(0);
    CtrlH();
    EXPECT_TRUE(Open().isEmpty());

    w->SetHistory(new history::THistory(dir.filePath("history.sqlite")));
    Run(w->bn_one);
    CtrlH();
    ASSERT_EQ(Open().size(), 1);
    history::Tfm_history* shown = Open().front();
    EXPECT_EQ(shown->Entry(), "192.168.1.1");
    QSignalSpy loaded(shown, &history::Tfm_history::Loaded);
    ASSERT_TRUE(loaded.wait(5000));
    // The run just ended is in it: the window opens after it is written.
    EXPECT_EQ(shown->Shown().Runs, 1);
    EXPECT_EQ(shown->Shown().Answered, 1);
    // It follows the runs as they are written.
    Run(w->bn_one);
    ASSERT_TRUE(WaitUntil([&] { return shown->Shown().Runs == 2; }));
    // Again for the same entry: the same window.
    CtrlH();
    EXPECT_EQ(Open().size(), 1);
    Select(1);
    CtrlH();
    EXPECT_EQ(Open().size(), 2);
}

TEST_F(HistoryAppTest, ContextMenuOffersTheHistoryOfTheEntryUnderTheMouse) {
    SetList({"192.168.1.1", "far"});
    w->SetHistory(new history::THistory(dir.filePath("history.sqlite")));
    Select(0);
    // The menu opens over the second row; its item opens that entry's history.
    const QRect second = w->lb_add->visualItemRect(w->lb_add->item(1));
    QTimer::singleShot(0, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(menu, nullptr);
        ASSERT_EQ(menu->actions().size(), 1);
        EXPECT_EQ(menu->actions().front()->text(), QString::fromUtf8("History\u2026"));
        menu->actions().front()->trigger();
        menu->close();
    });
    emit w->lb_add->customContextMenuRequested(second.center());
    ASSERT_TRUE(WaitUntil([&] { return Open().size() == 1; }));
    EXPECT_EQ(Open().front()->Entry(), "far");
    // The selection stays where it was.
    EXPECT_EQ(w->lb_add->ItemIndex(), 0);
}

TEST_F(HistoryAppTest, DamagedHistoryFileIsOneMessageAndTheWindowCarriesOn) {
    const QString file = dir.filePath("history.sqlite");
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(4096, '\x7f'));
    }
    SetList({"192.168.1.1"});
    w->SetHistory(new history::THistory(file));
    ASSERT_TRUE(WaitUntil([&] { return !boxes.shown.isEmpty(); }));
    EXPECT_TRUE(boxes.shown.front().startsWith("error: The history file " + file + " is damaged"))
        << boxes.shown.front().toStdString();
    Select(0);
    Run(w->bn_one);
    Run(w->bn_one);
    EXPECT_EQ(w->EntryState(0), 2u);
    QCoreApplication::processEvents();
    EXPECT_EQ(boxes.shown.size(), 1);
}

} // namespace
} // namespace netsonde::test

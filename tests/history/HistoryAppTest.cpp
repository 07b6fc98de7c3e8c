// The window's ways into the history: Ctrl+H and the list's context menu.
#include "FileLocker.h"
#include "HistoryFixture.h"
#include "app/MainWindowFixture.h"
#include "history/THistoryStore.h"
#include "history/TSqlThread.h"
#include "historyview/THistory.h"
#include "historyview/Tfm_history.h"

#include <QAction>
#include <QElapsedTimer>
#include <QFile>
#include <QMenu>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>

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
        Press();
        if (w->History())
            w->History()->Store()->Sync();
        QCoreApplication::processEvents();
    }
    // Ctrl+H alone: returns as the window does.
    void Press() {
        QApplication::setActiveWindow(w);
        QTest::keyClick(w, Qt::Key_H, Qt::ControlModifier);
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

TEST_F(HistoryAppTest, QuickRequestsForOneEntryOpenOneWindow) {
    SetList({"192.168.1.1", "far"});
    w->SetHistory(new history::THistory(dir.filePath("history.sqlite")));
    Select(0);
    Run(w->bn_one);
    // The second comes while the first window is still on its way.
    Press();
    Press();
    ASSERT_TRUE(WaitUntil([&] { return Open().size() == 1; }));
    w->History()->Store()->Sync();
    QCoreApplication::processEvents();
    EXPECT_EQ(Open().size(), 1);
    EXPECT_TRUE(Open().front()->isVisible());

    // A window on its way from a history that has been replaced never
    // comes; a new request is not kept waiting for it.
    Select(1);
    Press();
    w->SetHistory(new history::THistory(dir.filePath("history.sqlite")));
    Press();
    ASSERT_TRUE(WaitUntil([&] { return Open().size() == 2; }));
    EXPECT_EQ(Open().back()->Entry(), "far");
}

// Another program holds the history file for long: closing a history
// window, Ctrl+H and quitting never wait for it, and the runs recorded
// meanwhile are written once the file is free.
TEST_F(HistoryAppTest, AHeldHistoryFileNeverHoldsUpTheWindow) {
    const QString file = dir.filePath("history.sqlite");
    SetList({"192.168.1.1", "far"});
    w->SetHistory(new history::THistory(file));
    Select(0);
    Run(w->bn_one);
    CtrlH();
    ASSERT_EQ(Open().size(), 1);
    history::Tfm_history* shown = Open().front();
    ASSERT_TRUE(QSignalSpy(shown, &history::Tfm_history::Loaded).wait(5000));

    FileLocker locker(file);
    ASSERT_TRUE(locker.locked);
    Run(w->bn_one);
    Run(w->bn_one);
    // Reads queued for the window as it closes.
    for (int i = 0; i < 3; ++i)
        shown->Refresh();
    QElapsedTimer clock;
    clock.start();
    shown->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const qint64 closeMs = clock.elapsed();
    ASSERT_TRUE(Open().isEmpty());

    Select(1);
    clock.restart();
    for (int i = 0; i < 5; ++i)
        Press();
    const qint64 pressMs = clock.elapsed();
    // The window opens with what could be read.
    ASSERT_TRUE(WaitUntil([&] { return Open().size() == 1; }));
    EXPECT_EQ(Open().front()->Entry(), "far");
    QCoreApplication::processEvents();
    EXPECT_EQ(Open().size(), 1);

    // Free again: the runs held back go in by themselves.
    locker.Release();
    history::THistoryStore* store = w->History()->Store();
    ASSERT_TRUE(WaitUntil([&] { return store->Committed() == 3; }));

    // Quitting while the file is held again: the window goes at once, and
    // the end of the program waits no longer than its short bound.
    FileLocker again(file);
    ASSERT_TRUE(again.locked);
    Select(0);
    Run(w->bn_one);
    Press();
    clock.restart();
    delete w;
    w = nullptr;
    const qint64 deleteMs = clock.elapsed();
    clock.restart();
    history::TSqlThread::WaitForEnded(history::TSqlThread::EndWaitMs);
    const qint64 quitMs = deleteMs + clock.elapsed();
    std::printf("file held: closing a history window %lld ms, five Ctrl+H %lld ms, quitting "
                "%lld ms (window %lld ms)\n",
                static_cast<long long>(closeMs), static_cast<long long>(pressMs),
                static_cast<long long>(quitMs), static_cast<long long>(deleteMs));
    EXPECT_LT(closeMs, Scaled(500));
    EXPECT_LT(pressMs, Scaled(500));
    EXPECT_LT(deleteMs, Scaled(500));
    EXPECT_LT(quitMs, Scaled(500) + history::TSqlThread::EndWaitMs);
    again.Release();
    // Free again, the worker left behind ends by itself and closes its file.
    EXPECT_TRUE(history::TSqlThread::WaitForEnded(Scaled(5000)));
    EXPECT_EQ(Count(file, "SELECT count(*) FROM runs"), 3);
}

TEST_F(HistoryAppTest, ContextMenuOffersTheHistoryOfTheEntryUnderTheMouse) {
    SetList({"192.168.1.1", "far"});
    w->SetHistory(new history::THistory(dir.filePath("history.sqlite")));
    Select(0);
    // The menu opens over the second row; its item opens that entry's history.
    const QRect second = w->lb_add->visualRect(w->lb_add->model()->index(1, 0));
    QTimer::singleShot(0, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(menu, nullptr);
        // No early return below: the menu must close whatever the checks say.
        const QList<QAction*> items = menu->actions();
        // The entry's own items, then the window's way into the area.
        EXPECT_EQ(items.size(), 5);
        if (items.size() == 5) {
            EXPECT_EQ(items[0]->text(), QString::fromUtf8("History\u2026"));
            EXPECT_EQ(items[1]->text(), QString::fromUtf8("Alerts\u2026"));
            EXPECT_EQ(items[2], w->findChild<QAction*>("WatchPath1"));
            EXPECT_TRUE(items[3]->isSeparator());
            EXPECT_EQ(items[4], w->findChild<QAction*>("Hide1"));
            items[0]->trigger();
        }
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

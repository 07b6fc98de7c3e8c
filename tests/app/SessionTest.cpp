// Saving and loading sessions through the real main window.
#include "MainWindowFixture.h"
#include "dialogs/FileLoadProgress.h"
#include "files/FileReader.h"
#include "support/FakeFileDialogs.h"
#include "support/HostileFiles.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QProgressDialog>
#include <QPushButton>
#include <QTemporaryDir>

#include <atomic>
#include <thread>

namespace netsonde::test {
namespace {

// What a user sees of the list: entries, their results, the selection and
// the pane.
struct Seen {
    QStringList items;
    QList<QStringList> results;
    int selected;
    QStringList pane;
    bool operator==(const Seen&) const = default;
};

class SessionTest : public MainWindowTest {
protected:
    Seen Now() const {
        Seen seen{w->lb_add->Items(), {}, w->lb_add->ItemIndex(), w->PaneLines()};
        for (int i = 0; i < w->lb_add->Count(); ++i)
            seen.results << (w->HasResults(i) ? w->Results(i) : QStringList{"<none>"});
        return seen;
    }

    FakeFileDialogs dialogs;
    QTemporaryDir dir;
};

// Makes every load slow enough to watch: the progress dialog shows at once,
// and the reading waits after its first piece until the test lets it go on
// or the user cancels.
class SlowLoads {
public:
    SlowLoads() {
        SetFileLoadProgressDelay(0);
        files::SetAfterPieceHook([this](files::LoadControl& control) {
            QElapsedTimer waited;
            waited.start();
            while (!control.cancel && !release && waited.elapsed() < 20000)
                std::this_thread::yield();
        });
    }
    ~SlowLoads() {
        SetFileLoadProgressDelay(500);
        files::SetAfterPieceHook({});
    }
    std::atomic<bool> release{false};
};

TEST_F(SessionTest, SaveAndLoadGiveBackTheListWithEveryLine) {
    SetList({"192.168.1.2", "192.168.1.1", "b.example"});
    w->lb_add->SetItemData(0, QStringList{"56 bytes", "", "a\tb", ""});
    w->lb_add->SetItemData(2, QStringList{"Request timed out."});
    Select(2);
    const QString path = dir.filePath("s.NSD");
    dialogs.PickNext(path);
    boxes.AnswerNext(platform::MsgAnswer::Yes); // create the file
    w->bn_save->click();
    ASSERT_EQ(dialogs.requests.size(), 1u);
    const platform::FileDialogRequest& save = dialogs.requests[0];
    EXPECT_EQ(save.DialogMode, platform::FileDialogRequest::Mode::Save);
    EXPECT_EQ(save.Title, "Save to File");
    EXPECT_EQ(save.Filter, "Netsonde Files|*.NSD|All Files|*.*");
    EXPECT_EQ(save.FilterIndex, 1);
    EXPECT_EQ(save.DefaultExt, "NSD");
    EXPECT_EQ(ContentOf(path), QByteArray("[192.168.1.1]\r\n0=56 bytes\r\n1=\r\n2=a\tb\r\n3=\r\n"
                                          "[192.168.1.2]\r\n=\r\n"
                                          "[b.example]\r\n0=Request timed out.\r\n"));
    // Saving changes neither the list nor the selection nor the pane.
    EXPECT_EQ(w->lb_add->ItemIndex(), 2);
    EXPECT_EQ(w->PaneLines(), QStringList{"Request timed out."});

    // Loading replaces the whole list; the pane keeps its text.
    w->lb_add->Clear();
    SetList({"gone"});
    w->lb_add->SetItemData(0, QStringList{"x"});
    Select(0);
    dialogs.PickNext(path);
    w->bn_load->click();
    ASSERT_EQ(dialogs.requests.size(), 2u);
    EXPECT_EQ(dialogs.requests[1].DialogMode, platform::FileDialogRequest::Mode::Open);
    EXPECT_EQ(dialogs.requests[1].Title, "Load from File");
    EXPECT_EQ(dialogs.requests[1].DefaultExt, "NSD");
    ASSERT_EQ(w->lb_add->Items(), QStringList({"192.168.1.1", "192.168.1.2", "b.example"}));
    EXPECT_EQ(w->Results(0), QStringList({"56 bytes", "", "a\tb", ""}));
    EXPECT_FALSE(w->HasResults(1));
    EXPECT_EQ(w->Results(2), QStringList{"Request timed out."});
    EXPECT_EQ(w->EntryState(0), 2u);
    EXPECT_EQ(w->EntryState(1), 0u);
    EXPECT_EQ(w->EntryState(2), 1u);
    EXPECT_EQ(w->lb_add->ItemIndex(), -1);
    EXPECT_EQ(w->PaneLines(), QStringList{"x"});
    EXPECT_EQ(boxes.shown.filter("error:"), QStringList());
}

TEST_F(SessionTest, HandWrittenFileLoadsSortedWithLinesInKeyOrderOfTheFile) {
    const QString path = dir.filePath("hand.nsd");
    PutContent(path, "[b]\r\n1=one\r\n0=  zero\r\n[A]\r\n");
    dialogs.PickNext(path);
    w->LoadSession();
    ASSERT_EQ(w->lb_add->Items(), QStringList({"A", "b"}));
    EXPECT_FALSE(w->HasResults(0));
    EXPECT_EQ(w->Results(1), QStringList({"one", "zero"}));
}

TEST_F(SessionTest, FailuresShowTheFileAndChangeNothing) {
    SetList({"kept"});
    w->lb_add->SetItemData(0, QStringList{"line"});
    Select(0);
    // Cancel: nothing happens at all.
    w->bn_load->click();
    w->bn_save->click();
    EXPECT_TRUE(boxes.shown.isEmpty());

    // A folder picked by name passes the dialog but cannot be read, nor
    // replaced by a file.
    const QString folder = dir.filePath("folder.nsd");
    ASSERT_TRUE(QDir().mkdir(folder));
    dialogs.PickNext(folder);
    w->bn_load->click();
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_TRUE(boxes.shown[0].startsWith("error:")) << boxes.shown[0].toStdString();
    EXPECT_TRUE(boxes.shown[0].contains(folder)) << boxes.shown[0].toStdString();

    boxes.shown.clear();
    dialogs.PickNext(folder);
    boxes.AnswerNext(platform::MsgAnswer::Yes); // replace it
    w->bn_save->click();
    ASSERT_EQ(boxes.shown.size(), 2);
    EXPECT_TRUE(boxes.shown[1].startsWith("error:")) << boxes.shown[1].toStdString();
    EXPECT_TRUE(boxes.shown[1].contains(folder)) << boxes.shown[1].toStdString();
    EXPECT_TRUE(QFileInfo(folder).isDir());
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList{"folder.nsd"});

    EXPECT_EQ(w->lb_add->Items(), QStringList{"kept"});
    EXPECT_EQ(w->Results(0), QStringList{"line"});
    EXPECT_EQ(w->lb_add->ItemIndex(), 0);
    EXPECT_EQ(w->PaneLines(), QStringList{"line"});
}

TEST_F(SessionTest, HostileFilesLeaveListSelectionAndPaneAsTheyWere) {
    SetList({"b", "a"});
    w->lb_add->SetItemData(1, QStringList{"kept line"});
    Select(1);
    const Seen before = Now();
    const HostileFiles hostile;
    for (const auto& [path, reason] : hostile.cases) {
        boxes.shown.clear();
        dialogs.PickNext(path);
        w->bn_load->click();
        ASSERT_EQ(boxes.shown.size(), 1) << qPrintable(path);
        EXPECT_TRUE(boxes.shown[0].startsWith("error:") && boxes.shown[0].contains(path) &&
                    boxes.shown[0].contains(reason))
            << boxes.shown[0].toStdString();
        EXPECT_EQ(Now(), before) << qPrintable(path);
    }
}

TEST_F(SessionTest, LongLoadShowsProgressAndCancelChangesNothing) {
    // The progress shows the file's name as written, markup and all.
    const QString path = dir.filePath("<font size=6 color=red>Infected!<br>s.nsd");
    PutContent(path, "[new]\r\n0=loaded\r\n");
    SetList({"old"});
    w->lb_add->SetItemData(0, QStringList{"kept"});
    Select(0);
    const Seen before = Now();
    SlowLoads slow;

    // Cancel: nothing changes, and no message follows.
    bool cancelled = false;
    Script([&] {
        auto* progress = w->findChild<QProgressDialog*>("dl_progress");
        if (!progress || !progress->isVisible())
            return false;
        EXPECT_TRUE(progress->isModal());
        EXPECT_TRUE(progress->labelText().contains(path)) << progress->labelText().toStdString();
        auto* label = progress->findChild<QLabel*>();
        EXPECT_TRUE(label && label->textFormat() == Qt::PlainText) << "the name drawn as markup";
        progress->findChild<QPushButton*>()->click();
        cancelled = true;
        return true;
    });
    dialogs.PickNext(path);
    w->bn_load->click();
    EXPECT_TRUE(cancelled);
    EXPECT_EQ(Now(), before);
    EXPECT_TRUE(boxes.shown.isEmpty());
    EXPECT_EQ(w->findChild<QProgressDialog*>("dl_progress"), nullptr);

    // Let go on, the same load replaces the list.
    bool shown = false;
    Script([&] {
        auto* progress = w->findChild<QProgressDialog*>("dl_progress");
        if (!progress || !progress->isVisible())
            return false;
        shown = true;
        Screenshot(progress, "session-load-progress");
        slow.release = true;
        return true;
    });
    dialogs.PickNext(path);
    w->bn_load->click();
    EXPECT_TRUE(shown);
    EXPECT_EQ(w->lb_add->Items(), QStringList{"new"});
    EXPECT_EQ(w->Results(0), QStringList{"loaded"});
    EXPECT_EQ(w->lb_add->ItemIndex(), -1);
    EXPECT_EQ(w->PaneLines(), QStringList{"kept"});
}

TEST_F(SessionTest, EqualAndCaseVariantSectionsStayEntriesOfTheirOwn) {
    const QString path = dir.filePath("dup.nsd");
    PutContent(path,
               "[a]\r\n0=first\r\n[A]\r\n0=second\r\n\t1=\r\n[a]\r\n=\r\n[]\r\n0=nameless\r\n");
    dialogs.PickNext(path);
    w->bn_load->click();
    ASSERT_EQ(w->lb_add->Items(), (QStringList{"", "a", "A", "a"}));
    EXPECT_EQ(w->Results(0), QStringList{"nameless"});
    EXPECT_EQ(w->Results(1), QStringList{"first"});
    EXPECT_EQ(w->Results(2), (QStringList{"second", ""}));
    EXPECT_FALSE(w->HasResults(3));
    Select(2);
    EXPECT_EQ(w->PaneLines(), (QStringList{"second", ""}));

    const QString saved = dir.filePath("saved.nsd");
    dialogs.PickNext(saved);
    boxes.AnswerNext(platform::MsgAnswer::Yes); // create the file
    w->bn_save->click();
    EXPECT_EQ(ContentOf(saved), QByteArray("[]\r\n0=nameless\r\n[a]\r\n0=first\r\n"
                                           "[A]\r\n0=second\r\n1=\r\n[a]\r\n=\r\n"));
}

} // namespace
} // namespace netsonde::test

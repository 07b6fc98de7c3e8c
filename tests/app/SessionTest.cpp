// Saving and loading sessions through the real main window.
#include "MainWindowFixture.h"
#include "support/FakeFileDialogs.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

namespace netsonde::test {
namespace {

class SessionTest : public MainWindowTest {
protected:
    FakeFileDialogs dialogs;
    QTemporaryDir dir;
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

} // namespace
} // namespace netsonde::test

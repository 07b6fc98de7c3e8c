#include "dialogs/TOpenDialog.h"
#include "dialogs/TSaveDialog.h"

#include "support/FakeFileDialogs.h"
#include "support/FakeMessageBoxes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using netsonde::test::FakeFileDialogs;
using netsonde::test::FakeMessageBoxes;
using platform::MsgAnswer;

namespace {

void touch(const QString& path) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
}

TEST(FileDialogDefaultExt, AddedOnlyToNamesWithoutExtension) {
    EXPECT_EQ(TFileDialog::WithDefaultExt("/d/list", "NET"), "/d/list.NET");
    EXPECT_EQ(TFileDialog::WithDefaultExt("/d/list.txt", "NET"), "/d/list.txt");
    EXPECT_EQ(TFileDialog::WithDefaultExt("/d.x/list", "NET"), "/d.x/list.NET");
    EXPECT_EQ(TFileDialog::WithDefaultExt("/d/.hidden", "NET"), "/d/.hidden.NET");
    EXPECT_EQ(TFileDialog::WithDefaultExt("/d/list", ""), "/d/list");
}

TEST(FileDialogs, CancelReturnsFalseAndKeepsFileName) {
    FakeFileDialogs dialogs;
    TSaveDialog dialog(nullptr);
    dialog.SetFileName("/before.NET");
    dialogs.PickNext(std::nullopt);
    EXPECT_FALSE(dialog.Execute());
    EXPECT_EQ(dialog.FileName(), "/before.NET");
}

TEST(FileDialogs, RequestCarriesTitleFilterAndExtension) {
    FakeFileDialogs dialogs;
    TOpenDialog dialog(nullptr);
    dialog.SetTitle("Load from File");
    dialog.SetFilter("NET Files|*.net|All Files|*.*");
    dialog.SetDefaultExt("NET");
    EXPECT_FALSE(dialog.Execute());
    ASSERT_EQ(dialogs.requests.size(), 1u);
    const auto& r = dialogs.requests[0];
    EXPECT_EQ(r.DialogMode, platform::FileDialogRequest::Mode::Open);
    EXPECT_EQ(r.Title, "Load from File");
    EXPECT_EQ(r.Filter, "NET Files|*.net|All Files|*.*");
    EXPECT_EQ(r.FilterIndex, 1);
    EXPECT_EQ(r.DefaultExt, "NET");
}

TEST(FileDialogs, OpenNeedsAnExistingFileAndTriesAgain) {
    QTemporaryDir dir;
    touch(dir.filePath("hosts.NET"));
    FakeFileDialogs dialogs;
    FakeMessageBoxes boxes;
    TOpenDialog dialog(nullptr);
    dialog.SetDefaultExt("NET");
    dialog.SetOptions(ofFileMustExist | ofPathMustExist | ofHideReadOnly);
    dialogs.PickNext(dir.filePath("nothere"));
    dialogs.PickNext(dir.filePath("hosts"));
    ASSERT_TRUE(dialog.Execute());
    EXPECT_EQ(dialog.FileName(), dir.filePath("hosts.NET"));
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_TRUE(boxes.shown[0].startsWith("error: " + dir.filePath("nothere.NET")));
    // The second round starts from the rejected name.
    ASSERT_EQ(dialogs.requests.size(), 2u);
    EXPECT_EQ(dialogs.requests[1].FileName, dir.filePath("nothere.NET"));
}

TEST(FileDialogs, SaveAsksBeforeReplacingAndBeforeCreating) {
    QTemporaryDir dir;
    touch(dir.filePath("old.NET"));
    FakeFileDialogs dialogs;
    FakeMessageBoxes boxes;
    TSaveDialog dialog(nullptr);
    dialog.SetDefaultExt("NET");
    dialog.SetOptions(ofOverwritePrompt | ofCreatePrompt | ofPathMustExist | ofHideReadOnly);

    // Declining the replacement shows the dialog again; the user then cancels.
    dialogs.PickNext(dir.filePath("old"));
    boxes.AnswerNext(MsgAnswer::No);
    EXPECT_FALSE(dialog.Execute());
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_TRUE(
        boxes.shown[0].startsWith("question: " + dir.filePath("old.NET") + " already exists"));

    boxes.shown.clear();
    dialogs.PickNext(dir.filePath("new"));
    boxes.AnswerNext(MsgAnswer::Yes);
    ASSERT_TRUE(dialog.Execute());
    EXPECT_EQ(dialog.FileName(), dir.filePath("new.NET"));
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_TRUE(boxes.shown[0].contains("does not exist"));
    EXPECT_TRUE(boxes.shown[0].contains("create"));
    // Creating is what the user asked for: Enter answers Yes. Replacing is not.
    ASSERT_EQ(boxes.defaultYes.size(), 1);
    EXPECT_TRUE(boxes.defaultYes[0].contains("create"));
}

TEST(FileDialogs, TypedNameFindsTheExtensionInTheCaseOfAnExistingFile) {
    QTemporaryDir dir;
    touch(dir.filePath("lower.net"));
    touch(dir.filePath("mixed.Net"));
    touch(dir.filePath("bare"));
    touch(dir.filePath("bare.net"));
    FakeFileDialogs dialogs;
    FakeMessageBoxes boxes;
    TOpenDialog open(nullptr);
    open.SetDefaultExt("NET");
    open.SetOptions(ofFileMustExist | ofPathMustExist | ofHideReadOnly);
    auto opened = [&](const char* typed) {
        dialogs.PickNext(dir.filePath(typed));
        return open.Execute() ? QFileInfo(open.FileName()).fileName() : QString("<none>");
    };
    EXPECT_EQ(opened("lower"), "lower.net");
    EXPECT_EQ(opened("mixed"), "mixed.Net");
    // The name as typed comes first.
    EXPECT_EQ(opened("bare"), "bare");
    EXPECT_EQ(opened("lower.net"), "lower.net");
    // Also when it is no regular file: the load says why it refuses it.
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder"));
    touch(dir.filePath("folder.net"));
    EXPECT_EQ(opened("folder"), "folder");
    dialogs.PickNext("/dev/zero");
    ASSERT_TRUE(open.Execute());
    EXPECT_EQ(open.FileName(), "/dev/zero");
    EXPECT_TRUE(boxes.shown.isEmpty()) << boxes.shown.join('\n').toStdString();

    // Saving under a typed name replaces the existing file instead of
    // creating a second one that differs only in case.
    TSaveDialog save(nullptr);
    save.SetDefaultExt("NET");
    save.SetOptions(ofOverwritePrompt | ofCreatePrompt | ofPathMustExist | ofHideReadOnly);
    dialogs.PickNext(dir.filePath("bare"));
    ASSERT_TRUE(save.Execute());
    EXPECT_EQ(save.FileName(), dir.filePath("bare.net"));
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_TRUE(boxes.shown[0].contains("already exists"));
}

TEST(FileDialogs, SaveIntoMissingFolderIsRefused) {
    QTemporaryDir dir;
    FakeFileDialogs dialogs;
    FakeMessageBoxes boxes;
    TSaveDialog dialog(nullptr);
    dialog.SetOptions(ofOverwritePrompt | ofCreatePrompt | ofPathMustExist);
    dialogs.PickNext(dir.filePath("no/such/folder/list.NET"));
    EXPECT_FALSE(dialog.Execute());
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_TRUE(boxes.shown[0].startsWith("error: "));
    EXPECT_TRUE(boxes.shown[0].contains("path does not exist"));
}

TEST(FileDialogs, QtFiltersOfferBothCases) {
    EXPECT_EQ(platform::QtNameFilters("NET Files|*.net|All Files|*.*"),
              (QStringList{"NET Files (*.net *.NET)", "All Files (*)"}));
    EXPECT_EQ(platform::QtNameFilters("NET Files|*.NET;*.txt"),
              (QStringList{"NET Files (*.NET *.net *.txt *.TXT)"}));
    EXPECT_TRUE(platform::QtNameFilters("").isEmpty());
}

} // namespace

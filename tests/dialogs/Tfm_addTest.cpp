#include "dialogs/Tfm_add.h"

#include "controls/TCBitBtn.h"
#include "controls/g_edit.h"
#include "controls/g_label3d.h"
#include "controls/g_listbox.h"
#include "controls/g_updown.h"
#include "controls/tbevel_ex.h"
#include "support/EventWait.h"
#include "support/FakeFileDialogs.h"
#include "support/FakeMessageBoxes.h"
#include "support/FakeSounds.h"

#include "support/HostileFiles.h"
#include "support/TestFiles.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using netsonde::test::ContentOf;
using netsonde::test::FakeFileDialogs;
using netsonde::test::FakeMessageBoxes;
using netsonde::test::PutContent;
using netsonde::test::WaitUntil;

namespace {

// A dialog shown and active, as the user meets it.
class DialogTest : public testing::Test {
protected:
    void SetUp() override {
        fm.show();
        QApplication::setActiveWindow(&fm);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&fm));
    }

    void Type(QWidget* w, const QString& text) {
        w->setFocus();
        QTest::keyClicks(w, text);
    }
    void Click(QWidget* w) { QTest::mouseClick(w, Qt::LeftButton); }
    void SetRange(const QString& net, int from, int to) {
        fm.ed_net->setText(net);
        fm.ud_from->SetPosition(from);
        fm.ud_to->SetPosition(to);
    }

    netsonde::test::FakeSounds sounds;
    FakeMessageBoxes boxes;
    FakeFileDialogs dialogs;
    Tfm_add fm;
};

TEST_F(DialogTest, FormHasItsCaptionSizeAndControls) {
    EXPECT_EQ(fm.windowTitle(), "Select Addresses");
    const double s = fm.Scale();
    EXPECT_GE(s, 1.0);
    auto at = [s](int l, int t, int w, int h) {
        return QRect(qRound(l * s), qRound(t * s), qRound(w * s), qRound(h * s));
    };
    EXPECT_EQ(fm.size(), at(0, 0, 465, 303).size());
    EXPECT_EQ(fm.lb_sel->geometry(), at(304, 24, 153, 241));
    EXPECT_EQ(fm.bn_ok->geometry(), at(304, 272, 65, 25));
    EXPECT_EQ(fm.bn_cancel->geometry(), at(376, 272, 81, 25));
    EXPECT_EQ(fm.ed_add->geometry(), at(16, 32, 273, 21));
    EXPECT_EQ(fm.tbevel_ex1->geometry(), at(8, 24, 289, 65));
    EXPECT_EQ(fm.tbevel_ex2->geometry(), at(8, 112, 289, 73));
    EXPECT_EQ(fm.bn_save->geometry(), at(152, 248, 145, 49));
    EXPECT_EQ(fm.ud_to->geometry(), at(281, 120, 12, 21));
    EXPECT_EQ(fm.ed_to->geometry(), at(248, 120, 33, 21));
    EXPECT_EQ(fm.g_label3d5->pos(), at(136, 120, 0, 0).topLeft());
    EXPECT_EQ(fm.tbevel_ex1->BorderWidth(), 0);
    EXPECT_EQ(fm.tbevel_ex2->BorderHeight(), 0);

    EXPECT_EQ(fm.bn_ok->Caption(), "&Ok");
    EXPECT_EQ(fm.bn_ok->ModalResult(), mrOk);
    EXPECT_EQ(fm.bn_cancel->ModalResult(), mrCancel);
    EXPECT_TRUE(fm.bn_cancel->Cancel());
    EXPECT_FALSE(fm.bn_ok->Default());
    EXPECT_EQ(fm.bn_load->toolTip(), "You lose current selection !");
    EXPECT_EQ(fm.lb_sel->toolTip(), "It's my selection");
    EXPECT_EQ(fm.bn_del->Layout(), blGlyphTop);
    EXPECT_EQ(fm.bn_one->Layout(), blGlyphLeft);
    EXPECT_EQ(fm.bn_save->NumGlyphs(), 1);
    EXPECT_EQ(fm.bn_load->NumGlyphs(), 2);
    EXPECT_EQ(fm.ed_from->text(), "1");
    EXPECT_EQ(fm.ed_to->text(), "255");
    EXPECT_EQ(fm.ed_from->maxLength(), 3);
    EXPECT_EQ(fm.ud_from->Position(), 1);
    EXPECT_EQ(fm.ud_to->Position(), 255);
    EXPECT_TRUE(fm.bn_del->isEnabled());
    EXPECT_EQ(fm.Count(), 0);
}

TEST_F(DialogTest, NoCaptionIsCutOrCovered) {
    const QList<QWidget*> windowed{fm.lb_sel,  fm.ed_add, fm.ed_net, fm.ed_from, fm.ed_to,
                                   fm.ud_from, fm.ud_to,  fm.bn_ok,  fm.bn_one,  fm.bn_range};
    for (g_label3d* label : {fm.g_label3d1, fm.g_label3d2, fm.g_label3d3, fm.g_label3d4,
                             fm.g_label3d5, fm.g_label3d6}) {
        SCOPED_TRACE(label->Caption().toStdString());
        QString text = label->Caption();
        text.remove('&');
        EXPECT_GE(label->width(), label->fontMetrics().horizontalAdvance(text));
        EXPECT_TRUE(fm.rect().contains(label->geometry()));
        for (QWidget* w : windowed)
            EXPECT_FALSE(label->geometry().intersects(w->geometry()))
                << w->objectName().toStdString();
    }
}

TEST_F(DialogTest, NarrowFaceKeepsTheLayoutAtItsOwnSize) {
    if (!QFontDatabase::families().contains("Liberation Sans"))
        GTEST_SKIP() << "Liberation Sans is not installed (tools/deps.sh installs it)";
    EXPECT_EQ(QFontInfo(fm.font()).family(), "Liberation Sans");
    EXPECT_EQ(fm.font().pointSize(), 8);
    // At 96 dots per inch only "From :" needs a few pixels more than its
    // place (35 of 32); the system's wider face needs 19 % more.
    if (fm.logicalDpiY() == 96) {
        EXPECT_LT(fm.Scale(), 1.1);
    }
}

TEST_F(DialogTest, OpensWithFocusInAddEditAndTabsInOrder) {
    EXPECT_EQ(QApplication::focusWidget(), fm.ed_add);
    EXPECT_TRUE(fm.bn_one->Default());
    QList<QWidget*> order{fm.ed_add,    fm.bn_one, fm.ed_net,    fm.ed_from, fm.ud_from,
                          fm.ed_to,     fm.ud_to,  fm.bn_range,  fm.lb_sel,  fm.bn_ok,
                          fm.bn_cancel, fm.bn_del, fm.bn_delAll, fm.bn_load, fm.bn_save};
    // Spin buttons that do not take the focus are passed over.
    order.removeIf([](QWidget* w) { return w->focusPolicy() == Qt::NoFocus; });
    QList<QWidget*> seen;
    for (int i = 0; i < order.size(); ++i) {
        seen << QApplication::focusWidget();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    EXPECT_EQ(seen, order);
    // The chain closes: from the last control Tab returns to the first.
    EXPECT_EQ(QApplication::focusWidget(), fm.ed_add);
}

TEST_F(DialogTest, LabelAcceleratorsMoveTheFocus) {
    QTest::keyClick(&fm, Qt::Key_N, Qt::AltModifier);
    EXPECT_EQ(QApplication::focusWidget(), fm.ed_net);
    QTest::keyClick(&fm, Qt::Key_T, Qt::AltModifier);
    EXPECT_EQ(QApplication::focusWidget(), fm.ed_to);
    QTest::keyClick(&fm, Qt::Key_D, Qt::AltModifier);
    EXPECT_EQ(QApplication::focusWidget(), fm.lb_sel);
    QTest::keyClick(&fm, Qt::Key_H, Qt::AltModifier);
    EXPECT_EQ(QApplication::focusWidget(), fm.ed_add);
}

TEST_F(DialogTest, AddKeepsTextsUniqueIgnoringCaseOnly) {
    Type(fm.ed_add, "host");
    Click(fm.bn_one);
    EXPECT_EQ(fm.Items(), QStringList{"host"});
    // The whole text is selected and the focus is back for the next address.
    EXPECT_EQ(QApplication::focusWidget(), fm.ed_add);
    EXPECT_EQ(fm.ed_add->selectedText(), "host");

    QTest::keyClicks(fm.ed_add, "Host");
    Click(fm.bn_one);
    EXPECT_EQ(fm.Items(), QStringList{"host"});

    fm.ed_add->setText(" host");
    Click(fm.bn_one);
    EXPECT_EQ(fm.Items(), (QStringList{" host", "host"}));
}

TEST_F(DialogTest, EqualEntryIsFoundAnywhereInALongList) {
    for (int i = 0; i < 100; ++i)
        fm.AddItem(QStringLiteral("h%1").arg(i, 3, 10, QLatin1Char('0')));
    for (const char* text : {"H000", "H050", "h099", "H077"}) {
        fm.ed_add->setText(text);
        Click(fm.bn_one);
    }
    EXPECT_EQ(fm.Count(), 100);
    fm.ed_add->setText("h0500");
    Click(fm.bn_one);
    EXPECT_EQ(fm.Count(), 101);
}

TEST_F(DialogTest, EmptyTextIsOneEntry) {
    Click(fm.bn_one);
    Click(fm.bn_one);
    EXPECT_EQ(fm.Items(), QStringList{""});
}

TEST_F(DialogTest, EntriesAreSortedAsTextWithoutRegardToCase) {
    for (const char* text : {"b", "host9", "A", "host10", "10.0.0.2", "10.0.0.10"}) {
        fm.ed_add->setText(text);
        Click(fm.bn_one);
    }
    EXPECT_EQ(fm.Items(), (QStringList{"10.0.0.10", "10.0.0.2", "A", "b", "host10", "host9"}));
    // Entries that the caller brings keep their data and their sorted place.
    fm.AddItem("c", 42);
    EXPECT_EQ(fm.Item(4), "c");
    EXPECT_EQ(fm.ItemData(4), QVariant(42));
    EXPECT_FALSE(fm.ItemData(0).isValid());
}

TEST_F(DialogTest, RangeAddsPaddedNumbersAndSkipsListedOnes) {
    fm.AddItem("192.168.1.002", 7);
    SetRange("192.168.1.", 1, 3);
    Click(fm.bn_range);
    EXPECT_EQ(fm.Items(), (QStringList{"192.168.1.001", "192.168.1.002", "192.168.1.003"}));
    // The entry that was there keeps its data.
    EXPECT_EQ(fm.ItemData(1), QVariant(7));

    SetRange("NET", 7, 7);
    Click(fm.bn_range);
    SetRange("net", 7, 7);
    Click(fm.bn_range);
    EXPECT_EQ(fm.Count(), 4);
    EXPECT_EQ(fm.Item(3), "NET007");
}

TEST_F(DialogTest, RangeWithToBelowFromAddsNothingAndEmptyNetGivesNumbers) {
    SetRange("10.0.0.", 200, 100);
    Click(fm.bn_range);
    EXPECT_EQ(fm.Count(), 0);
    EXPECT_TRUE(boxes.shown.isEmpty());

    SetRange("", 1, 2);
    Click(fm.bn_range);
    EXPECT_EQ(fm.Items(), (QStringList{"001", "002"}));
}

TEST_F(DialogTest, RangeReadsTheNumbersTypedIntoTheEdits) {
    fm.ed_net->setText("h");
    for (g_edit* edit : {fm.ed_from, fm.ed_to}) {
        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, edit == fm.ed_from ? "254" : "255");
    }
    Click(fm.bn_range);
    EXPECT_EQ(fm.Items(), (QStringList{"h254", "h255"}));
}

TEST_F(DialogTest, EnterAddsInTheGroupThatHoldsTheFocus) {
    Type(fm.ed_add, "alpha");
    QTest::keyClick(fm.ed_add, Qt::Key_Return);
    EXPECT_EQ(fm.Items(), QStringList{"alpha"});
    EXPECT_EQ(QApplication::focusWidget(), fm.ed_add);
    EXPECT_TRUE(fm.isVisible());

    for (g_edit* edit : {fm.ed_net, fm.ed_from, fm.ed_to}) {
        fm.bn_delAllClick(nullptr);
        fm.ed_net->setText("n");
        fm.ud_from->SetPosition(1);
        fm.ud_to->SetPosition(2);
        edit->setFocus();
        EXPECT_TRUE(fm.bn_range->Default());
        EXPECT_FALSE(fm.bn_one->Default());
        QTest::keyClick(edit, Qt::Key_Return);
        EXPECT_EQ(fm.Items(), (QStringList{"n001", "n002"}));
    }

    // Elsewhere Enter does nothing and the dialog stays open.
    fm.bn_delAllClick(nullptr);
    fm.ed_add->setText("beta");
    fm.lb_sel->setFocus();
    EXPECT_FALSE(fm.bn_one->Default());
    EXPECT_FALSE(fm.bn_range->Default());
    QTest::keyClick(fm.lb_sel, Qt::Key_Return);
    QCoreApplication::processEvents();
    EXPECT_EQ(fm.Count(), 0);
    EXPECT_TRUE(fm.isVisible());
}

TEST_F(DialogTest, RemoveSelectedAndRemoveAll) {
    for (const char* text : {"a", "b", "c"})
        fm.AddItem(text);
    QCoreApplication::processEvents(); // lets the list lay out its rows
    // Nothing selected: nothing removed, and the button stays enabled until
    // the list is clicked.
    Click(fm.bn_del);
    EXPECT_EQ(fm.Count(), 3);
    fm.lb_selClick(fm.lb_sel);
    EXPECT_FALSE(fm.bn_del->isEnabled());

    const QRect rowB = fm.lb_sel->visualRect(fm.lb_sel->model()->index(1, 0));
    QTest::mouseClick(fm.lb_sel->viewport(), Qt::LeftButton, {}, rowB.center());
    QCoreApplication::processEvents();
    EXPECT_TRUE(fm.bn_del->isEnabled());
    Click(fm.bn_del);
    EXPECT_EQ(fm.Items(), (QStringList{"a", "c"}));

    Click(fm.bn_delAll);
    EXPECT_EQ(fm.Count(), 0);
    Click(fm.bn_delAll);
    EXPECT_EQ(fm.Count(), 0);
}

TEST_F(DialogTest, RepeatedRemoveDeletesOnlyTheSelectedEntry) {
    for (const char* text : {"a", "b", "c", "d"})
        fm.AddItem(text);
    QCoreApplication::processEvents();
    const QRect rowB = fm.lb_sel->visualRect(fm.lb_sel->model()->index(1, 0));
    QTest::mouseClick(fm.lb_sel->viewport(), Qt::LeftButton, {}, rowB.center());
    // Alt+R twice, then Space on the button; the accelerator presses the
    // button for a moment before it clicks.
    auto altR = [this] {
        QTest::keyClick(&fm, Qt::Key_R, Qt::AltModifier);
        EXPECT_TRUE(WaitUntil([this] { return !fm.bn_del->isDown(); }));
    };
    altR();
    EXPECT_EQ(fm.Items(), (QStringList{"a", "c", "d"}));
    EXPECT_EQ(fm.lb_sel->ItemIndex(), -1);
    altR();
    fm.bn_del->setFocus();
    QTest::keyClick(fm.bn_del, Qt::Key_Space);
    EXPECT_EQ(fm.Items(), (QStringList{"a", "c", "d"}));
}

TEST_F(DialogTest, LoadReplacesTheListWithEveryLineSorted) {
    QTemporaryDir dir;
    const QString path = dir.filePath("hosts.NET");
    PutContent(path, QByteArray("b\r\na\na\r\r\nB\0ignored\r\n", 20));
    fm.AddItem("old", 1);
    dialogs.PickNext(dir.filePath("hosts"));
    Click(fm.bn_load);
    EXPECT_EQ(fm.Items(), (QStringList{"", "a", "a", "b", "B"}));
    for (int i = 0; i < fm.Count(); ++i)
        EXPECT_FALSE(fm.ItemData(i).isValid());
    ASSERT_EQ(dialogs.requests.size(), 1u);
    EXPECT_EQ(dialogs.requests[0].Title, "Load from File");
    EXPECT_EQ(dialogs.requests[0].Filter, "NET Files|*.net|All Files|*.*");
    EXPECT_EQ(dialogs.requests[0].DefaultExt, "NET");
    EXPECT_TRUE(boxes.shown.isEmpty());
}

TEST_F(DialogTest, EightBitTextKeepsEveryCharacterThroughLoadAndSave) {
    QTemporaryDir dir;
    PutContent(dir.filePath("latin.net"), "caf\xE9\r\ncaf\xE8\r\nna\xC3\xAFve\r\n");
    dialogs.PickNext(dir.filePath("latin"));
    Click(fm.bn_load);
    const QStringList loaded{u"caf\u00E8"_qs, u"caf\u00E9"_qs, u"na\u00EFve"_qs};
    EXPECT_EQ(fm.Items(), loaded);
    dialogs.PickNext(dir.filePath("utf8.net"));
    Click(fm.bn_save);
    EXPECT_EQ(ContentOf(dir.filePath("utf8.net")),
              QByteArray("caf\xC3\xA8\r\ncaf\xC3\xA9\r\nna\xC3\xAFve\r\n"));
    fm.bn_delAllClick(nullptr);
    dialogs.PickNext(dir.filePath("utf8.net"));
    Click(fm.bn_load);
    EXPECT_EQ(fm.Items(), loaded);
}

TEST_F(DialogTest, WholeListsAreFilledInOneStepUnderTheBusyCursor) {
    QTemporaryDir dir;
    PutContent(dir.filePath("many.net"), "d\r\nb\r\nc\r\na\r\n");
    int insertions = 0;
    bool busy = true;
    QObject::connect(fm.lb_sel->model(), &QAbstractItemModel::rowsInserted, &fm, [&] {
        ++insertions;
        const QCursor* c = QGuiApplication::overrideCursor();
        busy = busy && c && c->shape() == Qt::WaitCursor;
    });
    dialogs.PickNext(dir.filePath("many.net"));
    Click(fm.bn_load);
    EXPECT_EQ(fm.Items(), (QStringList{"a", "b", "c", "d"}));
    EXPECT_EQ(insertions, 1);
    EXPECT_TRUE(busy);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);

    // The hand-over from the caller keeps each entry's data with it.
    fm.bn_delAllClick(nullptr);
    insertions = 0;
    fm.AddItems({"y", "x", "Y"}, {1, 2, 3});
    EXPECT_EQ(insertions, 1);
    EXPECT_TRUE(busy);
    EXPECT_EQ(fm.Items(), (QStringList{"x", "y", "Y"}));
    EXPECT_EQ(fm.ItemsData(), (QVariantList{2, 1, 3}));
}

TEST_F(DialogTest, CancelledOrFailedLoadKeepsTheList) {
    fm.AddItem("keep", 5);
    dialogs.PickNext(std::nullopt);
    Click(fm.bn_load);
    EXPECT_EQ(fm.Items(), QStringList{"keep"});

    QTemporaryDir dir;
    // A folder picked as the file cannot be read, whoever runs the test.
    const QString unreadable = dir.filePath("folder.net");
    ASSERT_TRUE(QDir().mkdir(unreadable));
    dialogs.PickNext(unreadable);
    Click(fm.bn_load);
    EXPECT_EQ(fm.Items(), QStringList{"keep"});
    EXPECT_EQ(fm.ItemData(0), QVariant(5));
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_TRUE(boxes.shown[0].startsWith("error: "));
    EXPECT_TRUE(boxes.shown[0].contains(unreadable)) << boxes.shown[0].toStdString();
}

TEST_F(DialogTest, HostileFilesLeaveTheListAndItsSelection) {
    fm.AddItem("b", 1);
    fm.AddItem("a", 2);
    fm.lb_sel->SetItemIndex(1);
    const netsonde::test::HostileFiles hostile;
    for (const auto& [path, reason] : hostile.cases) {
        boxes.shown.clear();
        dialogs.PickNext(path);
        Click(fm.bn_load);
        ASSERT_EQ(boxes.shown.size(), 1) << qPrintable(path);
        EXPECT_TRUE(boxes.shown[0].startsWith("error: ") && boxes.shown[0].contains(path) &&
                    boxes.shown[0].contains(reason))
            << boxes.shown[0].toStdString();
        EXPECT_EQ(fm.Items(), (QStringList{"a", "b"}));
        EXPECT_EQ(fm.ItemsData(), (QVariantList{2, 1}));
        EXPECT_EQ(fm.lb_sel->ItemIndex(), 1);
    }
}

TEST_F(DialogTest, SaveWritesSortedEntriesByteForByte) {
    QTemporaryDir dir;
    for (const char* text : {"b", "A", ""})
        fm.AddItem(text);
    dialogs.PickNext(dir.filePath("list"));
    Click(fm.bn_save);
    // The name got the default extension; creating it was confirmed.
    EXPECT_EQ(ContentOf(dir.filePath("list.NET")), QByteArray("\r\nA\r\nb\r\n"));
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_TRUE(boxes.shown[0].startsWith("question: "));
    EXPECT_EQ(dialogs.requests[0].Title, "Save to File");
    EXPECT_EQ(dialogs.requests[0].Filter, "NET Files|*.NET|All Files|*.*");

    // An empty list gives an empty file; replacing is confirmed first.
    fm.bn_delAllClick(nullptr);
    dialogs.PickNext(dir.filePath("list.NET"));
    Click(fm.bn_save);
    EXPECT_EQ(ContentOf(dir.filePath("list.NET")), QByteArray());
    EXPECT_TRUE(boxes.shown.last().contains("already exists"));
}

TEST_F(DialogTest, PortEntriesAreKeptAsTypedThroughSaveAndLoad) {
    const QStringList typed{"[fd00::1]:443/udp", "far.nsd.test:443", "Far.nsd.test:443/UDP",
                            " host:80"};
    for (const QString& text : typed) {
        fm.ed_add->setText(text);
        Click(fm.bn_one);
    }
    QStringList sorted = typed;
    sorted.sort(Qt::CaseInsensitive);
    EXPECT_EQ(fm.Items(), sorted);
    QTemporaryDir dir;
    dialogs.PickNext(dir.filePath("ports.NET"));
    Click(fm.bn_save);
    EXPECT_EQ(ContentOf(dir.filePath("ports.NET")), sorted.join("\r\n").toUtf8() + "\r\n");
    fm.bn_delAllClick(nullptr);
    dialogs.PickNext(dir.filePath("ports.NET"));
    Click(fm.bn_load);
    EXPECT_TRUE(WaitUntil([&] { return fm.Count() == typed.size(); }));
    EXPECT_EQ(fm.Items(), sorted);
}

TEST_F(DialogTest, FailedSaveShowsAnErrorNamingTheFile) {
    QTemporaryDir dir;
    // A folder where the file should go cannot be replaced by the file.
    const QString path = dir.filePath("taken.NET");
    ASSERT_TRUE(QDir().mkdir(path));
    fm.AddItem("new");
    dialogs.PickNext(path);
    Click(fm.bn_save);
    EXPECT_TRUE(QFileInfo(path).isDir());
    ASSERT_FALSE(boxes.shown.isEmpty());
    EXPECT_TRUE(boxes.shown.last().startsWith("error: "));
    EXPECT_TRUE(boxes.shown.last().contains(path)) << boxes.shown.last().toStdString();
    EXPECT_EQ(fm.Items(), QStringList{"new"});
}

// Showing modally: each way of closing gives its result.
class ModalTest : public testing::Test {
protected:
    // Shows fm modally and runs action once it is up; returns the result.
    int ShowAndThen(const std::function<void()>& action) {
        QTimer::singleShot(0, &fm, [this, action] {
            if (WaitUntil([this] { return fm.isVisible(); }))
                action();
        });
        return fm.ShowModal();
    }

    netsonde::test::FakeSounds sounds;
    FakeMessageBoxes boxes;
    Tfm_add fm;
};

TEST_F(ModalTest, OkHandsOverTheListEvenWhenEmpty) {
    fm.AddItem("gone", 1);
    const int result = ShowAndThen([this] {
        QTest::mouseClick(fm.bn_delAll, Qt::LeftButton);
        QTest::mouseClick(fm.bn_ok, Qt::LeftButton);
    });
    EXPECT_EQ(result, mrOk);
    EXPECT_EQ(fm.Count(), 0);
}

TEST_F(ModalTest, CancelEscAndCloseBoxGiveCancel) {
    EXPECT_EQ(ShowAndThen([this] { QTest::mouseClick(fm.bn_cancel, Qt::LeftButton); }), mrCancel);
    EXPECT_EQ(ShowAndThen([this] {
                  QWidget* focused = QApplication::focusWidget();
                  QTest::keyClick(focused ? focused : &fm, Qt::Key_Escape);
              }),
              mrCancel);
    EXPECT_EQ(ShowAndThen([this] { fm.close(); }), mrCancel);
}

TEST_F(ModalTest, OpensCentredOnTheScreen) {
    QPoint centre, screenCentre;
    ShowAndThen([&] {
        centre = fm.frameGeometry().center();
        screenCentre = fm.screen()->availableGeometry().center();
        fm.reject();
    });
    EXPECT_LE((centre - screenCentre).manhattanLength(), 2);
}

} // namespace

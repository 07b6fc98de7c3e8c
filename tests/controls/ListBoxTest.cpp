#include "ControlFixture.h"
#include "FailingAllocation.h"
#include "controls/g_listbox.h"
#include "hosts/SortedItems.h"

#include <QPainter>
#include <QPointer>

#include <new>

using namespace netsonde::test;

namespace {

class ListBox : public ControlFixture {
protected:
    void SetUp() override {
        ControlFixture::SetUp();
        list = new g_listbox(window.get());
        list->setGeometry(8, 8, 169, 200);
        list->SetSorted(true);
    }
    g_listbox* list = nullptr;
};

} // namespace

TEST_F(ListBox, SortsAsTextWithoutRegardToCase) {
    for (const char* text : {"b", "B2", "a", "10.0.0.2", "10.0.0.10", "", "A1"})
        list->AddItem(QString::fromLatin1(text));
    EXPECT_EQ(list->Items(), (QStringList{"", "10.0.0.10", "10.0.0.2", "a", "A1", "b", "B2"}));
}

TEST_F(ListBox, EqualTextsKeepTheirArrivalOrder) {
    list->AddItem("b", 1);
    list->AddItem("Host", 2);
    list->AddItem("a", 3);
    list->AddItem("host", 4);
    list->AddItem("a", 5);
    EXPECT_EQ(list->Items(), (QStringList{"a", "a", "b", "Host", "host"}));
    EXPECT_EQ(list->ItemData(0).toInt(), 3);
    EXPECT_EQ(list->ItemData(1).toInt(), 5);
    EXPECT_EQ(list->ItemData(3).toInt(), 2);
    EXPECT_EQ(list->ItemData(4).toInt(), 4);
    EXPECT_EQ(list->IndexOf("HOST"), 3);
    EXPECT_EQ(list->IndexOf(" host"), -1);
}

TEST_F(ListBox, OrderFollowsTheLocaleNotTheCodePoints) {
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
    for (const char* text : {"f", "z", "\xC3\xA9t\xC3\xA9", "e", "Ete"})
        list->AddItem(QString::fromUtf8(text));
    const QStringList items = list->Items();
    QLocale::setDefault(saved);
    // The accented word sorts with the e's, not after z as by code point.
    ASSERT_EQ(items.size(), 5);
    EXPECT_EQ(items.first(), "e");
    EXPECT_EQ(items.last(), "z");
    EXPECT_EQ(items[3], "f");
}

// The order and data of a fill are the model's (tests/hosts); the view
// keeps its selection on the same entry through it.
TEST_F(ListBox, FillingInOneStepKeepsTheSelectedEntry) {
    list->SetSorted(true);
    for (const char* text : {"m", "Host", "a"})
        list->AddItem(text);
    list->SetItemIndex(list->IndexOf("m"));
    list->AddItems({"host", "b", "", "A", "z", u"\u00E9t\u00E9"_qs}, {0, 1});
    EXPECT_EQ(list->Count(), 9);
    EXPECT_EQ(list->Item(list->ItemIndex()), "m");
}

// A fill that runs out of memory anywhere, inside the view's selection
// handling too, leaves the list and its selection as they were.
TEST_F(ListBox, AFillThatRunsOutOfMemoryKeepsTheListAndItsSelection) {
    QStringList added;
    QVariantList addedData;
    for (int i = 0; i < 300; ++i) {
        added << QStringLiteral("h%1").arg(300 - i, 3, 10, QLatin1Char('0'));
        addedData << (i % 2 ? QVariant(i) : QVariant());
    }
    for (bool sorted : {true, false}) {
        for (bool replace : {false, true}) {
            SCOPED_TRACE(std::string(sorted ? "sorted" : "unsorted") +
                         (replace ? ", replacing" : ", adding"));
            // Failing the first allocation, then later and later ones, until
            // the fill needs no more than it is allowed.
            for (std::size_t allowed = 0;; allowed = allowed * 2 + 1) {
                g_listbox l(window.get());
                l.SetSorted(sorted);
                l.AddItem("m", 1);
                l.AddItem("a", QStringList{"line"});
                l.AddItem("k");
                l.SetItemIndex(l.IndexOf("a"));
                const QStringList before = l.Items();
                bool thrown = false;
                bool struck = false;
                {
                    FailingAllocation failing(allowed);
                    try {
                        if (replace)
                            l.SetItems(added, addedData);
                        else
                            l.AddItems(added, addedData);
                    } catch (const std::bad_alloc&) {
                        thrown = true;
                    }
                    struck = failing.Struck();
                }
                if (!struck)
                    break;
                ASSERT_TRUE(thrown) << "after " << allowed << " allocations";
                ASSERT_EQ(l.Items(), before) << "after " << allowed << " allocations";
                EXPECT_EQ(l.ItemIndex(), l.IndexOf("a"));
                // The list works on afterwards.
                l.AddItem("b");
                EXPECT_EQ(l.Count(), 4);
            }
        }
    }
}

TEST_F(ListBox, SortingAnUnsortedListKeepsDataAndSelection) {
    list->SetSorted(false);
    list->AddItem("c", 30);
    list->AddItem("a", 10);
    list->AddItem("b", 20);
    EXPECT_EQ(list->Items(), (QStringList{"c", "a", "b"}));
    list->SetItemIndex(0);
    list->SetSorted(true);
    EXPECT_EQ(list->Items(), (QStringList{"a", "b", "c"}));
    EXPECT_EQ(list->ItemData(2).toInt(), 30);
    EXPECT_EQ(list->ItemIndex(), 2);
}

TEST_F(ListBox, DeleteAndClearAreSafeOutOfRange) {
    list->AddItem("a");
    list->DeleteItem(5);
    list->DeleteItem(-1);
    EXPECT_EQ(list->Count(), 1);
    EXPECT_EQ(list->Item(3), QString());
    EXPECT_FALSE(list->ItemData(3).isValid());
    list->SetItemIndex(0);
    list->DeleteItem(0);
    EXPECT_EQ(list->ItemIndex(), -1);
    list->Clear();
    EXPECT_EQ(list->Count(), 0);
}

TEST_F(ListBox, OwnerDrawGetsIndexRectangleAndState) {
    list->SetStyle(TListBoxStyle::lbOwnerDrawFixed);
    list->SetItemHeight(34);
    list->AddItem("10.0.0.1");
    list->AddItem("10.0.0.2");
    list->SetItemIndex(1);
    struct Call {
        int index;
        QRect rect;
        TOwnerDrawState state;
        QColor brush;
    };
    std::vector<Call> calls;
    list->OnDrawItem = [&](QObject* control, int index, const QRect& rect, TOwnerDrawState state) {
        EXPECT_EQ(control, list);
        QPainter* canvas = list->Canvas();
        ASSERT_NE(canvas, nullptr);
        calls.push_back({index, rect, state, canvas->brush().color()});
        canvas->fillRect(rect, canvas->brush());
    };
    list->grab();
    EXPECT_EQ(list->Canvas(), nullptr);
    ASSERT_GE(calls.size(), 2u);
    std::sort(calls.begin(), calls.end(),
              [](const Call& a, const Call& b) { return a.index < b.index; });
    EXPECT_EQ(calls[0].index, 0);
    EXPECT_EQ(calls[0].rect.height(), 34);
    EXPECT_EQ(calls[1].rect.top(), calls[0].rect.top() + 34);
    EXPECT_FALSE(calls[0].state & odSelected);
    EXPECT_TRUE(calls[1].state & odSelected);
    EXPECT_EQ(calls[0].brush.rgba(), kFace);
    EXPECT_EQ(calls[1].brush.rgba(), kSelection);
}

TEST_F(ListBox, IntegralHeightShowsWholeRowsOnly) {
    ShowActive();
    list->SetItemHeight(34);
    list->SetIntegralHeight(true);
    const int frame = 2 * list->frameWidth();
    list->resize(169, frame + 12 * 34 + 20);
    EXPECT_EQ(list->height(), frame + 12 * 34);
    list->resize(169, frame + 12 * 34);
    EXPECT_EQ(list->height(), frame + 12 * 34);
    list->SetIntegralHeight(false);
    list->resize(169, 100);
    EXPECT_EQ(list->height(), 100);
}

TEST_F(ListBox, ClickFiresForTheUserOnly) {
    for (const char* text : {"a", "b", "c"})
        list->AddItem(QString::fromLatin1(text));
    int clicks = 0;
    int seen = -2;
    list->OnClick = [&](QObject*) {
        ++clicks;
        seen = list->ItemIndex();
    };
    ShowActive();
    list->SetItemIndex(0);
    EXPECT_EQ(clicks, 0);
    list->setFocus();
    QTest::keyClick(list->viewport(), Qt::Key_Down);
    EXPECT_EQ(list->ItemIndex(), 1);
    EXPECT_EQ(clicks, 1);
    const QRect third = list->visualRect(list->model()->index(2, 0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, third.center());
    EXPECT_EQ(list->ItemIndex(), 2);
    EXPECT_EQ(clicks, 2);
    EXPECT_EQ(seen, 2) << "the handler sees the item just chosen";
    // A click below the last item keeps the selection.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, QPoint(10, list->height() - 10));
    EXPECT_EQ(list->ItemIndex(), 2);
    EXPECT_EQ(clicks, 2);
}

TEST_F(ListBox, ShowsAListHandedToItAndLeavesItToItsOwner) {
    list->AddItem("own");
    QPointer<hosts::SortedItems> own = list->ItemModel();
    hosts::SortedItems shared;
    shared.SetSorted(true);
    shared.AddItem("b", 2);
    {
        g_listbox other(window.get());
        other.SetItemModel(&shared);
        list->SetItemModel(&shared);
        EXPECT_TRUE(own.isNull()) << "the list box's own list goes";
        // Both views follow the one list, each with its own selection.
        shared.AddItem("a", 1);
        EXPECT_EQ(list->Items(), (QStringList{"a", "b"}));
        EXPECT_EQ(other.Count(), 2);
        list->SetItemIndex(1);
        EXPECT_EQ(other.ItemIndex(), -1);
        list->AddItems({"c", "0"});
        EXPECT_EQ(list->Item(list->ItemIndex()), "b") << "the selection stays on its item";
        EXPECT_EQ(other.ItemData(other.IndexOf("a")).toInt(), 1);
    }
    EXPECT_EQ(shared.Items(), (QStringList{"0", "a", "b", "c"}));
    EXPECT_EQ(list->Count(), 4);
    // A list of the list box's own again, before the shared one goes.
    list->SetItemModel(new hosts::SortedItems(list));
    EXPECT_EQ(list->Count(), 0);
}

// The host list without a view: the state of each host's results, the
// order of the entries, the all-or-nothing bulk fill and the signals a view
// follows.
#include "hosts/HostList.h"

#include "FailingAllocation.h"
#include "hosts/TPackedLines.h"

#include <QAbstractItemModelTester>
#include <QLocale>
#include <QSignalSpy>
#include <gtest/gtest.h>
#include <new>

namespace netsonde::test {
namespace {

using hosts::HostList;
using states::HostState;

const QStringList Answered{"Pinging 10.0.0.1 with 32 bytes of data:", "",
                           "56 bytes received from 10.0.0.1. time = 1ms", "",
                           "Stats: Rcvd/Sent: 1/1, Min/Avg/Max: 1/1/1"};
const QStringList TimedOut{"Pinging 10.0.0.2 with 32 bytes of data:", "", "Request timed out.", "",
                           "Stats: Rcvd/Sent: 0/1"};

// A host list that counts how often it works out a state.
class CountingList : public HostList {
public:
    mutable int worked = 0;

protected:
    Mark MarkOf(const QVariant& data) const override {
        ++worked;
        return HostList::MarkOf(data);
    }
};

class HostListTest : public ::testing::Test {
protected:
    HostList list;
    // Checks the model's consistency after every change it announces.
    QAbstractItemModelTester tester{&list, QAbstractItemModelTester::FailureReportingMode::Fatal};
};

TEST_F(HostListTest, StateFollowsTheResultsByOneRule) {
    list.AddItem("none");
    list.AddItem("answered");
    list.AddItem("timed");
    list.AddItem("middle");
    list.AddItem("word");
    list.AddItem("empty");
    list.SetResults(list.IndexOf("answered"), Answered);
    list.SetResults(list.IndexOf("timed"), TimedOut);
    // "timed out" anywhere in any line, as part of a longer text too; the
    // words as written, not in other case.
    list.SetResults(list.IndexOf("middle"), {"a", "x timed outy", "b"});
    list.SetResults(list.IndexOf("word"), {"Request Timed Out.", "timed", "out"});
    list.SetResults(list.IndexOf("empty"), {});

    EXPECT_EQ(list.State(list.IndexOf("none")), HostState::None);
    EXPECT_FALSE(list.HasResults(list.IndexOf("none")));
    EXPECT_EQ(list.State(list.IndexOf("answered")), HostState::Answered);
    EXPECT_EQ(list.State(list.IndexOf("timed")), HostState::TimedOut);
    EXPECT_EQ(list.State(list.IndexOf("middle")), HostState::TimedOut);
    EXPECT_EQ(list.State(list.IndexOf("word")), HostState::Answered);
    // Results without lines are results: an answered state, no lines.
    EXPECT_TRUE(list.HasResults(list.IndexOf("empty")));
    EXPECT_EQ(list.Results(list.IndexOf("empty")), QStringList());
    EXPECT_EQ(list.State(list.IndexOf("empty")), HostState::Answered);

    // The pictures and the state the model serves go by the same numbers.
    EXPECT_EQ(states::PictureIndex(HostState::None), 0);
    EXPECT_EQ(states::PictureIndex(HostState::TimedOut), 1);
    EXPECT_EQ(states::PictureIndex(HostState::Answered), 2);
    const QModelIndex timed = list.index(list.IndexOf("timed"));
    EXPECT_EQ(timed.data(HostList::StateRole).toInt(), 1);
    EXPECT_EQ(list.index(99).data(HostList::StateRole), QVariant());
    EXPECT_EQ(list.State(-1), HostState::None);
    EXPECT_EQ(list.State(99), HostState::None);
}

TEST_F(HostListTest, PackedAndListedLinesGiveTheSameStateAndLines) {
    // As a session file's loader hands them over: packed with LF.
    list.SetItems({"b", "a", "c"}, {TPackedLines::FromJoined(TimedOut.join('\n')),
                                    TPackedLines::FromJoined(Answered.join('\n')), QVariant()});
    EXPECT_EQ(list.Items(), (QStringList{"a", "b", "c"}));
    EXPECT_EQ(list.Results(0), Answered);
    EXPECT_EQ(list.Results(1), TimedOut);
    EXPECT_EQ(list.State(0), HostState::Answered);
    EXPECT_EQ(list.State(1), HostState::TimedOut);
    EXPECT_EQ(list.State(2), HostState::None);
    // Lines stored from a run come back as they went in, also those that
    // a packed text could not tell apart.
    for (const QStringList& lines :
         {QStringList{""}, QStringList{"", ""}, QStringList{"one\ntimed out", "two"}, Answered}) {
        list.SetResults(2, lines);
        EXPECT_EQ(list.Results(2), lines);
        EXPECT_TRUE(list.HasResults(2));
    }
    EXPECT_EQ(list.State(2), HostState::Answered);
    list.SetResults(2, {"one\ntimed out", "two"});
    EXPECT_EQ(list.State(2), HostState::TimedOut);
}

TEST(HostListState, IsWorkedOutOnceWhenResultsAreStored) {
    CountingList list;
    list.AddItem("h1");
    list.AddItems({"h3", "h2"}, {QVariant(TimedOut), QVariant()});
    const int afterAdding = list.worked;
    EXPECT_EQ(afterAdding, 3);
    list.SetResults(0, Answered);
    EXPECT_EQ(list.worked, afterAdding + 1);
    // Reading, drawing and moving rows work nothing out again.
    for (int round = 0; round < 3; ++round)
        for (int i = 0; i < list.Count(); ++i) {
            (void)list.State(i);
            (void)list.index(i).data(HostList::StateRole);
        }
    list.AddItems({"a0", "h0"});
    list.DeleteItem(list.IndexOf("a0"));
    EXPECT_EQ(list.worked, afterAdding + 1 + 2);
    EXPECT_EQ(list.State(list.IndexOf("h1")), HostState::Answered);
    EXPECT_EQ(list.State(list.IndexOf("h3")), HostState::TimedOut);
    // The same lines again, in another form, are not stored again.
    list.SetResults(list.IndexOf("h1"), Answered);
    list.SetItemData(list.IndexOf("h1"), TPackedLines::FromJoined(Answered.join('\n')));
    EXPECT_EQ(list.worked, afterAdding + 3);
}

TEST_F(HostListTest, ResultsStayWithTheirHostsAcrossAddingDeletingAndFilling) {
    list.AddItem("m");
    list.AddItem("c");
    list.SetResults(list.IndexOf("m"), TimedOut);
    list.SetResults(list.IndexOf("c"), Answered);
    list.setData(list.index(list.IndexOf("m")), "m, timed out", Qt::AccessibleTextRole);
    // One ahead of both, then many around them in one step.
    list.AddItem("a");
    list.AddItems({"z", "b", "M", "d"}, {QVariant(), QVariant(Answered)});
    EXPECT_EQ(list.Items(), (QStringList{"a", "b", "c", "d", "m", "M", "z"}));
    EXPECT_EQ(list.Results(list.IndexOf("m")), TimedOut);
    EXPECT_EQ(list.State(4), HostState::TimedOut);
    EXPECT_EQ(list.State(5), HostState::None) << "equal texts keep their arrival order";
    EXPECT_EQ(list.State(list.IndexOf("c")), HostState::Answered);
    EXPECT_EQ(list.State(list.IndexOf("b")), HostState::Answered);
    EXPECT_EQ(list.index(4).data(Qt::AccessibleTextRole).toString(), "m, timed out");
    EXPECT_EQ(list.index(5).data(Qt::AccessibleTextRole), QVariant());
    list.DeleteItem(list.IndexOf("c"));
    list.DeleteItem(0);
    EXPECT_EQ(list.Items(), (QStringList{"b", "d", "m", "M", "z"}));
    EXPECT_EQ(list.Results(2), TimedOut);
    EXPECT_EQ(list.State(2), HostState::TimedOut);
    EXPECT_EQ(list.index(2).data(Qt::AccessibleTextRole).toString(), "m, timed out");
    // A replacing fill takes nothing over.
    list.SetItems({"m"});
    EXPECT_FALSE(list.HasResults(0));
    EXPECT_EQ(list.State(0), HostState::None);
    EXPECT_EQ(list.index(0).data(Qt::AccessibleTextRole), QVariant());
}

TEST_F(HostListTest, BulkFillIntoAnEmptyListSorts) {
    list.AddItems({"c", "A", "b", "a"}, {QVariant(), QVariant(TimedOut)});
    EXPECT_EQ(list.Items(), (QStringList{"A", "a", "b", "c"}));
    EXPECT_EQ(list.State(0), HostState::TimedOut);
}

TEST_F(HostListTest, BulkFillSortsAsAddingOneByOne) {
    const QStringList texts{"host", "b",   "",    "A",   "HOST",
                            "z",    "a",   "a_b", "a-b", "ab",
                            "a1",   "a.b", "ete", "Ete", u"\u00E9t\u00E9"_qs};
    for (const QLocale& locale : {QLocale::c(), QLocale(QLocale::English, QLocale::UnitedStates)}) {
        const QLocale saved;
        QLocale::setDefault(locale);
        HostList one, bulk;
        one.AddItem("m", QVariant(TimedOut));
        bulk.AddItem("m", QVariant(TimedOut));
        QVariantList data;
        for (int i = 0; i < texts.size(); ++i) {
            data << (i % 3 == 0 ? QVariant(QStringList{QString::number(i)}) : QVariant());
            one.AddItem(texts[i], data.last());
        }
        const int follow = bulk.AddItems(texts, data, 0);
        QLocale::setDefault(saved);
        EXPECT_EQ(bulk.Items(), one.Items());
        for (int i = 0; i < one.Count(); ++i) {
            EXPECT_EQ(bulk.Results(i), one.Results(i)) << i;
            EXPECT_EQ(bulk.State(i), one.State(i)) << i;
        }
        // The place the followed entry went to.
        EXPECT_EQ(bulk.Item(follow), "m");
        EXPECT_EQ(bulk.State(follow), HostState::TimedOut);
    }
}

TEST_F(HostListTest, AnnouncesWhatAViewFollows) {
    list.AddItems({"b", "d"});
    QSignalSpy inserted(&list, &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(&list, &QAbstractItemModel::rowsRemoved);
    QSignalSpy reset(&list, &QAbstractItemModel::modelReset);
    QSignalSpy changed(&list, &QAbstractItemModel::dataChanged);

    EXPECT_EQ(list.AddItem("c"), 1);
    ASSERT_EQ(inserted.size(), 1);
    EXPECT_EQ(inserted[0][1].toInt(), 1);
    EXPECT_EQ(inserted[0][2].toInt(), 1);

    list.SetResults(1, TimedOut);
    ASSERT_EQ(changed.size(), 1);
    EXPECT_EQ(changed[0][0].toModelIndex().row(), 1);
    EXPECT_EQ(changed[0][2].value<QList<int>>(), (QList<int>{Qt::UserRole, HostList::StateRole}));
    list.SetResults(1, TimedOut);
    EXPECT_EQ(changed.size(), 1) << "the same lines again change nothing";
    list.SetResults(5, TimedOut);
    EXPECT_EQ(changed.size(), 1);

    // A sorted fill into a list with entries: the new rows at the end, then
    // a new layout in which persistent indexes follow their rows.
    inserted.clear();
    QSignalSpy layout(&list, &QAbstractItemModel::layoutChanged);
    const QPersistentModelIndex c = list.index(1);
    list.AddItems({"e", "a"});
    EXPECT_EQ(reset.size(), 0);
    ASSERT_EQ(inserted.size(), 1);
    EXPECT_EQ(inserted[0][1].toInt(), 3);
    EXPECT_EQ(inserted[0][2].toInt(), 4);
    EXPECT_EQ(layout.size(), 1);
    EXPECT_EQ(c.row(), 2);
    EXPECT_EQ(list.Items(), (QStringList{"a", "b", "c", "d", "e"}));
    EXPECT_EQ(list.State(2), HostState::TimedOut);
    // A replacing fill: a reset, then every row.
    inserted.clear();
    list.SetItems({"y", "x"});
    EXPECT_EQ(reset.size(), 1);
    ASSERT_EQ(inserted.size(), 1);
    EXPECT_EQ(inserted[0][1].toInt(), 0);
    EXPECT_EQ(inserted[0][2].toInt(), 1);
    EXPECT_EQ(list.Items(), (QStringList{"x", "y"}));
    list.SetItems({"a", "b", "c", "d", "e"});

    list.DeleteItem(2);
    ASSERT_EQ(removed.size(), 1);
    EXPECT_EQ(removed[0][1].toInt(), 2);
    EXPECT_EQ(list.Items(), (QStringList{"a", "b", "d", "e"}));

    // Words for assistive technology: a change of that role alone.
    changed.clear();
    list.setData(list.index(0), "a, no results", Qt::AccessibleTextRole);
    list.setData(list.index(0), "a, no results", Qt::AccessibleTextRole);
    ASSERT_EQ(changed.size(), 1);
    EXPECT_EQ(changed[0][2].value<QList<int>>(), QList<int>{Qt::AccessibleTextRole});
    EXPECT_FALSE(list.setData(list.index(0), "x", Qt::DisplayRole));
    EXPECT_EQ(list.Item(0), "a");
}

TEST(SortedItemsFill, RunningOutOfMemoryLeavesTheListAsItWas) {
    QStringList added;
    QVariantList addedData;
    for (int i = 0; i < 300; ++i) {
        added << QStringLiteral("h%1").arg(300 - i, 3, 10, QLatin1Char('0'));
        addedData << (i % 2 ? QVariant(TimedOut) : QVariant());
    }
    for (bool replace : {false, true}) {
        SCOPED_TRACE(replace ? "replacing" : "adding");
        for (std::size_t allowed = 0;; allowed = allowed * 2 + 1) {
            HostList list;
            list.AddItem("m", QVariant(Answered));
            list.AddItem("a", QVariant(TimedOut));
            list.AddItem("k");
            const QStringList before = list.Items();
            bool thrown = false;
            bool struck = false;
            {
                FailingAllocation failing(allowed);
                try {
                    if (replace)
                        list.SetItems(added, addedData);
                    else
                        list.AddItems(added, addedData);
                } catch (const std::bad_alloc&) {
                    thrown = true;
                }
                struck = failing.Struck();
            }
            if (!struck) {
                EXPECT_EQ(list.Count(), replace ? 300 : 303);
                EXPECT_EQ(list.State(list.IndexOf("h001")), HostState::TimedOut);
                break;
            }
            ASSERT_TRUE(thrown) << "after " << allowed << " allocations";
            ASSERT_EQ(list.Items(), before) << "after " << allowed << " allocations";
            EXPECT_EQ(list.State(list.IndexOf("m")), HostState::Answered);
            EXPECT_EQ(list.Results(list.IndexOf("a")), TimedOut);
            EXPECT_EQ(list.State(list.IndexOf("a")), HostState::TimedOut);
            EXPECT_FALSE(list.HasResults(list.IndexOf("k")));
            list.AddItem("b");
            EXPECT_EQ(list.Count(), 4);
        }
    }
}

TEST(SortedItemsOrder, AnUnsortedListAppendsAndSortsOnRequest) {
    hosts::SortedItems items;
    QAbstractItemModelTester tester(&items, QAbstractItemModelTester::FailureReportingMode::Fatal);
    items.AddItems({"c", "a"}, {3, 1});
    items.AddItem("b", 2);
    items.AddItems({"B"}, {4});
    EXPECT_EQ(items.Items(), (QStringList{"c", "a", "b", "B"}));
    EXPECT_EQ(items.SetSorted(true, 0), 3) << "the first entry goes last";
    EXPECT_EQ(items.Items(), (QStringList{"a", "b", "B", "c"}));
    EXPECT_EQ(items.ItemData(0).toInt(), 1);
    EXPECT_EQ(items.ItemData(2).toInt(), 4);
    EXPECT_EQ(items.ItemData(3).toInt(), 3);
    EXPECT_EQ(items.IndexOf("C"), 3);
    EXPECT_EQ(items.IndexOf("d"), -1);
    EXPECT_EQ(items.Item(4), QString());
    EXPECT_FALSE(items.ItemData(-1).isValid());
    items.DeleteItem(7);
    items.Clear();
    EXPECT_EQ(items.Count(), 0);
}

} // namespace
} // namespace netsonde::test

#pragma once

#include <QAbstractListModel>
#include <QStringList>
#include <QVariant>
#include <cstdint>
#include <vector>

namespace hosts {

// A list of texts, each with data of its own, as a list box shows it. A
// sorted list keeps its items in case-insensitive, locale-aware order of
// their texts; equal texts keep the order they came in. Items are added,
// found and removed through the functions below, which keep that order.
//
// The model serves an item's text as Qt::DisplayRole and Qt::EditRole, its
// data as Qt::UserRole and the words assistive technology reads for it as
// Qt::AccessibleTextRole; setData takes the last two. A derived list may
// keep a mark of each item, worked out from the item's data once, when the
// data is stored (see MarkOf).
//
// The changes are announced as follows: one item added or deleted as rows
// inserted or removed; a bulk fill as rows inserted at the end, which in a
// sorted list with items then move to their places as a change of layout
// (so that a view keeps its selection); a replacing fill, and the sorting of
// an unsorted list, as a reset followed by the insertion of all rows; new
// data as a change of the item's Qt::UserRole (and of the roles a derived
// list works out from it), and nothing for data equal to what is there.
class SortedItems : public QAbstractListModel {
    Q_OBJECT
    struct Row {
        QString text;
        QVariant data;
        QString spoken;
        std::uint8_t mark = 0;
    };

public:
    explicit SortedItems(QObject* parent = nullptr);
    ~SortedItems() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    int Count() const { return static_cast<int>(FRows.size()); }
    // The text and the data of an item; empty out of range.
    QString Item(int index) const;
    QStringList Items() const;
    QVariant ItemData(int index) const;
    void SetItemData(int index, const QVariant& data);

    // Adds an item, in its sorted place when the list is sorted, else at the
    // end, and returns its index.
    int AddItem(const QString& text, const QVariant& data = {});
    void DeleteItem(int index);
    // Adds many items in one step, as AddItem would one after the other
    // (data[i] goes with texts[i]; missing data is empty), but sorting once,
    // so that a long list loads quickly. Returns the index at which the item
    // that was at follow is afterwards (-1 for none). All or nothing: when
    // memory runs out on the way, the list is put back as it was (announced
    // as a reset and an insertion of them all, which takes a view's
    // selection away) and std::bad_alloc goes on to the caller.
    int AddItems(const QStringList& texts, const QVariantList& data = {}, int follow = -1);
    // Replaces every item by texts with their data, as Clear and AddItems
    // would, and all or nothing in the same way.
    void SetItems(const QStringList& texts, const QVariantList& data = {});
    void Clear();
    // Index of the first item whose text equals text without regard to case
    // in the user's locale, or -1.
    int IndexOf(const QString& text) const;

    bool Sorted() const { return FSorted; }
    // Switching sorting on puts the present items in order, announced as a
    // reset and an insertion; returns the index the item at follow moved to.
    int SetSorted(bool value, int follow = -1);

    // Compares two item texts as the sorted list does: <0, 0 or >0.
    static int CompareText(const QString& a, const QString& b);

protected:
    using Mark = std::uint8_t;
    // The mark of an item with data; worked out once whenever the item's
    // data is stored. 0 unless a derived list says otherwise.
    virtual Mark MarkOf(const QVariant& data) const;
    Mark MarkAt(int index) const { return FRows[static_cast<std::size_t>(index)].mark; }
    // Data equal to what an item holds is not stored again; a derived list
    // may compare its own way (the same lines held in another form).
    virtual bool SameData(const QVariant& a, const QVariant& b) const;
    // The roles that new data of an item changes.
    virtual QList<int> DataRoles() const;

private:
    // AddItems, after a Clear when replace, all or nothing.
    int Fill(bool replace, const QStringList& texts, const QVariantList& data, int follow);
    bool InRange(int index) const { return index >= 0 && index < Count(); }
    // Puts rows in place of the present ones, announced as a reset and an
    // insertion of them all; rows holds the earlier ones afterwards.
    void Replace(std::vector<Row>& rows);

    std::vector<Row> FRows;
    bool FSorted = false;
};

} // namespace hosts

#pragma once

#include "controls/HighlightControl.h"

#include <QListView>
#include <QStringList>
#include <QVariant>
#include <functional>

class QPainter;
namespace hosts {
class SortedItems;
}

// How a list box draws its items.
enum class TListBoxStyle {
    lbStandard,       // the list draws each item's text
    lbOwnerDrawFixed, // OnDrawItem draws each item; all items are ItemHeight high
};

// Draw-item state flags.
enum TOwnerDrawStateFlag : unsigned {
    odSelected = 0x1,
    odFocused = 0x2,
    odDisabled = 0x4,
};
using TOwnerDrawState = unsigned;

// Draws item Index into Rect (the item's rectangle in the list's client
// coordinates) on the list's Canvas().
using TDrawItemEvent =
    std::function<void(QObject* Control, int Index, const QRect& Rect, TOwnerDrawState State)>;

// List box that changes colour with focus and mouse. It shows a
// hosts::SortedItems: a list of its own unless it is handed another one
// (SetItemModel). Items carry data of their own; a sorted list keeps them in
// case-insensitive, locale-aware order of their texts. Items are added,
// found and removed through the functions below, which keep the order.
class g_listbox : public THighlightControl<QListView> {
    Q_OBJECT
public:
    explicit g_listbox(QWidget* parent = nullptr);
    ~g_listbox() override;

    // The items shown. A list handed in stays its owner's and must outlive
    // the list box; the list box's own one goes, and the selection is
    // cleared.
    hosts::SortedItems* ItemModel() const { return FItems; }
    void SetItemModel(hosts::SortedItems* items);

    int Count() const;
    QString Item(int index) const;
    QStringList Items() const;
    QVariant ItemData(int index) const;
    void SetItemData(int index, const QVariant& data);

    // Adds an item, in its sorted place when the list is sorted, else at the
    // end, and returns its index. Equal texts keep the order they came in.
    int AddItem(const QString& text, const QVariant& data = {});
    // Deletes an item. When it was the selected one, no item is selected
    // afterwards.
    void DeleteItem(int index);
    // Adds many items in one step, as AddItem would one after the other
    // (data[i] goes with texts[i]; missing data is empty), but sorting once
    // and filling the list at once, so that a long list loads quickly.
    // The selected item stays selected. All or nothing: when memory runs
    // out on the way, the list is put back as it was (items, data and
    // selection) and std::bad_alloc goes on to the caller.
    void AddItems(const QStringList& texts, const QVariantList& data = {});
    // Replaces every item by texts with their data, as Clear and AddItems
    // would, and all or nothing in the same way.
    void SetItems(const QStringList& texts, const QVariantList& data = {});
    void Clear();
    // Index of the first item whose text equals text without regard to case
    // in the user's locale, or -1.
    int IndexOf(const QString& text) const;

    // The selected item, or -1. Setting it selects without firing OnClick.
    int ItemIndex() const;
    void SetItemIndex(int index);

    bool Sorted() const;
    // Switching sorting on puts the present items in order.
    void SetSorted(bool value);

    TListBoxStyle Style() const { return FStyle; }
    void SetStyle(TListBoxStyle value);
    // Height of every item in pixels; 0 means the height of one text line.
    int ItemHeight() const;
    void SetItemHeight(int value);
    // When on, the list's height is cut to show only whole items.
    bool IntegralHeight() const { return FIntegralHeight; }
    void SetIntegralHeight(bool value);

    // The painter OnDrawItem draws with, prepared with the item's colours
    // (the selection colours for a selected item) and the list's font; null
    // outside OnDrawItem.
    QPainter* Canvas() const { return FCanvas; }

    // Compares two item texts as the sorted list does: <0, 0 or >0.
    static int CompareText(const QString& a, const QString& b);

    // The user changed the selection with the mouse or the keyboard.
    TNotifyEvent OnClick;
    TDrawItemEvent OnDrawItem;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end) override;

private:
    class Delegate;
    friend class Delegate;
    class Selection;
    friend class Selection;
    // Marks the selection changes made meanwhile as the program's.
    class ProgramChange {
    public:
        explicit ProgramChange(g_listbox* list) : FList(list), FOuter(!list->FProgramChange) {
            list->FProgramChange = true;
        }
        ~ProgramChange() {
            if (FOuter)
                FList->FProgramChange = false;
        }
        ProgramChange(const ProgramChange&) = delete;
        ProgramChange& operator=(const ProgramChange&) = delete;

    private:
        g_listbox* FList;
        bool FOuter;
    };

    void FitIntegralHeight();
    void UserInput(const std::function<void()>& baseHandling);

    hosts::SortedItems* FItems = nullptr;
    bool FIntegralHeight = false;
    bool FUserInput = false;
    bool FProgramChange = false;
    int FItemHeight = 0;
    TListBoxStyle FStyle = TListBoxStyle::lbStandard;
    QPainter* FCanvas = nullptr;
};

#include "controls/g_listbox.h"

#include "hosts/SortedItems.h"

#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <new>

namespace {

// Draws the dotted frame of the item with the keyboard focus, inverting the
// pixels under it so that it shows on any background.
void drawFocusRect(QPainter& painter, const QRect& r) {
    painter.save();
    painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    painter.setPen(QPen(Qt::white, 1, Qt::DotLine));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(r.adjusted(0, 0, -1, -1));
    painter.restore();
}

} // namespace

// The list's selection. A selection the program makes goes through
// SetItemIndex, and the view's own follow-up of a removed row is the
// program's too; the mouse and the keys come as user input. Whatever else
// selects an item is a user's tool doing it on the user's behalf (assistive
// technology through the list's accessible interface): a choice of the
// user's as much as a click.
class g_listbox::Selection final : public QItemSelectionModel {
public:
    Selection(QAbstractItemModel* model, g_listbox* list) : QItemSelectionModel(model, list) {}

    void select(const QModelIndex& index, QItemSelectionModel::SelectionFlags command) override {
        Chosen([&] { QItemSelectionModel::select(index, command); });
    }
    void select(const QItemSelection& selection,
                QItemSelectionModel::SelectionFlags command) override {
        Chosen([&] { QItemSelectionModel::select(selection, command); });
    }

private:
    void Chosen(const std::function<void()>& change) {
        auto* list = static_cast<g_listbox*>(parent());
        if (list->FProgramChange)
            change();
        else
            list->UserInput(change);
    }
};

// Paints every item with the list's colours, through OnDrawItem when the
// list is owner-drawn.
class g_listbox::Delegate : public QStyledItemDelegate {
public:
    explicit Delegate(g_listbox* list) : QStyledItemDelegate(list), FList(list) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        TOwnerDrawState state = 0;
        if (option.state & QStyle::State_Selected)
            state |= odSelected;
        if ((option.state & QStyle::State_HasFocus) && FList->hasFocus())
            state |= odFocused;
        if (!(option.state & QStyle::State_Enabled))
            state |= odDisabled;
        const bool selected = state & odSelected;
        const QColor background =
            selected ? clHighlight.Resolve() : FList->palette().color(QPalette::Base);
        const QColor text = selected               ? clHighlightText.Resolve()
                            : (state & odDisabled) ? clGrayText.Resolve()
                                                   : FList->palette().color(QPalette::Text);

        painter->save();
        painter->setFont(FList->font());
        painter->setBrush(background);
        painter->setPen(text);
        if (FList->FStyle == TListBoxStyle::lbOwnerDrawFixed && FList->OnDrawItem) {
            TDrawItemEvent handler = FList->OnDrawItem;
            FList->FCanvas = painter;
            handler(FList, index.row(), option.rect, state);
            FList->FCanvas = nullptr;
        } else {
            painter->fillRect(option.rect, background);
            painter->drawText(option.rect.adjusted(2, 0, -2, 0),
                              Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                              index.data(Qt::DisplayRole).toString());
        }
        painter->restore();
        if (state & odFocused)
            drawFocusRect(*painter, option.rect);
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
        return QSize(option.rect.width(), FList->ItemHeight());
    }

private:
    g_listbox* FList;
};

g_listbox::g_listbox(QWidget* parent) : THighlightControl<QListView>(parent) {
    setItemDelegate(new Delegate(this));
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    SetItemModel(new hosts::SortedItems(this));
}

g_listbox::~g_listbox() = default;

void g_listbox::SetItemModel(hosts::SortedItems* items) {
    if (!items || items == FItems)
        return;
    hosts::SortedItems* own = FItems && FItems->parent() == this ? FItems : nullptr;
    QItemSelectionModel* oldSelection = selectionModel();
    FItems = items;
    setModel(items);
    QItemSelectionModel* made = selectionModel();
    setSelectionModel(new Selection(items, this));
    if (made != oldSelection)
        delete made;
    if (oldSelection && oldSelection != selectionModel())
        delete oldSelection;
    // A click is reported once the new selection is in place, so that the
    // handler reads the item the user chose.
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (FUserInput)
            Fire(OnClick);
    });
    delete own;
}

int g_listbox::CompareText(const QString& a, const QString& b) {
    return hosts::SortedItems::CompareText(a, b);
}

int g_listbox::Count() const {
    return FItems->Count();
}

QString g_listbox::Item(int index) const {
    return FItems->Item(index);
}

QStringList g_listbox::Items() const {
    return FItems->Items();
}

QVariant g_listbox::ItemData(int index) const {
    return FItems->ItemData(index);
}

void g_listbox::SetItemData(int index, const QVariant& data) {
    FItems->SetItemData(index, data);
}

int g_listbox::AddItem(const QString& text, const QVariant& data) {
    return FItems->AddItem(text, data);
}

void g_listbox::AddItems(const QStringList& texts, const QVariantList& data) {
    if (texts.isEmpty())
        return;
    // The items' model keeps the selection on the item it was on, unless
    // memory runs out and it puts the list back as it was.
    const int selected = ItemIndex();
    try {
        FItems->AddItems(texts, data, selected);
    } catch (const std::bad_alloc&) {
        SetItemIndex(selected);
        throw;
    }
}

void g_listbox::SetItems(const QStringList& texts, const QVariantList& data) {
    const int selected = ItemIndex();
    try {
        FItems->SetItems(texts, data);
    } catch (const std::bad_alloc&) {
        SetItemIndex(selected);
        throw;
    }
}

void g_listbox::DeleteItem(int index) {
    if (index < 0 || index >= Count())
        return;
    // The view would move the selection to the next item; a deleted
    // selected item leaves none, so that a repeated delete deletes nothing.
    const bool wasSelected = ItemIndex() == index;
    FItems->DeleteItem(index);
    if (wasSelected)
        SetItemIndex(-1);
}

void g_listbox::Clear() {
    FItems->Clear();
}

int g_listbox::IndexOf(const QString& text) const {
    return FItems->IndexOf(text);
}

int g_listbox::ItemIndex() const {
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    return selected.isEmpty() ? -1 : selected.first().row();
}

void g_listbox::SetItemIndex(int index) {
    const ProgramChange program(this);
    if (index >= 0 && index < Count()) {
        // The model's record of the index is made here, where running out of
        // memory reaches the caller: the selection model takes it over
        // where an exception would end the program.
        const QPersistentModelIndex target(FItems->index(index));
        selectionModel()->setCurrentIndex(target, QItemSelectionModel::ClearAndSelect);
    } else {
        clearSelection();
        selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::ClearAndSelect);
    }
}

bool g_listbox::Sorted() const {
    return FItems->Sorted();
}

void g_listbox::SetSorted(bool value) {
    if (value == Sorted())
        return;
    const int selected = ItemIndex();
    const int keep = FItems->SetSorted(value, selected);
    if (value && Count() >= 2 && keep >= 0)
        SetItemIndex(keep);
}

void g_listbox::SetStyle(TListBoxStyle value) {
    FStyle = value;
    viewport()->update();
}

int g_listbox::ItemHeight() const {
    return FItemHeight > 0 ? FItemHeight : fontMetrics().height();
}

void g_listbox::SetItemHeight(int value) {
    if (value == FItemHeight)
        return;
    FItemHeight = value;
    doItemsLayout();
    FitIntegralHeight();
}

void g_listbox::SetIntegralHeight(bool value) {
    FIntegralHeight = value;
    FitIntegralHeight();
}

void g_listbox::FitIntegralHeight() {
    if (!FIntegralHeight)
        return;
    const int frame = 2 * frameWidth();
    const int rows = std::max(1, (height() - frame) / ItemHeight());
    const int wanted = frame + rows * ItemHeight();
    if (wanted != height())
        resize(width(), wanted);
}

void g_listbox::resizeEvent(QResizeEvent* event) {
    THighlightControl<QListView>::resizeEvent(event);
    FitIntegralHeight();
}

void g_listbox::UserInput(const std::function<void()>& baseHandling) {
    const bool outer = !FUserInput;
    FUserInput = true;
    baseHandling();
    if (outer)
        FUserInput = false;
}

void g_listbox::rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end) {
    // The view moves the selection off a removed row on its own.
    const ProgramChange program(this);
    THighlightControl<QListView>::rowsAboutToBeRemoved(parent, start, end);
}

void g_listbox::mousePressEvent(QMouseEvent* event) {
    // A click below the last item keeps the selection, as list boxes do.
    if (!indexAt(event->position().toPoint()).isValid()) {
        setFocus(Qt::MouseFocusReason);
        event->accept();
        return;
    }
    UserInput([&] { THighlightControl<QListView>::mousePressEvent(event); });
}

void g_listbox::mouseMoveEvent(QMouseEvent* event) {
    UserInput([&] { THighlightControl<QListView>::mouseMoveEvent(event); });
}

void g_listbox::keyPressEvent(QKeyEvent* event) {
    UserInput([&] { THighlightControl<QListView>::keyPressEvent(event); });
}

#include "controls/g_listbox.h"

#include <QCollator>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalBlocker>
#include <QStyledItemDelegate>
#include <algorithm>
#include <new>
#include <numeric>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

// The collator of the user's locale, made again when the locale changes.
const QCollator& collator() {
    static QCollator c{QLocale::c()};
    static std::optional<QLocale> made;
    const QLocale locale;
    if (!made || *made != locale) {
        made = locale;
        c = QCollator(locale);
        c.setCaseSensitivity(Qt::CaseInsensitive);
        c.setNumericMode(false);
    }
    return c;
}

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

g_listbox::g_listbox(QWidget* parent) : THighlightControl<QListWidget>(parent) {
    setItemDelegate(new Delegate(this));
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    // A click is reported once the new selection is in place, so that the
    // handler reads the item the user chose.
    connect(this, &QListWidget::itemSelectionChanged, this, [this] {
        if (FUserInput)
            Fire(OnClick);
    });
}

g_listbox::~g_listbox() = default;

int g_listbox::CompareText(const QString& a, const QString& b) {
    return collator().compare(a, b);
}

QString g_listbox::Item(int index) const {
    const QListWidgetItem* it = item(index);
    return it ? it->text() : QString();
}

QStringList g_listbox::Items() const {
    QStringList result;
    for (int i = 0; i < count(); ++i)
        result.append(item(i)->text());
    return result;
}

QVariant g_listbox::ItemData(int index) const {
    const QListWidgetItem* it = item(index);
    return it ? it->data(Qt::UserRole) : QVariant();
}

void g_listbox::SetItemData(int index, const QVariant& data) {
    if (QListWidgetItem* it = item(index))
        it->setData(Qt::UserRole, data);
}

int g_listbox::AddItem(const QString& text, const QVariant& data) {
    int at = count();
    if (FSorted) {
        // After the last item that does not sort behind the new one.
        int lo = 0, hi = count();
        while (lo < hi) {
            const int mid = (lo + hi) / 2;
            if (CompareText(item(mid)->text(), text) <= 0)
                lo = mid + 1;
            else
                hi = mid;
        }
        at = lo;
    }
    auto* it = new QListWidgetItem(text);
    it->setData(Qt::UserRole, data);
    insertItem(at, it);
    return at;
}

namespace {

// Sorts order by a quick key, equal keys by index.
template <class Key> void sortByKey(std::vector<int>& order, const Key& key) {
    std::sort(order.begin(), order.end(), [&](int a, int b) {
        const int r = key(a).compare(key(b));
        return r < 0 || (r == 0 && a < b);
    });
}

// The order in which a sorted list holds texts: the indexes of texts,
// stably sorted by CompareText.
//
// Comparing through the collator costs far more than comparing prepared
// keys, so the texts are sorted by keys made once per text. The C locale
// compares case-folded characters, which for ASCII texts is exactly the byte
// order of the texts in lower case. Every other quick order is checked pair
// by pair against the collator, which proves it when each pair is in order
// (equal texts lie next to each other in a sorted list); when a pair is not,
// the texts are sorted again by an exact means.
std::vector<int> sortedOrder(const QStringList& texts) {
    std::vector<int> order(texts.size());
    std::iota(order.begin(), order.end(), 0);
    const QCollator& c = collator();
    const bool cLocale = c.locale().language() == QLocale::C;
    auto inOrder = [&](int a, int b) {
        const int r = c.compare(texts[a], texts[b]);
        return r < 0 || (r == 0 && a < b);
    };
    auto proven = [&] {
        for (std::size_t i = 1; i < order.size(); ++i)
            if (!inOrder(order[i - 1], order[i]))
                return false;
        return true;
    };

    if (std::all_of(texts.begin(), texts.end(),
                    [](const QString& t) { return QtPrivate::isAscii(QStringView(t)); })) {
        // One buffer of lowered bytes, sorted by views into it.
        std::string lowered;
        std::vector<std::pair<qsizetype, qsizetype>> spans; // start, length
        spans.reserve(texts.size());
        for (const QString& text : texts) {
            spans.emplace_back(qsizetype(lowered.size()), text.size());
            for (QChar ch : text) {
                const char b = char(ch.unicode());
                lowered += (b >= 'A' && b <= 'Z') ? char(b - 'A' + 'a') : b;
            }
        }
        sortByKey(order, [&](int i) {
            return std::string_view(lowered).substr(spans[i].first, spans[i].second);
        });
        if (cLocale || proven())
            return order;
    }
    if (cLocale) {
        // Folded once each instead of at every comparison.
        QStringList folded;
        folded.reserve(texts.size());
        for (const QString& text : texts)
            folded.append(text.toCaseFolded());
        sortByKey(order, [&](int i) { return QStringView(folded[i]); });
        if (!proven())
            std::sort(order.begin(), order.end(), inOrder);
        return order;
    }
    // The collator's own keys order exactly as it compares.
    std::vector<QCollatorSortKey> keys;
    keys.reserve(texts.size());
    for (const QString& text : texts)
        keys.push_back(c.sortKey(text));
    sortByKey(order, [&](int i) -> const QCollatorSortKey& { return keys[i]; });
    return order;
}

} // namespace

void g_listbox::AddItems(const QStringList& texts, const QVariantList& data) {
    if (!texts.isEmpty())
        Fill(false, texts, data);
}

void g_listbox::SetItems(const QStringList& texts, const QVariantList& data) {
    Fill(true, texts, data);
}

void g_listbox::Fill(bool replace, const QStringList& texts, const QVariantList& data) {
    // What the list holds now, taken before anything changes; the texts and
    // data are shared, not copied.
    const QStringList before = Items();
    QVariantList beforeData;
    beforeData.reserve(before.size());
    bool anyData = false;
    for (int i = 0; i < before.size(); ++i) {
        beforeData.append(item(i)->data(Qt::UserRole));
        anyData = anyData || beforeData.last().isValid();
    }
    const int selected = ItemIndex();
    try {
        if (replace)
            clear();
        AddItemsUnguarded(texts, data);
    } catch (const std::bad_alloc&) {
        // A list model left half-way through an insertion is only sound
        // again after a reset, which clear() gives; the earlier items then
        // go back in one step, in the order they had.
        clear();
        InsertAll(0, before, anyData ? DataAt([&](int i) { return beforeData[i]; }) : DataAt());
        SetItemIndex(selected);
        throw;
    }
}

void g_listbox::AddItemsUnguarded(const QStringList& texts, const QVariantList& data) {
    if (texts.isEmpty())
        return;
    const int present = count();
    if (!FSorted) {
        InsertAll(
            present, texts, data.isEmpty() ? DataAt() : [&](int i) {
                return i < data.size() ? data[i] : QVariant();
            });
        return;
    }
    // Everything the list will hold, the present items first, so that they
    // stay ahead of equal new texts.
    const int selected = ItemIndex();
    const QStringList all = present ? Items() + texts : texts;
    QVariantList presentData;
    bool anyData = !data.isEmpty();
    for (int i = 0; i < present; ++i) {
        presentData.append(item(i)->data(Qt::UserRole));
        anyData = anyData || presentData.last().isValid();
    }
    const std::vector<int> order = sortedOrder(all);
    QStringList sortedTexts;
    sortedTexts.reserve(all.size());
    int keep = -1;
    for (std::size_t i = 0; i < order.size(); ++i) {
        sortedTexts.append(all[order[i]]);
        if (order[i] == selected)
            keep = int(i);
    }
    if (present)
        clear();
    auto dataAt = [&](int row) {
        const int i = order[row];
        if (i < present)
            return presentData[i];
        return i - present < data.size() ? data[i - present] : QVariant();
    };
    InsertAll(0, sortedTexts, anyData ? DataAt(dataAt) : DataAt());
    if (keep >= 0)
        SetItemIndex(keep);
}

void g_listbox::InsertAll(int row, const QStringList& texts, const DataAt& dataAt) {
    // One insertion for all rows; the data then goes into the new items
    // without a change notice per item, as nothing has seen them yet.
    insertItems(row, texts);
    if (!dataAt)
        return;
    const QSignalBlocker quiet(model());
    for (int i = 0; i < texts.size(); ++i) {
        const QVariant d = dataAt(i);
        if (d.isValid())
            item(row + i)->setData(Qt::UserRole, d);
    }
}

void g_listbox::DeleteItem(int index) {
    if (index < 0 || index >= count())
        return;
    // The view would move the selection to the next item; a deleted
    // selected item leaves none, so that a repeated delete deletes nothing.
    const bool wasSelected = ItemIndex() == index;
    delete takeItem(index);
    if (wasSelected)
        SetItemIndex(-1);
}

void g_listbox::Clear() {
    clear();
}

int g_listbox::IndexOf(const QString& text) const {
    for (int i = 0; i < count(); ++i)
        if (CompareText(item(i)->text(), text) == 0)
            return i;
    return -1;
}

int g_listbox::ItemIndex() const {
    const QList<QListWidgetItem*> selected = selectedItems();
    return selected.isEmpty() ? -1 : row(selected.first());
}

void g_listbox::SetItemIndex(int index) {
    if (index >= 0 && index < count()) {
        setCurrentRow(index, QItemSelectionModel::ClearAndSelect);
    } else {
        clearSelection();
        setCurrentRow(-1);
    }
}

void g_listbox::SetSorted(bool value) {
    if (value == FSorted)
        return;
    FSorted = value;
    if (!FSorted || count() < 2)
        return;
    QList<QListWidgetItem*> items;
    const int selected = ItemIndex();
    QListWidgetItem* keep = selected >= 0 ? item(selected) : nullptr;
    while (count() > 0)
        items.append(takeItem(0));
    std::stable_sort(items.begin(), items.end(), [](QListWidgetItem* a, QListWidgetItem* b) {
        return CompareText(a->text(), b->text()) < 0;
    });
    for (QListWidgetItem* it : items)
        addItem(it);
    if (keep)
        SetItemIndex(row(keep));
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
    THighlightControl<QListWidget>::resizeEvent(event);
    FitIntegralHeight();
}

void g_listbox::UserInput(const std::function<void()>& baseHandling) {
    const bool outer = !FUserInput;
    FUserInput = true;
    baseHandling();
    if (outer)
        FUserInput = false;
}

void g_listbox::mousePressEvent(QMouseEvent* event) {
    // A click below the last item keeps the selection, as list boxes do.
    if (!itemAt(event->position().toPoint())) {
        setFocus(Qt::MouseFocusReason);
        event->accept();
        return;
    }
    UserInput([&] { THighlightControl<QListWidget>::mousePressEvent(event); });
}

void g_listbox::mouseMoveEvent(QMouseEvent* event) {
    UserInput([&] { THighlightControl<QListWidget>::mouseMoveEvent(event); });
}

void g_listbox::keyPressEvent(QKeyEvent* event) {
    UserInput([&] { THighlightControl<QListWidget>::keyPressEvent(event); });
}

#include "hosts/SortedItems.h"

#include <QCollator>
#include <QLocale>
#include <algorithm>
#include <iterator>
#include <new>
#include <numeric>
#include <optional>
#include <string>
#include <string_view>

namespace hosts {

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

SortedItems::SortedItems(QObject* parent) : QAbstractListModel(parent) {}

SortedItems::~SortedItems() = default;

int SortedItems::CompareText(const QString& a, const QString& b) {
    return collator().compare(a, b);
}

int SortedItems::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : Count();
}

QVariant SortedItems::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.model() != this || !InRange(index.row()))
        return {};
    const Row& row = FRows[static_cast<std::size_t>(index.row())];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return row.text;
    case Qt::UserRole:
        return row.data;
    case Qt::AccessibleTextRole:
        return row.spoken.isNull() ? QVariant() : QVariant(row.spoken);
    default:
        return {};
    }
}

bool SortedItems::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || index.model() != this || !InRange(index.row()))
        return false;
    if (role == Qt::UserRole) {
        SetItemData(index.row(), value);
        return true;
    }
    if (role == Qt::AccessibleTextRole) {
        Row& row = FRows[static_cast<std::size_t>(index.row())];
        const QString spoken = value.toString();
        if (row.spoken == spoken && row.spoken.isNull() == spoken.isNull())
            return true;
        row.spoken = spoken;
        emit dataChanged(index, index, {Qt::AccessibleTextRole});
        return true;
    }
    return false;
}

Qt::ItemFlags SortedItems::flags(const QModelIndex& index) const {
    // As a list widget's items: what assistive technology reports of a row
    // stays the same.
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsSelectable | Qt::ItemIsUserCheckable | Qt::ItemIsEnabled |
           Qt::ItemIsDragEnabled | Qt::ItemNeverHasChildren;
}

QString SortedItems::Item(int index) const {
    return InRange(index) ? FRows[static_cast<std::size_t>(index)].text : QString();
}

QStringList SortedItems::Items() const {
    QStringList result;
    result.reserve(Count());
    for (const Row& row : FRows)
        result.append(row.text);
    return result;
}

QVariant SortedItems::ItemData(int index) const {
    return InRange(index) ? FRows[static_cast<std::size_t>(index)].data : QVariant();
}

void SortedItems::SetItemData(int index, const QVariant& data) {
    if (!InRange(index))
        return;
    Row& row = FRows[static_cast<std::size_t>(index)];
    if (row.data.isValid() == data.isValid() && SameData(row.data, data))
        return;
    const Mark mark = MarkOf(data);
    row.data = data;
    row.mark = mark;
    const QModelIndex at = this->index(index);
    emit dataChanged(at, at, DataRoles());
}

SortedItems::Mark SortedItems::MarkOf(const QVariant&) const {
    return 0;
}

bool SortedItems::SameData(const QVariant& a, const QVariant& b) const {
    return a == b;
}

QList<int> SortedItems::DataRoles() const {
    return {Qt::UserRole};
}

int SortedItems::AddItem(const QString& text, const QVariant& data) {
    int at = Count();
    if (FSorted) {
        // After the last item that does not sort behind the new one.
        int lo = 0, hi = Count();
        while (lo < hi) {
            const int mid = (lo + hi) / 2;
            if (CompareText(FRows[static_cast<std::size_t>(mid)].text, text) <= 0)
                lo = mid + 1;
            else
                hi = mid;
        }
        at = lo;
    }
    Row row{text, data, {}, MarkOf(data)};
    // Room first, so that nothing fails between the announcement and the
    // insertion.
    if (FRows.size() == FRows.capacity())
        FRows.reserve(std::max<std::size_t>(16, FRows.size() * 2));
    beginInsertRows({}, at, at);
    FRows.insert(FRows.begin() + at, std::move(row));
    endInsertRows();
    return at;
}

void SortedItems::DeleteItem(int index) {
    if (!InRange(index))
        return;
    beginRemoveRows({}, index, index);
    FRows.erase(FRows.begin() + index);
    endRemoveRows();
}

void SortedItems::Clear() {
    beginResetModel();
    FRows.clear();
    endResetModel();
}

int SortedItems::IndexOf(const QString& text) const {
    for (int i = 0; i < Count(); ++i)
        if (CompareText(FRows[static_cast<std::size_t>(i)].text, text) == 0)
            return i;
    return -1;
}

int SortedItems::AddItems(const QStringList& texts, const QVariantList& data, int follow) {
    if (texts.isEmpty())
        return follow;
    return Fill(false, texts, data, follow);
}

void SortedItems::SetItems(const QStringList& texts, const QVariantList& data) {
    Fill(true, texts, data, -1);
}

int SortedItems::SetSorted(bool value, int follow) {
    if (value == FSorted)
        return follow;
    if (!value || Count() < 2) {
        FSorted = value;
        return follow;
    }
    const std::vector<int> order = sortedOrder(Items());
    std::vector<Row> next;
    next.reserve(order.size());
    int moved = -1;
    for (std::size_t i = 0; i < order.size(); ++i) {
        next.push_back(FRows[static_cast<std::size_t>(order[i])]);
        if (order[i] == follow)
            moved = static_cast<int>(i);
    }
    Replace(next);
    FSorted = true;
    return moved;
}

int SortedItems::Fill(bool replace, const QStringList& texts, const QVariantList& data,
                      int follow) {
    const std::size_t present = replace ? 0 : FRows.size();
    const auto added = static_cast<std::size_t>(texts.size());
    auto newRow = [&](std::size_t i) {
        QVariant d = i < static_cast<std::size_t>(data.size()) ? data[qsizetype(i)] : QVariant();
        const Mark mark = MarkOf(d);
        return Row{texts[qsizetype(i)], std::move(d), {}, mark};
    };

    // Everything the list will hold is made before anything changes, so
    // that running out of memory there leaves the list as it was. The
    // present items come first, so that they stay ahead of equal new texts.
    std::vector<int> order;
    if (FSorted)
        order = sortedOrder(present ? Items() + texts : texts);
    // Items in a sorted list are added at its end and then moved into
    // their places, so that views keep their selection.
    const bool resort = FSorted && present > 0;
    std::vector<Row> rows;
    rows.reserve(added);
    for (std::size_t i = 0; i < added; ++i)
        rows.push_back(newRow(FSorted && !resort ? static_cast<std::size_t>(order[i]) : i));
    if (replace) {
        Replace(rows);
        return -1;
    }
    std::vector<Row> sorted;
    std::vector<int> position;
    int moved = follow;
    if (resort) {
        sorted.reserve(present + added);
        position.resize(present + added);
        for (std::size_t i = 0; i < order.size(); ++i) {
            const auto from = static_cast<std::size_t>(order[i]);
            sorted.push_back(from < present ? FRows[from] : rows[from - present]);
            position[from] = static_cast<int>(i);
        }
        moved = follow >= 0 && static_cast<std::size_t>(follow) < present ? position[follow] : -1;
    }
    FRows.reserve(present + added);

    bool sortedIn = false;
    try {
        beginInsertRows({}, static_cast<int>(present), static_cast<int>(present + added) - 1);
        FRows.insert(FRows.end(), std::make_move_iterator(rows.begin()),
                     std::make_move_iterator(rows.end()));
        endInsertRows();
        if (resort) {
            emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
            const QModelIndexList from = persistentIndexList();
            QModelIndexList to;
            to.reserve(from.size());
            for (const QModelIndex& at : from)
                to.append(index(position[static_cast<std::size_t>(at.row())], at.column()));
            FRows.swap(sorted);
            sortedIn = true;
            changePersistentIndexList(from, to);
            emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
        }
    } catch (const std::bad_alloc&) {
        // A model left half-way through a change is only sound again after
        // a reset; the earlier items then go back in one step.
        if (sortedIn)
            FRows.swap(sorted);
        FRows.resize(present);
        std::vector<Row> earlier;
        earlier.swap(FRows);
        Replace(earlier);
        throw;
    }
    return moved;
}

void SortedItems::Replace(std::vector<Row>& rows) {
    std::vector<Row> earlier;
    bool taken = false;
    bool placed = false;
    try {
        beginResetModel();
        earlier.swap(FRows);
        taken = true;
        endResetModel();
        if (!rows.empty()) {
            beginInsertRows({}, 0, static_cast<int>(rows.size()) - 1);
            FRows.swap(rows);
            placed = true;
            endInsertRows();
        }
    } catch (const std::bad_alloc&) {
        // As in Fill: a reset, and the earlier items back in one step.
        if (!taken)
            earlier.swap(FRows);
        if (placed)
            FRows.swap(rows);
        FRows.clear();
        beginResetModel();
        endResetModel();
        if (!earlier.empty()) {
            beginInsertRows({}, 0, static_cast<int>(earlier.size()) - 1);
            FRows.swap(earlier);
            endInsertRows();
        }
        throw;
    }
    rows.swap(earlier);
}

} // namespace hosts

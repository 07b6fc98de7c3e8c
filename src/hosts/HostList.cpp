#include "hosts/HostList.h"

#include "hosts/TPackedLines.h"

#include <algorithm>

namespace hosts {

namespace {

const QString TimedOut = QStringLiteral("timed out");

} // namespace

HostList::HostList(QObject* parent) : SortedItems(parent) {
    SetSorted(true);
}

QVariant HostList::data(const QModelIndex& index, int role) const {
    if (role == StateRole)
        return index.isValid() && index.model() == this && index.row() < Count()
                   ? QVariant(static_cast<int>(MarkAt(index.row())))
                   : QVariant();
    return SortedItems::data(index, role);
}

HostState HostList::State(int index) const {
    // The mark is the state's picture, so that an item never marked is none.
    if (index < 0 || index >= Count())
        return HostState::None;
    switch (MarkAt(index)) {
    case 1:
        return HostState::TimedOut;
    case 2:
        return HostState::Answered;
    default:
        return HostState::None;
    }
}

void HostList::SetResults(int index, const QStringList& lines) {
    SetItemData(index, Pack(lines));
}

HostState HostList::StateOf(const QVariant& results) {
    if (!results.isValid())
        return HostState::None;
    // The words hold no line break, so they are found in the joined text
    // exactly when one line holds them.
    if (results.metaType() == QMetaType::fromType<TPackedLines>())
        return results.value<TPackedLines>().Joined().contains(TimedOut) ? HostState::TimedOut
                                                                         : HostState::Answered;
    for (const QString& line : results.toStringList())
        if (line.contains(TimedOut))
            return HostState::TimedOut;
    return HostState::Answered;
}

QVariant HostList::Pack(const QStringList& lines) {
    // An empty text would unpack as one empty line, and a line break inside
    // a line as two lines: such lines stay a list.
    if (lines.isEmpty() ||
        std::any_of(lines.begin(), lines.end(), [](const QString& l) { return l.contains(u'\n'); }))
        return lines;
    return TPackedLines::FromJoined(lines.join(u'\n'));
}

SortedItems::Mark HostList::MarkOf(const QVariant& data) const {
    return static_cast<Mark>(states::PictureIndex(StateOf(data)));
}

bool HostList::SameData(const QVariant& a, const QVariant& b) const {
    if (a.metaType() == b.metaType())
        return a == b;
    return a.toStringList() == b.toStringList();
}

QList<int> HostList::DataRoles() const {
    return {Qt::UserRole, StateRole};
}

} // namespace hosts

#pragma once

#include "hosts/SortedItems.h"
#include "states/HostState.h"

#include <QStringList>
#include <cstdint>

namespace hosts {

// What the last run of a host showed: None, TimedOut or Answered of the
// program's one vocabulary of host states (whose PictureIndex gives the
// picture).
using states::HostState;

// The main window's hosts: a sorted list of entry texts, each with the
// result lines of its last run and its state, worked out once when the
// results are stored. The results are an item's data (Qt::UserRole): none,
// or the lines, held packed into one text where they allow it (see
// TPackedLines), so that a session of hundreds of thousands of hosts loads
// into little memory. Qt::UserRole + 1 (StateRole) serves the state.
class HostList : public SortedItems {
    Q_OBJECT
public:
    static constexpr int StateRole = Qt::UserRole + 1;

    explicit HostList(QObject* parent = nullptr);

    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    bool HasResults(int index) const { return ItemData(index).isValid(); }
    // The result lines of an entry; empty for an entry without results.
    QStringList Results(int index) const { return ItemData(index).toStringList(); }
    HostState State(int index) const;
    // Stores the lines as the entry's results (an empty list is results
    // too, unlike none) and works out its state.
    void SetResults(int index, const QStringList& lines);

    // The state of results held as data: None without data, TimedOut when
    // any line contains "timed out", else Answered.
    static HostState StateOf(const QVariant& results);
    // The data for lines, packed where no line holds a line break itself.
    static QVariant Pack(const QStringList& lines);

protected:
    Mark MarkOf(const QVariant& data) const override;
    bool SameData(const QVariant& a, const QVariant& b) const override;
    QList<int> DataRoles() const override;
};

} // namespace hosts

#pragma once

#include "paths/PathWatch.h"
#include "paths/RouteTracker.h"

#include <QAbstractTableModel>
#include <QList>
#include <QString>
#include <array>
#include <vector>

namespace pathview {

// The table of a watched path, one row per responder of a hop: the hop's
// own columns (number, loss, forwarded loss, sent) on its first row and
// empty on the rows of the other responders below it, each responder's round
// trips on its own row, never merged. A hop that never answered is one row
// with "no answer" for its host and no figures. Loss and forwarded loss cover
// the last PathWatch::RecentRounds rounds, as in the reports; times are in
// ms with one decimal.
//
// Everything a row shows, says or paints is worked out in SetFigures, never
// while the view asks: the texts, the words a screen reader says for the row
// (Qt::AccessibleTextRole) and the levels of the heat strip (StripRole).
// The model holds no widgets, so it can be used without a display.
class PathTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column {
        Hop,
        Host,
        Loss,
        ForwardedLoss,
        Sent,
        Last,
        Avg,
        Best,
        Worst,
        StDev,
        Jitter,
        Recent,
        ColumnCount
    };
    // The heat strip of a row, as QList<double>: the responder's last round
    // trips, oldest first, each as a level from 0 to 1 of one scale for the
    // whole table (the 95th percentile of the round trips it shows; slower
    // ones are 1), so that rows compare at a glance.
    static constexpr int StripRole = Qt::UserRole + 1;
    // True on the first row of a hop (the one with its number).
    static constexpr int HopStartRole = Qt::UserRole + 2;

    explicit PathTableModel(QObject* parent = nullptr);

    // Where figures come from: the live watch, or minutes added up by the
    // history (history::PathTotals), which keeps no last, best or worst
    // round trip and no recent ones.
    enum class Origin { Live, Stored };
    // The text of a column the figures have no value for (last, best and
    // worst of stored figures): a dash, so that no one reads 0 ms.
    static const QString NoValue;

    // Shows figures: the rows both have are changed in place, the rest
    // inserted or removed at the end, so that the selection and the
    // scrolling of a view stay where they were while the path keeps its
    // shape.
    void SetFigures(const paths::PathFigures& figures, Origin origin = Origin::Live);
    const paths::PathFigures& Figures() const { return FFigures; }
    Origin FiguresOrigin() const { return FOrigin; }

    // What a screen reader says for the row: "hop 3, 10.61.3.2 r3.nsd.test,
    // loss 0 %, forwarded loss 0 %, average 1.2 ms".
    QString RowText(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    struct Row {
        std::array<QString, Recent> texts; // the columns before the strip
        QString spoken;
        QString stripSpoken;
        QList<double> strip;
        bool hopStart = false;
    };
    static std::vector<Row> RowsOf(const paths::PathFigures& figures, Origin origin);

    paths::PathFigures FFigures;
    Origin FOrigin = Origin::Live;
    std::vector<Row> FRows;
};

// A route change as the Path window lists it, with its local time:
// "2026-03-04 14:03:21  route changed: 10.0.0.1 10.0.0.2 → 10.0.0.1 10.0.0.5".
QString RouteChangeText(const paths::RouteChange& change);

} // namespace pathview

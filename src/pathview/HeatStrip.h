#pragma once

#include <QStyledItemDelegate>

namespace pathview {

// Paints a row's heat strip (PathTableModel::StripRole): one bar per round
// trip, the newest at the right, its colour running from the palette's base
// to its highlight as the round trip grows, so that slow stretches stand
// out. Drawn with rectangles in device-independent pixels: sharp at any
// scale factor, with nothing scaled from a bitmap.
class HeatStrip : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // Bars the strip has room for: one per round trip kept.
    static constexpr int Bars = 100;
    // The width of a bar, in device-independent pixels.
    static constexpr int BarWidth = 2;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // The colour of a level from 0 (fastest) to 1 (slowest in the table):
    // never quite the base, so that even the fastest round trip shows.
    static QColor LevelColor(const QPalette& palette, double level);
};

} // namespace pathview

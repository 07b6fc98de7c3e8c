#include "pathview/HeatStrip.h"

#include "pathview/PathTableModel.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>
#include <algorithm>
#include <cmath>

namespace pathview {

namespace {

// How far even the fastest round trip is from the base colour.
constexpr double MinLevel = 0.3;
constexpr int Margin = 2;

} // namespace

QColor HeatStrip::LevelColor(const QPalette& palette, double level) {
    const double t = MinLevel + (1 - MinLevel) * std::clamp(level, 0.0, 1.0);
    const QColor base = palette.color(QPalette::Active, QPalette::Base);
    const QColor high = palette.color(QPalette::Active, QPalette::Highlight);
    const auto mix = [t](int a, int b) { return static_cast<int>(std::lround(a + (b - a) * t)); };
    return QColor(mix(base.red(), high.red()), mix(base.green(), high.green()),
                  mix(base.blue(), high.blue()));
}

void HeatStrip::paint(QPainter* painter, const QStyleOptionViewItem& option,
                      const QModelIndex& index) const {
    // The cell's background and selection as the style draws them.
    QStyleOptionViewItem cell = option;
    initStyleOption(&cell, index);
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, widget);

    const QList<double> levels = index.data(PathTableModel::StripRole).value<QList<double>>();
    const QRect area = option.rect.adjusted(Margin, Margin, -Margin, -Margin);
    if (area.width() <= 0 || area.height() <= 0)
        return;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->setPen(Qt::NoPen);
    // A trough the width of a full strip, so that a short one reads as young.
    const int width = std::min(area.width(), Bars * BarWidth);
    const QRect trough(area.right() - width + 1, area.top(), width, area.height());
    QColor troughColor = option.palette.color(QPalette::Active, QPalette::Base);
    troughColor =
        troughColor.lightness() > 128 ? troughColor.darker(106) : troughColor.lighter(130);
    painter->fillRect(trough, troughColor);
    const int shown = std::min<int>(static_cast<int>(levels.size()), width / BarWidth);
    for (int i = 0; i < shown; ++i) {
        const double level = levels[levels.size() - shown + i];
        const int x = trough.right() + 1 - (shown - i) * BarWidth;
        painter->fillRect(QRect(x, trough.top(), BarWidth, trough.height()),
                          LevelColor(option.palette, level));
    }
    painter->restore();
}

QSize HeatStrip::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setWidth(Bars * BarWidth + 2 * Margin);
    return size;
}

} // namespace pathview

#include "controls/BevelFrame.h"

#include "controls/SystemColors.h"

#include <QGuiApplication>
#include <QPainter>
#include <cmath>

namespace {

struct RingColors {
    TColor C1, C2, C3;
};

RingColors ringColors(TPanelBevel_ex kind, bool circular) {
    switch (kind) {
    case TPanelBevel_ex::bvxlowered:
        return circular ? RingColors{cl3DDkShadow, clBtnShadow, clBtnHighlight}
                        : RingColors{clBtnShadow, clBtnHighlight, clBtnHighlight};
    case TPanelBevel_ex::bvxmorelowered:
        return circular ? RingColors{cl3DDkShadow, clBtnShadow, clBtnFace}
                        : RingColors{cl3DDkShadow, clBtnFace, clBtnFace};
    default:
        return circular ? RingColors{clBtnHighlight, clBtnShadow, cl3DDkShadow}
                        : RingColors{clBtnHighlight, clBtnShadow, clBtnShadow};
    }
}

void fill(QPainter& canvas, int x, int y, int w, int h, const QColor& color) {
    if (w > 0 && h > 0)
        canvas.fillRect(x, y, w, h, color);
}

// One rectangular ring on the pixels L..R-1, T..B-1. The first colour owns
// the left edge with the bottom-left corner and the top edge with the
// top-left corner; the second the right and bottom edges with their corners.
void rectRing(QPainter& canvas, int L, int T, int R, int B, const QColor& c1, const QColor& c2) {
    if (R - L < 1 || B - T < 1)
        return; // nothing left inside the previous rings
    fill(canvas, L, T + 1, 1, B - 1 - T, c1);
    fill(canvas, L, T, R - 1 - L, 1, c1);
    fill(canvas, R - 1, T, 1, B - 1 - T, c2);
    fill(canvas, L + 1, B - 1, R - 1 - L, 1, c2);
}

// One elliptic ring on the ellipse covering the pixels L..R-1, T..B-1. Each
// arc runs counter-clockwise from the ray through its start point to the ray
// through its end point; rays are turned into the ellipse's own angles.
void ellipseRing(QPainter& canvas, int L, int T, int R, int B, const QColor& c1, const QColor& c2,
                 const QColor& c3) {
    if (R - L < 1 || B - T < 1)
        return;
    const QRectF box(L + 0.5, T + 0.5, R - L - 1, B - T - 1);
    const qreal cx = L + (R - L - 1) / 2.0, cy = T + (B - T - 1) / 2.0;
    const qreal a = qMax<qreal>((R - L - 1) / 2.0, 0.5), b = qMax<qreal>((B - T - 1) / 2.0, 0.5);
    auto angleOf = [&](int x, int y) {
        const qreal deg = std::atan2((cy - y) / b, (x - cx) / a) * 180.0 / M_PI;
        return deg < 0 ? deg + 360.0 : deg;
    };
    const int q = (B - T) / 4, e = (R - L) / 8;
    const int y3 = T + 3 * q, y2 = T + 2 * q, x7 = L + 7 * e, x1 = L + e;
    auto arc = [&](const QColor& color, QPoint from, QPoint to) {
        const qreal start = angleOf(from.x(), from.y());
        qreal span = angleOf(to.x(), to.y()) - start;
        if (span <= 0)
            span += 360.0;
        canvas.setPen(QPen(color, 1, Qt::SolidLine));
        canvas.drawArc(box, qRound(start * 16), qRound(span * 16));
    };
    arc(c3, {x1, B}, {R, y2});
    arc(c2, {L, y3}, {x1, B});
    arc(c2, {R, y2}, {x7, T});
    arc(c1, {x7, T}, {L, y3});
}

} // namespace

QRect DrawBevelFrame(QPainter& canvas, const QRect& rect, TPanelBevel_ex kind, bool circular,
                     int rings, const QPalette& palette) {
    QRect r = rect;
    if (rings <= 0)
        return r;
    const RingColors colors = ringColors(kind, circular);
    const QColor c1 = EdgeColor(colors.C1, palette), c2 = EdgeColor(colors.C2, palette),
                 c3 = EdgeColor(colors.C3, palette);
    canvas.save();
    canvas.setRenderHint(QPainter::Antialiasing, false);
    canvas.setCompositionMode(QPainter::CompositionMode_SourceOver);
    canvas.setBrush(Qt::NoBrush);
    for (int i = 0; i < rings; ++i) {
        const int L = r.left(), T = r.top(), R = r.left() + r.width(), B = r.top() + r.height();
        if (circular)
            ellipseRing(canvas, L, T, R, B, c1, c2, c3);
        else
            rectRing(canvas, L, T, R, B, c1, c2);
        r.adjust(1, 1, -1, -1);
    }
    canvas.restore();
    canvas.setPen(QPen(canvas.pen().color(), 1, Qt::SolidLine));
    canvas.setBrush(Qt::NoBrush);
    canvas.setCompositionMode(QPainter::CompositionMode_SourceOver);
    return r;
}

QRect DrawBevelFrame(QPainter& canvas, const QRect& rect, TPanelBevel_ex kind, bool circular,
                     int rings) {
    return DrawBevelFrame(canvas, rect, kind, circular, rings, QGuiApplication::palette());
}

#include "controls/ButtonFaces.h"

#include "controls/BevelFrame.h"
#include "controls/GradientPanel.h"
#include "controls/SystemColors.h"

#include <QPainter>

namespace {

// The outline of r, its right and bottom edges exclusive, in one colour.
void Outline(QPainter& canvas, const QRect& r, const QColor& c) {
    if (r.width() <= 0 || r.height() <= 0)
        return;
    canvas.fillRect(QRect(r.x(), r.y(), r.width(), 1), c);
    canvas.fillRect(QRect(r.x(), r.y() + r.height() - 1, r.width(), 1), c);
    canvas.fillRect(QRect(r.x(), r.y(), 1, r.height()), c);
    canvas.fillRect(QRect(r.x() + r.width() - 1, r.y(), 1, r.height()), c);
}

// One ring: lit colour on the left and top edges, dark colour on the right
// and bottom edges (which own the top-right and bottom-left corners).
void Ring(QPainter& canvas, const QRect& r, const QColor& lit, const QColor& dark) {
    if (r.width() <= 0 || r.height() <= 0)
        return;
    const int right = r.x() + r.width() - 1;
    const int bottom = r.y() + r.height() - 1;
    canvas.fillRect(QRect(r.x(), r.y(), r.width() - 1, 1), lit);
    canvas.fillRect(QRect(r.x(), r.y(), 1, r.height() - 1), lit);
    canvas.fillRect(QRect(right, r.y(), 1, r.height()), dark);
    canvas.fillRect(QRect(r.x(), bottom, r.width(), 1), dark);
}

} // namespace

void DrawPushFrame(QPainter& canvas, QRect& r) {
    Ring(canvas, r, EdgeColor(clBtnHighlight), EdgeColor(cl3DDkShadow));
    r.adjust(1, 1, -1, -1);
    Ring(canvas, r, clBtnFace.Resolve(), EdgeColor(clBtnShadow));
    r.adjust(1, 1, -1, -1);
    if (r.width() > 0 && r.height() > 0)
        canvas.fillRect(r, clBtnFace.Resolve());
}

void DrawBoxFace(QPainter& canvas, QRect& r, bool pressed, bool active) {
    if (active) {
        Outline(canvas, r, clWindowFrame.Resolve());
        r.adjust(1, 1, -1, -1);
    }
    if (pressed) {
        if (r.width() > 0 && r.height() > 0)
            canvas.fillRect(r, clBtnFace.Resolve());
        Outline(canvas, r, EdgeColor(clBtnShadow));
        r.adjust(1, 1, -1, -1);
    } else {
        DrawPushFrame(canvas, r);
    }
}

void DrawCircFace(QPainter& canvas, const QRect& r, bool pressed, bool active) {
    canvas.save();
    canvas.setPen(Qt::NoPen);
    canvas.setBrush(clBtnFace.Resolve());
    canvas.drawEllipse(r);
    canvas.restore();
    const QRect inner = DrawBevelFrame(
        canvas, r, pressed ? TPanelBevel_ex::bvxlowered : TPanelBevel_ex::bvxraised, true, 1);
    if (active && !pressed)
        DrawBevelFrame(canvas, inner, TPanelBevel_ex::bvxraised, true, 1);
}

void DrawArcFace(QPainter& canvas, const QRect& r, bool pressed) {
    QRect inner = DrawBevelFrame(canvas, r, TPanelBevel_ex::bvxlowered, false, 1);
    inner = DrawBevelFrame(canvas, inner, TPanelBevel_ex::bvxraised, false, 1);
    if (pressed)
        DrawGradient(canvas, inner, clBtnShadow, clBtnHighlight);
    else
        DrawGradient(canvas, inner, clBtnHighlight, clBtnShadow);
}

void DrawFlatFace(QPainter& canvas, const QRect& r, bool pressed, bool active, bool mouseInside) {
    const QRect f = r.adjusted(0, 0, -1, -1);
    if (f.width() > 0 && f.height() > 0)
        canvas.fillRect(f, clBtnFace.Resolve());
    if (mouseInside && !pressed) {
        DrawBevelFrame(canvas, f, TPanelBevel_ex::bvxraised, false, 1);
    } else if (active && !pressed) {
        const QRect inner = DrawBevelFrame(canvas, f, TPanelBevel_ex::bvxlowered, false, 1);
        DrawBevelFrame(canvas, inner, TPanelBevel_ex::bvxraised, false, 1);
    } else if (pressed) {
        DrawBevelFrame(canvas, f, TPanelBevel_ex::bvxlowered, false, 1);
    }
}

void DrawFocusRect(QPainter& canvas, const QRect& r) {
    if (r.width() <= 0 || r.height() <= 0)
        return;
    canvas.save();
    canvas.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    canvas.setPen(Qt::NoPen);
    const QColor invert(255, 255, 255);
    const int right = r.x() + r.width() - 1;
    const int bottom = r.y() + r.height() - 1;
    // Every other pixel along the outline, each pixel inverted once.
    auto dot = [&](int x, int y) {
        if (((x - r.x()) + (y - r.y())) % 2 == 0)
            canvas.fillRect(QRect(x, y, 1, 1), invert);
    };
    for (int x = r.x(); x <= right; ++x) {
        dot(x, r.y());
        if (bottom != r.y())
            dot(x, bottom);
    }
    for (int y = r.y() + 1; y < bottom; ++y) {
        dot(r.x(), y);
        if (right != r.x())
            dot(right, y);
    }
    canvas.restore();
}

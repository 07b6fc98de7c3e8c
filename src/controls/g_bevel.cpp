#include "controls/g_bevel.h"

#include "controls/GraphicControl.h"
#include "controls/SystemColors.h"

#include <QEvent>
#include <QPainter>

g_bevel::g_bevel(QWidget* parent) : QWidget(parent) {
    resize(50, 50);
    StackAsGraphicControl(this);
}

void g_bevel::SetShape(TBevelShape value) {
    if (value != FShape) {
        FShape = value;
        update();
    }
}

void g_bevel::SetStyle(TBevelStyle value) {
    if (value != FStyle) {
        FStyle = value;
        update();
    }
}

void g_bevel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const bool lowered = FStyle == TBevelStyle::bsLowered;
    // The dark colour goes where light cannot reach: top-left when lowered.
    const QColor first = EdgeColor(lowered ? clBtnShadow : clBtnHighlight);
    const QColor second = EdgeColor(lowered ? clBtnHighlight : clBtnShadow);
    const int w = width(), h = height();
    auto box = [&p](int x, int y, int bw, int bh, const QColor& topLeft,
                    const QColor& bottomRight) {
        p.fillRect(x, y, bw - 1, 1, topLeft);
        p.fillRect(x, y, 1, bh - 1, topLeft);
        p.fillRect(x + bw - 1, y, 1, bh, bottomRight);
        p.fillRect(x, y + bh - 1, bw, 1, bottomRight);
    };
    switch (FShape) {
    case TBevelShape::bsBox:
        box(0, 0, w, h, first, second);
        break;
    case TBevelShape::bsFrame:
        box(0, 0, w - 1, h - 1, first, first);
        box(1, 1, w - 1, h - 1, second, second);
        break;
    case TBevelShape::bsTopLine:
        p.fillRect(0, 0, w, 1, first);
        p.fillRect(0, 1, w, 1, second);
        break;
    case TBevelShape::bsBottomLine:
        p.fillRect(0, h - 2, w, 1, first);
        p.fillRect(0, h - 1, w, 1, second);
        break;
    case TBevelShape::bsLeftLine:
        p.fillRect(0, 0, 1, h, first);
        p.fillRect(1, 0, 1, h, second);
        break;
    case TBevelShape::bsRightLine:
        p.fillRect(w - 2, 0, 1, h, first);
        p.fillRect(w - 1, 0, 1, h, second);
        break;
    case TBevelShape::bsSpacer:
        break;
    }
}

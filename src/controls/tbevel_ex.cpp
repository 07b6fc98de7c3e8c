#include "controls/tbevel_ex.h"

#include "controls/GraphicControl.h"

#include <QEvent>
#include <QPainter>

tbevel_ex::tbevel_ex(QWidget* parent) : QWidget(parent) {
    resize(50, 50);
    StackAsGraphicControl(this);
}

void tbevel_ex::SetShape(tbevelshape_ex value) {
    Assign(FShape, value);
}
void tbevel_ex::SetBevelOutter(TPanelBevel_ex value) {
    Assign(FBevelOutter, value);
}
void tbevel_ex::SetWidthOutter(int value) {
    Assign(FWidthOutter, value);
}
void tbevel_ex::SetBevelInner(TPanelBevel_ex value) {
    Assign(FBevelInner, value);
}
void tbevel_ex::SetWidthInner(int value) {
    Assign(FWidthInner, value);
}
void tbevel_ex::SetBorderWidth(int value) {
    Assign(FBorderWidth, value);
}
void tbevel_ex::SetBorderHeight(int value) {
    Assign(FBorderHeight, value);
}
void tbevel_ex::SetClrOutter(std::optional<TColor> value) {
    Assign(FClrOutter, value);
}
void tbevel_ex::SetClrInner(std::optional<TColor> value) {
    Assign(FClrInner, value);
}

void tbevel_ex::Fill(QPainter& p, const QRect& r, TColor color) const {
    if (r.width() <= 0 || r.height() <= 0)
        return;
    if (FShape == tbevelshape_ex::bsxBox) {
        p.fillRect(r, color.Resolve());
    } else {
        p.save();
        p.setPen(Qt::NoPen);
        p.setBrush(color.Resolve());
        p.drawEllipse(r);
        p.restore();
    }
}

void tbevel_ex::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const bool circular = FShape == tbevelshape_ex::bsxcircular;
    QRect r = rect();
    if (FClrOutter)
        Fill(p, r, *FClrOutter);
    if (FBevelOutter != TPanelBevel_ex::bvxnone)
        r = DrawBevelFrame(p, r, FBevelOutter, circular, FWidthOutter);
    r.adjust(FBorderWidth, FBorderHeight, -FBorderWidth, -FBorderHeight);
    if (FClrInner)
        Fill(p, r, *FClrInner);
    if (FBevelInner != TPanelBevel_ex::bvxnone)
        DrawBevelFrame(p, r, FBevelInner, circular, FWidthInner);
}

#include "controls/g_panel.h"

#include "controls/BevelFrame.h"

#include <QPainter>

g_panel::g_panel(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent, true);
    resize(185, 41);
}

void g_panel::SetBevelOuter(TPanelBevel value) {
    FBevelOuter = value;
    update();
}

void g_panel::SetBevelInner(TPanelBevel value) {
    FBevelInner = value;
    update();
}

void g_panel::SetBevelWidth(int value) {
    FBevelWidth = value;
    update();
}

void g_panel::SetBorderWidth(int value) {
    FBorderWidth = value;
    update();
}

void g_panel::SetCaption(const QString& value) {
    FCaption = value;
    update();
}

void g_panel::SetColor(TColor value) {
    FColor = value;
    update();
}

namespace {

// Draws one bevel (or leaves its room empty for bvSpace) and returns the
// rectangle inside it.
QRect drawPanelBevel(QPainter& p, const QRect& r, TPanelBevel bevel, int width) {
    switch (bevel) {
    case TPanelBevel::bvNone:
        return r;
    case TPanelBevel::bvSpace:
        return r.adjusted(width, width, -width, -width);
    case TPanelBevel::bvLowered:
        return DrawBevelFrame(p, r, TPanelBevel_ex::bvxlowered, false, width);
    case TPanelBevel::bvRaised:
        return DrawBevelFrame(p, r, TPanelBevel_ex::bvxraised, false, width);
    }
    return r;
}

} // namespace

void g_panel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), FColor.Resolve());
    QRect r = drawPanelBevel(p, rect(), FBevelOuter, FBevelWidth);
    r.adjust(FBorderWidth, FBorderWidth, -FBorderWidth, -FBorderWidth);
    r = drawPanelBevel(p, r, FBevelInner, FBevelWidth);
    if (!FCaption.isEmpty()) {
        p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled,
                                 QPalette::WindowText));
        p.drawText(r, Qt::AlignCenter | Qt::TextShowMnemonic, FCaption);
    }
}

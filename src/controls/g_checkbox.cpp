#include "controls/g_checkbox.h"

#include <QEnterEvent>
#include <QFocusEvent>

g_checkbox::g_checkbox(QWidget* parent) : QCheckBox(parent) {
    FSavedFontColor = FFontColor;
    connect(this, &QCheckBox::toggled, this, [this] { FireEvent(OnClick, this); });
}

void g_checkbox::SetFontColor(TColor value) {
    FFontColor = value;
    ApplyColors();
}

void g_checkbox::SetHoverLook(bool on) {
    SetFontColor(on ? clHighlight : FSavedFontColor);
}

void g_checkbox::focusInEvent(QFocusEvent* event) {
    SetHoverLook(false);
    QCheckBox::focusInEvent(event);
}

void g_checkbox::enterEvent(QEnterEvent* event) {
    if (!hasFocus())
        SetHoverLook(true);
    QCheckBox::enterEvent(event);
}

void g_checkbox::leaveEvent(QEvent* event) {
    if (!hasFocus())
        SetHoverLook(false);
    QCheckBox::leaveEvent(event);
}

void g_checkbox::changeEvent(QEvent* event) {
    QCheckBox::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && !FApplying)
        ApplyColors();
}

void g_checkbox::ApplyColors() {
    FApplying = true;
    QPalette p = palette();
    const QColor text = FFontColor.Resolve();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        p.setColor(group, QPalette::WindowText, text);
        p.setColor(group, QPalette::ButtonText, text);
    }
    setPalette(p);
    FApplying = false;
}

#include "controls/g_label3d.h"

#include "controls/GraphicControl.h"

#include <QEvent>
#include <QKeySequence>
#include <QMouseEvent>
#include <QPainter>
#include <QShortcut>

g_label3d::g_label3d(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent, true);
    resize(65, 17);
    StackAsGraphicControl(this);
    FShortcut = new QShortcut(this);
    FShortcut->setContext(Qt::WindowShortcut);
    connect(FShortcut, &QShortcut::activated, this, &g_label3d::Accelerate);
    // When another control of the window uses the same key, Qt hands the key
    // to each of them in turn; the label then moves the focus as well.
    connect(FShortcut, &QShortcut::activatedAmbiguously, this, &g_label3d::Accelerate);
}

g_label3d::~g_label3d() {
    if (FFocusControl)
        FFocusControl->removeEventFilter(this);
}

void g_label3d::SetCaption(const QString& value) {
    if (value == FCaption)
        return;
    FCaption = value;
    update();
    FitToText();
    UpdateAccelerator();
}

void g_label3d::SetTipo3D(T3D value) {
    if (value != FTipo3D) {
        FTipo3D = value;
        update();
    }
}

void g_label3d::SetAlignment(TAlignment value) {
    if (value != FAlignment) {
        FAlignment = value;
        update();
    }
}

void g_label3d::SetAutoSize(bool value) {
    if (value != FAutoSize) {
        FAutoSize = value;
        FitToText();
    }
}

void g_label3d::SetWordWrap(bool value) {
    if (value != FWordWrap) {
        FWordWrap = value;
        FitToText();
    }
}

void g_label3d::SetShowAccelChar(bool value) {
    if (value != FShowAccelChar) {
        FShowAccelChar = value;
        update();
        UpdateAccelerator();
    }
}

void g_label3d::SetTransparent(bool value) {
    if (value != FTransparent) {
        FTransparent = value;
        setAttribute(Qt::WA_OpaquePaintEvent, !value);
        update();
    }
}

void g_label3d::SetFocusControl(QWidget* value) {
    if (FFocusControl)
        FFocusControl->removeEventFilter(this);
    FFocusControl = value;
    if (value) {
        // Watches the control's enabled state and visibility, and its end.
        value->installEventFilter(this);
        connect(value, &QObject::destroyed, this, &g_label3d::UpdateAccelerator,
                Qt::UniqueConnection);
    }
    UpdateAccelerator();
}

TColor g_label3d::Color() const {
    if (FColor)
        return *FColor;
    return TColor::FromQColor(palette().color(QPalette::Window));
}

void g_label3d::SetColor(TColor value) {
    if (FColor && *FColor == value)
        return;
    FColor = value;
    update();
}

void g_label3d::SetFontColor(TColor value) {
    if (value == FFontColor)
        return;
    FFontColor = value;
    update();
}

void g_label3d::DrawLabelText(QPainter* canvas, QRect& rect, unsigned format) const {
    QString text = LabelText();
    if (((format & DT_CALCRECT) && text.isEmpty()) ||
        (FShowAccelChar && text == QLatin1String("&")))
        text += QLatin1Char(' ');
    if (!FShowAccelChar)
        format |= DT_NOPREFIX;
    QRect r;
    if (format & DT_CALCRECT) {
        r = Measure3DText(QFontMetrics(font(), this), rect, text, format);
    } else {
        canvas->setFont(font());
        canvas->setPen(FFontColor.Resolve());
        const T3D style = isEnabled() ? FTipo3D : T3D::Grisado;
        r = Draw3DText(*canvas, rect, text, style, format);
    }
    rect = r.adjusted(-1, -1, 1, 1);
}

void g_label3d::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (!FTransparent)
        p.fillRect(rect(), Color().Resolve());
    p.setBrush(Qt::NoBrush);
    const unsigned align = FAlignment == TAlignment::taRightJustify ? DT_RIGHT
                           : FAlignment == TAlignment::taCenter     ? DT_CENTER
                                                                    : DT_LEFT;
    QRect r = rect();
    DrawLabelText(&p, r, align | DT_EXPANDTABS | DT_WORDBREAK);
}

void g_label3d::FitToText() {
    if (!FAutoSize)
        return;
    QRect r = rect();
    DrawLabelText(nullptr, r, DT_EXPANDTABS | DT_CALCRECT | (FWordWrap ? DT_WORDBREAK : 0));
    // r runs from (-3, -3) to the text's extent plus 3, right and bottom
    // exclusive: the new size is that right and bottom edge.
    const int right = r.left() + r.width();
    const int bottom = r.top() + r.height();
    int left = x();
    if (FAlignment == TAlignment::taRightJustify)
        left = x() + width() - right;
    setGeometry(left, y(), right, bottom);
}

void g_label3d::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    switch (event->type()) {
    case QEvent::FontChange:
        FitToText();
        break;
    case QEvent::EnabledChange:
        update();
        UpdateAccelerator();
        break;
    default:
        break;
    }
}

bool g_label3d::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::EnabledChange:
    case QEvent::Show:
    case QEvent::Hide:
    case QEvent::ShowToParent:
    case QEvent::HideToParent:
        if (watched == FFocusControl)
            UpdateAccelerator();
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

// Whether the focus control could take the focus now: it is shown (with all
// its parents), enabled and accepts the focus at all.
bool g_label3d::FocusControlCanFocus() const {
    return FFocusControl && FFocusControl->isVisible() && FFocusControl->isEnabled() &&
           FFocusControl->focusPolicy() != Qt::NoFocus;
}

// The accelerator is registered only while pressing it would move the focus,
// so that in every other case the key stays with the other handlers. Showing,
// hiding, enabling or disabling the focus control or one of its parents
// reaches it as an event and updates the registration.
void g_label3d::UpdateAccelerator() {
    QKeySequence key;
    if (FocusControlCanFocus() && isEnabled() && FShowAccelChar)
        key = QKeySequence::mnemonic(LabelText());
    if (FShortcut->key() != key)
        FShortcut->setKey(key);
}

void g_label3d::Accelerate() {
    if (FocusControlCanFocus() && isEnabled() && FShowAccelChar)
        FFocusControl->setFocus(Qt::ShortcutFocusReason);
}

void g_label3d::mouseReleaseEvent(QMouseEvent* event) {
    QWidget::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        FireEvent(OnClick, this);
}

void g_label3d::mouseDoubleClickEvent(QMouseEvent* event) {
    QWidget::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton)
        FireEvent(OnDblClick, this);
}

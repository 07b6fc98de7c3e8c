#include "controls/TCBitBtn.h"

#include "controls/ButtonFaces.h"
#include "controls/ButtonSounds.h"
#include "controls/KindBitmaps.h"
#include "controls/ModalResult.h"
#include "controls/SystemColors.h"
#include "controls/TButtonGlyph.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QVariant>

TCBitBtn::TCBitBtn(QWidget* owner) : QPushButton(owner), FGlyph(std::make_unique<TButtonGlyph>()) {
    // Enter and Esc are the form's business; a focused button takes Enter
    // itself in keyPressEvent.
    setAutoDefault(false);
    FGlyph->OnChange = [this] { update(); };
    connect(this, &QAbstractButton::clicked, this, [this] { Click(); });
    FFocusConnection = connect(qApp, &QApplication::focusChanged, this,
                               [this](QWidget*, QWidget* now) { UpdateActiveRole(now); });
}

TCBitBtn::~TCBitBtn() {
    // The widget base clears the focus as it goes, which reports a focus
    // change; by then this is no longer a glyph button.
    disconnect(FFocusConnection);
}

const QImage& TCBitBtn::Glyph() const {
    return FGlyph->Glyph();
}

void TCBitBtn::SetGlyph(const QImage& value) {
    FGlyph->SetGlyph(value);
    FModifiedGlyph = true;
    update();
}

TBitBtnKind TCBitBtn::Kind() const {
    if (FKind != bkCustom) {
        if (FDefault != KindIsDefault(FKind) || FCancel != KindIsCancel(FKind) ||
            FModalResult != KindInfo(FKind).ModalResult || FModifiedGlyph)
            FKind = bkCustom;
    }
    return FKind;
}

void TCBitBtn::SetKind(TBitBtnKind value) {
    // Compared with the kind as read, so that a kind whose role, result or
    // glyph was changed since can be given again.
    if (value == Kind())
        return;
    if (value == bkCustom) {
        FKind = value;
        update();
        return;
    }
    SetDefault(KindIsDefault(value));
    SetCancel(KindIsCancel(value));
    if (!FLoading || text().isEmpty())
        setText(KindCaption(value));
    FModalResult = KindInfo(value).ModalResult;
    FGlyph->SetGlyph(GetKindBitmap(value));
    FGlyph->SetNumGlyphs(2);
    FModifiedGlyph = false;
    FKind = value;
    update();
}

void TCBitBtn::SetLayout(TButtonLayout value) {
    if (value != FLayout) {
        FLayout = value;
        update();
    }
}

void TCBitBtn::SetMargin(int value) {
    if (value != FMargin && value >= -1) {
        FMargin = value;
        update();
    }
}

int TCBitBtn::NumGlyphs() const {
    return FGlyph->NumGlyphs();
}

void TCBitBtn::SetNumGlyphs(int value) {
    if (value > 4)
        value = 4;
    if (value != FGlyph->NumGlyphs()) {
        FGlyph->SetNumGlyphs(value);
        update();
    }
}

void TCBitBtn::SetSpacing(int value) {
    if (value != FSpacing) {
        FSpacing = value;
        update();
    }
}

void TCBitBtn::SetStyle(TButtonStyle value) {
    if (value != FStyle) {
        FStyle = value;
        update();
    }
}

void TCBitBtn::SetBtnShape(TBtnShape value) {
    if (value != FBtnShape) {
        FBtnShape = value;
        update();
    }
}

T3D TCBitBtn::Tipo3D() const {
    return CircButton::ButtonTipo3DEnabled ? FTipo3D : T3D::normal;
}

void TCBitBtn::SetTipo3D(T3D value) {
    if (value != FTipo3D) {
        FTipo3D = value;
        update();
    }
}

bool TCBitBtn::IgnoreLight() const {
    return CircButton::ForceIgnoreLight || FIgnoreLight;
}

void TCBitBtn::SetIgnoreLight(bool value) {
    if (value != FIgnoreLight) {
        FIgnoreLight = value;
        update();
    }
}

void TCBitBtn::SetDefault(bool value) {
    if (value == FDefault)
        return;
    FDefault = value;
    if (QWidget* w = window(); w != this)
        UpdateActiveRole(w->focusWidget());
}

void TCBitBtn::SetCancel(bool value) {
    FCancel = value;
}

void TCBitBtn::UpdateActiveRole(QWidget* focused) {
    // Focus moving to another window, or leaving the application, does not
    // change the role within this button's form.
    if (focused && focused->window() != window())
        return;
    bool active = false;
    if (focused == this)
        active = true;
    else
        active = FDefault && !qobject_cast<QPushButton*>(focused);
    SetButtonStyle(active);
}

void TCBitBtn::SetButtonStyle(bool active) {
    if (active != FIsActive) {
        FIsActive = active;
        repaint();
    }
}

void TCBitBtn::Click() {
    if (CircButton::ClickSounds)
        PlayButtonSound(0);
    const TBitBtnKind kind = Kind();
    if (kind == bkHelp) {
        for (QWidget* w = this; w; w = w->parentWidget()) {
            const int context = w->property("HelpContext").toInt();
            if (context != 0) {
                if (auto show = CircButton::ShowHelp)
                    show(context);
                return;
            }
        }
    } else if (kind == bkClose) {
        if (QWidget* form = window(); form != this) {
            form->close();
            return;
        }
    }
    if (auto* form = dynamic_cast<TModalForm*>(window()))
        form->SetModalResult(FModalResult);
    FireEvent(OnClick, this);
}

bool TCBitBtn::HoverRepaint() const {
    return (!IgnoreLight() && !CircButton::HoverGrowFont) || FBtnShape == bnsFlat;
}

void TCBitBtn::GrowFont(int points) {
    QFont f = font();
    if (f.pointSizeF() > 0) {
        f.setPointSizeF(f.pointSizeF() + points);
    } else if (f.pixelSize() > 0) {
        f.setPixelSize(f.pixelSize() + qRound(points * logicalDpiY() / 72.0));
    }
    setFont(f);
}

void TCBitBtn::EnterHover() {
    const bool wasInside = FMouseInside;
    FMouseInside = true;
    if (!IgnoreLight())
        FLit = true;
    // A second enter without a leave must not grow the font again.
    if (CircButton::HoverGrowFont && !wasInside) {
        GrowFont(2);
        FGrown += 2;
    }
    if (HoverRepaint())
        update();
}

void TCBitBtn::LeaveHover() {
    if (!FMouseInside && !FLit)
        return;
    FMouseInside = false;
    FLit = false;
    if (FGrown != 0) {
        GrowFont(-FGrown);
        FGrown = 0;
    }
    if (HoverRepaint())
        update();
}

void TCBitBtn::enterEvent(QEnterEvent* event) {
    QPushButton::enterEvent(event);
    EnterHover();
}

void TCBitBtn::leaveEvent(QEvent* event) {
    QPushButton::leaveEvent(event);
    LeaveHover();
}

void TCBitBtn::changeEvent(QEvent* event) {
    QPushButton::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) {
        // The disabled images hold the 3D colours of the palette they were
        // rendered under.
        FGlyph->Invalidate();
        update();
    }
    if (event->type() == QEvent::FontChange || event->type() == QEvent::EnabledChange)
        update();
}

void TCBitBtn::showEvent(QShowEvent* event) {
    QPushButton::showEvent(event);
    FGlyph->RenderStateImage(isEnabled() ? bsUp : bsDisabled);
}

void TCBitBtn::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    const auto mods = event->modifiers() & ~Qt::KeypadModifier;
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && mods == Qt::NoModifier) {
        click();
        event->accept();
        return;
    }
    QPushButton::keyPressEvent(event);
}

void TCBitBtn::paintEvent(QPaintEvent*) {
    QPainter canvas(this);
    PaintButton(canvas, isDown(), hasFocus());
}

void TCBitBtn::PaintButton(QPainter& canvas, bool pressed, bool focusmark) {
    const QRect client = rect();
    QRect r = client;
    const TButtonState state = !isEnabled() ? bsDisabled : pressed ? bsDown : bsUp;
    if (CircButton::ClickSounds && pressed)
        PlayButtonSound(1);

    TBtnShape shape = FBtnShape;
    if (shape == bnsArc && !CircButton::ArcShapeEnabled)
        shape = bnsBox;
    const bool a = FIsActive || focusmark;
    switch (shape) {
    case bnsBox:
        DrawBoxFace(canvas, r, pressed, a);
        break;
    case bnsCirc:
        DrawCircFace(canvas, r, pressed, a);
        break;
    case bnsArc:
        DrawArcFace(canvas, r, pressed);
        break;
    case bnsFlat:
        DrawFlatFace(canvas, r, pressed, a, FMouseInside);
        break;
    }

    if (FIsActive && shape != bnsFlat)
        r = client.adjusted(2, 2, -2, -2);

    QFont f = font();
    f.setBold(CircButton::BoldCaptions);
    canvas.setFont(f);
    canvas.setPen(clBtnText.Resolve());

    // A pressed caption moves down and right, except on the shaded face,
    // whose pressed look is the reversed shading alone.
    if (pressed && shape != bnsArc)
        r.translate(1, 1);
    const bool lit = FLit || IgnoreLight() || FIsActive;
    FGlyph->Draw(canvas, r, text(), FLayout, FMargin, FSpacing, state, Tipo3D(), lit);

    if (FIsActive && FBtnShape != bnsFlat) {
        QRect focus = client.adjusted(4, 4, -4, -4);
        if (pressed)
            focus.translate(1, 1);
        DrawFocusRect(canvas, focus);
    }
}

#pragma once

#include "controls/ButtonTypes.h"
#include "controls/Draw3D.h"
#include "platform/Events.h"

#include <QImage>
#include <QPushButton>
#include <functional>
#include <memory>

class TButtonGlyph;

// Switches that decide the behaviour of every glyph button of the program.
namespace CircButton {
inline bool ClickSounds = true;          // "DOWN" when painted pressed, "UP" on a click
inline bool HoverGrowFont = true;        // the font grows by 2 points under the mouse
inline bool ArcShapeEnabled = true;      // when off, bnsArc is drawn as bnsBox
inline bool ForceIgnoreLight = false;    // when on, IgnoreLight reads true everywhere
inline bool ButtonTipo3DEnabled = false; // when off, Tipo3D reads normal everywhere
inline bool BoldCaptions = false;        // when off, captions are never bold
// Shows the help of a context; a help button with a context calls it.
inline std::function<void(int context)> ShowHelp;
} // namespace CircButton

// The push button of every form: draws its own face in one of four shapes,
// shows a glyph beside, above or below its caption, lights the glyph and
// grows the caption while the mouse is over it, plays click sounds, and
// takes predefined kinds (OK, Cancel, ...) that set caption, glyph, modal
// result and the default and cancel roles at once.
class TCBitBtn : public QPushButton {
    Q_OBJECT
public:
    explicit TCBitBtn(QWidget* owner = nullptr);
    ~TCBitBtn() override;

    QString Caption() const { return text(); }
    void SetCaption(const QString& value) { setText(value); }

    const QImage& Glyph() const;
    void SetGlyph(const QImage& value);
    // The kind; reads bkCustom once the role, modal result or glyph no
    // longer matches what the kind set.
    TBitBtnKind Kind() const;
    void SetKind(TBitBtnKind value);
    TButtonLayout Layout() const { return FLayout; }
    void SetLayout(TButtonLayout value);
    int Margin() const { return FMargin; }
    // Values below -1 are ignored.
    void SetMargin(int value);
    int NumGlyphs() const;
    // Values above 4 become 4.
    void SetNumGlyphs(int value);
    int Spacing() const { return FSpacing; }
    void SetSpacing(int value);
    TButtonStyle Style() const { return FStyle; }
    void SetStyle(TButtonStyle value);
    TBtnShape BtnShape() const { return FBtnShape; }
    void SetBtnShape(TBtnShape value);
    T3D Tipo3D() const;
    void SetTipo3D(T3D value);
    bool IgnoreLight() const;
    void SetIgnoreLight(bool value);

    // The Enter button of its form while the focus is not on a button.
    bool Default() const { return FDefault; }
    void SetDefault(bool value);
    // The Esc button of its form.
    bool Cancel() const { return FCancel; }
    void SetCancel(bool value);
    int ModalResult() const { return FModalResult; }
    void SetModalResult(int value) { FModalResult = value; }

    // Set while the button is being set up from a form's description: a
    // kind assigned then keeps a caption that was already given.
    bool Loading() const { return FLoading; }
    void SetLoading(bool value) { FLoading = value; }

    // The active button of its form: focused, or the default button while
    // the focus is on a control that is not a button.
    bool IsActive() const { return FIsActive; }
    bool MouseInside() const { return FMouseInside; }
    bool Lit() const { return FLit; }
    TButtonGlyph& ButtonGlyph() { return *FGlyph; }

    // The button's click: the "UP" sound, the kind's own action (help,
    // close) or the modal result handed to the form, then OnClick.
    virtual void Click();

    TNotifyEvent OnClick;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

    // Paints the whole button; pressed and focusmark come from the button's
    // state at the time of the paint.
    void PaintButton(QPainter& canvas, bool pressed, bool focusmark);
    // Called with the new role when the button becomes or stops being the
    // active button of its form.
    virtual void SetButtonStyle(bool active);
    void EnterHover();
    void LeaveHover();

private:
    void UpdateActiveRole(QWidget* focused);
    void GrowFont(int points);
    bool HoverRepaint() const;

    std::unique_ptr<TButtonGlyph> FGlyph;
    QMetaObject::Connection FFocusConnection;
    mutable TBitBtnKind FKind = bkCustom;
    TButtonLayout FLayout = blGlyphLeft;
    int FMargin = -1;
    int FSpacing = 4;
    TButtonStyle FStyle = bsAutoDetect;
    TBtnShape FBtnShape = bnsFlat;
    T3D FTipo3D = T3D::hundido;
    bool FIgnoreLight = false;
    bool FDefault = false;
    bool FCancel = false;
    int FModalResult = 0;
    bool FLoading = false;
    bool FIsActive = false;
    bool FModifiedGlyph = false;
    bool FLit = false;
    bool FMouseInside = false;
    // Points the font has grown by while the mouse is over the button.
    int FGrown = 0;
};

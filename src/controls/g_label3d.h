#pragma once

#include "controls/Draw3D.h"
#include "controls/SystemColors.h"
#include "platform/Events.h"

#include <QPointer>
#include <QWidget>
#include <optional>

class QShortcut;

enum class TAlignment { taLeftJustify, taRightJustify, taCenter };

// A static text drawn in one of the 3D styles, on its parent's surface.
// An accelerator in the caption ("&x") gives the focus to FocusControl; the
// label can size itself to its text, and can leave its background unpainted.
class g_label3d : public QWidget {
    Q_OBJECT
public:
    explicit g_label3d(QWidget* parent = nullptr);
    ~g_label3d() override;

    QString Caption() const { return FCaption; }
    // Repaints and, with AutoSize, resizes to the new text.
    void SetCaption(const QString& value);
    T3D Tipo3D() const { return FTipo3D; }
    void SetTipo3D(T3D value);
    TAlignment Alignment() const { return FAlignment; }
    void SetAlignment(TAlignment value);
    bool AutoSize() const { return FAutoSize; }
    virtual void SetAutoSize(bool value);
    bool WordWrap() const { return FWordWrap; }
    void SetWordWrap(bool value);
    bool ShowAccelChar() const { return FShowAccelChar; }
    void SetShowAccelChar(bool value);
    bool Transparent() const { return FTransparent; }
    void SetTransparent(bool value);
    // Not owned; forgotten when it is destroyed.
    QWidget* FocusControl() const { return FFocusControl; }
    void SetFocusControl(QWidget* value);

    // Background colour; the parent's colour until one is set.
    TColor Color() const;
    void SetColor(TColor value);
    TColor FontColor() const { return FFontColor; }
    void SetFontColor(TColor value);

    // The text to draw; the caption unless a derived label says otherwise.
    virtual QString LabelText() const { return FCaption; }
    // Applies AutoSize: the label becomes its text's size plus 3 pixels.
    void FitToText();

    TNotifyEvent OnClick;
    TNotifyEvent OnDblClick;

protected:
    // Draws the caption into rect, or with DT_CALCRECT measures it (canvas
    // may then be null); rect becomes the result enlarged by 1 pixel.
    void DrawLabelText(QPainter* canvas, QRect& rect, unsigned format) const;

    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    bool FocusControlCanFocus() const;
    void UpdateAccelerator();
    void Accelerate();

    QString FCaption;
    T3D FTipo3D = T3D::hundido;
    TAlignment FAlignment = TAlignment::taLeftJustify;
    bool FAutoSize = true;
    bool FWordWrap = false;
    bool FShowAccelChar = true;
    bool FTransparent = false;
    QPointer<QWidget> FFocusControl;
    std::optional<TColor> FColor;
    TColor FFontColor = clWindowText;
    QShortcut* FShortcut = nullptr;
};

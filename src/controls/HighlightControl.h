#pragma once

#include "controls/SystemColors.h"
#include "platform/Events.h"

#include <QEnterEvent>
#include <QEvent>
#include <QFocusEvent>
#include <QPalette>
#include <QWidget>

// Shared behaviour of the edits, the memo and the list box: a resting
// background of the button face, ColorHigh while the control holds the input
// focus, and text in the selection colour while the pointer rests on the
// control without the focus. The control's own step always runs before the
// base widget's handling of the same event.
//
// Colours are kept as TColor and written into the widget's palette (the
// background into Base, the text into Text), resolved through the
// application's palette, and resolved again when that palette changes.
template <class Base> class THighlightControl : public Base {
public:
    explicit THighlightControl(QWidget* parent) : Base(parent) {
        SetColor(clBtnFace);
        FColorHigh = clWindow;
        FSavedFontColor = FFontColor;
        FSavedColor = FColor;
    }

    // Background colour; the resting one is the button face.
    TColor Color() const { return FColor; }
    void SetColor(TColor value) {
        FColor = value;
        ApplyColors();
    }
    // Text colour.
    TColor FontColor() const { return FFontColor; }
    void SetFontColor(TColor value) {
        FFontColor = value;
        ApplyColors();
    }
    // Background while the control holds the focus; used from the next time
    // the control receives it.
    TColor ColorHigh() const { return FColorHigh; }
    void SetColorHigh(TColor value) { FColorHigh = value; }

    // The control received or lost the focus within its window.
    TNotifyEvent OnEnter;
    TNotifyEvent OnExit;

protected:
    void focusInEvent(QFocusEvent* event) override {
        SetFocusLook(true);
        Base::focusInEvent(event);
        if (!IsWindowSwitch(event))
            Fire(OnEnter);
    }
    void focusOutEvent(QFocusEvent* event) override {
        SetFocusLook(false);
        Base::focusOutEvent(event);
        if (!IsWindowSwitch(event))
            Fire(OnExit);
    }
    void enterEvent(QEnterEvent* event) override {
        if (!this->hasFocus())
            SetHoverLook(true);
        Base::enterEvent(event);
    }
    void leaveEvent(QEvent* event) override {
        if (!this->hasFocus())
            SetHoverLook(false);
        Base::leaveEvent(event);
    }
    void changeEvent(QEvent* event) override {
        Base::changeEvent(event);
        // A new application palette reaches the control as a palette change
        // of its window; the own colours are resolved again.
        if (event->type() == QEvent::PaletteChange && !FApplying)
            ApplyColors();
    }

    void Fire(const TNotifyEvent& event) { FireEvent(event, this); }

private:
    void SetHoverLook(bool on) { SetFontColor(on ? clHighlight : FSavedFontColor); }
    void SetFocusLook(bool on) {
        FColor = on ? FColorHigh : FSavedColor;
        SetFontColor(FSavedFontColor);
    }

    // Focus that comes and goes with the whole window (another window was
    // activated, a popup opened) is not a move of the focus inside the window.
    static bool IsWindowSwitch(const QFocusEvent* event) {
        return event->reason() == Qt::ActiveWindowFocusReason ||
               event->reason() == Qt::PopupFocusReason;
    }

    void ApplyColors() {
        FApplying = true;
        QPalette p = this->palette();
        const QColor background = FColor.Resolve();
        const QColor text = FFontColor.Resolve();
        for (QPalette::ColorGroup group :
             {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
            p.setColor(group, QPalette::Base, background);
        for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive})
            p.setColor(group, QPalette::Text, text);
        this->setPalette(p);
        FApplying = false;
    }

    TColor FColor = clBtnFace;
    TColor FFontColor = clWindowText;
    TColor FColorHigh = clWindow;
    TColor FSavedColor = clBtnFace;
    TColor FSavedFontColor = clWindowText;
    bool FApplying = false;
};

#pragma once

#include "controls/SystemColors.h"
#include "platform/Events.h"

#include <QCheckBox>

// Check box whose caption turns to the selection colour while the pointer
// rests on it without the focus. Its background never changes.
class g_checkbox : public QCheckBox {
    Q_OBJECT
public:
    explicit g_checkbox(QWidget* parent = nullptr);

    bool Checked() const { return isChecked(); }
    // Setting a new state fires OnClick, as a click by the user does;
    // setting the state it already has does nothing.
    void SetChecked(bool value) { setChecked(value); }

    TColor FontColor() const { return FFontColor; }
    void SetFontColor(TColor value);

    // The checked state changed, by the user or by code.
    TNotifyEvent OnClick;

protected:
    void focusInEvent(QFocusEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void SetHoverLook(bool on);
    void ApplyColors();

    TColor FFontColor = clWindowText;
    TColor FSavedFontColor = clWindowText;
    bool FApplying = false;
};

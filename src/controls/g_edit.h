#pragma once

#include "controls/HighlightControl.h"

#include <QLineEdit>

// Single-line edit that changes colour with focus and mouse.
class g_edit : public THighlightControl<QLineEdit> {
    Q_OBJECT
public:
    explicit g_edit(QWidget* parent = nullptr);

    // The text changed, by the user or by code.
    TNotifyEvent OnChange;
};

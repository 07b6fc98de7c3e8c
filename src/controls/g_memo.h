#pragma once

#include "controls/HighlightControl.h"

#include <QPlainTextEdit>

// Multi-line edit that changes colour with focus and mouse.
class g_memo : public THighlightControl<QPlainTextEdit> {
    Q_OBJECT
public:
    explicit g_memo(QWidget* parent = nullptr);

    // The text changed, by the user or by code.
    TNotifyEvent OnChange;
};

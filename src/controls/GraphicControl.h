#pragma once

class QWidget;

// Windowless controls (labels, bevels, images) are drawn on their parent's
// surface, beneath every windowed control of that parent and above the
// windowless controls created before them. These helpers keep that order for
// Qt widgets, which otherwise stack strictly by creation.

// Marks w as windowless and moves it beneath its windowed siblings. Call it
// when w is created; it is restacked whenever it gets another parent.
void StackAsGraphicControl(QWidget* w);

bool IsGraphicControl(const QWidget* w);

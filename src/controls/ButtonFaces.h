#pragma once

#include <QRect>

class QPainter;

// The faces of the glyph button. active is true for the active button of a
// form and for a focused button. The box face shrinks r to the content area
// inside its frame; the other faces leave r alone.
void DrawBoxFace(QPainter& canvas, QRect& r, bool pressed, bool active);
void DrawCircFace(QPainter& canvas, const QRect& r, bool pressed, bool active);
void DrawArcFace(QPainter& canvas, const QRect& r, bool pressed);
// The flat face leaves the last column and row of r unpainted.
void DrawFlatFace(QPainter& canvas, const QRect& r, bool pressed, bool active, bool mouseInside);

// The classic raised push-button frame, two rings, with the inside filled in
// the button face colour; r becomes the content area inside the frame.
void DrawPushFrame(QPainter& canvas, QRect& r);
// A dotted rectangle that inverts every other pixel of r's outline.
void DrawFocusRect(QPainter& canvas, const QRect& r);

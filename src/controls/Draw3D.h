#pragma once

#include <QPalette>
#include <QPoint>
#include <QRect>
#include <QString>
#include <cstdint>

class QFontMetrics;
class QPainter;

// The 3D styles of a text.
enum class T3D : std::uint8_t {
    hundido,     // engraved: a highlight copy below-right of the text
    sobresalido, // embossed: a highlight copy above-left of the text
    normal,      // the text alone
    Grisado,     // greyed: a highlight copy below-right, the text in clGrayText
    Sombreado,   // drop shadow: a shadow copy below-right, the text moved up-left
};

// Text-drawing flags understood by Draw3DText; the values are those of the
// classic text-drawing call, so flag sets can be stored and combined as numbers.
inline constexpr unsigned DT_LEFT = 0x0;
inline constexpr unsigned DT_TOP = 0x0;
inline constexpr unsigned DT_CENTER = 0x1;
inline constexpr unsigned DT_RIGHT = 0x2;
inline constexpr unsigned DT_VCENTER = 0x4;
inline constexpr unsigned DT_BOTTOM = 0x8;
inline constexpr unsigned DT_WORDBREAK = 0x10;
inline constexpr unsigned DT_SINGLELINE = 0x20;
inline constexpr unsigned DT_EXPANDTABS = 0x40;
inline constexpr unsigned DT_CALCRECT = 0x400;
inline constexpr unsigned DT_NOPREFIX = 0x800;

// The three successive displacements of a style's copies; Flag is false for
// the style without copies (normal), whose points are then all zero.
struct T3DOffsets {
    bool Flag = false;
    QPoint P1, P2, P3;
};

T3DOffsets Get3DOffsets(T3D style);

// Draws text into rect in the given style using the painter's font, or with
// DT_CALCRECT only measures it: the result then keeps rect's top-left corner,
// spans the text's extent and is enlarged by 2 pixels on every side. Drawing
// returns rect unchanged. The pen colour is the text colour: the final copy is
// drawn in it (clGrayText for Grisado) and it is left set to that colour; the
// brush is cleared. System colours are resolved through palette.
QRect Draw3DText(QPainter& canvas, const QRect& rect, const QString& text, T3D style,
                 unsigned format, const QPalette& palette);
// The same, resolving system colours through the application's palette.
QRect Draw3DText(QPainter& canvas, const QRect& rect, const QString& text, T3D style,
                 unsigned format);

// The measuring half of Draw3DText, for callers without a painter: the extent
// of text laid out in rect with format (DT_CALCRECT need not be set),
// enlarged by 2 pixels on every side.
QRect Measure3DText(const QFontMetrics& metrics, const QRect& rect, const QString& text,
                    unsigned format);

// Qt's text flags for a set of text-drawing flags, alignment bits included.
int QtTextFlags(unsigned format);

#pragma once

#include <QPalette>
#include <QRect>
#include <cstdint>

class QPainter;

// The kind of a bevel.
enum class TPanelBevel_ex : std::uint8_t {
    bvxnone,        // no bevel
    bvxlowered,     // sunk into the surface
    bvxraised,      // raised from the surface
    bvxmorelowered, // sunk deeper, with the darkest shadow colour
};

// Draws `rings` one-pixel 3D rings of the given kind just inside rect, each
// inside the previous one, as rectangles or as ellipses inscribed in the
// rectangle, and returns rect shrunk by one pixel on every side per ring.
// With rings <= 0 nothing is drawn and rect comes back unchanged. Leaves the
// pen solid and one pixel wide and the brush cleared. System colours are
// resolved through palette.
QRect DrawBevelFrame(QPainter& canvas, const QRect& rect, TPanelBevel_ex kind, bool circular,
                     int rings, const QPalette& palette);
// The same, resolving system colours through the application's palette.
QRect DrawBevelFrame(QPainter& canvas, const QRect& rect, TPanelBevel_ex kind, bool circular,
                     int rings);

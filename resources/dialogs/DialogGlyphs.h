#pragma once

#include <QImage>
#include <QStringList>

// The glyph pictures of the address dialog's buttons, drawn in code so that
// the committed PNG files can be made again from this source: 18 x 18 pixel
// images on an olive background (the transparent colour, also in the
// bottom-left pixel), as strips of the normal and the disabled image, or the
// normal image alone.
namespace DialogGlyphs {

constexpr int Size = 18;

// Names of the glyphs; each is stored as "<name>.png".
QStringList Names();

// Scales drawn beside the design's size, for screens scaled by that much;
// written as "<name>@<scale>x.png".
constexpr int Scales[] = {2, 3};

// The strip for name: two images side by side, or one for a one-image glyph,
// drawn scale times as large (scale 1 is the design's picture).
QImage Make(const QString& name, int scale = 1);

} // namespace DialogGlyphs

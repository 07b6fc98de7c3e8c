#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>

// The program's own pictures, drawn in code so that the committed files can
// be made again from this source: the program icon (scalable and at fixed
// sizes), the three state pictures of the address list, the picture of the
// about box and the glyph of the automatic-mode button.
namespace AppArtwork {

// Pixel sizes of the committed icon files "icons/netsonde-<size>.png".
QList<int> IconSizes();
// The icon at size x size pixels, on a transparent background.
QImage Icon(int size);
// The same icon as an SVG document ("netsonde.svg").
QByteArray IconSvg();

// Width and height of one state picture.
constexpr int StateSize = 32;
// The state pictures side by side ("states.png"): not checked (a red
// exclamation mark), timed out (a yellow one), answered (a red tick in a
// grey box), on a transparent background.
QImage States(int scale = 1);

// The about box's picture ("about.png"): 305 x 137 pixels in 24-bit colour
// with the product's title.
QImage About(int scale = 1);

// The automatic-mode button's glyph ("auto.png"): a strip of the normal and
// the disabled 18 x 18 image on an olive background, the transparent colour.
QImage AutoGlyph(int scale = 1);

// The states, the about picture and the glyph are drawn at the design's size
// (scale 1) and at these multiples of it for scaled screens, written as
// "<name>@<scale>x.png".
constexpr int Scales[] = {2, 3};

// Every file the generator writes, relative to its output folder, with its
// contents.
struct File {
    QString path;
    QByteArray data;
};
QList<File> Files();

} // namespace AppArtwork

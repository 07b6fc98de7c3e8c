#pragma once

#include <QImage>
#include <QString>

// The program's pictures for scaled screens. Beside "name.png" a resource
// may hold "name@2x.png" and "name@3x.png", drawn two and three times as
// large; the image loaded carries its scale as device pixel ratio, so that
// painting it at its logical size puts every one of its pixels on a pixel of
// the screen.

// The picture at path for screens scaled by ratio: the variant of the
// smallest scale that is at least ratio (else the largest there is), or the
// picture itself for a ratio of 1 or less and when no variant exists.
QImage LoadScaledImage(const QString& path, qreal ratio);

// The same for the highest scale of the program's screens.
QImage LoadScaledImage(const QString& path);

// The size a picture takes on the screen, in device-independent pixels.
QSize LogicalSize(const QImage& image);

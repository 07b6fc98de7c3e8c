#pragma once

#include <QImage>
#include <QSize>
#include <vector>

class QPainter;

// An image list for images of one size. Slots are released one by one; a
// released slot is reused by the next image added before the list grows.
class TGlyphList {
public:
    TGlyphList(int width, int height);

    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    // Number of slots in use.
    int Count() const { return FCount; }
    // Slots allocated, used or free.
    int Capacity() const { return static_cast<int>(FImages.size()); }

    // Adds image (cut or padded to the list's size) with every pixel of the
    // colour mask made transparent. Returns the slot index.
    int AddMasked(const QImage& image, QRgb mask);
    // Releases a slot; releasing a free or unknown slot does nothing.
    void Delete(int index);
    // The image of a slot (transparent where masked); null when free.
    QImage Image(int index) const;
    void Draw(QPainter& canvas, int index, int x, int y) const;

private:
    int FWidth;
    int FHeight;
    int FCount = 0;
    std::vector<QImage> FImages;
    std::vector<bool> FUsed;
};

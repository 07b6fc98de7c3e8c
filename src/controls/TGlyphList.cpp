#include "controls/TGlyphList.h"

#include <QPainter>

TGlyphList::TGlyphList(int width, int height) : FWidth(width), FHeight(height) {}

int TGlyphList::AddMasked(const QImage& image, QRgb mask) {
    QImage masked(FWidth, FHeight, QImage::Format_ARGB32);
    masked.setDevicePixelRatio(image.devicePixelRatio());
    masked.fill(Qt::transparent);
    const QImage src = image.convertToFormat(QImage::Format_RGB32);
    const int w = std::min(FWidth, src.width());
    const int h = std::min(FHeight, src.height());
    const QRgb key = mask & 0xFFFFFF;
    for (int y = 0; y < h; ++y) {
        const QRgb* in = reinterpret_cast<const QRgb*>(src.constScanLine(y));
        QRgb* out = reinterpret_cast<QRgb*>(masked.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const QRgb p = in[x] & 0xFFFFFF;
            out[x] = p == key ? 0 : (0xFF000000 | p);
        }
    }

    int index = 0;
    while (index < Capacity() && FUsed[index])
        ++index;
    if (index == Capacity()) {
        FImages.push_back(masked);
        FUsed.push_back(true);
    } else {
        FImages[index] = masked;
        FUsed[index] = true;
    }
    ++FCount;
    return index;
}

void TGlyphList::Delete(int index) {
    if (index < 0 || index >= Capacity() || !FUsed[index])
        return;
    FUsed[index] = false;
    FImages[index] = QImage();
    --FCount;
}

QImage TGlyphList::Image(int index) const {
    if (index < 0 || index >= Capacity() || !FUsed[index])
        return {};
    return FImages[index];
}

void TGlyphList::Draw(QPainter& canvas, int index, int x, int y) const {
    const QImage img = Image(index);
    if (!img.isNull())
        canvas.drawImage(x, y, img);
}

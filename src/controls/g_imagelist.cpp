#include "controls/g_imagelist.h"

#include <QPainter>

void g_imagelist::SetSize(int width, int height) {
    if (width == FWidth && height == FHeight)
        return;
    FWidth = width;
    FHeight = height;
    FImages.clear();
}

int g_imagelist::Add(const QImage& strip) {
    if (FWidth <= 0 || FHeight <= 0 || strip.width() < FWidth)
        return -1;
    const int first = Count();
    const QImage argb = strip.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    for (int x = 0; x + FWidth <= argb.width(); x += FWidth) {
        QImage image(FWidth, FHeight, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter p(&image);
        p.drawImage(0, 0, argb, x, 0, FWidth, FHeight);
        p.end();
        FImages.append(image);
    }
    return first;
}

QImage g_imagelist::Image(int index) const {
    return index >= 0 && index < Count() ? FImages[index] : QImage();
}

void g_imagelist::Draw(QPainter& canvas, int x, int y, int index, bool enabled) const {
    if (index < 0 || index >= Count())
        return;
    if (enabled) {
        canvas.drawImage(x, y, FImages[index]);
        return;
    }
    QImage grey = FImages[index];
    for (int row = 0; row < grey.height(); ++row) {
        auto* line = reinterpret_cast<QRgb*>(grey.scanLine(row));
        for (int col = 0; col < grey.width(); ++col) {
            const int g = qGray(qUnpremultiply(line[col]));
            line[col] = qPremultiply(qRgba(g, g, g, qAlpha(line[col])));
        }
    }
    canvas.drawImage(x, y, grey);
}

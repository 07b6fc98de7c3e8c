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
    // A strip for a scaled screen holds its images at that many pixels each.
    const qreal ratio = strip.devicePixelRatio();
    const int width = qRound(FWidth * ratio);
    const int height = qRound(FHeight * ratio);
    if (FWidth <= 0 || FHeight <= 0 || strip.width() < width)
        return -1;
    const int first = Count();
    QImage argb = strip.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    argb.setDevicePixelRatio(1);
    for (int x = 0; x + width <= argb.width(); x += width) {
        QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter p(&image);
        p.drawImage(0, 0, argb, x, 0, width, height);
        p.end();
        image.setDevicePixelRatio(ratio);
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

#include "DialogGlyphs.h"

#include <QPainter>
#include <QPainterPath>

namespace DialogGlyphs {

namespace {

const QRgb Background = qRgb(128, 128, 0);
const QRgb White = qRgb(255, 255, 255);
const QRgb Grey = qRgb(128, 128, 128);

QImage blank(int scale) {
    QImage image(Size * scale, Size * scale, QImage::Format_RGB32);
    image.fill(Background);
    return image;
}

QPen pen(const QColor& colour, int width) {
    QPen p(colour, width);
    p.setCapStyle(Qt::SquareCap);
    p.setJoinStyle(Qt::MiterJoin);
    return p;
}

void check(QPainter& p) {
    p.setPen(pen(QColor(0, 128, 0), 3));
    p.drawLine(3, 9, 7, 13);
    p.drawLine(7, 13, 14, 4);
}

void cross(QPainter& p, const QRect& r, const QColor& colour) {
    p.setPen(pen(colour, 2));
    p.drawLine(r.topLeft(), r.bottomRight());
    p.drawLine(r.bottomLeft(), r.topRight());
}

void plus(QPainter& p, int cx, int cy, int arm) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 128, 0));
    p.drawRect(cx - arm, cy - 1, 2 * arm + 1, 3);
    p.drawRect(cx - 1, cy - arm, 3, 2 * arm + 1);
}

// A sheet of a list with a few lines of text.
void sheet(QPainter& p) {
    p.setPen(QColor(0, 0, 0));
    p.setBrush(QColor(255, 255, 255));
    p.drawRect(2, 1, 11, 15);
    p.setPen(QColor(0, 0, 128));
    for (int y = 4; y <= 13; y += 3)
        p.drawLine(4, y, 11, y);
}

void one(QPainter& p) {
    plus(p, 8, 8, 6);
}

void range(QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 128));
    for (int y = 2; y <= 14; y += 4)
        p.drawRect(1, y, 5, 2);
    plus(p, 12, 9, 4);
}

void remove(QPainter& p) {
    sheet(p);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(192, 0, 0));
    p.drawRect(8, 11, 9, 3);
}

void removeAll(QPainter& p) {
    sheet(p);
    cross(p, QRect(6, 6, 10, 10), QColor(192, 0, 0));
}

void load(QPainter& p) {
    p.setPen(QColor(0, 0, 0));
    p.setBrush(QColor(255, 255, 0));
    p.drawPolygon(QPolygon(
        {QPoint(1, 5), QPoint(5, 5), QPoint(6, 6), QPoint(13, 6), QPoint(13, 15), QPoint(1, 15)}));
    p.setBrush(QColor(192, 160, 0));
    p.drawPolygon(QPolygon({QPoint(1, 15), QPoint(4, 9), QPoint(16, 9), QPoint(13, 15)}));
    // Arrow out of the folder.
    p.setPen(pen(QColor(0, 0, 160), 2));
    p.drawLine(9, 5, 14, 2);
    p.drawLine(14, 2, 11, 1);
    p.drawLine(14, 2, 14, 5);
}

void save(QPainter& p) {
    p.setPen(QColor(0, 0, 0));
    p.setBrush(QColor(0, 0, 160));
    p.drawRect(1, 1, 15, 15);
    p.setBrush(QColor(255, 255, 255));
    p.drawRect(4, 1, 9, 6);
    p.setBrush(QColor(192, 192, 192));
    p.drawRect(4, 10, 9, 6);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0));
    p.drawRect(10, 2, 2, 4);
}

void draw(const QString& name, QPainter& p) {
    if (name == QLatin1String("ok"))
        check(p);
    else if (name == QLatin1String("cancel"))
        cross(p, QRect(3, 3, 11, 11), QColor(192, 0, 0));
    else if (name == QLatin1String("addone"))
        one(p);
    else if (name == QLatin1String("addrange"))
        range(p);
    else if (name == QLatin1String("remove"))
        remove(p);
    else if (name == QLatin1String("removeall"))
        removeAll(p);
    else if (name == QLatin1String("load"))
        load(p);
    else if (name == QLatin1String("save"))
        save(p);
}

// The disabled look: the shape's outline embossed in white and grey.
QImage disabled(const QImage& normal, int scale) {
    QImage image = blank(scale);
    const int size = Size * scale;
    for (int pass = 0; pass < 2; ++pass) {
        const int shift = pass == 0 ? scale : 0;
        const QRgb ink = pass == 0 ? White : Grey;
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) {
                // Light areas (paper, folder) stay open; only the drawing's lines count.
                const QRgb c = normal.pixel(x, y);
                if (c == Background || qGray(c) >= 200)
                    continue;
                const int tx = x + shift, ty = y + shift;
                if (tx < size && ty < size)
                    image.setPixel(tx, ty, ink);
            }
        }
    }
    return image;
}

} // namespace

QStringList Names() {
    return {"ok", "cancel", "addone", "addrange", "remove", "removeall", "load", "save"};
}

QImage Make(const QString& name, int scale) {
    const int size = Size * scale;
    QImage normal = blank(scale);
    {
        QPainter p(&normal);
        p.setRenderHint(QPainter::Antialiasing, false);
        p.scale(scale, scale);
        draw(name, p);
    }
    // Keep the bottom-left pixel free: it names the transparent colour.
    normal.setPixel(0, size - 1, Background);
    if (name == QLatin1String("save"))
        return normal;
    QImage strip(2 * size, size, QImage::Format_RGB32);
    QPainter p(&strip);
    p.drawImage(0, 0, normal);
    p.drawImage(size, 0, disabled(normal, scale));
    p.end();
    return strip;
}

} // namespace DialogGlyphs

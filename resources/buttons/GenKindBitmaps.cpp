// Draws the glyph strips of the predefined button kinds and writes them as
// 16-colour PNG files: two images side by side, the normal one and the
// disabled one. Only simple shapes are used (no fonts), so the output is the
// same on every machine. Each strip is also drawn at two and three times the
// size ("CBBOK@2x.png", "CBBOK@3x.png") for screens scaled by that much.
//
//   gen_kind_bitmaps <output folder>

#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPolygon>
#include <cstdio>
#include <functional>

namespace {

constexpr QRgb Black = 0x000000, Maroon = 0x800000, Green = 0x008000, Olive = 0x808000,
               Navy = 0x000080, Purple = 0x800080, Teal = 0x008080, Silver = 0xC0C0C0,
               Gray = 0x808080, Red = 0xFF0000, Lime = 0x00FF00, Yellow = 0xFFFF00, Blue = 0x0000FF,
               Fuchsia = 0xFF00FF, Aqua = 0x00FFFF, White = 0xFFFFFF;

QList<QRgb> Palette16() {
    QList<QRgb> table;
    for (QRgb c : {Black, Maroon, Green, Olive, Navy, Purple, Teal, Silver, Gray, Red, Lime, Yellow,
                   Blue, Fuchsia, Aqua, White})
        table.push_back(0xFF000000 | c);
    return table;
}

QPen Pen(QRgb c, int width) {
    QPen p{QColor::fromRgb(c)};
    p.setWidth(width);
    p.setCapStyle(Qt::SquareCap);
    p.setJoinStyle(Qt::MiterJoin);
    return p;
}

void Check(QPainter& p, int dx, int dy) {
    p.setPen(Pen(Green, 3));
    p.drawPolyline(
        QPolygon({QPoint(3 + dx, 9 + dy), QPoint(7 + dx, 13 + dy), QPoint(14 + dx, 4 + dy)}));
    p.setPen(Pen(Lime, 1));
    p.drawPolyline(
        QPolygon({QPoint(3 + dx, 8 + dy), QPoint(7 + dx, 12 + dy), QPoint(14 + dx, 3 + dy)}));
}

void Cross(QPainter& p) {
    p.setPen(Pen(Maroon, 3));
    p.drawLine(4, 4, 13, 13);
    p.drawLine(13, 4, 4, 13);
    p.setPen(Pen(Red, 1));
    p.drawLine(4, 4, 13, 13);
    p.drawLine(13, 4, 4, 13);
}

void Help(QPainter& p) {
    p.setPen(Pen(Navy, 2));
    p.drawArc(QRect(5, 2, 8, 7), 180 * 16, -225 * 16);
    p.drawLine(9, 9, 9, 11);
    p.fillRect(QRect(8, 13, 3, 3), QColor::fromRgb(Navy));
    p.setPen(Pen(Blue, 1));
    p.drawArc(QRect(5, 2, 8, 7), 160 * 16, -180 * 16);
}

void NoSign(QPainter& p) {
    p.setPen(Pen(Maroon, 2));
    p.drawEllipse(QRect(3, 3, 11, 11));
    p.setPen(Pen(Red, 2));
    p.drawLine(5, 12, 12, 5);
}

void Door(QPainter& p) {
    p.fillRect(QRect(3, 2, 8, 14), QColor::fromRgb(Maroon));
    p.fillRect(QRect(4, 3, 6, 12), QColor::fromRgb(Yellow));
    p.fillRect(QRect(8, 9, 1, 2), QColor::fromRgb(Black));
    p.setPen(Pen(Green, 2));
    p.drawLine(11, 9, 15, 9);
    p.setPen(Pen(Green, 1));
    p.drawLine(14, 6, 16, 9);
    p.drawLine(14, 12, 16, 9);
}

void Stop(QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor::fromRgb(Red));
    p.drawPolygon(QPolygon({QPoint(6, 2), QPoint(11, 2), QPoint(15, 6), QPoint(15, 11),
                            QPoint(11, 15), QPoint(6, 15), QPoint(2, 11), QPoint(2, 6)}));
    p.fillRect(QRect(5, 8, 8, 2), QColor::fromRgb(White));
}

void Retry(QPainter& p) {
    p.setPen(Pen(Teal, 2));
    p.drawArc(QRect(3, 3, 11, 11), 90 * 16, 270 * 16);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor::fromRgb(Teal));
    p.drawPolygon(QPolygon({QPoint(9, 0), QPoint(13, 3), QPoint(9, 6)}));
}

void Ignore(QPainter& p) {
    // Skip forward: two arrow heads and a bar.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor::fromRgb(Navy));
    p.drawPolygon(QPolygon({QPoint(2, 4), QPoint(8, 9), QPoint(2, 14)}));
    p.drawPolygon(QPolygon({QPoint(8, 4), QPoint(14, 9), QPoint(8, 14)}));
    p.fillRect(QRect(14, 4, 2, 11), QColor::fromRgb(Blue));
}

void All(QPainter& p) {
    Check(p, -1, -1);
    Check(p, 2, 4);
}

// The disabled image: the shape's silhouette in mid-grey with a white copy
// one (scaled) pixel right and down, on the background colour.
QImage Disabled(const QImage& normal, int shift) {
    QImage out(normal.size(), QImage::Format_RGB32);
    out.fill(QColor::fromRgb(Olive));
    auto ink = [&](int x, int y) { return (normal.pixel(x, y) & 0xFFFFFF) != Olive; };
    for (int y = 0; y < normal.height(); ++y)
        for (int x = 0; x < normal.width(); ++x)
            if (ink(x, y) && x + shift < out.width() && y + shift < out.height())
                out.setPixel(x + shift, y + shift, 0xFF000000 | White);
    for (int y = 0; y < normal.height(); ++y)
        for (int x = 0; x < normal.width(); ++x)
            if (ink(x, y))
                out.setPixel(x, y, 0xFF000000 | Gray);
    return out;
}

bool WriteAt(const QString& folder, const char* name, int height,
             const std::function<void(QPainter&)>& draw, int scale) {
    const int w = 18 * scale;
    const int h = height * scale;
    QImage normal(w, h, QImage::Format_RGB32);
    normal.fill(QColor::fromRgb(Olive));
    {
        QPainter p(&normal);
        p.setRenderHint(QPainter::Antialiasing, false);
        p.scale(scale, scale);
        draw(p);
    }
    QImage strip(2 * w, h, QImage::Format_RGB32);
    strip.fill(QColor::fromRgb(Olive));
    {
        QPainter p(&strip);
        p.drawImage(0, 0, normal);
        p.drawImage(w, 0, Disabled(normal, scale));
    }
    const QImage indexed = strip.convertToFormat(QImage::Format_Indexed8, Palette16(),
                                                 Qt::ThresholdDither | Qt::AvoidDither);
    const QString suffix = scale == 1 ? QString() : QStringLiteral("@%1x").arg(scale);
    const QString path = QDir(folder).filePath(QString::fromLatin1(name) + suffix + ".png");
    if (!indexed.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

bool Write(const QString& folder, const char* name, int height,
           const std::function<void(QPainter&)>& draw) {
    bool ok = true;
    for (int scale : {1, 2, 3})
        ok &= WriteAt(folder, name, height, draw, scale);
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: gen_kind_bitmaps <output folder>\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }
    bool ok = true;
    ok &= Write(folder, "CBBOK", 18, [](QPainter& p) { Check(p, 0, 0); });
    ok &= Write(folder, "CBBCANCEL", 18, Cross);
    ok &= Write(folder, "CBBHELP", 18, Help);
    ok &= Write(folder, "CBBYES", 18, [](QPainter& p) {
        p.setPen(Pen(Green, 1));
        p.drawEllipse(QRect(1, 1, 15, 15));
        Check(p, 0, 0);
    });
    ok &= Write(folder, "CBBNO", 18, NoSign);
    ok &= Write(folder, "CBBCLOSE", 18, Door);
    ok &= Write(folder, "CBBABORT", 18, Stop);
    ok &= Write(folder, "CBBRETRY", 18, Retry);
    ok &= Write(folder, "CBBIGNORE", 18, Ignore);
    ok &= Write(folder, "CBBALL", 19, All);
    return ok ? 0 : 1;
}

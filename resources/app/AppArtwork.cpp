#include "AppArtwork.h"

#include <QBuffer>
#include <QFont>
#include <QFontDatabase>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace AppArtwork {

namespace {

// The icon on a 256-unit square: a blue disc, a green source dot in its
// lower left and three white wave arcs running from it up and to the right.
constexpr double DiscR = 118;
constexpr double DotX = 84, DotY = 172, DotR = 22;
constexpr double WaveRadii[] = {58, 98, 138};
constexpr double WaveWidth = 18;
const char* const DiscFill = "#1f4f8f";
const char* const DiscEdge = "#0d2a52";
const char* const DotFill = "#7fe07f";

void paintIcon(QPainter& p, double size) {
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 256.0, size / 256.0);
    p.setPen(QPen(QColor(DiscEdge), 8));
    p.setBrush(QColor(DiscFill));
    p.drawEllipse(QPointF(128, 128), DiscR, DiscR);
    QPen wave(Qt::white, WaveWidth);
    wave.setCapStyle(Qt::RoundCap);
    p.setPen(wave);
    p.setBrush(Qt::NoBrush);
    for (double r : WaveRadii) {
        QPainterPath arc;
        arc.moveTo(DotX, DotY - r);
        arc.arcTo(QRectF(DotX - r, DotY - r, 2 * r, 2 * r), 90, -90);
        p.drawPath(arc);
    }
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(DotFill));
    p.drawEllipse(QPointF(DotX, DotY), DotR, DotR);
}

QByteArray png(const QImage& image) {
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return data;
}

// An exclamation mark in a colour with a dark outline, in a 32 x 32 cell.
void exclamation(QPainter& p, int x, const QColor& fill) {
    p.setPen(QPen(QColor(60, 30, 0), 1.5));
    p.setBrush(fill);
    QPainterPath bar;
    bar.moveTo(x + 12, 3);
    bar.lineTo(x + 20, 3);
    bar.lineTo(x + 18, 21);
    bar.lineTo(x + 14, 21);
    bar.closeSubpath();
    p.drawPath(bar);
    p.drawEllipse(QPointF(x + 16, 26.5), 3.5, 3.5);
}

void tick(QPainter& p, int x) {
    p.setPen(QPen(QColor(64, 64, 64), 1));
    p.setBrush(QColor(192, 192, 192));
    p.drawRect(QRectF(x + 3.5, 3.5, 25, 25));
    p.setPen(QPen(QColor(255, 255, 255), 1));
    p.drawLine(QPointF(x + 4.5, 27.5), QPointF(x + 4.5, 4.5));
    p.drawLine(QPointF(x + 4.5, 4.5), QPointF(x + 27.5, 4.5));
    QPen mark(QColor(200, 0, 0), 4);
    mark.setCapStyle(Qt::RoundCap);
    mark.setJoinStyle(Qt::RoundJoin);
    p.setPen(mark);
    p.setBrush(Qt::NoBrush);
    QPainterPath path;
    path.moveTo(x + 8, 16);
    path.lineTo(x + 14, 23);
    path.lineTo(x + 25, 8);
    p.drawPath(path);
}

QString titleFamily() {
    static const QString family = [] {
        const int id = QFontDatabase::addApplicationFont(
            QStringLiteral("/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"));
        const QStringList families = QFontDatabase::applicationFontFamilies(id);
        return families.isEmpty() ? QStringLiteral("Sans Serif") : families.first();
    }();
    return family;
}

// The clock face of the automatic mode, at (ox, oy); grey when disabled.
void clock(QPainter& p, int ox, bool enabled) {
    const QColor face = enabled ? QColor(255, 255, 255) : QColor(128, 128, 128);
    const QColor rim = enabled ? QColor(0, 0, 128) : QColor(128, 128, 128);
    const QColor hands = enabled ? QColor(192, 0, 0) : QColor(255, 255, 255);
    p.setPen(QPen(rim, 2));
    p.setBrush(face);
    p.drawEllipse(QRect(ox + 2, 2, 13, 13));
    p.setPen(QPen(enabled ? QColor(0, 0, 0) : QColor(255, 255, 255), 2));
    p.drawLine(ox + 9, 9, ox + 9, 4);
    p.setPen(QPen(hands, 2));
    p.drawLine(ox + 9, 9, ox + 12, 11);
}

} // namespace

QList<int> IconSizes() {
    return {16, 32, 48, 64, 128, 256};
}

QImage Icon(int size) {
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    paintIcon(p, size);
    return image;
}

QByteArray IconSvg() {
    QString svg =
        QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                       "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"256\" height=\"256\" "
                       "viewBox=\"0 0 256 256\">\n"
                       "  <circle cx=\"128\" cy=\"128\" r=\"%1\" fill=\"%2\" stroke=\"%3\" "
                       "stroke-width=\"8\"/>\n")
            .arg(DiscR)
            .arg(QLatin1String(DiscFill), QLatin1String(DiscEdge));
    for (double r : WaveRadii)
        svg += QStringLiteral("  <path d=\"M %1 %2 A %3 %3 0 0 1 %4 %5\" fill=\"none\" "
                              "stroke=\"#ffffff\" stroke-width=\"%6\" "
                              "stroke-linecap=\"round\"/>\n")
                   .arg(DotX)
                   .arg(DotY - r)
                   .arg(r)
                   .arg(DotX + r)
                   .arg(DotY)
                   .arg(WaveWidth);
    svg += QStringLiteral("  <circle cx=\"%1\" cy=\"%2\" r=\"%3\" fill=\"%4\"/>\n</svg>\n")
               .arg(DotX)
               .arg(DotY)
               .arg(DotR)
               .arg(QLatin1String(DotFill));
    return svg.toUtf8();
}

QImage States(int scale) {
    QImage image(3 * StateSize * scale, StateSize * scale, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(scale, scale);
    exclamation(p, 0, QColor(220, 20, 20));
    exclamation(p, StateSize, QColor(250, 210, 0));
    tick(p, 2 * StateSize);
    return image;
}

QImage About(int scale) {
    QImage image(305 * scale, 137 * scale, QImage::Format_RGB888);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(scale, scale);
    QLinearGradient sky(0, 0, 0, 137);
    sky.setColorAt(0, QColor(12, 38, 78));
    sky.setColorAt(1, QColor(40, 96, 160));
    p.fillRect(QRect(0, 0, 305, 137), sky);
    // Faint echo rings behind everything.
    p.setPen(QPen(QColor(255, 255, 255, 40), 2));
    p.setBrush(Qt::NoBrush);
    for (int r = 30; r <= 300; r += 30)
        p.drawEllipse(QPointF(60, 80), r, r);
    // A light plate in the top right corner, under the version label that
    // the about box places there.
    p.setPen(QPen(QColor(120, 150, 190), 1));
    p.setBrush(QColor(214, 226, 240));
    p.drawRoundedRect(QRectF(236.5, 5.5, 64, 30), 5, 5);
    p.save();
    p.translate(14, 30);
    paintIcon(p, 84);
    p.restore();
    QFont title(titleFamily());
    title.setPixelSize(38);
    QPainterPath text;
    text.addText(110, 86, title, QStringLiteral("Netsonde"));
    p.setPen(QPen(QColor(5, 20, 45), 3));
    p.setBrush(Qt::NoBrush);
    p.drawPath(text.translated(2, 2));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255));
    p.drawPath(text);
    QFont small(titleFamily());
    small.setPixelSize(11);
    QPainterPath line;
    line.addText(112, 110, small, QStringLiteral("check  \u00b7  ping  \u00b7  trace"));
    p.setBrush(QColor(180, 220, 255));
    p.drawPath(line);
    return image;
}

QImage AutoGlyph(int scale) {
    QImage image(36 * scale, 18 * scale, QImage::Format_RGB32);
    image.fill(qRgb(128, 128, 0));
    QPainter p(&image);
    p.scale(scale, scale);
    clock(p, 0, true);
    clock(p, 18, false);
    return image;
}

QList<File> Files() {
    QList<File> files;
    files.append({QStringLiteral("netsonde.svg"), IconSvg()});
    for (int size : IconSizes())
        files.append({QStringLiteral("icons/netsonde-%1.png").arg(size), png(Icon(size))});
    files.append({QStringLiteral("states.png"), png(States())});
    files.append({QStringLiteral("about.png"), png(About())});
    files.append({QStringLiteral("auto.png"), png(AutoGlyph())});
    for (int scale : Scales) {
        const QString suffix = QStringLiteral("@%1x.png").arg(scale);
        files.append({QStringLiteral("states") + suffix, png(States(scale))});
        files.append({QStringLiteral("about") + suffix, png(About(scale))});
        files.append({QStringLiteral("auto") + suffix, png(AutoGlyph(scale))});
    }
    return files;
}

} // namespace AppArtwork

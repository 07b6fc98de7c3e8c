#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPoint>
#include <QRgb>
#include <QString>
#include <vector>

// Helpers of the pixel tests: images on a background no control draws with,
// and comparisons that name the first differing pixel.
namespace netsonde::test {

inline constexpr QRgb kBackground = 0xFF00FF00; // pure green

inline QImage BlankImage(int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(kBackground);
    return image;
}

// A font without anti-aliasing, so every text pixel has exactly one colour.
inline QFont CrispFont(qreal points) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSizeF(points);
    font.setStyleStrategy(QFont::NoAntialias);
    font.setHintingPreference(QFont::PreferFullHinting);
    return font;
}

// The pixels of an image that differ from the background.
inline std::vector<QPoint> Ink(const QImage& image) {
    std::vector<QPoint> points;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != kBackground)
                points.emplace_back(x, y);
    return points;
}

// "" when both images are equal, else where and how they differ first.
inline QString FirstDifference(const QImage& actual, const QImage& expected) {
    if (actual.size() != expected.size())
        return QStringLiteral("sizes differ");
    for (int y = 0; y < actual.height(); ++y)
        for (int x = 0; x < actual.width(); ++x)
            if (actual.pixel(x, y) != expected.pixel(x, y))
                return QStringLiteral("pixel (%1, %2) is %3, expected %4")
                    .arg(x)
                    .arg(y)
                    .arg(QColor(actual.pixel(x, y)).name(), QColor(expected.pixel(x, y)).name());
    return {};
}

} // namespace netsonde::test

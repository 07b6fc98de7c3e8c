#include "controls/ScaledImage.h"

#include <QGuiApplication>

#include <algorithm>
#include <cmath>

namespace {

constexpr int LargestScale = 3;

QString VariantPath(const QString& path, int scale) {
    const int dot = path.lastIndexOf(QLatin1Char('.'));
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    const int at = dot > slash ? dot : static_cast<int>(path.size());
    return path.left(at) + QStringLiteral("@%1x").arg(scale) + path.mid(at);
}

} // namespace

QImage LoadScaledImage(const QString& path, qreal ratio) {
    if (ratio > 1.0) {
        const int wanted = std::min(LargestScale, static_cast<int>(std::ceil(ratio - 0.01)));
        // Rather a larger picture drawn smaller than a smaller one blown up.
        for (int scale = wanted; scale <= LargestScale; ++scale) {
            QImage image(VariantPath(path, scale));
            if (!image.isNull()) {
                image.setDevicePixelRatio(scale);
                return image;
            }
        }
        for (int scale = wanted - 1; scale > 1; --scale) {
            QImage image(VariantPath(path, scale));
            if (!image.isNull()) {
                image.setDevicePixelRatio(scale);
                return image;
            }
        }
    }
    return QImage(path);
}

QImage LoadScaledImage(const QString& path) {
    return LoadScaledImage(path, qApp ? qApp->devicePixelRatio() : 1.0);
}

QSize LogicalSize(const QImage& image) {
    return image.deviceIndependentSize().toSize();
}

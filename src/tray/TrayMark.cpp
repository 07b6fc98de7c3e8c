#include "tray/TrayMark.h"

#include <QPainter>
#include <QPixmap>
#include <algorithm>

namespace tray {

QIcon MarkedIcon(const QIcon& icon, const QColor& colour) {
    QIcon marked;
    QList<QSize> sizes = icon.availableSizes();
    if (sizes.isEmpty())
        sizes = {QSize(16, 16), QSize(32, 32), QSize(48, 48), QSize(64, 64)};
    for (const QSize& size : sizes) {
        QPixmap picture = icon.pixmap(size);
        if (picture.isNull()) {
            picture = QPixmap(size);
            picture.fill(Qt::transparent);
        }
        QPainter p(&picture);
        p.setRenderHint(QPainter::Antialiasing);
        const qreal d = std::max<qreal>(6.0, size.width() * 0.45);
        const QRectF dot(size.width() - d, size.height() - d, d, d);
        // The white ring keeps the dot apart from a picture of its colour.
        p.setPen(QPen(Qt::white, std::max<qreal>(1.0, d / 8)));
        p.setBrush(colour);
        p.drawEllipse(dot.adjusted(0.5, 0.5, -0.5, -0.5));
        p.end();
        marked.addPixmap(picture);
    }
    return marked;
}

} // namespace tray

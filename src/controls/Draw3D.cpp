#include "controls/Draw3D.h"

#include "controls/SystemColors.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QPaintDevice>
#include <QPainter>

T3DOffsets Get3DOffsets(T3D style) {
    switch (style) {
    case T3D::hundido:
        return {true, {-1, -1}, {2, 2}, {-1, -1}};
    case T3D::sobresalido:
        return {true, {1, 1}, {-2, -2}, {1, 1}};
    case T3D::Grisado:
        return {true, {0, 0}, {1, 1}, {-1, -1}};
    case T3D::Sombreado:
        return {true, {3, 2}, {-1, -1}, {-3, -2}};
    case T3D::normal:
        break;
    }
    return {};
}

int QtTextFlags(unsigned format) {
    int flags = 0;
    if (format & DT_CENTER)
        flags |= Qt::AlignHCenter;
    else if (format & DT_RIGHT)
        flags |= Qt::AlignRight;
    else
        flags |= Qt::AlignLeft;
    if (format & DT_BOTTOM)
        flags |= Qt::AlignBottom;
    else if (format & DT_VCENTER)
        flags |= Qt::AlignVCenter;
    else
        flags |= Qt::AlignTop;
    if (format & DT_SINGLELINE)
        flags |= Qt::TextSingleLine;
    if (format & DT_WORDBREAK)
        flags |= Qt::TextWordWrap;
    if (format & DT_EXPANDTABS)
        flags |= Qt::TextExpandTabs;
    if (!(format & DT_NOPREFIX))
        flags |= Qt::TextShowMnemonic;
    return flags;
}

QRect Measure3DText(const QFontMetrics& metrics, const QRect& rect, const QString& text,
                    unsigned format) {
    // Measured from the top-left corner: left and top stay, the extent sets
    // right and bottom whatever the alignment asks for.
    const int flags = QtTextFlags(format & ~(DT_CENTER | DT_RIGHT | DT_VCENTER | DT_BOTTOM));
    const QRect layout(rect.topLeft(), QSize(qMax(rect.width(), 0), qMax(rect.height(), 0)));
    const QRect extent = metrics.boundingRect(layout, flags, text);
    return QRect(rect.left(), rect.top(), extent.width(), extent.height()).adjusted(-2, -2, 2, 2);
}

namespace {

// Size of the painter's font in points, also when it was given in pixels.
qreal pointSizeOf(const QPainter& canvas) {
    const QFont& font = canvas.font();
    if (font.pointSizeF() > 0)
        return font.pointSizeF();
    const QPaintDevice* device = canvas.device();
    const int dpi = device ? device->logicalDpiY() : 96;
    return font.pixelSize() * 72.0 / (dpi > 0 ? dpi : 96);
}

// Keeps only the flags that shape the drawing; DT_SINGLELINE is implied by
// a vertical placement other than the top.
unsigned drawingFormat(unsigned format) {
    unsigned result = 0;
    if (format & DT_CENTER)
        result |= DT_CENTER;
    else if (format & DT_RIGHT)
        result |= DT_RIGHT;
    if (format & DT_BOTTOM)
        result |= DT_BOTTOM | DT_SINGLELINE;
    else if (format & DT_VCENTER)
        result |= DT_VCENTER | DT_SINGLELINE;
    return result | (format & (DT_NOPREFIX | DT_WORDBREAK | DT_EXPANDTABS));
}

} // namespace

QRect Draw3DText(QPainter& canvas, const QRect& rect, const QString& text, T3D style,
                 unsigned format, const QPalette& palette) {
    if (format & DT_CALCRECT)
        return Measure3DText(canvas.fontMetrics(), rect, text, format);

    const int flags = QtTextFlags(drawingFormat(format));
    canvas.setBrush(Qt::NoBrush);
    canvas.setBackgroundMode(Qt::TransparentMode);

    QRect r = rect;
    const T3DOffsets offsets = Get3DOffsets(style);
    if (offsets.Flag) {
        const QColor saved = canvas.pen().color();
        r.translate(offsets.P1);
        canvas.setPen(clBtnShadow.Resolve(palette));
        if (pointSizeOf(canvas) > 20)
            canvas.drawText(r, flags, text);
        r.translate(offsets.P2);
        if (style != T3D::Sombreado)
            canvas.setPen(clBtnHighlight.Resolve(palette));
        canvas.drawText(r, flags, text);
        r.translate(offsets.P3);
        canvas.setPen(saved);
    }
    if (style == T3D::Grisado)
        canvas.setPen(clGrayText.Resolve(palette));
    canvas.drawText(r, flags, text);
    return rect;
}

QRect Draw3DText(QPainter& canvas, const QRect& rect, const QString& text, T3D style,
                 unsigned format) {
    return Draw3DText(canvas, rect, text, style, format, QGuiApplication::palette());
}

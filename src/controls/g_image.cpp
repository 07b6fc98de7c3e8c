#include "controls/g_image.h"

#include "controls/GraphicControl.h"
#include "controls/ScaledImage.h"

#include <QEvent>
#include <QPainter>

g_image::g_image(QWidget* parent) : QWidget(parent) {
    resize(105, 105);
    StackAsGraphicControl(this);
}

void g_image::SetPicture(const QImage& value) {
    FPicture = value;
    FitToPicture();
    update();
}

void g_image::SetStretch(bool value) {
    FStretch = value;
    update();
}

void g_image::SetCenter(bool value) {
    FCenter = value;
    update();
}

void g_image::SetAutoSize(bool value) {
    FAutoSize = value;
    FitToPicture();
}

void g_image::FitToPicture() {
    if (FAutoSize && !FPicture.isNull())
        resize(LogicalSize(FPicture));
}

void g_image::paintEvent(QPaintEvent*) {
    if (FPicture.isNull())
        return;
    QPainter p(this);
    if (FStretch) {
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawImage(rect(), FPicture);
    } else if (FCenter) {
        const QSize size = LogicalSize(FPicture);
        p.drawImage((width() - size.width()) / 2, (height() - size.height()) / 2, FPicture);
    } else {
        p.drawImage(0, 0, FPicture);
    }
}

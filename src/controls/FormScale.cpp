#include "controls/FormScale.h"

#include <QFontDatabase>
#include <QFrame>
#include <QWidget>
#include <algorithm>
#include <cmath>

FormScale::FormScale(const QWidget* form) : FFactor(std::max(1.0, form->logicalDpiY() / 96.0)) {}

void FormScale::Fit(int needed, int laidOut) {
    if (laidOut > 0)
        FFactor = std::max(FFactor, double(needed) / laidOut);
}

int FormScale::Px(int pixels) const {
    return qRound(pixels * FFactor);
}

void FormScale::SetBounds(QWidget* control, int left, int top, int width, int height) const {
    control->setGeometry(Px(left), Px(top), Px(width), Px(height));
}

namespace {

// The smallest number of logical pixels that makes a whole number of device
// pixels at a device pixel ratio (2 at 1.5, 4 at 1.25); 1 where none does
// within a few.
int wholeDeviceStep(double ratio) {
    for (int step = 1; step <= 8; ++step) {
        const double device = step * ratio;
        if (std::abs(device - std::round(device)) < 1e-6)
            return step;
    }
    return 1;
}

// How far an edge lies past the last whole device pixel before it.
int pastWhole(int edge, int step) {
    return ((edge % step) + step) % step;
}

} // namespace

void KeepFrameWhole(QFrame* framed) {
    const int step = wholeDeviceStep(framed->devicePixelRatioF());
    if (step == 1)
        return;
    // The inner edges of the frame, in the window's pixels: where the
    // contents end and the frame's right and bottom lines begin.
    const int inset = framed->frameWidth();
    const QPoint inner = framed->mapTo(framed->window(), QPoint(framed->width(), framed->height()) -
                                                             QPoint(inset, inset));
    const int dw = framed->isWindow() ? 0 : pastWhole(inner.x(), step);
    const int dh = framed->isWindow() ? 0 : pastWhole(inner.y(), step);
    if (dw || dh)
        framed->resize(framed->width() - dw, framed->height() - dh);
}

QFont DialogFont(const QFont& base) {
    // Faces with the widths the layouts were made for, in order of
    // preference; the first one installed is taken.
    static const QString narrowFace = [] {
        const QStringList installed = QFontDatabase::families();
        for (const char* face : {"Liberation Sans", "Arimo", "Arial"}) {
            if (installed.contains(QLatin1String(face)))
                return QString::fromLatin1(face);
        }
        return QString();
    }();
    QFont font = base;
    if (!narrowFace.isEmpty())
        font.setFamilies({narrowFace});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(8);
    return font;
}

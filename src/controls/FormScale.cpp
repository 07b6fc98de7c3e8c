#include "controls/FormScale.h"

#include <QFontDatabase>
#include <QWidget>
#include <algorithm>

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

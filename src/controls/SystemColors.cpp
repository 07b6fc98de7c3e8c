#include "controls/SystemColors.h"

#include <QGuiApplication>
#include <cmath>

QColor TColor::Resolve(const QPalette& p) const {
    if (!FSystem)
        return QColor::fromRgb(FRgb);
    switch (FSys) {
    case SysColor::BtnFace:
        return p.color(QPalette::Active, QPalette::Button);
    case SysColor::BtnShadow:
        return p.color(QPalette::Active, QPalette::Dark);
    case SysColor::BtnHighlight:
        return p.color(QPalette::Active, QPalette::Light);
    case SysColor::DkShadow3D:
        return p.color(QPalette::Active, QPalette::Shadow);
    case SysColor::Window:
        return p.color(QPalette::Active, QPalette::Base);
    case SysColor::WindowText:
        return p.color(QPalette::Active, QPalette::Text);
    case SysColor::Highlight:
        return p.color(QPalette::Active, QPalette::Highlight);
    case SysColor::HighlightText:
        return p.color(QPalette::Active, QPalette::HighlightedText);
    case SysColor::GrayText:
        return p.color(QPalette::Disabled, QPalette::Text);
    case SysColor::WindowFrame:
        return p.color(QPalette::Active, QPalette::Shadow);
    case SysColor::BtnText:
        return p.color(QPalette::Active, QPalette::ButtonText);
    }
    return {};
}

QColor TColor::Resolve() const {
    return Resolve(QGuiApplication::palette());
}

QPalette ClassicPalette() {
    QPalette p;
    auto set = [&p](QPalette::ColorRole role, QRgb rgb) {
        p.setColor(QPalette::All, role, QColor::fromRgb(rgb));
    };
    set(QPalette::Window, 0xC0C0C0);
    set(QPalette::WindowText, 0x000000);
    set(QPalette::Button, 0xC0C0C0);
    set(QPalette::ButtonText, 0x000000);
    set(QPalette::Light, 0xFFFFFF);
    set(QPalette::Midlight, 0xDFDFDF);
    set(QPalette::Mid, 0xA0A0A0);
    set(QPalette::Dark, 0x808080);
    set(QPalette::Shadow, 0x000000);
    set(QPalette::Base, 0xFFFFFF);
    set(QPalette::Text, 0x000000);
    set(QPalette::Highlight, 0x000080);
    set(QPalette::HighlightedText, 0xFFFFFF);
    p.setColor(QPalette::Disabled, QPalette::Text, QColor::fromRgb(0x808080));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor::fromRgb(0x808080));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor::fromRgb(0x808080));
    return p;
}

namespace {

double channel(double c) {
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double luminance(const QColor& c) {
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

// color mixed with white by the smallest share that gives at least the
// contrast wanted against face.
QColor lightenTo(const QColor& color, const QColor& face, double wanted) {
    if (ContrastRatio(color, face) >= wanted && luminance(color) > luminance(face))
        return color;
    auto mix = [&color](double t) {
        return QColor::fromRgbF(float(color.redF() + (1 - color.redF()) * t),
                                float(color.greenF() + (1 - color.greenF()) * t),
                                float(color.blueF() + (1 - color.blueF()) * t));
    };
    double lo = 0, hi = 1;
    for (int i = 0; i < 20; ++i) {
        const double mid = (lo + hi) / 2;
        if (ContrastRatio(mix(mid), face) >= wanted)
            hi = mid;
        else
            lo = mid;
    }
    // Rounded to whole channel values, the colour must still reach it.
    QColor result = QColor::fromRgb(mix(hi).rgb());
    while (ContrastRatio(result, face) < wanted && result != QColor(Qt::white))
        result = QColor(std::min(255, result.red() + 1), std::min(255, result.green() + 1),
                        std::min(255, result.blue() + 1));
    return result;
}

} // namespace

double ContrastRatio(const QColor& a, const QColor& b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

bool IsDarkPalette(const QPalette& palette) {
    return luminance(clBtnFace.Resolve(palette)) < luminance(clBtnText.Resolve(palette));
}

QColor EdgeColor(TColor color, const QPalette& palette) {
    const QColor resolved = color.Resolve(palette);
    if (!color.IsSystem() || !IsDarkPalette(palette))
        return resolved;
    const QColor face = clBtnFace.Resolve(palette);
    switch (color.SystemColor()) {
    case SysColor::BtnShadow:
    case SysColor::DkShadow3D:
        return lightenTo(resolved, face, 3.0);
    case SysColor::BtnHighlight:
        return lightenTo(resolved, face, 4.5);
    default:
        return resolved;
    }
}

QColor EdgeColor(TColor color) {
    return EdgeColor(color, QGuiApplication::palette());
}

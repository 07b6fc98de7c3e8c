#include "controls/SystemColors.h"

#include <QGuiApplication>

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

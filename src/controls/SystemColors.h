#pragma once

#include <QColor>
#include <QPalette>
#include <cstdint>

// Colours as the forms name them: either a fixed RGB value or one of the
// system colours, which are resolved through the current Qt palette each time
// they are used, so that the controls follow the desktop's theme.
enum class SysColor : std::uint8_t {
    BtnFace,      // face of buttons and of the resting edits
    BtnShadow,    // shadow side of 3D elements
    BtnHighlight, // lit side of 3D elements
    DkShadow3D,   // darkest shadow of 3D elements
    Window,       // background of edits with the focus
    WindowText,   // text of edits
    Highlight,    // selection, and the hover text colour
    HighlightText,
    GrayText, // disabled text
    WindowFrame,
    BtnText,
};

class TColor {
public:
    constexpr TColor() = default;
    // A fixed colour, 0xRRGGBB.
    constexpr explicit TColor(QRgb rgb) : FRgb(rgb & 0xFFFFFF), FSystem(false) {}
    static constexpr TColor System(SysColor c) {
        TColor t;
        t.FSystem = true;
        t.FSys = c;
        return t;
    }
    static TColor FromQColor(const QColor& c) { return TColor(c.rgb()); }

    constexpr bool IsSystem() const { return FSystem; }
    constexpr SysColor SystemColor() const { return FSys; }
    // The colour to draw with, under the given palette.
    QColor Resolve(const QPalette& palette) const;
    // The colour to draw with, under the application's palette.
    QColor Resolve() const;

    constexpr bool operator==(const TColor& o) const {
        return FSystem == o.FSystem && (FSystem ? FSys == o.FSys : FRgb == o.FRgb);
    }

private:
    QRgb FRgb = 0;
    bool FSystem = false;
    SysColor FSys = SysColor::BtnFace;
};

inline constexpr TColor clBtnFace = TColor::System(SysColor::BtnFace);
inline constexpr TColor clBtnShadow = TColor::System(SysColor::BtnShadow);
inline constexpr TColor clBtnHighlight = TColor::System(SysColor::BtnHighlight);
inline constexpr TColor cl3DDkShadow = TColor::System(SysColor::DkShadow3D);
inline constexpr TColor clWindow = TColor::System(SysColor::Window);
inline constexpr TColor clWindowText = TColor::System(SysColor::WindowText);
inline constexpr TColor clHighlight = TColor::System(SysColor::Highlight);
inline constexpr TColor clHighlightText = TColor::System(SysColor::HighlightText);
inline constexpr TColor clGrayText = TColor::System(SysColor::GrayText);
inline constexpr TColor clWindowFrame = TColor::System(SysColor::WindowFrame);
inline constexpr TColor clBtnText = TColor::System(SysColor::BtnText);

inline constexpr TColor clBlack = TColor(0x000000);
inline constexpr TColor clWhite = TColor(0xFFFFFF);
inline constexpr TColor clSilver = TColor(0xC0C0C0);
inline constexpr TColor clGray = TColor(0x808080);

// Contrast of two colours as the ratio of their relative luminances (each
// plus 0.05), from 1 (equal) to 21 (black on white).
double ContrastRatio(const QColor& a, const QColor& b);

// True when the palette draws light button text on a dark button face.
bool IsDarkPalette(const QPalette& palette);

// The colour of a 3D edge (bevel rings, grooves, button rings) or of the ink
// of a dimmed glyph, drawn on the button face. On a light palette it is the
// system colour itself. On a dark palette the shadows and highlights of many
// themes lie too close to the face to be seen, so clBtnShadow and
// cl3DDkShadow are lightened until they stand at least 3:1 against the face,
// and clBtnHighlight until it stands at least 4.5:1, which keeps it lighter
// than the shadows. Other colours are resolved unchanged.
QColor EdgeColor(TColor color, const QPalette& palette);
QColor EdgeColor(TColor color);

// A palette with the classic fixed values of the system colours, for tests
// and screenshots that must not depend on the desktop's theme.
QPalette ClassicPalette();

#pragma once

#include "controls/ButtonTypes.h"
#include "controls/Draw3D.h"

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <array>
#include <functional>

class QPainter;
class QFontMetrics;
class TGlyphList;

// Where a glyph and a caption go inside a button's client rectangle.
struct TGlyphPlacement {
    QPoint GlyphPos;
    QRect TextRect;
};

// Places a glyph of glyphSize and a caption of textSize in client. margin is
// the gap between the edge and the glyph, spacing the gap between glyph and
// caption; -1 for either shares the free space evenly.
TGlyphPlacement LayoutGlyphAndText(const QRect& client, QSize glyphSize, QSize textSize,
                                   TButtonLayout layout, int margin, int spacing);

// The size the caption takes (mnemonic "&" removed, explicit line breaks
// honoured, no word wrapping); an empty caption takes none.
QSize MeasureCaption(const QFontMetrics& metrics, const QString& caption, int width);

// The glyph of one button: a strip of up to four images of equal width side
// by side (up, disabled, down, stay-down), and the images of the button
// states, rendered on first use into the image list shared by every glyph of
// the same size.
class TButtonGlyph {
public:
    TButtonGlyph();
    ~TButtonGlyph();
    TButtonGlyph(const TButtonGlyph&) = delete;
    TButtonGlyph& operator=(const TButtonGlyph&) = delete;

    const QImage& Glyph() const { return FOriginal; }
    // Copies the strip; a strip whose width is a multiple of its height sets
    // NumGlyphs to that multiple (1 when above 4).
    void SetGlyph(const QImage& bitmap);
    int NumGlyphs() const { return FNumGlyphs; }
    // Values of 0 or less are ignored; values above 4 become 4.
    void SetNumGlyphs(int value);
    // The colour that counts as background in the strip.
    QRgb TransparentColor() const { return FTransparentColor; }

    // Places and draws glyph and caption in client; returns the caption's
    // rectangle.
    QRect Draw(QPainter& canvas, const QRect& client, const QString& caption, TButtonLayout layout,
               int margin, int spacing, TButtonState state, T3D style, bool lit);
    // The image-list index of a state's image, rendered when missing; -1
    // without a strip.
    int RenderStateImage(TButtonState state);

    TGlyphList* GlyphList() const { return FGlyphList; }
    // The index held for a state, -1 when not rendered.
    int ImageIndex(TButtonState state) const { return FIndexs[state]; }
    // Drops every rendered image and releases its slot.
    void Invalidate();

    // Runs after the strip changed; the button repaints.
    std::function<void()> OnChange;

private:
    void PaintGlyph(QPainter& canvas, QPoint pos, TButtonState state, bool lit);
    void PaintCaption(QPainter& canvas, const QRect& textRect, const QString& caption,
                      TButtonState state, T3D style);

    QImage FOriginal;
    int FNumGlyphs = 1;
    QRgb FTransparentColor = qRgb(128, 128, 0);
    std::array<int, 4> FIndexs{-1, -1, -1, -1};
    TGlyphList* FGlyphList = nullptr;
};

#include "controls/TButtonGlyph.h"
#include "platform/Events.h"

#include "controls/ScaledImage.h"
#include "controls/SystemColors.h"
#include "controls/TGlyphCache.h"
#include "controls/TGlyphList.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>

namespace {

enum class Direction { Across, Down };

// The colour that counts as background in a strip: its bottom-left pixel,
// or white for a one-bit image.
QRgb BitmapTransparentColor(const QImage& bitmap) {
    if (bitmap.depth() == 1)
        return qRgb(255, 255, 255);
    return bitmap.pixel(0, bitmap.height() - 1) & 0xFFFFFF;
}

} // namespace

TGlyphPlacement LayoutGlyphAndText(const QRect& c, QSize glyphSize, QSize textSize,
                                   TButtonLayout layout, int margin, int spacing) {
    const int cw = c.width();
    const int ch = c.height();
    const int gw = glyphSize.width();
    const int gh = glyphSize.height();
    const int tw = textSize.width();
    const int th = textSize.height();

    QPoint glyph;
    QPoint text;
    const Direction dir =
        layout == blGlyphLeft || layout == blGlyphRight ? Direction::Across : Direction::Down;
    if (dir == Direction::Across) {
        glyph.setY((ch - gh + 1) / 2);
        text.setY((ch - th + 1) / 2);
    } else {
        glyph.setX((cw - gw + 1) / 2);
        text.setX((cw - tw + 1) / 2);
    }

    if (tw == 0 || gw == 0)
        spacing = 0;

    // The extent along the layout's direction.
    const int room = dir == Direction::Across ? cw : ch;
    const int g = dir == Direction::Across ? gw : gh;
    const int t = dir == Direction::Across ? tw : th;
    if (margin == -1 && spacing == -1) {
        margin = (room - (g + t)) / 3;
        spacing = margin;
    } else if (margin == -1) {
        margin = (room - (g + spacing + t) + 1) / 2;
    } else if (spacing == -1) {
        spacing = ((room - (margin + g)) - t) / 2;
    }

    switch (layout) {
    case blGlyphLeft:
        glyph.setX(margin);
        text.setX(glyph.x() + gw + spacing);
        break;
    case blGlyphRight:
        glyph.setX(cw - margin - gw);
        text.setX(glyph.x() - spacing - tw);
        break;
    case blGlyphTop:
        glyph.setY(margin);
        text.setY(glyph.y() + gh + spacing);
        break;
    case blGlyphBottom:
        glyph.setY(ch - margin - gh);
        text.setY(glyph.y() - spacing - th);
        break;
    }

    TGlyphPlacement result;
    result.GlyphPos = glyph + c.topLeft();
    result.TextRect = QRect(text + c.topLeft(), QSize(tw, th));
    return result;
}

QSize MeasureCaption(const QFontMetrics& metrics, const QString& caption, int width) {
    if (caption.isEmpty())
        return {0, 0};
    const QRect r = metrics.boundingRect(QRect(0, 0, width, 0), Qt::TextShowMnemonic, caption);
    return r.size();
}

TButtonGlyph::TButtonGlyph() = default;

TButtonGlyph::~TButtonGlyph() {
    Invalidate();
    TGlyphCache::ReleaseIfEmpty();
}

void TButtonGlyph::Invalidate() {
    for (int& index : FIndexs) {
        if (index >= 0 && FGlyphList)
            FGlyphList->Delete(index);
        index = -1;
    }
    if (FGlyphList) {
        if (TGlyphCache* cache = TGlyphCache::Existing())
            cache->ReturnList(FGlyphList);
        FGlyphList = nullptr;
    }
}

void TButtonGlyph::SetGlyph(const QImage& bitmap) {
    Invalidate();
    FOriginal = bitmap;
    if (bitmap.height() > 0 && !bitmap.isNull()) {
        FTransparentColor = BitmapTransparentColor(bitmap);
        if (bitmap.width() % bitmap.height() == 0) {
            int n = bitmap.width() / bitmap.height();
            if (n > 4)
                n = 1;
            SetNumGlyphs(n);
        }
    }
    FireEvent(OnChange);
}

void TButtonGlyph::SetNumGlyphs(int value) {
    if (value <= 0)
        return;
    if (value > 4)
        value = 4;
    if (value != FNumGlyphs) {
        Invalidate();
        FNumGlyphs = value;
    }
}

int TButtonGlyph::RenderStateImage(TButtonState state) {
    if (state == bsDown && FNumGlyphs < 3)
        state = bsUp;
    if (FIndexs[state] != -1)
        return FIndexs[state];
    if (FOriginal.isNull() || FOriginal.width() == 0 || FOriginal.height() == 0)
        return -1;

    const int w = FOriginal.width() / FNumGlyphs;
    const int h = FOriginal.height();
    if (w <= 0)
        return -1;
    if (!FGlyphList)
        FGlyphList = TGlyphCache::Instance().GetList(w, h);

    const int number = state < FNumGlyphs ? state : 0;
    // In the strip's own pixels: a strip for a scaled screen keeps its
    // device pixel ratio through to the image list.
    const qreal ratio = FOriginal.devicePixelRatio();
    QImage image = FOriginal.copy(number * w, 0, w, h).convertToFormat(QImage::Format_RGB32);
    image.setDevicePixelRatio(ratio);
    const QRgb key = FTransparentColor & 0xFFFFFF;

    if (state == bsDisabled) {
        // Legible on the face whatever the theme (see EdgeColor).
        const QRgb highlight = EdgeColor(clBtnHighlight).rgb() & 0xFFFFFF;
        const QRgb shadow = EdgeColor(clBtnShadow).rgb() & 0xFFFFFF;
        if (FNumGlyphs >= 2) {
            // The strip's own disabled image, with its white and mid-grey
            // taken from the current 3D colours.
            for (int y = 0; y < h; ++y) {
                QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
                for (int x = 0; x < w; ++x) {
                    const QRgb p = line[x] & 0xFFFFFF;
                    if (p == 0xFFFFFF)
                        line[x] = 0xFF000000 | highlight;
                    else if (p == 0x808080)
                        line[x] = 0xFF000000 | shadow;
                }
            }
        } else {
            // Embossed from the dark pixels of the single image: highlight
            // one (scaled) pixel right and down, shadow in place, on the
            // button face.
            const int shift = std::max(1, qRound(ratio));
            QImage ink(w, h, QImage::Format_RGB32);
            ink.setDevicePixelRatio(ratio);
            ink.fill(clBtnFace.Resolve());
            auto isInk = [&](int x, int y) {
                const QRgb p = image.pixel(x, y) & 0xFFFFFF;
                return p != key && qGray(p) < 128;
            };
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    if (isInk(x, y) && x + shift < w && y + shift < h)
                        ink.setPixel(x + shift, y + shift, highlight);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    if (isInk(x, y))
                        ink.setPixel(x, y, shadow);
            image = ink;
        }
    }

    FIndexs[state] = FGlyphList->AddMasked(image, key);
    return FIndexs[state];
}

void TButtonGlyph::PaintGlyph(QPainter& canvas, QPoint pos, TButtonState state, bool lit) {
    if (FOriginal.isNull() || FOriginal.width() == 0 || FOriginal.height() == 0)
        return;
    if (!lit)
        state = bsDisabled;
    const int index = RenderStateImage(state);
    if (index >= 0 && FGlyphList)
        FGlyphList->Draw(canvas, index, pos.x(), pos.y());
}

void TButtonGlyph::PaintCaption(QPainter& canvas, const QRect& textRect, const QString& caption,
                                TButtonState state, T3D style) {
    if (state == bsDisabled)
        style = T3D::Grisado;
    Draw3DText(canvas, textRect, caption, style, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
}

QRect TButtonGlyph::Draw(QPainter& canvas, const QRect& client, const QString& caption,
                         TButtonLayout layout, int margin, int spacing, TButtonState state,
                         T3D style, bool lit) {
    QSize glyphSize(0, 0);
    if (!FOriginal.isNull() && FNumGlyphs > 0)
        glyphSize =
            LogicalSize(FOriginal.copy(0, 0, FOriginal.width() / FNumGlyphs, FOriginal.height()));
    const QSize textSize = MeasureCaption(QFontMetrics(canvas.font()), caption, client.width());
    const TGlyphPlacement place =
        LayoutGlyphAndText(client, glyphSize, textSize, layout, margin, spacing);
    PaintGlyph(canvas, place.GlyphPos, state, lit);
    PaintCaption(canvas, place.TextRect, caption, state, style);
    return place.TextRect;
}

// Pictures for scaled screens: the variant chosen for a ratio, and glyphs
// and image lists that put each pixel of a scaled picture on one pixel of a
// scaled canvas instead of blowing up the small one.
#include "controls/ScaledImage.h"
#include "controls/TButtonGlyph.h"
#include "controls/g_imagelist.h"

#include <QPainter>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

constexpr QRgb Olive = 0x808000;
const QString Ok = QStringLiteral(":/buttons/CBBOK.png");

// A canvas of logical size w x h at the given ratio, filled with grey.
QImage Canvas(int w, int h, int ratio) {
    QImage canvas(w * ratio, h * ratio, QImage::Format_RGB32);
    canvas.setDevicePixelRatio(ratio);
    canvas.fill(qRgb(200, 200, 200));
    return canvas;
}

TEST(ScaledImage, PicksTheSmallestVariantAtLeastTheRatio) {
    const QImage one = LoadScaledImage(Ok, 1.0);
    EXPECT_EQ(one.size(), QSize(36, 18));
    EXPECT_EQ(one.devicePixelRatio(), 1.0);
    EXPECT_EQ(one, QImage(Ok));
    for (const auto& [ratio, scale] :
         std::vector<std::pair<qreal, int>>{{1.25, 2}, {2.0, 2}, {2.5, 3}, {3.0, 3}, {4.0, 3}}) {
        const QImage image = LoadScaledImage(Ok, ratio);
        EXPECT_EQ(image.size(), QSize(36, 18) * scale) << ratio;
        EXPECT_EQ(image.devicePixelRatio(), scale) << ratio;
        EXPECT_EQ(LogicalSize(image), QSize(36, 18)) << ratio;
    }

    // Missing variants: a larger one first, then a smaller, then the picture.
    QTemporaryDir dir;
    QImage(10, 10, QImage::Format_RGB32).save(dir.filePath("a.png"));
    QImage(30, 30, QImage::Format_RGB32).save(dir.filePath("a@3x.png"));
    QImage(10, 10, QImage::Format_RGB32).save(dir.filePath("b.png"));
    QImage(20, 20, QImage::Format_RGB32).save(dir.filePath("b@2x.png"));
    QImage(10, 10, QImage::Format_RGB32).save(dir.filePath("c.png"));
    EXPECT_EQ(LoadScaledImage(dir.filePath("a.png"), 2).devicePixelRatio(), 3.0);
    EXPECT_EQ(LoadScaledImage(dir.filePath("b.png"), 3).devicePixelRatio(), 2.0);
    const QImage plain = LoadScaledImage(dir.filePath("c.png"), 2);
    EXPECT_EQ(plain.size(), QSize(10, 10));
    EXPECT_EQ(plain.devicePixelRatio(), 1.0);
    EXPECT_TRUE(LoadScaledImage(dir.filePath("none.png"), 2).isNull());
}

// The normal and the disabled glyph of a kind button at twice the size land
// pixel for pixel on a canvas of twice the density, in the place the design
// gives the small glyph.
TEST(ScaledImage, GlyphAtTwiceTheSizeIsDrawnPixelForPixel) {
    for (const TButtonState state : {bsUp, bsDisabled}) {
        const QImage strip = LoadScaledImage(Ok, 2);
        TButtonGlyph glyph;
        glyph.SetGlyph(strip);
        EXPECT_EQ(glyph.NumGlyphs(), 2);
        QImage canvas = Canvas(60, 30, 2);
        {
            QPainter p(&canvas);
            glyph.Draw(p, QRect(0, 0, 60, 30), QString(), blGlyphLeft, 4, 0, state, T3D::normal,
                       true);
        }
        const QPoint at =
            LayoutGlyphAndText(QRect(0, 0, 60, 30), QSize(18, 18), QSize(), blGlyphLeft, 4, 0)
                .GlyphPos *
            2;
        const int offset = state == bsDisabled ? 36 : 0;
        int inked = 0;
        for (int y = 0; y < 36; ++y)
            for (int x = 0; x < 36; ++x) {
                const QRgb want = strip.pixel(offset + x, y) & 0xFFFFFF;
                if (want == Olive)
                    continue;
                const QRgb got = canvas.pixel(at.x() + x, at.y() + y) & 0xFFFFFF;
                // The disabled look takes its white and grey from the theme.
                if (state == bsUp)
                    ASSERT_EQ(got, want) << x << "," << y;
                else
                    ASSERT_NE(got, 0xC8C8C8u) << x << "," << y;
                ++inked;
            }
        EXPECT_GT(inked, 40);
    }
}

TEST(ScaledImage, ImageListSplitsAScaledStripByItsLogicalWidth) {
    // Two glyphs of 18 x 19, drawn at twice the size.
    QImage strip =
        QImage(QStringLiteral(":/buttons/CBBALL@2x.png")).convertToFormat(QImage::Format_ARGB32);
    strip.setDevicePixelRatio(2);
    g_imagelist list;
    list.SetSize(18, 19);
    EXPECT_EQ(list.Add(strip), 0);
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Image(1).size(), QSize(36, 38));
    EXPECT_EQ(list.Image(1).devicePixelRatio(), 2.0);
    QImage canvas = Canvas(40, 40, 2);
    {
        QPainter p(&canvas);
        list.Draw(p, 1, 1, 1);
    }
    for (int y = 0; y < 38; ++y)
        for (int x = 0; x < 36; ++x)
            ASSERT_EQ(canvas.pixel(2 + x, 2 + y), strip.pixel(36 + x, y)) << x << "," << y;
}

} // namespace

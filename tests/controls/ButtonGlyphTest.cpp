#include "controls/SystemColors.h"
#include "controls/TButtonGlyph.h"
#include "controls/TGlyphCache.h"
#include "controls/TGlyphList.h"

#include <QApplication>
#include <QImage>
#include <gtest/gtest.h>

namespace {

constexpr QRgb Olive = 0x808000;

// A strip of n images of size w x h: image i filled with colour i + 1 of a
// small set, background olive in its bottom-left corner.
QImage Strip(int n, int w, int h) {
    static const QRgb colours[] = {0xFF0000, 0xFFFFFF, 0x0000FF, 0x00FF00};
    QImage img(n * w, h, QImage::Format_RGB32);
    for (int i = 0; i < n; ++i)
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                img.setPixel(i * w + x, y, 0xFF000000 | colours[i % 4]);
    for (int i = 0; i < n; ++i)
        img.setPixel(i * w, h - 1, 0xFF000000 | Olive);
    return img;
}

QRect Client(int w, int h) {
    return QRect(0, 0, w, h);
}

TEST(LayoutGlyphAndTextTest, SharedSpaceLeavesEqualGapsWithTheRemainderLast) {
    // 18-pixel glyph and 40-pixel caption across 100 pixels: 42 free, 14 each.
    auto p = LayoutGlyphAndText(Client(100, 30), {18, 18}, {40, 13}, blGlyphLeft, -1, -1);
    EXPECT_EQ(p.GlyphPos, QPoint(14, 6)); // y: (30 - 18 + 1) / 2
    EXPECT_EQ(p.TextRect, QRect(46, 9, 40, 13));
    // One pixel more goes to the gap after the caption.
    p = LayoutGlyphAndText(Client(101, 30), {18, 18}, {40, 13}, blGlyphLeft, -1, -1);
    EXPECT_EQ(p.GlyphPos.x(), 14);
    EXPECT_EQ(p.TextRect.x(), 46);
    EXPECT_EQ(101 - (p.TextRect.x() + p.TextRect.width()), 15);

    // Glyph right: the same gaps, mirrored.
    p = LayoutGlyphAndText(Client(100, 30), {18, 18}, {40, 13}, blGlyphRight, -1, -1);
    EXPECT_EQ(p.GlyphPos.x(), 100 - 14 - 18);
    EXPECT_EQ(p.TextRect.x(), 68 - 14 - 40);

    // Glyph on top of a 145 x 49 button: heights share the free 18 rows.
    p = LayoutGlyphAndText(Client(145, 49), {18, 18}, {80, 13}, blGlyphTop, -1, -1);
    EXPECT_EQ(p.GlyphPos, QPoint(64, 6));
    EXPECT_EQ(p.TextRect, QRect(33, 30, 80, 13));
    p = LayoutGlyphAndText(Client(145, 49), {18, 18}, {80, 13}, blGlyphBottom, -1, -1);
    EXPECT_EQ(p.GlyphPos, QPoint(64, 49 - 6 - 18));
    EXPECT_EQ(p.TextRect.y(), 25 - 6 - 13);
}

TEST(LayoutGlyphAndTextTest, GivenMarginOrSpacing) {
    // Margin -1, spacing 4: the group of 62 pixels is centred.
    auto p = LayoutGlyphAndText(Client(100, 30), {18, 18}, {40, 13}, blGlyphLeft, -1, 4);
    EXPECT_EQ(p.GlyphPos.x(), 19);
    EXPECT_EQ(p.TextRect.x(), 41);
    // Margin 8, spacing -1: the caption is centred in what the glyph leaves.
    p = LayoutGlyphAndText(Client(100, 30), {18, 18}, {40, 13}, blGlyphLeft, 8, -1);
    EXPECT_EQ(p.GlyphPos.x(), 8);
    EXPECT_EQ(p.TextRect.x(), 8 + 18 + 17);
    // Both given.
    p = LayoutGlyphAndText(Client(100, 30), {18, 18}, {40, 13}, blGlyphRight, 8, 4);
    EXPECT_EQ(p.GlyphPos.x(), 74);
    EXPECT_EQ(p.TextRect.x(), 30);
    p = LayoutGlyphAndText(Client(145, 49), {18, 18}, {80, 13}, blGlyphBottom, 4, 2);
    EXPECT_EQ(p.GlyphPos.y(), 27);
    EXPECT_EQ(p.TextRect.y(), 12);
    p = LayoutGlyphAndText(Client(145, 49), {18, 18}, {80, 13}, blGlyphTop, 3, -1);
    EXPECT_EQ(p.GlyphPos.y(), 3);
    EXPECT_EQ(p.TextRect.y(), 3 + 18 + (49 - 21 - 13) / 2);
}

TEST(LayoutGlyphAndTextTest, MissingGlyphOrCaptionDropsTheSpacingAndOffsetsApply) {
    // A glyph alone is centred whatever the spacing says.
    auto p = LayoutGlyphAndText(Client(33, 28), {18, 18}, {0, 0}, blGlyphLeft, -1, 4);
    EXPECT_EQ(p.GlyphPos, QPoint(8, 5));
    // A caption alone is centred too.
    p = LayoutGlyphAndText(Client(105, 25), {0, 0}, {41, 13}, blGlyphLeft, -1, 4);
    EXPECT_EQ(p.TextRect, QRect(32, 6, 41, 13));
    // The client's offset moves glyph and caption.
    p = LayoutGlyphAndText(QRect(2, 3, 100, 30), {18, 18}, {40, 13}, blGlyphLeft, 8, 4);
    EXPECT_EQ(p.GlyphPos, QPoint(10, 9));
    EXPECT_EQ(p.TextRect.topLeft(), QPoint(2 + 30, 3 + 9));
    // Too little room: (10 - 18 + 1) / 2 truncates towards zero to -3.
    p = LayoutGlyphAndText(Client(10, 10), {18, 18}, {0, 0}, blGlyphLeft, -1, -1);
    EXPECT_EQ(p.GlyphPos, QPoint(-3, -3));
}

class ButtonGlyphTest : public testing::Test {
protected:
    void SetUp() override { QApplication::setPalette(ClassicPalette()); }
    void TearDown() override { QApplication::setPalette(ClassicPalette()); }
};

TEST_F(ButtonGlyphTest, NumGlyphsFollowsStripsThatAreMultiplesOfTheirHeight) {
    TButtonGlyph g;
    EXPECT_EQ(g.NumGlyphs(), 1);
    EXPECT_EQ(g.TransparentColor(), qRgb(128, 128, 0));
    g.SetGlyph(Strip(2, 18, 18));
    EXPECT_EQ(g.NumGlyphs(), 2);
    QImage odd(100, 18, QImage::Format_RGB32);
    odd.fill(Qt::red);
    g.SetGlyph(odd); // not a multiple: kept
    EXPECT_EQ(g.NumGlyphs(), 2);
    g.SetGlyph(Strip(5, 18, 18)); // more than four images: one
    EXPECT_EQ(g.NumGlyphs(), 1);
    g.SetGlyph(Strip(4, 18, 18));
    EXPECT_EQ(g.NumGlyphs(), 4);
    g.SetNumGlyphs(0);
    EXPECT_EQ(g.NumGlyphs(), 4);
    g.SetNumGlyphs(9);
    EXPECT_EQ(g.NumGlyphs(), 4);
    g.SetGlyph(QImage()); // an empty strip changes nothing but the picture
    EXPECT_EQ(g.NumGlyphs(), 4);
    EXPECT_EQ(g.RenderStateImage(bsUp), -1);
}

TEST_F(ButtonGlyphTest, TransparentColourIsTheBottomLeftPixelOrWhiteForOneBit) {
    TButtonGlyph g;
    QImage img = Strip(1, 8, 8);
    img.setPixel(0, 7, qRgb(1, 2, 3));
    g.SetGlyph(img);
    EXPECT_EQ(g.TransparentColor() & 0xFFFFFF, 0x010203u);
    QImage mono(8, 8, QImage::Format_Mono);
    mono.fill(0);
    g.SetGlyph(mono);
    EXPECT_EQ(g.TransparentColor() & 0xFFFFFF, 0xFFFFFFu);
}

TEST_F(ButtonGlyphTest, StateImagesComeFromTheirStripImageMasked) {
    TButtonGlyph g;
    g.SetGlyph(Strip(3, 6, 6));
    const int up = g.RenderStateImage(bsUp);
    ASSERT_GE(up, 0);
    const QImage upImg = g.GlyphList()->Image(up);
    ASSERT_EQ(upImg.size(), QSize(6, 6));
    EXPECT_EQ(upImg.pixel(2, 2), 0xFFFF0000u);
    EXPECT_EQ(qAlpha(upImg.pixel(0, 5)), 0); // the olive corner is see-through

    const QImage down = g.GlyphList()->Image(g.RenderStateImage(bsDown));
    EXPECT_EQ(down.pixel(2, 2), 0xFF0000FFu); // third image
    // Stay-down without a fourth image uses the first.
    EXPECT_EQ(g.GlyphList()->Image(g.RenderStateImage(bsExclusive)).pixel(2, 2), 0xFFFF0000u);
    // Rendered once: asking again returns the same slot.
    EXPECT_EQ(g.RenderStateImage(bsUp), up);

    g.SetNumGlyphs(2); // a pressed button without a pressed image shows up
    EXPECT_EQ(g.ImageIndex(bsUp), -1);
    EXPECT_EQ(g.RenderStateImage(bsDown), g.RenderStateImage(bsUp));
}

TEST_F(ButtonGlyphTest, DisabledImageTakesTheCurrent3DColours) {
    QPalette pal = ClassicPalette();
    pal.setColor(QPalette::Light, QColor(0xF0, 0xF0, 0xE0));
    pal.setColor(QPalette::Dark, QColor(0x50, 0x60, 0x70));
    QApplication::setPalette(pal);

    QImage strip(8, 4, QImage::Format_RGB32);
    strip.fill(qRgb(128, 128, 0));
    strip.setPixel(5, 1, qRgb(255, 255, 255));
    strip.setPixel(6, 1, qRgb(128, 128, 128));
    strip.setPixel(7, 1, qRgb(10, 20, 30));
    TButtonGlyph g;
    g.SetGlyph(strip);
    ASSERT_EQ(g.NumGlyphs(), 2);
    const int index = g.RenderStateImage(bsDisabled);
    ASSERT_NE(g.GlyphList(), nullptr);
    const QImage dis = g.GlyphList()->Image(index);
    EXPECT_EQ(dis.pixel(1, 1), 0xFFF0F0E0u);
    EXPECT_EQ(dis.pixel(2, 1), 0xFF506070u);
    EXPECT_EQ(dis.pixel(3, 1), 0xFF0A141Eu); // other colours stay
    EXPECT_EQ(qAlpha(dis.pixel(0, 0)), 0);
}

TEST_F(ButtonGlyphTest, OneImageGlyphIsEmbossedWhenDisabled) {
    QImage img(5, 5, QImage::Format_RGB32);
    img.fill(qRgb(128, 128, 0));
    img.setPixel(1, 1, qRgb(0, 0, 0));
    img.setPixel(3, 1, qRgb(250, 250, 250)); // light pixels are not ink
    TButtonGlyph g;
    g.SetGlyph(img);
    const int index = g.RenderStateImage(bsDisabled);
    ASSERT_NE(g.GlyphList(), nullptr);
    const QImage dis = g.GlyphList()->Image(index);
    EXPECT_EQ(dis.pixel(1, 1), 0xFF808080u); // shadow in place
    EXPECT_EQ(dis.pixel(2, 2), 0xFFFFFFFFu); // highlight right and down
    EXPECT_EQ(dis.pixel(3, 1), 0xFFC0C0C0u); // button face
    EXPECT_EQ(dis.pixel(0, 4), 0xFFC0C0C0u);
}

TEST_F(ButtonGlyphTest, ListsAreSharedPerSizeAndSlotsReused) {
    ASSERT_EQ(TGlyphCache::Existing(), nullptr);
    {
        TButtonGlyph a, b, c;
        a.SetGlyph(Strip(2, 18, 18));
        b.SetGlyph(Strip(2, 18, 18));
        c.SetGlyph(Strip(1, 16, 16));
        const int a0 = a.RenderStateImage(bsUp);
        const int b0 = b.RenderStateImage(bsUp);
        c.RenderStateImage(bsUp);
        ASSERT_NE(TGlyphCache::Existing(), nullptr);
        EXPECT_EQ(a.GlyphList(), b.GlyphList());
        EXPECT_NE(a.GlyphList(), c.GlyphList());
        EXPECT_EQ(TGlyphCache::Existing()->ListCount(), 2);
        EXPECT_NE(a0, b0);
        TGlyphList* shared = a.GlyphList();

        // A new strip drops a's images; b's next image takes the freed slot.
        a.SetGlyph(Strip(2, 18, 18));
        EXPECT_EQ(a.GlyphList(), nullptr);
        EXPECT_EQ(b.RenderStateImage(bsDisabled), a0);
        EXPECT_EQ(shared->Count(), 2);
        EXPECT_EQ(shared->Capacity(), 2);

        // The last glyph of a size hands its list back, which goes away.
        c.SetGlyph(QImage());
        EXPECT_EQ(TGlyphCache::Existing()->ListCount(), 1);
    }
    EXPECT_EQ(TGlyphCache::Existing(), nullptr);
}

} // namespace

#include "controls/BevelFrame.h"
#include "PixelTools.h"
#include "controls/SystemColors.h"

#include <QPainter>
#include <gtest/gtest.h>

using namespace netsonde::test;

namespace {

constexpr QRgb kFace = 0xFFC0C0C0, kShadow = 0xFF808080, kHighlight = 0xFFFFFFFF,
               kDark = 0xFF000000;

QImage framed(const QRect& r, TPanelBevel_ex kind, bool circular, int rings,
              QRect* result = nullptr) {
    QImage image = BlankImage(100, 60);
    QPainter p(&image);
    const QRect inner = DrawBevelFrame(p, r, kind, circular, rings, ClassicPalette());
    if (result)
        *result = inner;
    return image;
}

// One rectangular ring on the pixels L..R-1, T..B-1 as it should look:
// c1 on the left edge (with the bottom-left corner) and the top edge (with
// the top-left corner), c2 on the right and bottom edges with their corners.
void paintRing(QImage& image, int L, int T, int R, int B, QRgb c1, QRgb c2) {
    for (int y = T; y < B; ++y) {
        image.setPixel(L, y, c1);
        image.setPixel(R - 1, y, c2);
    }
    for (int x = L; x < R; ++x) {
        image.setPixel(x, T, c1);
        image.setPixel(x, B - 1, c2);
    }
    image.setPixel(L, B - 1, c1);
    image.setPixel(R - 1, T, c2);
}

QRgb firstInk(const QImage& image, QPoint from, QPoint step) {
    for (QPoint p = from; image.rect().contains(p); p += step)
        if (image.pixel(p) != kBackground)
            return image.pixel(p);
    return kBackground;
}

} // namespace

TEST(DrawBevelFrame, RectangularRingsOwnTheirCorners) {
    struct Case {
        TPanelBevel_ex kind;
        QRgb c1, c2;
    } cases[] = {
        {TPanelBevel_ex::bvxlowered, kShadow, kHighlight},
        {TPanelBevel_ex::bvxraised, kHighlight, kShadow},
        // Reads as a single dark line at the top and left.
        {TPanelBevel_ex::bvxmorelowered, kDark, kFace},
    };
    for (const Case& c : cases) {
        QRect inner;
        const QImage actual = framed(QRect(2, 3, 10, 8), c.kind, false, 2, &inner);
        QImage wanted = BlankImage(100, 60);
        paintRing(wanted, 2, 3, 12, 11, c.c1, c.c2);
        paintRing(wanted, 3, 4, 11, 10, c.c1, c.c2);
        EXPECT_EQ(FirstDifference(actual, wanted), "") << int(c.kind);
        EXPECT_EQ(inner, QRect(4, 5, 6, 4));
    }
}

TEST(DrawBevelFrame, NoRingsDrawNothing) {
    for (int rings : {0, -1}) {
        for (bool circular : {false, true}) {
            QRect inner;
            const QImage image =
                framed(QRect(2, 3, 40, 30), TPanelBevel_ex::bvxraised, circular, rings, &inner);
            EXPECT_TRUE(Ink(image).empty());
            EXPECT_EQ(inner, QRect(2, 3, 40, 30));
        }
    }
}

TEST(DrawBevelFrame, DegenerateRectanglesAreSafe) {
    for (const QRect& r : {QRect(5, 5, 1, 1), QRect(5, 5, 0, 0), QRect(5, 5, 1, 9)}) {
        for (bool circular : {false, true}) {
            const QImage image = framed(r, TPanelBevel_ex::bvxlowered, circular, 3);
            for (const QPoint& p : Ink(image))
                EXPECT_TRUE(r.contains(p));
        }
    }
}

TEST(DrawBevelFrame, EllipticRingsSplitAtEighthsAndQuarters) {
    const QRect r(10, 10, 80, 40);
    struct Case {
        TPanelBevel_ex kind;
        QRgb c1, c2, c3;
    } cases[] = {
        {TPanelBevel_ex::bvxlowered, kDark, kShadow, kHighlight},
        {TPanelBevel_ex::bvxmorelowered, kDark, kShadow, kFace},
        {TPanelBevel_ex::bvxraised, kHighlight, kShadow, kDark},
    };
    for (const Case& c : cases) {
        QRect inner;
        const QImage image = framed(r, c.kind, true, 1, &inner);
        EXPECT_EQ(inner, r.adjusted(1, 1, -1, -1));
        for (const QPoint& p : Ink(image)) {
            ASSERT_TRUE(r.contains(p)) << p.x() << "," << p.y();
            const QRgb v = image.pixel(p);
            EXPECT_TRUE(v == c.c1 || v == c.c2 || v == c.c3);
        }
        const int cx = 50, top = 10, bottom = 49, left = 10, right = 89;
        // Top and left in C1, bottom and lower right in C3, upper right and
        // lower left in C2.
        EXPECT_EQ(firstInk(image, {cx, top}, {0, 1}), c.c1);
        EXPECT_EQ(firstInk(image, {left, 30}, {1, 0}), c.c1);
        EXPECT_EQ(firstInk(image, {cx, bottom}, {0, -1}), c.c3);
        EXPECT_EQ(firstInk(image, {right, 10 + 25}, {-1, 0}), c.c3);
        EXPECT_EQ(firstInk(image, {right, 10 + 15}, {-1, 0}), c.c2);
        EXPECT_EQ(firstInk(image, {left, 10 + 35}, {1, 0}), c.c2);
        // The ring touches all four sides of its rectangle.
        EXPECT_NE(firstInk(image, {left, 10}, {0, 1}), kBackground);
        EXPECT_NE(firstInk(image, {right, 10}, {0, 1}), kBackground);
        EXPECT_NE(firstInk(image, {left, top}, {1, 0}), kBackground);
        EXPECT_NE(firstInk(image, {left, bottom}, {1, 0}), kBackground);
    }
}

TEST(DrawBevelFrame, SecondEllipticRingLiesInsideTheFirst) {
    const QRect r(10, 10, 80, 40);
    const QImage one = framed(r, TPanelBevel_ex::bvxraised, true, 1);
    QRect inner;
    const QImage two = framed(r, TPanelBevel_ex::bvxraised, true, 2, &inner);
    EXPECT_EQ(inner, r.adjusted(2, 2, -2, -2));
    EXPECT_GT(Ink(two).size(), Ink(one).size());
    // Just inside the top of the outer ring, the inner ring starts.
    int y = 10;
    while (one.pixel(50, y) == kBackground)
        ++y;
    EXPECT_EQ(two.pixel(50, y), kHighlight);
    EXPECT_EQ(two.pixel(50, y + 1), kHighlight);
}

TEST(DrawBevelFrame, LeavesASolidOnePixelPenAndNoBrush) {
    QImage image = BlankImage(100, 60);
    QPainter p(&image);
    p.setPen(QPen(Qt::red, 5, Qt::DashLine));
    p.setBrush(Qt::blue);
    DrawBevelFrame(p, QRect(0, 0, 20, 20), TPanelBevel_ex::bvxraised, false, 1, ClassicPalette());
    EXPECT_EQ(p.pen().style(), Qt::SolidLine);
    EXPECT_EQ(p.pen().width(), 1);
    EXPECT_EQ(p.brush().style(), Qt::NoBrush);
}

#include "controls/Draw3D.h"
#include "PixelTools.h"
#include "controls/SystemColors.h"

#include <QFontMetrics>
#include <QPainter>
#include <gtest/gtest.h>

using namespace netsonde::test;

namespace {

const QRect kTextRect(10, 10, 140, 60);
const QString kText = QStringLiteral("Secs.:");

// Draws kText in a style, black on the background, with the classic colours.
QImage drawn(T3D style, qreal points, unsigned format = DT_LEFT) {
    QImage image = BlankImage(160, 80);
    QPainter p(&image);
    p.setFont(CrispFont(points));
    p.setPen(QColor(Qt::black));
    Draw3DText(p, kTextRect, kText, style, format, ClassicPalette());
    return image;
}

struct Copy {
    QPoint offset;
    QRgb color;
};

// What the copies should give: the plain text's pixels, moved and coloured
// copy by copy, later copies over earlier ones.
QImage expected(qreal points, const std::vector<Copy>& copies) {
    const std::vector<QPoint> ink = Ink(drawn(T3D::normal, points));
    QImage image = BlankImage(160, 80);
    for (const Copy& copy : copies)
        for (const QPoint& p : ink)
            image.setPixel(p + copy.offset, copy.color);
    return image;
}

constexpr QRgb kShadow = 0xFF808080, kHighlight = 0xFFFFFFFF, kBlack = 0xFF000000,
               kGray = 0xFF808080;

} // namespace

TEST(Draw3DText, OffsetsOfEveryStyle) {
    const T3DOffsets none = Get3DOffsets(T3D::normal);
    EXPECT_FALSE(none.Flag);
    struct Row {
        T3D style;
        QPoint p1, p2, p3;
    } rows[] = {
        {T3D::hundido, {-1, -1}, {2, 2}, {-1, -1}},
        {T3D::sobresalido, {1, 1}, {-2, -2}, {1, 1}},
        {T3D::Grisado, {0, 0}, {1, 1}, {-1, -1}},
        {T3D::Sombreado, {3, 2}, {-1, -1}, {-3, -2}},
    };
    for (const Row& row : rows) {
        const T3DOffsets o = Get3DOffsets(row.style);
        EXPECT_TRUE(o.Flag);
        EXPECT_EQ(o.P1, row.p1);
        EXPECT_EQ(o.P2, row.p2);
        EXPECT_EQ(o.P3, row.p3);
    }
}

TEST(Draw3DText, SmallFontCopiesOfEachStyle) {
    ASSERT_FALSE(Ink(drawn(T3D::normal, 9)).empty());
    EXPECT_EQ(FirstDifference(drawn(T3D::hundido, 9),
                              expected(9, {{{1, 1}, kHighlight}, {{0, 0}, kBlack}})),
              "");
    EXPECT_EQ(FirstDifference(drawn(T3D::sobresalido, 9),
                              expected(9, {{{-1, -1}, kHighlight}, {{0, 0}, kBlack}})),
              "");
    EXPECT_EQ(FirstDifference(drawn(T3D::Grisado, 9),
                              expected(9, {{{1, 1}, kHighlight}, {{0, 0}, kGray}})),
              "");
    // The drop shadow keeps the shadow colour and its text lands one pixel
    // up and left of where the other styles put it.
    EXPECT_EQ(FirstDifference(drawn(T3D::Sombreado, 9),
                              expected(9, {{{2, 1}, kShadow}, {{-1, -1}, kBlack}})),
              "");
}

TEST(Draw3DText, LargeFontsGetTheExtraShadowCopy) {
    // 20 points is not yet larger than 20: no shadow copy.
    EXPECT_EQ(FirstDifference(drawn(T3D::hundido, 20),
                              expected(20, {{{1, 1}, kHighlight}, {{0, 0}, kBlack}})),
              "");
    EXPECT_EQ(FirstDifference(
                  drawn(T3D::hundido, 21),
                  expected(21, {{{-1, -1}, kShadow}, {{1, 1}, kHighlight}, {{0, 0}, kBlack}})),
              "");
    EXPECT_EQ(FirstDifference(
                  drawn(T3D::sobresalido, 21),
                  expected(21, {{{1, 1}, kShadow}, {{-1, -1}, kHighlight}, {{0, 0}, kBlack}})),
              "");
    EXPECT_EQ(
        FirstDifference(drawn(T3D::Grisado, 21),
                        expected(21, {{{0, 0}, kShadow}, {{1, 1}, kHighlight}, {{0, 0}, kGray}})),
        "");
    EXPECT_EQ(
        FirstDifference(drawn(T3D::Sombreado, 21),
                        expected(21, {{{3, 2}, kShadow}, {{2, 1}, kShadow}, {{-1, -1}, kBlack}})),
        "");
}

TEST(Draw3DText, LeavesTheTextColourAndAClearBrush) {
    QImage image = BlankImage(160, 80);
    QPainter p(&image);
    p.setFont(CrispFont(9));
    p.setPen(QColor(0x123456));
    p.setBrush(Qt::red);
    Draw3DText(p, kTextRect, kText, T3D::hundido, DT_LEFT, ClassicPalette());
    EXPECT_EQ(p.pen().color(), QColor(0x123456));
    EXPECT_EQ(p.brush().style(), Qt::NoBrush);
    Draw3DText(p, kTextRect, kText, T3D::Grisado, DT_LEFT, ClassicPalette());
    EXPECT_EQ(p.pen().color(), QColor(0x808080));
}

TEST(Draw3DText, MeasuringDrawsNothingAndKeepsTheTopLeftCorner) {
    QImage image = BlankImage(160, 80);
    QPainter p(&image);
    p.setFont(CrispFont(9));
    const QRect r = Draw3DText(p, QRect(5, 7, 100, 20), kText, T3D::hundido,
                               DT_CALCRECT | DT_RIGHT | DT_VCENTER, ClassicPalette());
    p.end();
    EXPECT_TRUE(Ink(image).empty());
    const int advance = QFontMetrics(CrispFont(9), &image).horizontalAdvance(kText);
    // Enlarged by 2 on every side from (5, 7), whatever the alignment says.
    EXPECT_EQ(r.left(), 3);
    EXPECT_EQ(r.top(), 5);
    EXPECT_EQ(r.width(), advance + 4);
    EXPECT_EQ(r.height(), QFontMetrics(CrispFont(9), &image).height() + 4);
}

TEST(Draw3DText, PlacementAndPrefixFlags) {
    auto inkBox = [](unsigned format, const QString& text) {
        QImage image = BlankImage(160, 80);
        QPainter p(&image);
        p.setFont(CrispFont(9));
        p.setPen(QColor(Qt::black));
        Draw3DText(p, kTextRect, text, T3D::normal, format, ClassicPalette());
        p.end();
        QRect box;
        for (const QPoint& pt : Ink(image))
            box |= QRect(pt, QSize(1, 1));
        return box;
    };
    const QRect topLeft = inkBox(DT_LEFT, kText);
    const QRect bottomRight = inkBox(DT_RIGHT | DT_BOTTOM, kText);
    EXPECT_LE(topLeft.left(), kTextRect.left() + 2);
    EXPECT_LE(topLeft.top(), kTextRect.top() + 4);
    EXPECT_GE(bottomRight.right(), kTextRect.right() - 2);
    EXPECT_GE(bottomRight.bottom(), kTextRect.bottom() - 6);
    EXPECT_EQ(bottomRight.size(), topLeft.size());
    // A vertical placement implies a single line: the line break is not taken.
    const QRect twoLines = inkBox(DT_LEFT, QStringLiteral("A\nB"));
    const QRect centred = inkBox(DT_VCENTER, QStringLiteral("A\nB"));
    EXPECT_LT(centred.height(), twoLines.height());
    // With the prefix on, "&&" is one ampersand; with DT_NOPREFIX it is two.
    EXPECT_LT(inkBox(DT_LEFT, QStringLiteral("&&")).width(),
              inkBox(DT_NOPREFIX, QStringLiteral("&&")).width());
}

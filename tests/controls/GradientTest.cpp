#include "controls/GradientPanel.h"
#include "controls/MulDiv.h"
#include "controls/SystemColors.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QSet>
#include <climits>
#include <gtest/gtest.h>

namespace {

class GradientTest : public testing::Test {
protected:
    void SetUp() override { QApplication::setPalette(ClassicPalette()); }

    // A 10-pixel-wide gradient from white to grey in rows [top, top + h)
    // of an image pre-filled with magenta.
    QImage Paint(int top, int h, TColor from = clBtnHighlight, TColor to = clBtnShadow) {
        QImage img(10, top + h + 2, QImage::Format_RGB32);
        img.fill(Qt::magenta);
        QPainter p(&img);
        DrawGradient(p, QRect(0, top, 10, h), from, to);
        return img;
    }
    static int Grey(const QImage& img, int y) { return qRed(img.pixel(5, y)); }
};

TEST(MulDivTest, RoundsToNearestAndRefusesWhatDoesNotFit) {
    EXPECT_EQ(MulDiv(5, 3, 2), 8); // 7.5 rounds away from zero
    EXPECT_EQ(MulDiv(-5, 3, 2), -8);
    EXPECT_EQ(MulDiv(5, -3, -2), 8);
    EXPECT_EQ(MulDiv(7, 3, 4), 5); // 5.25
    EXPECT_EQ(MulDiv(1, 1, 0), -1);
    EXPECT_EQ(MulDiv(INT_MAX, INT_MAX, INT_MAX), INT_MAX); // no 32-bit overflow inside
    EXPECT_EQ(MulDiv(INT_MAX, INT_MAX, 1), -1);
}

TEST_F(GradientTest, BandsFollowRoundedSplitsAndEndOnTheBottomColour) {
    // Height 20: 22 bands of about 0.9 rows, colour steps of 127 / 21.
    const QImage img = Paint(0, 20);
    EXPECT_EQ(Grey(img, 0), 255);
    EXPECT_EQ(Grey(img, 1), 249);  // band 1: 255 - round(6.05)
    EXPECT_EQ(Grey(img, 10), 188); // band 11: 255 - round(66.52); empty if truncated
    EXPECT_EQ(Grey(img, 18), 134); // band 20
    EXPECT_EQ(Grey(img, 19), 128); // the last band has exactly the bottom colour
    for (int y = 0; y < 20; ++y) {
        const QRgb p = img.pixel(5, y);
        EXPECT_TRUE(qRed(p) == qGreen(p) && qGreen(p) == qBlue(p)) << "row " << y;
        if (y > 0) {
            EXPECT_LE(Grey(img, y), Grey(img, y - 1)) << "row " << y;
        }
    }
    EXPECT_EQ(img.pixel(5, 20), QColor(Qt::magenta).rgb()); // nothing below the rect
}

TEST_F(GradientTest, TallRectsUseOneBandPerColourStep) {
    const QImage img = Paint(7, 300);
    EXPECT_EQ(img.pixel(5, 6), QColor(Qt::magenta).rgb());
    EXPECT_EQ(Grey(img, 7), 255);
    EXPECT_EQ(Grey(img, 306), 128);
    // 128 bands over 300 rows: every grey from 255 down to 128 appears.
    QSet<int> seen;
    for (int y = 7; y < 307; ++y)
        seen.insert(Grey(img, y));
    EXPECT_EQ(seen.size(), 128);
    EXPECT_EQ(img.pixel(5, 307), QColor(Qt::magenta).rgb());
}

TEST_F(GradientTest, ReversedAndEqualColoursAndEmptyRects) {
    const QImage up = Paint(0, 20, clBtnShadow, clBtnHighlight);
    EXPECT_EQ(Grey(up, 0), 128);
    EXPECT_EQ(Grey(up, 19), 255);

    const QImage flat = Paint(0, 5, clBtnFace, clBtnFace);
    for (int y = 0; y < 5; ++y)
        EXPECT_EQ(Grey(flat, y), 0xC0);

    QImage img(4, 4, QImage::Format_RGB32);
    img.fill(Qt::magenta);
    QPainter p(&img);
    DrawGradient(p, QRect(0, 2, 4, 0), clBtnHighlight, clBtnShadow);
    DrawGradient(p, QRect(QPoint(0, 3), QPoint(3, 1)), clBtnHighlight, clBtnShadow);
    p.end();
    for (int y = 0; y < 4; ++y)
        EXPECT_EQ(img.pixel(1, y), QColor(Qt::magenta).rgb());
}

} // namespace

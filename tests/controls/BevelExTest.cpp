#include "ControlFixture.h"
#include "PixelTools.h"
#include "controls/tbevel_ex.h"

using namespace netsonde::test;

namespace {

class BevelEx : public ControlFixture {
protected:
    QImage Pixels() {
        QImage image = BlankImage(bevel->width(), bevel->height());
        bevel->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
        return image;
    }
    void SetUp() override {
        ControlFixture::SetUp();
        bevel = new tbevel_ex(window.get());
    }
    tbevel_ex* bevel = nullptr;
};

constexpr QRgb kShadow = 0xFF808080;

} // namespace

TEST_F(BevelEx, DefaultsShowTwoSeparateFrames) {
    EXPECT_EQ(bevel->size(), QSize(50, 50));
    const QImage image = Pixels();
    // Outer ring, lowered: shadow at the top-left, highlight at the bottom-right.
    EXPECT_EQ(image.pixel(0, 0), kShadow);
    EXPECT_EQ(image.pixel(49, 49), kWhite);
    // Four pixels of nothing, then the raised inner ring.
    for (int x = 1; x <= 4; ++x)
        EXPECT_EQ(image.pixel(x, 25), kBackground);
    EXPECT_EQ(image.pixel(5, 25), kWhite);
    EXPECT_EQ(image.pixel(44, 25), kShadow);
    EXPECT_EQ(image.pixel(25, 25), kBackground) << "no fill";
}

TEST_F(BevelEx, NoBorderMakesAnEtchedGroove) {
    bevel->SetBorderWidth(0);
    bevel->SetBorderHeight(0);
    const QImage image = Pixels();
    EXPECT_EQ(image.pixel(0, 25), kShadow);
    EXPECT_EQ(image.pixel(1, 25), kWhite);
    EXPECT_EQ(image.pixel(48, 25), kShadow);
    EXPECT_EQ(image.pixel(49, 25), kWhite);
}

TEST_F(BevelEx, FillsWithoutRings) {
    bevel->SetClrOutter(TColor(0x0000FF));
    bevel->SetBevelOutter(TPanelBevel_ex::bvxnone);
    bevel->SetBevelInner(TPanelBevel_ex::bvxnone);
    const QImage image = Pixels();
    for (const QPoint& p : {QPoint(0, 0), QPoint(49, 49), QPoint(25, 25)})
        EXPECT_EQ(image.pixel(p), 0xFF0000FF);
    bevel->SetClrInner(TColor(0xFF0000));
    const QImage inner = Pixels();
    EXPECT_EQ(inner.pixel(3, 3), 0xFF0000FF);
    EXPECT_EQ(inner.pixel(4, 4), 0xFFFF0000);
    EXPECT_EQ(inner.pixel(45, 45), 0xFFFF0000);
    EXPECT_EQ(inner.pixel(46, 46), 0xFF0000FF);
}

TEST_F(BevelEx, ZeroRingsKeepTheBorderInPlace) {
    bevel->SetWidthOutter(0);
    bevel->SetClrInner(TColor(0xFF0000));
    bevel->SetBevelInner(TPanelBevel_ex::bvxnone);
    const QImage image = Pixels();
    EXPECT_EQ(image.pixel(3, 3), kBackground);
    EXPECT_EQ(image.pixel(4, 4), 0xFFFF0000);
}

TEST_F(BevelEx, CircularShapeDrawsEllipses) {
    bevel->resize(80, 40);
    bevel->SetShape(tbevelshape_ex::bsxcircular);
    bevel->SetClrOutter(TColor(0x0000FF));
    const QImage image = Pixels();
    EXPECT_EQ(image.pixel(0, 0), kBackground) << "corners stay outside the ellipse";
    EXPECT_EQ(image.pixel(40, 20), 0xFF0000FF);
    EXPECT_EQ(image.pixel(40, 0), 0xFF000000) << "lowered ellipse: darkest shadow on top";
}

#include "ControlFixture.h"
#include "PixelTools.h"
#include "controls/g_bevel.h"
#include "controls/g_image.h"
#include "controls/g_panel.h"

using namespace netsonde::test;

namespace {

class PlainControls : public ControlFixture {
protected:
    static QImage Pixels(QWidget* w) {
        QImage image = BlankImage(w->width(), w->height());
        w->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
        return image;
    }
};

constexpr QRgb kShadow = 0xFF808080;

} // namespace

TEST_F(PlainControls, PanelWithLoweredOuterAndRaisedInnerBevel) {
    auto* panel = new g_panel(window.get());
    panel->resize(123, 169);
    panel->SetBevelOuter(TPanelBevel::bvLowered);
    panel->SetBevelInner(TPanelBevel::bvRaised);
    const QImage image = Pixels(panel);
    EXPECT_EQ(image.pixel(0, 0), kShadow);
    EXPECT_EQ(image.pixel(122, 168), kWhite);
    EXPECT_EQ(image.pixel(1, 1), kWhite);
    EXPECT_EQ(image.pixel(121, 167), kShadow);
    EXPECT_EQ(image.pixel(60, 80), kFace);
    panel->SetBorderWidth(3);
    EXPECT_EQ(Pixels(panel).pixel(1, 1), kFace);
    EXPECT_EQ(Pixels(panel).pixel(4, 4), kWhite);
}

TEST_F(PlainControls, BevelBoxAndLines) {
    auto* bevel = new g_bevel(window.get());
    bevel->resize(20, 10);
    QImage image = Pixels(bevel);
    EXPECT_EQ(image.pixel(0, 0), kShadow);
    EXPECT_EQ(image.pixel(19, 9), kWhite);
    EXPECT_EQ(image.pixel(10, 5), kBackground);
    bevel->SetStyle(TBevelStyle::bsRaised);
    bevel->SetShape(TBevelShape::bsBottomLine);
    image = Pixels(bevel);
    EXPECT_EQ(image.pixel(5, 8), kWhite);
    EXPECT_EQ(image.pixel(5, 9), kShadow);
    EXPECT_EQ(image.pixel(5, 0), kBackground);
}

TEST_F(PlainControls, ImageSizesToItsPictureAndCentres) {
    auto* image = new g_image(window.get());
    QImage picture(10, 6, QImage::Format_RGB32);
    picture.fill(Qt::red);
    image->resize(30, 30);
    image->SetCenter(true);
    image->SetPicture(picture);
    QImage shown = Pixels(image);
    EXPECT_EQ(shown.pixel(0, 0), kBackground);
    EXPECT_EQ(shown.pixel(15, 15), 0xFFFF0000);
    image->SetAutoSize(true);
    EXPECT_EQ(image->size(), QSize(10, 6));
}

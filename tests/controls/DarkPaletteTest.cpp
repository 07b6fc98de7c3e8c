#include "controls/KindBitmaps.h"
#include "controls/SystemColors.h"
#include "controls/TCBitBtn.h"
#include "controls/tbevel_ex.h"
#include "support/FakeSounds.h"

#include <QApplication>
#include <gtest/gtest.h>

namespace {

// A dark theme whose 3D colours lie close to its face, as many do.
QPalette DarkPalette() {
    QPalette p;
    auto set = [&p](QPalette::ColorRole role, QRgb rgb) {
        p.setColor(QPalette::All, role, QColor::fromRgb(rgb));
    };
    set(QPalette::Window, 0x31363B);
    set(QPalette::WindowText, 0xEFF0F1);
    set(QPalette::Button, 0x31363B);
    set(QPalette::ButtonText, 0xEFF0F1);
    set(QPalette::Light, 0x40464C);
    set(QPalette::Dark, 0x1D2023);
    set(QPalette::Shadow, 0x0C0D0E);
    set(QPalette::Base, 0x232629);
    set(QPalette::Text, 0xEFF0F1);
    set(QPalette::Highlight, 0x3DAEE9);
    return p;
}

class DarkPaletteTest : public testing::Test {
protected:
    void SetUp() override {
        saved = QApplication::palette();
        QApplication::setPalette(DarkPalette());
        face = clBtnFace.Resolve();
    }
    void TearDown() override { QApplication::setPalette(saved); }

    // The widget painted on its own face colour.
    QImage OnFace(QWidget* w) {
        QImage img(w->size(), QImage::Format_RGB32);
        img.fill(face);
        w->render(&img, QPoint(), QRegion(), QWidget::DrawChildren);
        return img;
    }

    QPalette saved;
    QColor face;
    netsonde::test::FakeSounds sounds;
};

TEST_F(DarkPaletteTest, GroovesStandOutFromTheFace) {
    tbevel_ex groove;
    groove.resize(60, 40);
    groove.SetBorderWidth(0);
    groove.SetBorderHeight(0);
    const QImage img = OnFace(&groove);
    // Both lines of the groove on the left and on the right edge, and the
    // highlight stays the lighter one.
    for (int x : {0, 1, 58, 59})
        EXPECT_GE(ContrastRatio(img.pixelColor(x, 20), face), 3.0) << x;
    EXPECT_GT(qGray(img.pixel(1, 20)), qGray(img.pixel(0, 20)));
}

TEST_F(DarkPaletteTest, DimmedGlyphOfAFlatButtonAtRestIsLegible) {
    TCBitBtn b;
    b.resize(40, 30);
    b.SetGlyph(GetKindBitmap(bkOK));
    ASSERT_FALSE(b.Lit());
    const QImage img = OnFace(&b);
    int ink = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const QColor c = img.pixelColor(x, y);
            if (c == face)
                continue;
            ++ink;
            EXPECT_GE(ContrastRatio(c, face), 3.0) << x << "," << y << " " << qPrintable(c.name());
        }
    EXPECT_GT(ink, 20);
}

} // namespace

#include "DialogGlyphs.h"

#include <QImage>
#include <gtest/gtest.h>

namespace {

// The committed pictures are exactly what the generator draws, and they are
// linked into the dialog library as resources.
TEST(DialogGlyphs, CommittedPicturesMatchTheGenerator) {
    for (const QString& name : DialogGlyphs::Names()) {
        SCOPED_TRACE(name.toStdString());
        QImage shipped(QStringLiteral(":/dialogs/%1.png").arg(name));
        ASSERT_FALSE(shipped.isNull());
        const QImage made = DialogGlyphs::Make(name);
        EXPECT_EQ(shipped.convertToFormat(QImage::Format_RGB32), made);
    }
}

TEST(DialogGlyphs, StripsHoldTwoImagesWithTransparentCorner) {
    for (const QString& name : DialogGlyphs::Names()) {
        SCOPED_TRACE(name.toStdString());
        const QImage strip = DialogGlyphs::Make(name);
        const int images = name == QLatin1String("save") ? 1 : 2;
        EXPECT_EQ(strip.size(), QSize(images * DialogGlyphs::Size, DialogGlyphs::Size));
        EXPECT_EQ(strip.pixel(0, DialogGlyphs::Size - 1), qRgb(128, 128, 0));
        if (images == 2) {
            // The disabled image holds nothing but the background, white and grey.
            for (int y = 0; y < strip.height(); ++y)
                for (int x = DialogGlyphs::Size; x < strip.width(); ++x) {
                    const QRgb c = strip.pixel(x, y);
                    ASSERT_TRUE(c == qRgb(128, 128, 0) || c == qRgb(255, 255, 255) ||
                                c == qRgb(128, 128, 128));
                }
        }
    }
}

} // namespace

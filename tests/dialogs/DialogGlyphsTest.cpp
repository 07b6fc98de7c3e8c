#include "DialogGlyphs.h"

#include <QImage>
#include <gtest/gtest.h>

namespace {

const int AllScales[] = {1, 2, 3};

QString FileName(const QString& name, int scale) {
    return scale == 1 ? name + QStringLiteral(".png")
                      : QStringLiteral("%1@%2x.png").arg(name).arg(scale);
}

// The committed pictures, at every scale, are exactly what the generator
// draws, and they are linked into the dialog library as resources.
TEST(DialogGlyphs, CommittedPicturesMatchTheGenerator) {
    for (const QString& name : DialogGlyphs::Names())
        for (int scale : AllScales) {
            SCOPED_TRACE(FileName(name, scale).toStdString());
            QImage shipped(QStringLiteral(":/dialogs/") + FileName(name, scale));
            ASSERT_FALSE(shipped.isNull());
            const QImage made = DialogGlyphs::Make(name, scale);
            EXPECT_EQ(shipped.convertToFormat(QImage::Format_RGB32), made);
        }
}

TEST(DialogGlyphs, StripsHoldTwoImagesWithTransparentCorner) {
    for (const QString& name : DialogGlyphs::Names())
        for (int scale : AllScales) {
            SCOPED_TRACE(FileName(name, scale).toStdString());
            const int size = DialogGlyphs::Size * scale;
            const QImage strip = DialogGlyphs::Make(name, scale);
            const int images = name == QLatin1String("save") ? 1 : 2;
            EXPECT_EQ(strip.size(), QSize(images * size, size));
            EXPECT_EQ(strip.pixel(0, size - 1), qRgb(128, 128, 0));
            if (images == 2) {
                // The disabled image holds nothing but the background, white and grey.
                for (int y = 0; y < strip.height(); ++y)
                    for (int x = size; x < strip.width(); ++x) {
                        const QRgb c = strip.pixel(x, y);
                        ASSERT_TRUE(c == qRgb(128, 128, 0) || c == qRgb(255, 255, 255) ||
                                    c == qRgb(128, 128, 128));
                    }
            }
        }
}

} // namespace

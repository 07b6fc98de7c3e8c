#include "AppArtwork.h"

#include <QFile>
#include <QImage>
#include <gtest/gtest.h>

namespace {

QByteArray committed(const QString& path) {
    QFile f(QStringLiteral(NETSONDE_APP_ART "/") + path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Every committed picture is exactly what the generator draws: the SVG byte
// for byte, the PNG files pixel for pixel.
TEST(AppArtwork, CommittedFilesMatchTheGenerator) {
    for (const AppArtwork::File& file : AppArtwork::Files()) {
        SCOPED_TRACE(file.path.toStdString());
        const QByteArray shipped = committed(file.path);
        ASSERT_FALSE(shipped.isEmpty());
        if (file.path.endsWith(QLatin1String(".svg"))) {
            EXPECT_EQ(shipped, file.data);
            continue;
        }
        const QImage a = QImage::fromData(shipped);
        const QImage b = QImage::fromData(file.data);
        EXPECT_EQ(a.size(), b.size());
        EXPECT_EQ(a.convertToFormat(QImage::Format_ARGB32),
                  b.convertToFormat(QImage::Format_ARGB32));
    }
}

TEST(AppArtwork, PicturesHaveTheirSizesAndBackgrounds) {
    for (int size : AppArtwork::IconSizes()) {
        const QImage icon = AppArtwork::Icon(size);
        EXPECT_EQ(icon.size(), QSize(size, size));
        EXPECT_EQ(qAlpha(icon.pixel(0, 0)), 0) << size;
    }
    const QImage states = AppArtwork::States();
    EXPECT_EQ(states.size(), QSize(96, 32));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(qAlpha(states.pixel(i * 32, 0)), 0) << i;
    const QImage about = AppArtwork::About();
    EXPECT_EQ(about.size(), QSize(305, 137));
    EXPECT_EQ(about.depth(), 24);
    EXPECT_EQ(AppArtwork::AutoGlyph().pixel(0, 17), qRgb(128, 128, 0));
    for (int scale : AppArtwork::Scales) {
        EXPECT_EQ(AppArtwork::States(scale).size(), states.size() * scale);
        EXPECT_EQ(AppArtwork::About(scale).size(), about.size() * scale);
        EXPECT_EQ(AppArtwork::AutoGlyph(scale).size(), QSize(36, 18) * scale);
        EXPECT_EQ(AppArtwork::AutoGlyph(scale).pixel(0, 18 * scale - 1), qRgb(128, 128, 0));
    }
}

} // namespace

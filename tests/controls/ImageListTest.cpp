#include "PixelTools.h"
#include "controls/g_imagelist.h"

#include <QPainter>
#include <gtest/gtest.h>

using namespace netsonde::test;

namespace {

// A strip of three 32 x 32 pictures: red, green and blue squares, each with
// a transparent border of 4 pixels.
QImage strip() {
    QImage image(96, 32, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    const QColor colors[] = {Qt::red, Qt::green, Qt::blue};
    for (int i = 0; i < 3; ++i)
        p.fillRect(i * 32 + 4, 4, 24, 24, colors[i]);
    return image;
}

} // namespace

TEST(ImageList, SplitsAStripIntoImagesOfItsSize) {
    g_imagelist list;
    list.SetSize(32, 32);
    EXPECT_EQ(list.Add(strip()), 0);
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(list.Add(strip()), 3);
    EXPECT_EQ(list.Count(), 6);
    EXPECT_EQ(QColor(list.Image(2).pixel(16, 16)), QColor(Qt::blue));
    EXPECT_EQ(list.Add(QImage(20, 32, QImage::Format_ARGB32)), -1);
    EXPECT_TRUE(list.Image(6).isNull());
    EXPECT_TRUE(list.Image(-1).isNull());
    list.SetSize(16, 16);
    EXPECT_EQ(list.Count(), 0);
}

TEST(ImageList, DrawsWithATransparentBackground) {
    g_imagelist list;
    list.SetSize(32, 32);
    list.Add(strip());
    QImage canvas = BlankImage(40, 40);
    QPainter p(&canvas);
    list.Draw(p, 2, 1, 2);
    list.Draw(p, 0, 0, 7); // no such image: nothing drawn
    p.end();
    EXPECT_EQ(canvas.pixel(3, 2), kBackground);
    EXPECT_EQ(canvas.pixel(2 + 4, 1 + 4), 0xFF0000FFu);
    EXPECT_EQ(canvas.pixel(2 + 28, 1 + 28), kBackground);

    QImage grey = BlankImage(40, 40);
    QPainter g(&grey);
    list.Draw(g, 0, 0, 0, false);
    g.end();
    const QColor c(grey.pixel(10, 10));
    EXPECT_EQ(c.red(), c.green());
    EXPECT_EQ(c.green(), c.blue());
    EXPECT_EQ(grey.pixel(1, 1), kBackground);
}

// The program's pictures: icon 128 in two 16-colour images, the corner picture whose
// background must be exactly (192, 192, 192) for the recolouring to find it, and the
// 256-colour logo on light grey.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <set>

#include "resources/Layout.h"
#include "ui/Pictures.h"

namespace dpx::ui {
namespace {

TEST(Pictures, IconHasTwoSixteenColourImages) {
    for (int size : {32, 16}) {
        const QImage image = ProgramIconImage(size);
        EXPECT_EQ(image.size(), QSize(size, size));
        EXPECT_EQ(image.format(), QImage::Format_Indexed8);
        EXPECT_EQ(image.colorCount(), 16);
        std::set<int> used;
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x) used.insert(image.pixelIndex(x, y));
        EXPECT_GE(used.size(), 4u) << "a picture, not a flat tile";
        EXPECT_LT(*used.rbegin(), 16);
    }
}

TEST(Pictures, CornerPictureIsDarkStrokesOnExactLightGrey) {
    const QImage image = BitmapResource(res::kBitmapCorner);
    EXPECT_EQ(image.size(), QSize(41, 40));
    EXPECT_EQ(image.format(), QImage::Format_RGB888);
    int grey = 0, dark = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (p == kLightGrey) {
                ++grey;
            } else {
                ++dark;
                EXPECT_LT(qGray(p), 96) << x << "," << y;
                // A stroke pixel continues diagonally (up-left or down-right).
                const bool up_left = x > 0 && y > 0 && image.pixel(x - 1, y - 1) != kLightGrey;
                const bool down_right = x + 1 < image.width() && y + 1 < image.height() &&
                                        image.pixel(x + 1, y + 1) != kLightGrey;
                EXPECT_TRUE(up_left || down_right || x == image.width() - 1 || y == image.height() - 1)
                    << x << "," << y;
            }
        }
    }
    EXPECT_GT(dark, 41 * 40 / 20);
    EXPECT_GT(grey, dark) << "background is the larger part";
    EXPECT_EQ(image.pixel(0, 1), kLightGrey);
}

TEST(Pictures, LogoIs256ColoursOnLightGrey) {
    const QImage image = BitmapResource(res::kBitmapLogo);
    EXPECT_EQ(image.size(), QSize(68, 30));
    EXPECT_EQ(image.format(), QImage::Format_Indexed8);
    EXPECT_EQ(image.colorCount(), 256);
    for (QPoint corner : {QPoint(0, 0), QPoint(67, 0), QPoint(0, 29), QPoint(67, 29)})
        EXPECT_EQ(image.pixel(corner), kLightGrey);
}

TEST(Pictures, UnknownBitmapIsNull) {
    EXPECT_TRUE(BitmapResource(128).isNull());
    EXPECT_TRUE(BitmapResource(0).isNull());
}

TEST(Pictures, ProgramIconHoldsBothSizes) {
    int argc = 1;
    char name[] = "pictures";
    char* argv[] = {name, nullptr};
    QGuiApplication app(argc, argv);
    const QIcon icon = ProgramIcon();
    const QList<QSize> sizes = icon.availableSizes();
    EXPECT_TRUE(sizes.contains(QSize(32, 32)));
    EXPECT_TRUE(sizes.contains(QSize(16, 16)));
}

}  // namespace
}  // namespace dpx::ui

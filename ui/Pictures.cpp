#include "ui/Pictures.h"

#include <QPixmap>
#include <array>

#include "resources/Layout.h"

namespace dpx::ui {
namespace {

// The standard 16-colour palette of icons; the icon is drawn with its indices only.
constexpr std::array<QRgb, 16> kIconPalette = {
    0xff000000, 0xff800000, 0xff008000, 0xff808000, 0xff000080, 0xff800080, 0xff008080, 0xffc0c0c0,
    0xff808080, 0xffff0000, 0xff00ff00, 0xffffff00, 0xff0000ff, 0xffff00ff, 0xff00ffff, 0xffffffff,
};
enum IconColour : uint8_t {
    kBlack = 0, kNavy = 4, kSilver = 7, kGrey = 8, kRed = 9, kBlue = 12, kCyan = 14, kWhite = 15,
};

void FillIndexed(QImage& image, int x0, int y0, int x1, int y1, uint8_t index) {
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) image.setPixel(x, y, index);
}

// Anaglyph glasses (red and cyan lenses) on a blue tile: the box turns 2D into 3D.
// Drawn on a 32-pixel grid; the 16-pixel image takes every other pixel of the same plan.
QImage DrawIcon(int size) {
    QImage image(size, size, QImage::Format_Indexed8);
    image.setColorTable(QList<QRgb>(kIconPalette.begin(), kIconPalette.end()));
    const int s = size == 16 ? 2 : 1;  // grid units per pixel
    auto fill = [&](int x0, int y0, int x1, int y1, uint8_t c) {
        FillIndexed(image, x0 / s, y0 / s, x1 / s, y1 / s, c);
    };
    fill(0, 0, 32, 32, kBlack);      // outline
    fill(2, 2, 30, 30, kNavy);       // tile
    fill(2, 2, 30, 4, kBlue);        // lit upper edge
    fill(2, 4, 4, 30, kBlue);
    fill(4, 10, 28, 12, kSilver);    // bridge and frame top
    fill(4, 10, 14, 22, kSilver);    // left frame
    fill(18, 10, 28, 22, kSilver);   // right frame
    fill(6, 12, 12, 20, kRed);       // left lens
    fill(20, 12, 26, 20, kCyan);     // right lens
    fill(6, 12, 8, 14, kWhite);      // glints
    fill(20, 12, 22, 14, kWhite);
    fill(4, 24, 28, 26, kGrey);      // shadow line under the glasses
    return image;
}

// Short strokes from upper left to lower right, three pixels long, on a diagonal grid.
QImage DrawCorner() {
    QImage image(41, 40, QImage::Format_RGB888);
    image.fill(QColor::fromRgb(kLightGrey));
    const QRgb dark = qRgb(64, 64, 64);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            // Each stroke starts where (x + 2y) mod 8 is 0 on every fourth row, and runs
            // down-right for three pixels.
            for (int k = 0; k < 3; ++k) {
                const int sx = x - k, sy = y - k;
                if (sx >= 0 && sy >= 0 && sy % 4 == 0 && (sx + 2 * sy) % 8 == 0) {
                    image.setPixel(x, y, dark);
                    break;
                }
            }
        }
    }
    return image;
}

// 5 by 7 pixel glyphs for the logo's letters; each row is five bits, leftmost the highest.
struct Glyph {
    char c;
    std::array<uint8_t, 7> rows;
};
constexpr std::array<Glyph, 5> kGlyphs = {{
    {'D', {0x1e, 0x11, 0x11, 0x11, 0x11, 0x11, 0x1e}},
    {'P', {0x1e, 0x11, 0x11, 0x1e, 0x10, 0x10, 0x10}},
    {'X', {0x11, 0x11, 0x0a, 0x04, 0x0a, 0x11, 0x11}},
    {'2', {0x0e, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1f}},
    {'0', {0x0e, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0e}},
}};

// "DPX20" in white, two pixels to a glyph pixel, on a band that shades from navy to sky
// blue, framed in light grey.
QImage DrawLogo() {
    QImage image(68, 30, QImage::Format_Indexed8);
    QList<QRgb> table(256);
    table[0] = kLightGrey;
    table[1] = qRgb(255, 255, 255);
    table[2] = qRgb(0, 0, 0);
    for (int i = 3; i < 256; ++i) {  // the band's shades
        const int t = (i - 3) * 255 / 252;
        table[i] = qRgb(t / 4, 32 + t / 2, 96 + t * 159 / 255);
    }
    image.setColorTable(table);
    image.fill(0);
    const int band_x0 = 2, band_x1 = 66, band_y0 = 3, band_y1 = 27;
    for (int y = band_y0; y < band_y1; ++y)
        for (int x = band_x0; x < band_x1; ++x)
            image.setPixel(x, y, 3 + (x - band_x0 + y - band_y0) * 252 / (band_x1 - band_x0 + band_y1 - band_y0 - 2));
    // Frame the band in black, then the letters: 5 glyphs of 10 px with 2 px gaps.
    for (int x = band_x0; x < band_x1; ++x) { image.setPixel(x, band_y0, 2); image.setPixel(x, band_y1 - 1, 2); }
    for (int y = band_y0; y < band_y1; ++y) { image.setPixel(band_x0, y, 2); image.setPixel(band_x1 - 1, y, 2); }
    int left = 5;
    for (const Glyph& g : kGlyphs) {
        for (int row = 0; row < 7; ++row)
            for (int col = 0; col < 5; ++col)
                if (g.rows[row] & (0x10 >> col)) FillIndexed(image, left + 2 * col, 8 + 2 * row, left + 2 * col + 2, 10 + 2 * row, 1);
        left += 12;
    }
    return image;
}

}  // namespace

QImage ProgramIconImage(int size) {
    static const QImage large = DrawIcon(32);
    static const QImage small = DrawIcon(16);
    return size == 16 ? small : large;
}

QIcon ProgramIcon() {
    QIcon icon;
    icon.addPixmap(QPixmap::fromImage(ProgramIconImage(32)));
    icon.addPixmap(QPixmap::fromImage(ProgramIconImage(16)));
    return icon;
}

QImage CornerPicture() {
    static const QImage image = DrawCorner();
    return image;
}

QImage LogoPicture() {
    static const QImage image = DrawLogo();
    return image;
}

QImage BitmapResource(int id) {
    switch (id) {
        case res::kBitmapCorner: return CornerPicture();
        case res::kBitmapLogo: return LogoPicture();
        default: return QImage();
    }
}

}  // namespace dpx::ui

#pragma once
// The program's own pictures, drawn in code so that their sizes and colours are exact:
// icon 128, the corner picture (bitmap 139) and the logo (bitmap 143).
#include <QIcon>
#include <QImage>

namespace dpx::ui {

// Light grey, the background of the corner picture and the logo.
inline constexpr QRgb kLightGrey = 0xffc0c0c0;

// Icon 128 at `size` 32 or 16 pixels: 16 colours (Format_Indexed8 with a 16-entry table).
QImage ProgramIconImage(int size);
// Icon 128 with both images.
QIcon ProgramIcon();
// Bitmap 139: 41 by 40 pixels, Format_RGB888, short dark diagonal strokes on (192, 192, 192).
QImage CornerPicture();
// Bitmap 143: 68 by 30 pixels, 256 colours (Format_Indexed8 with a 256-entry table), on light grey.
QImage LogoPicture();
// The bitmap with resource id `id` (139 or 143), or a null image.
QImage BitmapResource(int id);

}  // namespace dpx::ui

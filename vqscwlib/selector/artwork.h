// The selector's resources: the header image (bitmap 103), the button image strip (bitmap 104),
// the library's own icon (icon 108) and the string table. They are compiled into the library;
// resources/make_artwork.py draws the images, as bitmaps and as vector drawings of the same
// artwork. The bitmaps serve screens of one device pixel per point; screens with more are drawn
// from the vector versions, so the artwork stays smooth at any scale.
#ifndef VQSCWLIB_SELECTOR_ARTWORK_H_
#define VQSCWLIB_SELECTOR_ARTWORK_H_

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QString>

namespace vqscw {

constexpr int kHeaderWidth = 319;
constexpr int kHeaderHeight = 68;
constexpr int kButtonCellSize = 16;
constexpr int kButtonCellCount = 10;

// Cells of the button strip the owner-drawn buttons show.
constexpr int kCellPreview = 0;
constexpr int kCellRefresh = 5;
constexpr int kCellTake = 6;

// String table entries: the list's column headings.
constexpr int kStringChannel = 1;
constexpr int kStringName = 2;
constexpr int kStringCategory = 3;
constexpr int kStringPreset = 4;

QImage HeaderImage();
QImage ButtonStrip();
// The icon at 16, 32 and 48 pixels from the icon resource, and larger sizes from its vector
// drawing.
QIcon OwnIcon();

// The header image for a screen of `ratio` device pixels per point: the bitmap when `ratio` is
// 1 or less, else the vector drawing rendered at that ratio. Either way its device pixel ratio is
// set, so it paints at the bitmap's size in points.
QImage HeaderImageAt(qreal ratio);

// Cell `cell` of the button strip for a screen of `ratio` device pixels per point, transparent
// where the strip shows its background: ButtonCell(ButtonStrip(), cell) when `ratio` is 1 or
// less, else the vector drawing's cell rendered at that ratio. Null for a cell outside the strip.
QPixmap ButtonCellAt(int cell, qreal ratio);

// The string table entry `id`, or an empty string.
QString ResourceString(int id);

// The colour that fills the dialog below the header image: its pixel at column 0, last row.
QColor BackgroundColourOf(const QImage& header);

// Cell `cell` of `strip`, with the strip's top-left pixel colour made transparent.
QPixmap ButtonCell(const QImage& strip, int cell);

}  // namespace vqscw

#endif  // VQSCWLIB_SELECTOR_ARTWORK_H_

// Small helpers every painter of the layout picture shares: colours and rectangles from the layout,
// Arial fonts by pixel height, one-line text with an end ellipsis, the gauge, frames and the bitmaps.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QRect>
#include <cstdint>

#include "core/zone.h"

namespace orv::view {

// A layout colour (red in the low byte) as a QColor.
inline QColor ToQColor(std::uint32_t colour) {
    return QColor(static_cast<int>(colour & 0xFF), static_cast<int>((colour >> 8) & 0xFF),
                  static_cast<int>((colour >> 16) & 0xFF));
}
inline QRect ToQRect(const CRect& r) { return QRect(r.left, r.top, r.Width(), r.Height()); }

// Arial at a pixel height; weight in the 100..900 scale (400 normal, 700 bold).
const QFont& ArialPx(int pixels, int weight = 400);
// The system font the zones and groups write their names in.
const QFont& NameFont();

// One line of text inside rect, cut with an end ellipsis when too long, on a transparent background.
void DrawTextInRect(QPainter& p, const QRect& rect, const QString& text, const QFont& font, const QColor& colour,
                    Qt::Alignment alignment);

// A gauge: grey, filled from the bottom with colour over fill pixels (held to the gauge's height).
void PaintGauge(QPainter& p, const QRect& rect, int fill, const QColor& colour);

// A frame of the given width drawn inside rect.
void DrawFrame(QPainter& p, const QRect& rect, int width, const QColor& colour);

// The bitmap with the given resource number at its own size (a null image for an unknown number); the
// parts that stand for the transparent colour are transparent.
const QImage& Bitmap(std::uint32_t id);
// Draws the bitmap with its top-left corner at (x, y), scaled to size × size when size is not 0; rendered at
// the device's resolution (pixel ratio, zoom, printer), never scaled up from a smaller picture.
void DrawBitmap(QPainter& p, std::uint32_t id, int x, int y, int size = 0);

}  // namespace orv::view

// The layout's picture, painted part by part: white, the zones, the groups, the link lines, then the
// objects (the selected one highlighted), each only where it meets the part asked for. The places come
// from the layout pass alone. Works on any QPainter, so the window's viewport, the screenshot, printing,
// the benchmarks and the tests all use it.
#pragma once

#include <QImage>
#include <QPainter>
#include <QRegion>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "document/document.h"
#include "document/layoutpass.h"
#include "ui/view/objectpainters.h"

class QIODevice;

namespace orv::view {

// Below this scale objects are drawn as tiles in their state's colour, with their gauges.
constexpr double kTileScale = 0.5;

// What the view adds to the document's own selection.
struct CPaintMarks {
    std::unordered_set<const CCommonObject*> found;  // the find bar's matches, framed
    const CCommonObject* dragged = nullptr;          // a drag's proxy and its target, highlighted
    const CCommonObject* target = nullptr;
};

// Paints what of the layout meets `exposed` (layout coordinates) on a painter set to layout coordinates
// (scaled by `scale`). Pixels outside `exposed` may be touched only inside the painter's clip.
void PaintLayout(QPainter& p, const COrvaneDoc& doc, const CLayoutSize& size, const QRect& exposed,
                 double scale = 1.0, const CPaintMarks& marks = {});
// The layout pass, then the whole picture at 100 %.
QImage RenderLayout(COrvaneDoc& doc);
// The layout pass, then the whole picture as a JPEG file, painted and written in bands of rows so that
// the picture is never held whole; a layout beyond the format's 65,500 pixels a side is scaled down.
bool WriteLayoutJpeg(COrvaneDoc& doc, QIODevice& out, int quality = 90);

// Where the layout stands in the viewport: viewport = layout × scale − offset.
struct CViewport {
    QPoint offset;
    double scale = 1.0;
    QSize size;
    // The viewport pixels a layout rectangle may touch (one more around it for smoothed edges).
    QRect ToView(const QRect& layoutRect) const;
    // The layout rectangle a viewport rectangle shows.
    QRect ToLayout(const QRect& viewRect) const;
    QPoint ToLayout(const QPoint& viewPoint) const;
    void Apply(QPainter& p) const;
};

// Paints a viewport and works out what the periodic refresh must paint again: only what changed and is
// visible. It keeps what it last made sure of (the geometry, the link lines and each visible object's
// drawn key); Forget() when the viewport's pixels are painted anew for another reason.
class CViewPainter {
public:
    CViewport viewport;
    CPaintMarks marks;
    QColor background = Qt::lightGray;  // beyond the layout's edges

    // Paints `region` (viewport coordinates) of the viewport on p, a painter on the viewport.
    void Paint(QPainter& p, const COrvaneDoc& doc, const CLayoutSize& size, const QRegion& region);
    // After a layout pass: the part of the viewport whose pixels differ from what was painted.
    QRegion Refresh(const COrvaneDoc& doc, const CLayoutSize& size);
    void Forget();

private:
    struct Geometry {
        CLayoutSize size;
        const CZone* selectedZone = nullptr;
        std::vector<CRect> rects;            // zones, groups, objects
        std::vector<std::uint32_t> colours;  // zones and groups
        std::vector<std::string> names;
        bool operator==(const Geometry&) const = default;
    };
    static Geometry GeometryOf(const COrvaneDoc& doc, const CLayoutSize& size);

    bool m_known = false;
    Geometry m_geometry;
    std::vector<CLinkSegment> m_links;
    std::unordered_map<const CCommonObject*, std::string> m_keys;  // visible objects as last painted
};

}  // namespace orv::view

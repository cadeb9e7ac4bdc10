// The whole layout picture: white, the zones, the groups, the link lines, then the objects (the selected
// one highlighted). Works on any QPainter, so the window, the screenshot, printing and the tests all use it.
#pragma once

#include <QImage>
#include <QPainter>
#include <string>
#include <vector>

#include "document/document.h"
#include "document/layoutpass.h"
#include "ui/view/objectpainters.h"

namespace orv::view {

void PaintLayout(QPainter& p, const COrvaneDoc& doc, const CLayoutSize& size);
// The layout pass, then the picture at the layout's size.
QImage RenderLayout(COrvaneDoc& doc);

// The view's off-screen picture. A repaint lays out and paints everything; a refresh (the periodic update)
// lays out and, while zones, groups and object boxes stay where they were painted, repaints only the
// objects whose drawing changed (all of them when a link line changed) over the picture kept from before,
// which gives the same pixels for much less work.
class CLayoutPicture {
public:
    void Repaint(COrvaneDoc& doc);
    void Refresh(COrvaneDoc& doc);
    const QImage& Image() const { return m_image; }
    CLayoutSize Size() const { return m_size; }

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
    // Paints everything for a layout pass already made.
    void PaintAll(const COrvaneDoc& doc, const CLayoutSize& size, Geometry geometry);

    QImage m_image;
    CLayoutSize m_size;
    Geometry m_geometry;
    std::vector<CLinkSegment> m_links;
    std::vector<std::string> m_keys;  // each object's drawn key, in list order
};

}  // namespace orv::view

#include "ui/view/layoutpainter.h"

#include <QRegion>
#include <cstdlib>
#include <unordered_map>
#include <utility>

#include "ui/qtplatform.h"
#include "ui/view/paintkit.h"

namespace orv::view {

namespace {

// Fills the region's rectangles: each pixel of the picture is filled once, which is most of a repaint's cost.
void FillRegion(QPainter& p, const QRegion& region, const QColor& colour) {
    for (const QRect& r : region) p.fillRect(r, colour);
}

// The container's fill where nothing inside covers it, its frame and its name.
void PaintContainer(QPainter& p, const CZone& zone, const QRegion& covered, bool selected) {
    const QRect rect = ToQRect(zone.rect);
    FillRegion(p, QRegion(rect).subtracted(covered), ToQColor(zone.colour));
    DrawFrame(p, rect, selected ? 4 : 1, Qt::black);
    DrawTextInRect(p, rect.adjusted(4, 4, -4, 0), ToQString(zone.name), NameFont(), Qt::black,
                   Qt::AlignHCenter | Qt::AlignTop);
}

// White around the zones, the zones around their groups, the groups.
void PaintContainers(QPainter& p, const COrvaneDoc& doc, const CLayoutSize& size) {
    QRegion zoneArea;
    std::unordered_map<const CZone*, QRegion> groupArea;
    for (const auto& zone : doc.zones) zoneArea += ToQRect(zone->rect);
    for (const auto& group : doc.groups) groupArea[group->zone] += ToQRect(group->rect);
    FillRegion(p, QRegion(0, 0, size.width, size.height).subtracted(zoneArea), Qt::white);
    for (const auto& zone : doc.zones) PaintContainer(p, *zone, groupArea[zone.get()], zone.get() == doc.selectedZone);
    for (const auto& group : doc.groups) PaintContainer(p, *group, QRegion(), group.get() == doc.selectedZone);
}

CBoxStyle StyleOf(const COrvaneDoc& doc, const CCommonObject& object) {
    return &object == doc.selectedObject ? CBoxStyle::Highlighted : CBoxStyle::Plain;
}

std::vector<CLinkSegment> LinksOf(const COrvaneDoc& doc) {
    std::vector<CLinkSegment> links;
    for (const auto& object : doc.objects) AppendLinkSegments(*object, links);
    return links;
}

// The pixels a line may have covered: short pieces' bounding boxes with the pen's reach around them.
QRegion LineArea(const QLine& line) {
    constexpr int kReach = 4, kPiece = 24;
    const int steps = std::max(1, std::max(std::abs(line.dx()), std::abs(line.dy())) / kPiece);
    QRegion area;
    QPoint from = line.p1();
    for (int i = 1; i <= steps; ++i) {
        const QPoint to(line.x1() + line.dx() * i / steps, line.y1() + line.dy() * i / steps);
        area += QRect(from, to).normalized().adjusted(-kReach, -kReach, kReach, kReach);
        from = to;
    }
    return area;
}

}  // namespace

void PaintLayout(QPainter& p, const COrvaneDoc& doc, const CLayoutSize& size) {
    PaintContainers(p, doc, size);
    for (const CLinkSegment& link : LinksOf(doc)) PaintLinkSegment(p, link);
    for (const auto& object : doc.objects) PaintObject(p, *object, StyleOf(doc, *object));
}

QImage RenderLayout(COrvaneDoc& doc) {
    CLayoutPicture picture;
    picture.Repaint(doc);
    return picture.Image();
}

CLayoutPicture::Geometry CLayoutPicture::GeometryOf(const COrvaneDoc& doc, const CLayoutSize& size) {
    Geometry g;
    g.size = size;
    g.selectedZone = doc.selectedZone;
    g.rects.reserve(doc.zones.size() + doc.groups.size() + doc.objects.size());
    auto container = [&g](const CZone& z) {
        g.rects.push_back(z.rect);
        g.colours.push_back(z.colour);
        g.names.push_back(z.name);
    };
    for (const auto& zone : doc.zones) container(*zone);
    for (const auto& group : doc.groups) container(*group);
    for (const auto& object : doc.objects) g.rects.push_back(object->box);
    return g;
}

void CLayoutPicture::Repaint(COrvaneDoc& doc) {
    const CLayoutSize size = LayOut(doc);
    PaintAll(doc, size, GeometryOf(doc, size));
}

void CLayoutPicture::PaintAll(const COrvaneDoc& doc, const CLayoutSize& size, Geometry geometry) {
    m_size = size;
    // The picture's memory is kept while the layout keeps its size: a new one costs more than the painting.
    if (m_image.width() != m_size.width || m_image.height() != m_size.height)
        m_image = QImage(m_size.width, m_size.height, QImage::Format_RGB32);
    QPainter p(&m_image);
    PaintLayout(p, doc, m_size);
    m_geometry = std::move(geometry);
    m_links = LinksOf(doc);
    m_keys.clear();
    for (const auto& object : doc.objects) m_keys.push_back(DrawnKey(*object, StyleOf(doc, *object)));
}

void CLayoutPicture::Refresh(COrvaneDoc& doc) {
    const CLayoutSize size = LayOut(doc);
    Geometry geometry = GeometryOf(doc, size);
    if (m_image.isNull() || m_keys.size() != doc.objects.size() || !(geometry == m_geometry))
        return PaintAll(doc, size, std::move(geometry));
    std::vector<CLinkSegment> links = LinksOf(doc);
    const bool linksChanged = links != m_links;
    QPainter p(&m_image);
    if (linksChanged) {
        // Lines that went away (or moved) give the containers' background back; every object is repainted.
        QRegion stale;
        for (const CLinkSegment& link : m_links) stale += LineArea(link.line);
        p.setClipRegion(stale);
        PaintContainers(p, doc, size);
        p.setClipping(false);
    }
    // A box to repaint gets its group's colour back, then the lines and the object, in the usual order.
    std::vector<const CCommonObject*> changed;
    for (size_t i = 0; i < doc.objects.size(); ++i) {
        const CCommonObject& object = *doc.objects[i];
        std::string key = DrawnKey(object, StyleOf(doc, object));
        if (!linksChanged && key == m_keys[i]) continue;
        m_keys[i] = std::move(key);
        if (object.box.Width() <= 0) continue;
        if (object.group) p.fillRect(ToQRect(object.box), ToQColor(object.group->colour));
        changed.push_back(&object);
    }
    if (linksChanged) {
        for (const CLinkSegment& link : links) PaintLinkSegment(p, link);
    } else if (!links.empty()) {
        for (const CCommonObject* object : changed) {
            p.setClipRect(ToQRect(object->box));
            for (const CLinkSegment& link : links) PaintLinkSegment(p, link);
        }
        p.setClipping(false);
    }
    for (const CCommonObject* object : changed) PaintObject(p, *object, StyleOf(doc, *object));
    m_links = std::move(links);
}

}  // namespace orv::view

#include "ui/view/layoutpainter.h"

#include "ui/qtplatform.h"
#include "ui/view/objectpainters.h"
#include "ui/view/paintkit.h"

namespace orv::view {

namespace {

void PaintContainer(QPainter& p, const CZone& zone, bool selected) {
    const QRect rect = ToQRect(zone.rect);
    p.fillRect(rect, ToQColor(zone.colour));
    DrawFrame(p, rect, selected ? 4 : 1, Qt::black);
    DrawTextInRect(p, rect.adjusted(4, 4, -4, 0), ToQString(zone.name), NameFont(), Qt::black,
                   Qt::AlignHCenter | Qt::AlignTop);
}

}  // namespace

void PaintLayout(QPainter& p, const COrvaneDoc& doc, const CLayoutSize& size) {
    p.fillRect(QRect(0, 0, size.width, size.height), Qt::white);
    for (const auto& zone : doc.zones) PaintContainer(p, *zone, zone.get() == doc.selectedZone);
    for (const auto& group : doc.groups) PaintContainer(p, *group, group.get() == doc.selectedZone);
    for (const auto& object : doc.objects) PaintLinks(p, *object);
    for (const auto& object : doc.objects)
        PaintObject(p, *object, object.get() == doc.selectedObject ? CBoxStyle::Highlighted : CBoxStyle::Plain);
}

QImage RenderLayout(COrvaneDoc& doc) {
    const CLayoutSize size = LayOut(doc);
    QImage image(size.width, size.height, QImage::Format_RGB32);
    QPainter p(&image);
    PaintLayout(p, doc, size);
    return image;
}

}  // namespace orv::view

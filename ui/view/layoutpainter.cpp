#include "ui/view/layoutpainter.h"

#include <cstdio>  // before jpeglib.h, which uses FILE

#include <jpeglib.h>

#include <QIODevice>
#include <QRegion>
#include <QSysInfo>
#include <array>
#include <cmath>
#include <csetjmp>
#include <cstdlib>
#include <unordered_map>
#include <utility>

#include "ui/qtplatform.h"
#include "ui/view/paintkit.h"

namespace orv::view {

namespace {

// A container where it meets the exposed part: its fill, its frame and its name.
void PaintContainer(QPainter& p, const CZone& zone, bool selected) {
    const QRect rect = ToQRect(zone.rect);
    p.fillRect(rect, ToQColor(zone.colour));
    DrawFrame(p, rect, selected ? 4 : 1, Qt::black);
    DrawTextInRect(p, rect.adjusted(4, 4, -4, 0), ToQString(zone.name), NameFont(), Qt::black,
                   Qt::AlignHCenter | Qt::AlignTop);
}

bool Meets(const CRect& r, const QRect& area) { return r.Width() > 0 && ToQRect(r).intersects(area); }

CBoxStyle StyleOf(const COrvaneDoc& doc, const CCommonObject& object, const CPaintMarks& marks) {
    return &object == doc.selectedObject || &object == marks.dragged || &object == marks.target
               ? CBoxStyle::Highlighted
               : CBoxStyle::Plain;
}

// What decides an object's pixels in the viewport: its drawing and the view's frame of a match.
std::string KeyOf(const COrvaneDoc& doc, const CCommonObject& object, const CPaintMarks& marks) {
    std::string key = DrawnKey(object, StyleOf(doc, object, marks));
    key += marks.found.count(&object) ? '\1' : '\0';
    return key;
}

std::vector<CLinkSegment> LinksOf(const COrvaneDoc& doc) {
    std::vector<CLinkSegment> links;
    for (const auto& object : doc.objects) AppendLinkSegments(*object, links);
    return links;
}

constexpr int kLineReach = 4;  // half the widest pen, and a pixel of smoothing

QRect LineBounds(const QLine& line) {
    return QRect(line.p1(), line.p2()).normalized().adjusted(-kLineReach, -kLineReach, kLineReach, kLineReach);
}

// The layout pixels a line may cover: short pieces' bounding boxes with the pen's reach around them.
std::vector<QRect> LineArea(const QLine& line) {
    constexpr int kPiece = 24;
    const int steps = std::max(1, std::max(std::abs(line.dx()), std::abs(line.dy())) / kPiece);
    std::vector<QRect> area;
    QPoint from = line.p1();
    for (int i = 1; i <= steps; ++i) {
        const QPoint to(line.x1() + line.dx() * i / steps, line.y1() + line.dy() * i / steps);
        area.push_back(LineBounds(QLine(from, to)));
        from = to;
    }
    return area;
}

// What of the layout meets an area: the containers, the link lines and the objects, in painting order.
struct CScene {
    std::vector<const CZone*> containers;  // zones, then groups
    std::vector<const CLinkSegment*> links;
    std::vector<const CCommonObject*> objects;
};

CScene SceneIn(const COrvaneDoc& doc, const QRect& area, const std::vector<CLinkSegment>& links) {
    CScene scene;
    for (const auto& zone : doc.zones)
        if (Meets(zone->rect, area)) scene.containers.push_back(zone.get());
    for (const auto& group : doc.groups)
        if (Meets(group->rect, area)) scene.containers.push_back(group.get());
    for (const CLinkSegment& link : links)
        if (LineBounds(link.line).intersects(area)) scene.links.push_back(&link);
    for (const auto& object : doc.objects)
        if (Meets(object->box, area)) scene.objects.push_back(object.get());
    return scene;
}

// The part of a scene that meets `exposed`.
void PaintArea(QPainter& p, const COrvaneDoc& doc, const CLayoutSize& size, const QRect& exposed, double scale,
               const CPaintMarks& marks, const CScene& scene) {
    p.fillRect(exposed.intersected(QRect(0, 0, size.width, size.height)), Qt::white);
    for (const CZone* zone : scene.containers)
        if (Meets(zone->rect, exposed)) PaintContainer(p, *zone, zone == doc.selectedZone);
    for (const CLinkSegment* link : scene.links)
        if (LineBounds(link->line).intersects(exposed)) PaintLinkSegment(p, *link);
    const bool tiles = scale < kTileScale;
    // A match of the find bar is framed in orange, at least three screen pixels wide.
    const int frame = std::max(3, static_cast<int>(std::ceil(3 / scale)));
    for (const CCommonObject* object : scene.objects) {
        if (!Meets(object->box, exposed)) continue;
        PaintObject(p, *object, StyleOf(doc, *object, marks), tiles);
        if (marks.found.count(object)) DrawFrame(p, ToQRect(object->box), frame, QColor(255, 140, 0));
    }
}

}  // namespace

void PaintLayout(QPainter& p, const COrvaneDoc& doc, const CLayoutSize& size, const QRect& exposed, double scale,
                 const CPaintMarks& marks) {
    const std::vector<CLinkSegment> links = LinksOf(doc);
    PaintArea(p, doc, size, exposed, scale, marks, SceneIn(doc, exposed, links));
}

QImage RenderLayout(COrvaneDoc& doc) {
    const CLayoutSize size = LayOut(doc);
    QImage image(std::max(size.width, 1), std::max(size.height, 1), QImage::Format_RGB32);
    QPainter p(&image);
    PaintLayout(p, doc, size, image.rect());
    return image;
}

// ---- The screenshot, band by band ----

namespace {

struct JpegSink {
    jpeg_destination_mgr mgr{};
    QIODevice* out = nullptr;
    bool failed = false;
    std::array<JOCTET, 1 << 16> buffer{};
};

JpegSink& SinkOf(j_compress_ptr c) { return *reinterpret_cast<JpegSink*>(c->dest); }

void StartSink(j_compress_ptr c) {
    JpegSink& s = SinkOf(c);
    s.mgr.next_output_byte = s.buffer.data();
    s.mgr.free_in_buffer = s.buffer.size();
}

void Flush(JpegSink& s, size_t bytes) {
    const auto written = s.out->write(reinterpret_cast<const char*>(s.buffer.data()), static_cast<qint64>(bytes));
    s.failed = s.failed || written != static_cast<qint64>(bytes);
}

boolean EmptySink(j_compress_ptr c) {
    JpegSink& s = SinkOf(c);
    Flush(s, s.buffer.size());
    StartSink(c);
    return TRUE;
}

void EndSink(j_compress_ptr c) {
    JpegSink& s = SinkOf(c);
    Flush(s, s.buffer.size() - s.mgr.free_in_buffer);
}

struct JpegError {
    jpeg_error_mgr mgr{};
    std::jmp_buf jump{};
};

[[noreturn]] void OnJpegError(j_common_ptr c) { std::longjmp(reinterpret_cast<JpegError*>(c->err)->jump, 1); }

}  // namespace

bool WriteLayoutJpeg(COrvaneDoc& doc, QIODevice& out, int quality) {
    constexpr int kBand = 128, kLargest = 65500;
    const CLayoutSize size = LayOut(doc);
    const double scale = std::min(1.0, static_cast<double>(kLargest) / std::max({size.width, size.height, 1}));
    const int width = std::max(1, static_cast<int>(size.width * scale));
    const int height = std::max(1, static_cast<int>(size.height * scale));
    // Only one band of rows is ever in memory; the encoder takes Qt's 32-bit pixels as they are.
    QImage band(width, kBand, QImage::Format_RGB32);
    JpegSink sink;
    sink.out = &out;
    sink.mgr.init_destination = StartSink;
    sink.mgr.empty_output_buffer = EmptySink;
    sink.mgr.term_destination = EndSink;
    JpegError error;
    jpeg_compress_struct c{};
    c.err = jpeg_std_error(&error.mgr);
    error.mgr.error_exit = OnJpegError;
    if (setjmp(error.jump)) {
        jpeg_destroy_compress(&c);
        return false;
    }
    jpeg_create_compress(&c);
    c.dest = &sink.mgr;
    c.image_width = static_cast<JDIMENSION>(width);
    c.image_height = static_cast<JDIMENSION>(height);
    c.input_components = 4;
    c.in_color_space = QSysInfo::ByteOrder == QSysInfo::LittleEndian ? JCS_EXT_BGRX : JCS_EXT_XRGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, quality, TRUE);
    jpeg_start_compress(&c, TRUE);
    for (int top = 0; top < height && !sink.failed; top += kBand) {
        const int rows = std::min(kBand, height - top);
        {
            QPainter p(&band);
            p.translate(0, -top);
            p.scale(scale, scale);
            const QRect exposed = QRectF(0, top / scale, width / scale, rows / scale + 1).toAlignedRect();
            PaintLayout(p, doc, size, exposed, scale);
        }
        for (int y = 0; y < rows; ++y) {
            JSAMPROW row = const_cast<JSAMPROW>(band.constScanLine(y));
            jpeg_write_scanlines(&c, &row, 1);
        }
    }
    if (sink.failed) {
        jpeg_destroy_compress(&c);
        return false;
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    return !sink.failed;
}

// ---- The viewport ----

QRect CViewport::ToView(const QRect& r) const {
    return QRectF(r.x() * scale - offset.x(), r.y() * scale - offset.y(), r.width() * scale, r.height() * scale)
        .toAlignedRect()
        .adjusted(-1, -1, 1, 1);
}

QRect CViewport::ToLayout(const QRect& v) const {
    return QRectF((v.x() + offset.x()) / scale, (v.y() + offset.y()) / scale, v.width() / scale, v.height() / scale)
        .toAlignedRect()
        .adjusted(-1, -1, 1, 1);
}

QPoint CViewport::ToLayout(const QPoint& v) const {
    return QPoint(static_cast<int>(std::floor((v.x() + offset.x()) / scale)),
                  static_cast<int>(std::floor((v.y() + offset.y()) / scale)));
}

void CViewport::Apply(QPainter& p) const {
    p.translate(-offset);
    p.scale(scale, scale);
}

void CViewPainter::Paint(QPainter& p, const COrvaneDoc& doc, const CLayoutSize& size, const QRegion& region) {
    // Rectangle by rectangle: a refresh's few boxes cost their own area, not that of the box around them.
    // The lines the last refresh saw: the next one compares with them.
    const std::vector<CLinkSegment> fresh = m_known ? std::vector<CLinkSegment>() : LinksOf(doc);
    const CScene scene = SceneIn(doc, viewport.ToLayout(region.boundingRect()), m_known ? m_links : fresh);
    for (const QRect& rect : region) {
        p.save();
        p.setClipRect(rect);
        p.fillRect(rect, background);
        viewport.Apply(p);
        PaintArea(p, doc, size, viewport.ToLayout(rect), viewport.scale, marks, scene);
        p.restore();
    }
    // A paint of the whole viewport is what the next refresh compares with.
    const QRect whole(QPoint(), viewport.size);
    if (region.rectCount() != 1 || !region.boundingRect().contains(whole)) return;
    const QRect visible = viewport.ToLayout(whole);
    m_keys.clear();
    for (const auto& object : doc.objects)
        if (Meets(object->box, visible)) m_keys.emplace(object.get(), KeyOf(doc, *object, marks));
}

CViewPainter::Geometry CViewPainter::GeometryOf(const COrvaneDoc& doc, const CLayoutSize& size) {
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

QRegion CViewPainter::Refresh(const COrvaneDoc& doc, const CLayoutSize& size) {
    const QRect whole(QPoint(), viewport.size);
    const QRect visible = viewport.ToLayout(whole);
    Geometry geometry = GeometryOf(doc, size);
    std::vector<CLinkSegment> links = LinksOf(doc);
    std::unordered_map<const CCommonObject*, std::string> keys;
    keys.reserve(m_keys.size());
    QRegion changed;
    const bool known = m_known && geometry == m_geometry;
    if (!known) changed = whole;
    if (known && links != m_links) {
        // Where a line went or came, everything is painted again.
        for (const auto* set : {&m_links, &links})
            for (const CLinkSegment& link : *set)
                if (LineBounds(link.line).intersects(visible))
                    for (const QRect& piece : LineArea(link.line)) changed += viewport.ToView(piece);
    }
    for (const auto& object : doc.objects) {
        if (!Meets(object->box, visible)) continue;
        std::string key = KeyOf(doc, *object, marks);
        const auto it = m_keys.find(object.get());
        if (known && (it == m_keys.end() || it->second != key)) changed += viewport.ToView(ToQRect(object->box));
        keys.emplace(object.get(), std::move(key));
    }
    m_known = true;
    m_geometry = std::move(geometry);
    m_links = std::move(links);
    m_keys = std::move(keys);
    return changed.intersected(whole);
}

void CViewPainter::Forget() { m_known = false; }

}  // namespace orv::view

// One painter per kind of monitored object, all built from the shared helpers of paintkit.h. They read
// the object's fields and the rectangles the layout pass wrote; they change nothing.
#pragma once

#include <QLine>
#include <QPainter>
#include <string>
#include <vector>

#include "core/commonobject.h"

namespace orv::view {

enum class CBoxStyle {
    Plain,        // the content on whatever lies below (the group's fill)
    Highlighted,  // grey inside a black frame: the selected object, a drop target
};

// tile: the small-scale drawing, a tile in the colour of the object's state with its gauges.
void PaintObject(QPainter& p, const CCommonObject& object, CBoxStyle style, bool tile = false);
// Everything PaintObject reads of the object, as bytes: objects with equal keys paint the same pixels, so
// a refresh leaves an object alone while its key stays. Each kind's painter and its part of the key are
// kept side by side below.
std::string DrawnKey(const CCommonObject& object, CBoxStyle style);
// The object's link lines (proxies to what they relay; none for a game server): solid 4 pixels wide when
// the proxy confirms what it relays, dash-dot 1 pixel wide otherwise.
struct CLinkSegment {
    QLine line;
    bool solid = false;
    bool operator==(const CLinkSegment&) const = default;
};
void AppendLinkSegments(const CCommonObject& object, std::vector<CLinkSegment>& out);
void PaintLinkSegment(QPainter& p, const CLinkSegment& segment);

// The state icon of an object state: 142 no answer, 144 answering, 143 rcon accepted.
std::uint32_t StateBitmap(std::int32_t state);

}  // namespace orv::view

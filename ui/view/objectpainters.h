// One painter per kind of monitored object, all built from the shared helpers of paintkit.h. They read
// the object's fields and the rectangles the layout pass wrote; they change nothing.
#pragma once

#include <QPainter>

#include "core/commonobject.h"

namespace orv::view {

enum class CBoxStyle {
    Plain,          // the content on whatever lies below (the group's fill)
    Highlighted,    // grey inside a black frame: the selected object, a drop target
    OnGroupColour,  // the group's colour below: an object that stops being highlighted
};

void PaintObject(QPainter& p, const CCommonObject& object, CBoxStyle style);
// The object's link lines (proxies to what they relay); nothing for a game server.
void PaintLinks(QPainter& p, const CCommonObject& object);

// The state icon of an object state: 142 no answer, 144 answering, 143 rcon accepted.
std::uint32_t StateBitmap(std::int32_t state);

}  // namespace orv::view

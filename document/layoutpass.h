// The layout pass: places zones, groups and objects in level columns and writes their rectangles (and
// each object's icon rectangle, a GTV proxy's expand box and room bands) into the layout itself. It reads
// nothing but the layout, so the picture, hit-testing and the tests all see the same geometry.
#pragma once

#include <cstdint>

#include "core/commonobject.h"
#include "core/zone.h"

namespace orv {

class COrvaneDoc;

struct CLayoutSize {
    std::int32_t width = 0;
    std::int32_t height = 0;
    bool operator==(const CLayoutSize&) const = default;
};

namespace layout {
constexpr int kMargin = 15;          // around zones, and between stacked zones
constexpr int kEmptyColumn = 200;    // a zone level without a zone
constexpr int kGroupTop = 35;        // below a zone's top edge: room for its name
constexpr int kGroupGap = 10;        // between stacked groups
constexpr int kGroupColumnGap = 60;  // between group columns
constexpr int kEmptyZoneWidth = 300, kEmptyZoneHeight = 200;
constexpr int kObjectLeft = 10, kObjectTop = 20, kObjectGap = 10;
constexpr int kEmptyGroupWidth = 100, kEmptyGroupHeight = 200;
constexpr int kIconSize = 48;
}  // namespace layout

// Lays the whole layout out and returns the size of its picture.
CLayoutSize LayOut(const CZoneObList& zones, const CGroupObList& groups, const CObjectList& objects);
CLayoutSize LayOut(COrvaneDoc& doc);

// What a click at a layout point selects: the first object whose box holds it, else the first group,
// else the first zone (each list in its own order).
struct CHit {
    CCommonObject* object = nullptr;
    CZone* zone = nullptr;  // a group or a zone, when no object was hit
};
CHit HitTest(const COrvaneDoc& doc, int x, int y);

// The click's selection: clears both selections (stamping the object that was selected), selects what
// lies under the point, lets an object react to the click, stamps it and tells the views (hint 13).
void SelectAt(COrvaneDoc& doc, int x, int y);

// Selects one object (or none) as a click on it would, without the click: the selected zone or group is
// cleared, the object left and the one chosen are stamped, the views told (hint 13).
void SelectObject(COrvaneDoc& doc, CCommonObject* object);

// The first object other than the dragged one whose box holds the point.
CCommonObject* DropTargetAt(const COrvaneDoc& doc, const CCommonObject* dragged, int x, int y);

}  // namespace orv

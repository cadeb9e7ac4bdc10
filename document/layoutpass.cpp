#include "document/layoutpass.h"

#include <algorithm>
#include <unordered_map>
#include <vector>

#include "document/document.h"
#include "monitors/quake3/gtv.h"

namespace orv {

using namespace layout;

namespace {

// Stacks the group's objects and returns the group's rectangle.
CRect PlaceObjects(int x, int y, const std::vector<CCommonObject*>& members) {
    if (members.empty()) return {x, y, x + kEmptyGroupWidth, y + kEmptyGroupHeight};
    int left = x + kObjectLeft, top = y + kObjectTop, right = left, bottom = top;
    for (CCommonObject* o : members) {
        const auto size = o->BoxSize();
        o->box = {left, top, left + size.width, top + size.height};
        const int centre = (o->box.left + o->box.right) / 2;
        o->iconRect = {centre - kIconSize / 2, top, centre + kIconSize / 2, top + kIconSize};
        if (o->IsGTV()) static_cast<CGTV*>(o)->PlaceRooms();
        right = std::max(right, o->box.right);
        bottom = o->box.bottom;
        top = bottom + kObjectGap;
    }
    return {x, y, right + kObjectLeft, bottom + kObjectGap};
}

}  // namespace

CLayoutSize LayOut(const CZoneObList& zones, const CGroupObList& groups, const CObjectList& objects) {
    // One walk of each list buckets the members, so a layout of thousands of objects stays linear.
    std::unordered_map<const CGroup*, std::vector<CCommonObject*>> members;
    for (const auto& o : objects) {
        o->box = CRect{};  // an object whose group or zone is not laid out has no place on the picture
        members[o->group].push_back(o.get());
    }
    std::unordered_map<const CZone*, std::vector<CGroup*>> zoneGroups;
    for (const auto& g : groups) zoneGroups[g->zone].push_back(g.get());
    static const std::vector<CCommonObject*> kNoObjects;
    static const std::vector<CGroup*> kNoGroups;

    int rightEdge = 0, lowest = 0;
    for (int level = 1; level <= zones.maxLevel; ++level) {
        const CZone* previous = nullptr;
        const int columnLeft = rightEdge + kMargin;
        int columnRight = rightEdge;
        for (const auto& zonePtr : zones) {
            CZone& zone = *zonePtr;
            if (zone.level != level) continue;
            const int x = previous ? previous->rect.left : columnLeft;
            const int y = previous ? previous->rect.bottom + kMargin : kMargin;

            auto found = zoneGroups.find(&zone);
            const auto& inside = found == zoneGroups.end() ? kNoGroups : found->second;
            const CGroup* last = nullptr;
            int groupsRight = 0, groupsBottom = 0;
            for (int groupLevel = 1; groupLevel <= groups.maxLevel; ++groupLevel) {
                for (CGroup* group : inside) {
                    if (group->level != groupLevel) continue;
                    int gx = x + kMargin, gy = y + kGroupTop;
                    if (last && last->level == group->level) {
                        gx = last->rect.left;
                        gy = last->rect.bottom + kGroupGap;
                    } else if (last) {
                        gx = last->rect.right + kGroupColumnGap;
                    }
                    auto m = members.find(group);
                    group->rect = PlaceObjects(gx, gy, m == members.end() ? kNoObjects : m->second);
                    groupsRight = std::max(groupsRight, group->rect.right);
                    groupsBottom = std::max(groupsBottom, group->rect.bottom);
                    last = group;
                }
            }
            zone.rect = last ? CRect{x, y, groupsRight + kMargin, groupsBottom + kMargin}
                             : CRect{x, y, x + kEmptyZoneWidth, y + kEmptyZoneHeight};
            columnRight = std::max(columnRight, zone.rect.right);
            lowest = std::max(lowest, zone.rect.bottom);
            previous = &zone;
        }
        rightEdge = previous ? columnRight : rightEdge + kEmptyColumn;
    }
    return {rightEdge + kMargin, lowest + kMargin};
}

CLayoutSize LayOut(COrvaneDoc& doc) { return LayOut(doc.zones, doc.groups, doc.objects); }

CHit HitTest(const COrvaneDoc& doc, int x, int y) {
    CHit hit;
    for (const auto& o : doc.objects)
        if (o->box.Contains(x, y)) {
            hit.object = o.get();
            return hit;
        }
    for (const auto& g : doc.groups)
        if (g->rect.Contains(x, y)) {
            hit.zone = g.get();
            return hit;
        }
    for (const auto& z : doc.zones)
        if (z->rect.Contains(x, y)) {
            hit.zone = z.get();
            return hit;
        }
    return hit;
}

void SelectAt(COrvaneDoc& doc, int x, int y) {
    const Time now = doc.Platform().clock.Now();
    doc.selectedZone = nullptr;
    if (doc.selectedObject) doc.selectedObject->viewStamp = now;
    doc.selectedObject = nullptr;
    const CHit hit = HitTest(doc, x, y);
    if (hit.object) {
        doc.selectedObject = hit.object;
        hit.object->OnClick(x, y);
        hit.object->viewStamp = now;
    } else {
        doc.selectedZone = hit.zone;
    }
    doc.UpdateAllViews(kHintRefresh);
}

void SelectObject(COrvaneDoc& doc, CCommonObject* object) {
    const Time now = doc.Platform().clock.Now();
    doc.selectedZone = nullptr;
    if (doc.selectedObject) doc.selectedObject->viewStamp = now;
    doc.selectedObject = object;
    if (object) object->viewStamp = now;
    doc.UpdateAllViews(kHintRefresh);
}

CCommonObject* DropTargetAt(const COrvaneDoc& doc, const CCommonObject* dragged, int x, int y) {
    for (const auto& o : doc.objects)
        if (o.get() != dragged && o->box.Contains(x, y)) return o.get();
    return nullptr;
}

}  // namespace orv

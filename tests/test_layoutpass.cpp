// The layout pass without a window: level columns of zones and groups, object stacks, GTV sizes.
#include <gtest/gtest.h>

#include "document/document.h"
#include "document/layoutpass.h"
#include "monitors/halflife/hlserver.h"
#include "monitors/quake3/gtv.h"
#include "tests/fakes.h"

namespace orv {
namespace {

struct LayoutPass : ::testing::Test {
    test::TestPlatform env;
    CZoneObList zones;
    CGroupObList groups;
    CObjectList objects;

    CZone* Zone(int level) { return zones.Append(std::make_unique<CZone>("z", level)); }
    CGroup* Group(CZone* zone, int level) { return groups.Append(std::make_unique<CGroup>("g", zone, level)); }
    template <class T = CHLServer>
    T* Object(CGroup* group) {
        auto* o = static_cast<T*>(objects.Append(std::make_unique<T>(env.platform)));
        o->group = group;
        return o;
    }
    CLayoutSize Run() { return LayOut(zones, groups, objects); }
};

TEST_F(LayoutPass, EmptyLayoutIsItsMarginsPlusTwoHundredPixelsPerEmptyZoneLevel) {
    EXPECT_EQ(Run(), (CLayoutSize{15, 15}));
    zones.maxLevel = 2;  // stale after the last zone was deleted
    EXPECT_EQ(Run(), (CLayoutSize{415, 15}));
}

TEST_F(LayoutPass, EmptyZoneLevelLeavesAGapEmptyGroupLevelNone) {
    CZone* first = Zone(1);
    CZone* third = Zone(3);
    CGroup* low = Group(first, 1);
    CGroup* high = Group(first, 3);
    Object(low);
    const CLayoutSize size = Run();
    EXPECT_EQ(first->rect, (CRect{15, 15, 15 + 15 + 140 + 60 + 100 + 15, 15 + 35 + 200 + 15}));
    EXPECT_EQ(low->rect, (CRect{30, 50, 170, 158}));
    EXPECT_EQ(high->rect.left, low->rect.right + 60);  // no gap for group level 2
    EXPECT_EQ(third->rect, (CRect{first->rect.right + 200 + 15, 15, first->rect.right + 215 + 300, 215}));
    EXPECT_EQ(size, (CLayoutSize{third->rect.right + 15, first->rect.bottom + 15}));
}

TEST_F(LayoutPass, HigherGroupLevelStartsRightOfTheLastGroupPlacedAndObjectsStack) {
    CZone* zone = Zone(1);
    CGroup* wide = Group(zone, 1);
    CGroup* narrow = Group(zone, 1);
    CGroup* next = Group(zone, 2);
    Object(wide);
    Object(wide);
    auto* o = Object(next);
    Run();
    EXPECT_EQ(objects[1]->box, (CRect{40, 158, 160, 236}));  // second of its group: previous bottom + 10
    EXPECT_EQ(objects[1]->iconRect, (CRect{76, 158, 124, 206}));
    EXPECT_EQ(narrow->rect, (CRect{30, 256, 130, 456}));  // empty group: 100 x 200 below the first
    // Right of the last placed, not of the widest.
    EXPECT_EQ(std::tuple(next->rect.left, next->rect.top, o->box.left),
              std::tuple(narrow->rect.right + 60, zone->rect.top + 35, next->rect.left + 10));
}

TEST_F(LayoutPass, GTVBoxFoldedAndUnfolded) {
    CGroup* group = Group(Zone(1), 1);
    auto* gtv = Object<CGTV>(group);
    gtv->state = CCommonObject::kStateMonitor;
    gtv->roomCount = 3;
    gtv->rooms[1].roomState = 2;  // hidden
    gtv->selectedRoom = &gtv->rooms[0];
    Run();
    EXPECT_EQ(std::tuple(gtv->box.Height(), gtv->selectedRoom), std::tuple(78, nullptr));  // folding clears the room
    gtv->expanded = 1;
    Run();
    EXPECT_EQ(gtv->box.Height(), 83 + 2 * 40);
    EXPECT_EQ(gtv->rooms[2].band, (CRect{gtv->box.left + 3, gtv->box.top + 93, gtv->box.right - 3, gtv->box.top + 133}));
    gtv->roomCount = 0;
    Run();
    EXPECT_EQ(gtv->box.Height(), 83);
}

}  // namespace
}  // namespace orv

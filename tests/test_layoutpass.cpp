// The layout pass without a window: level columns of zones and groups, object stacks, GTV sizes, as rows
// of tests/data/mod_layout.txt (the layout, then every rectangle the pass wrote).
#include <sstream>

#include "document/layoutpass.h"
#include "monitor_fixture.h"
#include "monitors/halflife/hlserver.h"
#include "monitors/quake3/gtv.h"

namespace orv {
namespace {

std::vector<std::string> Words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}
std::string Rect(const CRect& r) {
    return Format(" %d,%d,%d,%d", r.left, r.top, r.right, r.bottom);
}

TEST(LayoutPass, ColumnsStacksAndGtvBoxes) {
    test::TestPlatform env;
    for (auto& row : test::Rows("mod_layout.txt")) {
        CZoneObList zones;
        CGroupObList groups;
        CObjectList objects;
        for (auto& level : Words(row["zones"])) zones.Append(std::make_unique<CZone>("z", std::stoi(level)));
        if (row.count("maxlevel")) zones.maxLevel = std::stoi(row["maxlevel"]);
        for (auto& g : Words(row["groups"]))
            groups.Append(std::make_unique<CGroup>("g", zones[g[0] - '0'], g[2] - '0'));
        for (auto& o : Words(row["objects"])) {
            std::unique_ptr<CCommonObject> made = std::make_unique<CHLServer>(env.platform);
            if (o.size() > 1) {
                auto gtv = std::make_unique<CGTV>(env.platform);
                std::tie(gtv->state, gtv->roomCount, gtv->rooms[1].roomState, gtv->selectedRoom, gtv->expanded) =
                    std::tuple(CCommonObject::kStateMonitor, o[4] - '0', 2, &gtv->rooms[0], o.back() == '+');
                made = std::move(gtv);
            }
            made->group = groups[static_cast<size_t>(o[0] - '0')];
            objects.Append(std::move(made));
        }
        const CLayoutSize size = LayOut(zones, groups, objects);
        std::string dump = Format("size %d,%d;", size.width, size.height);
        for (auto& z : zones) dump += " zone" + Rect(z->rect);
        for (auto& g : groups) dump += " group" + Rect(g->rect);
        for (auto& o : objects) {
            dump += " box" + Rect(o->box) + " icon" + Rect(o->iconRect);
            auto* gtv = dynamic_cast<CGTV*>(o.get());
            for (size_t i = 0; gtv && i < gtv->rooms.size(); ++i)
                if (gtv->rooms[i].band != CRect{}) dump += " band" + Rect(gtv->rooms[i].band);
            if (gtv && gtv->selectedRoom) dump += " selected";
        }
        EXPECT_EQ(dump, row["fields"]) << row["case"];
    }
}

}  // namespace
}  // namespace orv

#include "core/zone.h"

#include "base/archive.h"

namespace orv {

CZone::CZone(std::string zoneName, std::int32_t zoneLevel)
    : colour(ColourForLevel(zoneLevel)), level(zoneLevel), name(std::move(zoneName)) {}

std::uint32_t CZone::ColourForLevel(std::int32_t lvl) {
    switch (((lvl % 3) + 3) % 3) {
        case 0: return Rgb(190, 255, 190);
        case 1: return Rgb(255, 255, 190);
        default: return Rgb(190, 190, 255);
    }
}

void CZone::Serialize(CArchive& ar) {
    ar.UInt32(colour);
    ar.Int32(level);
    ar.String(name);
    ar.UInt32(id);
}

CGroup::CGroup(std::string groupName, CZone* owner, std::int32_t groupLevel) : zone(owner) {
    colour = Rgb(255, 255, 255);
    level = groupLevel;
    name = std::move(groupName);
}

void CGroup::Serialize(CArchive& ar) {
    CZone::Serialize(ar);
    if (ar.IsStoring()) {
        std::uint32_t owner = zone ? zone->id : 0;
        ar.UInt32(owner);
    } else {
        ar.UInt32(zoneId);
    }
}

namespace {
template <class T, class List>
void SerializeLevelList(List& list, CArchive& ar) {
    if (ar.IsStoring()) {
        ar.WriteCount(static_cast<std::uint32_t>(list.size()));
        for (auto& e : list) {
            ar.WriteClassTag(e->ClassName(), e->Schema());
            e->Serialize(ar);
        }
        return;
    }
    const std::uint32_t n = ar.ReadCount();
    for (std::uint32_t i = 0; i < n && !ar.Failed(); ++i) {
        const std::string cls = ar.ReadClassTag([](const std::string& name) -> int {
            if (name == CZone::kClassName) return CZone::kSchema;
            if (name == CGroup::kClassName) return CGroup::kSchema;
            return -1;
        });
        if (ar.Failed()) break;
        if (cls != T::kClassName) {
            ar.Fail("a " + cls + " where a " + T::kClassName + " belongs");
            break;
        }
        auto e = std::make_unique<T>();
        e->Serialize(ar);
        if (ar.Failed()) break;
        list.Append(std::move(e));
    }
    list.RecomputeMaxLevel();
}
}  // namespace

void CZoneObList::Serialize(CArchive& ar) { SerializeLevelList<CZone>(*this, ar); }
void CGroupObList::Serialize(CArchive& ar) { SerializeLevelList<CGroup>(*this, ar); }

}  // namespace orv

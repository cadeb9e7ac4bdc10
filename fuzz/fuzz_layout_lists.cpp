// Feeds arbitrary bytes to the zone and group list readers of the layout file.
#include <cstddef>
#include <cstdint>

#include "core/archive.h"
#include "core/zone.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    orv::CArchive ar(std::span<const std::uint8_t>(data, size));
    orv::CZoneObList zones;
    orv::CGroupObList groups;
    zones.Serialize(ar);
    groups.Serialize(ar);
    std::string s;
    ar.String(s);
    (void)ar.ReadCount();
    return 0;
}

#include "modules/netdetect.h"

#include "core/archive.h"

namespace orv {

void CModuleNetworkDetect::Reset() {
    savedZoneId = 0;
    exportNewToWeb = 0;
    targetZone = nullptr;
    tickCounter = 0;
}

void CModuleNetworkDetect::Serialize(CArchive& ar) {
    CModule::Serialize(ar);
    if (ar.IsStoring()) {
        std::int32_t zoneId = (enabled && targetZone) ? static_cast<std::int32_t>(targetZone->id) : 0;
        ar.Int32(zoneId);
    } else {
        targetZone = nullptr;
        ar.Int32(savedZoneId);
    }
}

}  // namespace orv

// GTV network detection: grows the layout with the GTV proxies found in the chain lists of the
// proxies that answer.
#pragma once

#include <cstdint>

#include "core/module.h"
#include "core/zone.h"

namespace orv {

class CModuleNetworkDetect : public CModule {
public:
    static constexpr const char* kClassName = "CModuleNetworkDetect";
    static constexpr std::uint16_t kSchema = 1;

    CModuleNetworkDetect() { CModuleNetworkDetect::Reset(); }
    // enabled, then the target zone's id (0 when disabled or without a zone). Loading keeps the id in
    // savedZoneId until the document links the zone.
    void Serialize(CArchive& ar) override;
    // Clears the zone, the export choice and the cycle; enabled stays as it is.
    void Reset() override;

    std::int32_t savedZoneId = 0;
    std::int32_t exportNewToWeb = 0;
    CZone* targetZone = nullptr;
    std::int32_t tickCounter = 0;
};

}  // namespace orv

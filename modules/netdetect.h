// GTV network detection: grows the layout with the GTV proxies found in the chain lists of the
// proxies that answer.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/module.h"
#include "core/zone.h"

namespace orv {

class CCommonObject;
class IModuleHost;

// One entry of a GTV proxy's chain list: "host:port". Only a valid entry is looked up and added.
struct CChainEntry {
    std::string text;  // the entry as the list holds it
    std::string host;  // up to the first ':'
    std::uint32_t port = 0;
    // A host name or dotted address (letters, digits, '-', '_', '.'), a ':' and a port of 1 to 65535
    // written in decimal digits alone.
    bool valid = false;
};

// Cuts a chain list into its entries: leading white space is skipped, an entry runs up to the next
// space; the last entry needs no space after it. Entries come in list order, valid or not. Reads only
// the text given.
std::vector<CChainEntry> ParseChainList(std::string_view chains);
// One entry's host and port (see CChainEntry::valid).
CChainEntry ParseChainEntry(std::string_view entry);

class CModuleNetworkDetect : public CModule {
public:
    static constexpr const char* kClassName = "CModuleNetworkDetect";
    static constexpr std::uint16_t kSchema = 1;
    static constexpr std::int32_t kCycle = 10;     // ticks between two detection passes
    static constexpr std::int32_t kPassTick = 5;   // position of the pass in the cycle
    static constexpr const char* kAutoGroupName = "Auto";
    static constexpr const char* kNoZoneMessage = "Networt Detection Module error: No target zone\n";
    // Chain lists come from the network: they may add at most this many proxies to one layout in all.
    static constexpr std::int32_t kMaxDetected = 256;
    static constexpr const char* kCapMessage =
        "Network Detection Module: %d GTV proxies were added, no more will be added to this layout";

    CModuleNetworkDetect() { CModuleNetworkDetect::Reset(); }
    // enabled, then the target zone's id (0 when disabled or without a zone). Loading keeps the id in
    // savedZoneId until the document links the zone.
    void Serialize(CArchive& ar) override;
    // Clears the zone, the export choice, the cycle and the count of proxies added; enabled stays as it is.
    void Reset() override;

    // Once a second, before the status page and the objects. While enabled: without a target zone the
    // no-zone message, once until the module has a zone or is switched off; otherwise a detection pass on the sixth
    // tick of every ten. A tick that arrives while one is running (from a message box opened inside it) does nothing.
    void Tick(IModuleHost& host);
    // Adds every proxy named in the chain list of an answering GTV proxy and not yet in the layout, to
    // the target zone, until kMaxDetected were added since the layout was made or opened (then kCapMessage,
    // once). Views update with hint 0 when something was added. Returns how many were added.
    int DetectionPass(IModuleHost& host);
    // The group a proxy found in reporter's chain list goes into; a new "Auto" group when the target
    // zone has none of the wanted level.
    CGroup* ChooseGroup(IModuleHost& host, const CCommonObject& reporter);

    std::int32_t savedZoneId = 0;
    std::int32_t exportNewToWeb = 0;
    CZone* targetZone = nullptr;
    std::int32_t tickCounter = 0;
    std::int32_t detectedCount = 0;  // proxies added to this layout by the passes

private:
    bool m_inTick = false;
    bool m_noZoneShown = false;
};

}  // namespace orv

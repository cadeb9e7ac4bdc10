#include "modules/netdetect.h"

#include <algorithm>
#include <limits>
#include <memory>

#include "base/archive.h"
#include "base/strutil.h"
#include "modules/modulehost.h"
#include "monitors/quake3/gtv.h"
#include "net/udpsocket.h"

namespace orv {

namespace {

bool IsWhiteSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

std::string_view TrimLeft(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && IsWhiteSpace(s[i])) ++i;
    return s.substr(i);
}

// Decimal digits alone, 1 to 65535.
bool ParsePort(std::string_view text, std::uint32_t& port) {
    if (text.empty()) return false;
    std::uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
        if (value > 65535) return false;
    }
    if (value == 0) return false;
    port = value;
    return true;
}

// Levels 1 to 5 are the layout's columns: a wanted level beyond them is held at the bound.
std::int32_t LevelWithin(std::int64_t level) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(level, CZone::kMinLevel, CZone::kMaxLevel));
}

}  // namespace

CChainEntry ParseChainEntry(std::string_view entry) {
    CChainEntry e;
    e.text = std::string(entry);
    const size_t colon = entry.find(':');
    if (colon == std::string_view::npos) return e;
    e.host = std::string(entry.substr(0, colon));
    e.valid = CUdpSocket::IsValidHostName(e.host) && ParsePort(entry.substr(colon + 1), e.port);
    if (!e.valid) e.port = 0;
    return e;
}

std::vector<CChainEntry> ParseChainList(std::string_view chains) {
    std::vector<CChainEntry> entries;
    std::string_view s = TrimLeft(chains);
    while (!s.empty()) {
        // s begins with a character that is not white space, so every entry is at least one character
        // long and the list shrinks on every turn.
        const size_t space = s.find(' ');
        const std::string_view entry = space == std::string_view::npos ? s : s.substr(0, space);
        s = space == std::string_view::npos ? std::string_view() : s.substr(space + 1);
        entries.push_back(ParseChainEntry(entry));
        s = TrimLeft(s);
    }
    return entries;
}

void CModuleNetworkDetect::Reset() {
    savedZoneId = 0;
    exportNewToWeb = 0;
    targetZone = nullptr;
    tickCounter = 0;
    detectedCount = 0;
    m_noZoneShown = false;
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

void CModuleNetworkDetect::Tick(IModuleHost& host) {
    if (enabled == 0) m_noZoneShown = false;
    if (enabled == 0 || m_inTick) return;
    m_inTick = true;
    struct Leave {
        bool& flag;
        ~Leave() { flag = false; }
    } leave{m_inTick};

    // Said once, until the module gets a zone or is switched off: not a box every second.
    if (!targetZone) {
        if (!m_noZoneShown) {
            m_noZoneShown = true;
            host.Prompter().Message(kNoZoneMessage);
        }
        return;
    }
    m_noZoneShown = false;
    if (tickCounter == kPassTick) DetectionPass(host);
    // A counter out of its range (never set so here) comes back into it.
    tickCounter = static_cast<std::int32_t>((static_cast<std::int64_t>(tickCounter) + 1) % kCycle);
    if (tickCounter < 0) tickCounter = 0;
}

CGroup* CModuleNetworkDetect::ChooseGroup(IModuleHost& host, const CCommonObject& reporter) {
    const CGroupObList& groups = host.GroupList();
    CGroup* found = nullptr;
    std::int32_t wanted = 1;
    const CGroup* own = reporter.group;
    if (own && own->zone == targetZone) {
        // One level to the right of the proxy that reports it; the columns end at the last level.
        wanted = LevelWithin(std::int64_t{own->level} + 1);
        for (auto& g : groups)
            if (g->level == wanted && g->zone == targetZone) {
                found = g.get();
                break;
            }
    } else {
        // The lowest level of the target zone that has a group, up to the list's highest level; the
        // first group of that level in list order.
        for (auto& g : groups) {
            if (g->zone != targetZone || g->level < 1 || g->level > groups.maxLevel) continue;
            if (!found || g->level < found->level) found = g.get();
        }
        if (!found) wanted = LevelWithin(std::int64_t{groups.maxLevel} + 1);
    }
    if (found) return found;
    return host.AppendGroup(std::make_unique<CGroup>(kAutoGroupName, targetZone, wanted));
}

int CModuleNetworkDetect::DetectionPass(IModuleHost& host) {
    // Past the cap (and once it was told) a pass has nothing to add: the chain lists are not even read.
    if (!targetZone || detectedCount > kMaxDetected) return 0;
    int added = 0;
    // Objects are added to the list while it is walked: walk it by position, the new ones included
    // (they have not answered yet, so they are passed over).
    for (size_t i = 0; i < host.ObjectList().size(); ++i) {
        const auto* reporter = dynamic_cast<const CGTV*>(host.ObjectList()[i]);
        if (!reporter || reporter->state < CCommonObject::kStateMonitor || reporter->chainList.empty()) continue;
        const std::vector<CChainEntry> entries = ParseChainList(reporter->chainList);
        for (const CChainEntry& entry : entries) {
            // Never an object without a host or with a port that is not one.
            if (!entry.valid) continue;
            if (host.FindObject(entry.host, entry.port)) continue;
            // An object entered by name (or whose name did not resolve) is known by its host as written:
            // without this, a proxy reported by name would be added again on every pass.
            bool known = false;
            for (auto& o : host.ObjectList())
                known = known || (o->host == entry.host && o->port == entry.port);
            if (known) continue;
            if (detectedCount >= kMaxDetected) {
                if (detectedCount == kMaxDetected) {
                    ++detectedCount;  // told once
                    host.Prompter().Message(Format(kCapMessage, kMaxDetected));
                }
                break;
            }

            CDetectedGTV values;
            values.host = entry.host;
            values.port = entry.port;
            values.group = ChooseGroup(host, *reporter);
            values.externalHost = entry.host;
            values.externalPort = static_cast<std::int32_t>(entry.port);
            values.exportToWeb = exportNewToWeb;
            values.autoRecord = 0;
            if (CCommonObject* created = host.AddDetectedGTV(values)) {
                if (auto* gtv = dynamic_cast<CGTV*>(created)) gtv->expanded = 0;
                ++added;
                ++detectedCount;
            }
        }
    }
    if (added > 0) host.UpdateAllViews(0);  // plain redraw: the new boxes appear at once
    return added;
}

}  // namespace orv

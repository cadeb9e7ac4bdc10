// Feeds arbitrary bytes to the TCP remote console's framing, whole and cut in two at every byte (as a
// stream may arrive), and to the present-day "status" parser. Whole or cut, the same packets must come
// out; a bad stream must stop where it went bad; no body may outgrow a packet.
#include <cstdint>
#include <span>
#include <string_view>

#include "monitors/halflife/hlstatus.h"
#include "net/rconframe.h"

namespace {

bool SamePackets(const orv::RconPacket& a, const orv::RconPacket& b) {
    return a.id == b.id && a.type == b.type && a.body == b.body;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    const orv::RconFrames whole = orv::DecodeRconPackets(bytes);
    if (whole.consumed > size) __builtin_trap();
    for (const auto& p : whole.packets)
        if (p.body.size() > static_cast<size_t>(orv::rconpacket::kMaxSize)) __builtin_trap();
    // Cut at every byte (64 cuts spread over longer inputs): first part, then what it left plus the rest.
    const size_t step = size > 64 ? size / 64 : 1;
    for (size_t cut = 0; cut <= size; cut += step) {
        const orv::RconFrames first = orv::DecodeRconPackets(bytes.first(cut));
        if (first.bad) continue;  // the bad packet lies in the first part: whole saw it too
        const orv::RconFrames second = orv::DecodeRconPackets(bytes.subspan(first.consumed));
        if (first.packets.size() + second.packets.size() != whole.packets.size()) __builtin_trap();
        for (size_t i = 0; i < whole.packets.size(); ++i) {
            const auto& p = i < first.packets.size() ? first.packets[i] : second.packets[i - first.packets.size()];
            if (!SamePackets(p, whole.packets[i])) __builtin_trap();
        }
        if (first.consumed + second.consumed != whole.consumed || second.bad != whole.bad) __builtin_trap();
    }
    const orv::HLModernStatus status =
        orv::ParseModernStatus(std::string_view(reinterpret_cast<const char*>(data), size));
    if (status.players.size() > orv::HLModernStatus::kMaxPlayers) __builtin_trap();
    for (const auto& p : status.players)
        if (p.userId < 0 || p.name.size() > size) __builtin_trap();
    return 0;
}

#include "monitors/halflife/a2s.h"

#include <algorithm>

#include "base/bytereader.h"

namespace orv {

namespace {

constexpr size_t kTypeOffset = 4;
constexpr size_t kBodyOffset = 5;
constexpr std::uint32_t kNoChallenge = 0xFFFFFFFF;
constexpr std::uint16_t kTheShipAppId = 2400;  // the one game whose reply carries three more bytes

void PutU32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

std::string Head(char type) {
    return std::string("\xFF\xFF\xFF\xFF", 4) + type;
}

bool HasType(std::span<const std::uint8_t> datagram, std::uint8_t type) {
    return datagram.size() > kTypeOffset && datagram[kTypeOffset] == type;
}

}  // namespace

const char* DialectName(CHLDialect dialect) {
    return dialect == CHLDialect::A2S ? "a2s" : "classic";
}

void A2SInfoQueryInto(std::string& out, std::optional<std::uint32_t> challenge) {
    out.assign("\xFF\xFF\xFF\xFFTSource Engine Query", 24);
    out.push_back('\0');
    if (challenge) PutU32(out, *challenge);
}

std::string A2SInfoQuery(std::optional<std::uint32_t> challenge) {
    std::string out;
    A2SInfoQueryInto(out, challenge);
    return out;
}

std::string A2SPlayerQuery(std::optional<std::uint32_t> challenge) {
    std::string out = Head('U');
    PutU32(out, challenge.value_or(kNoChallenge));
    return out;
}

std::optional<std::uint32_t> ParseA2SChallenge(std::span<const std::uint8_t> datagram) {
    if (!HasType(datagram, kA2SAnswerChallenge)) return std::nullopt;
    CByteReader in(datagram, kBodyOffset);
    const std::uint32_t value = in.U32();
    if (in.Failed()) return std::nullopt;
    return value;
}

A2SInfo ParseA2SInfo(std::span<const std::uint8_t> datagram) {
    CByteReader in(datagram, std::min(kBodyOffset, datagram.size()));
    A2SInfo info;
    info.protocol = in.U8();
    info.name = in.CString();
    info.map = in.CString();
    info.folder = in.CString();
    info.game = in.CString();
    info.appId = in.U16();
    info.players = in.U8();
    info.maxPlayers = in.U8();
    info.bots = in.U8();
    info.serverType = in.U8();
    info.environment = in.U8();
    info.visibility = in.U8();
    info.vac = in.U8();
    if (info.appId == kTheShipAppId) in.Skip(3);  // mode, witnesses, duration
    info.version = in.CString();
    if (in.Failed()) {
        info.truncated = true;
        return info;
    }
    if (in.AtEnd()) return info;  // no extra data
    info.extraFlags = in.U8();
    if (info.extraFlags & 0x80) info.gamePort = in.U16();
    if (info.extraFlags & 0x10) info.steamId = in.U64();
    if (info.extraFlags & 0x40) {
        info.tvPort = in.U16();
        info.tvName = in.CString();
    }
    if (info.extraFlags & 0x20) info.keywords = in.CString();
    if (info.extraFlags & 0x01) info.gameId = in.U64();
    info.truncated = in.Failed();
    return info;
}

}  // namespace orv

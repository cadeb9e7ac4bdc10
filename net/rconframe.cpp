#include "net/rconframe.h"

#include <cstdio>

#include "base/bytereader.h"

namespace orv {

namespace {
void PutI32(std::string& out, std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>((u >> shift) & 0xFF));
}
}  // namespace

std::string EncodeRconPacket(std::int32_t id, std::int32_t type, std::string_view body) {
    body = body.substr(0, body.find('\0'));
    std::string out;
    out.reserve(body.size() + 14);
    PutI32(out, static_cast<std::int32_t>(body.size() + 10));
    PutI32(out, id);
    PutI32(out, type);
    out.append(body);
    out.append(2, '\0');
    return out;
}

RconFrames DecodeRconPackets(std::span<const std::uint8_t> bytes) {
    RconFrames out;
    size_t at = 0;
    while (bytes.size() - at >= 4) {
        CByteReader reader(bytes, at);
        const auto size = static_cast<std::int32_t>(reader.U32());
        if (size < rconpacket::kMinSize || size > rconpacket::kMaxSize) {
            out.bad = true;
            char text[96];
            std::snprintf(text, sizeof text, "packet size %d outside %d..%d", static_cast<int>(size),
                          static_cast<int>(rconpacket::kMinSize), static_cast<int>(rconpacket::kMaxSize));
            out.error = text;
            break;
        }
        if (bytes.size() - at - 4 < static_cast<size_t>(size)) break;  // not all here yet
        const std::span<const std::uint8_t> packet = bytes.subspan(at + 4, static_cast<size_t>(size));
        if (packet[packet.size() - 1] != 0 || packet[packet.size() - 2] != 0) {
            out.bad = true;
            out.error = "packet body without its NULs";
            break;
        }
        RconPacket p;
        CByteReader fields(packet, 0);
        p.id = static_cast<std::int32_t>(fields.U32());
        p.type = static_cast<std::int32_t>(fields.U32());
        p.body = fields.CString();
        out.packets.push_back(std::move(p));
        at += 4 + static_cast<size_t>(size);
    }
    out.consumed = at;
    return out;
}

}  // namespace orv

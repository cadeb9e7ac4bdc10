// The packets of the TCP remote console of present-day servers: a little-endian int32 size (the bytes
// that follow), an int32 request id, an int32 type, a NUL-terminated body and one more NUL. The decoder
// is a pure function over the bytes received so far: the complete packets out, the rest kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orv {

namespace rconpacket {
constexpr std::int32_t kAuth = 3;          // body: the rcon password
constexpr std::int32_t kExec = 2;          // body: the command
constexpr std::int32_t kAuthResponse = 2;  // from the server: id -1 when the password was refused
constexpr std::int32_t kResponse = 0;      // from the server: output; from us: the end-of-output marker
constexpr std::int32_t kMinSize = 10;      // id, type and the two NULs of an empty body
constexpr std::int32_t kMaxSize = 4106;    // a body of 4,096 bytes
constexpr std::int32_t kRefusedId = -1;
}  // namespace rconpacket

struct RconPacket {
    std::int32_t id = 0;
    std::int32_t type = 0;
    std::string body;  // up to its first NUL
};

// Size, id, type, body, NUL, NUL. A body holding a NUL is cut there by the server anyway.
std::string EncodeRconPacket(std::int32_t id, std::int32_t type, std::string_view body);

struct RconFrames {
    std::vector<RconPacket> packets;  // complete packets, in order
    size_t consumed = 0;              // bytes they took; the rest waits for more
    // A size outside 10..4,106 or a packet not ended by two NULs: the stream cannot be trusted any more.
    // Packets before the bad one are still given.
    bool bad = false;
    std::string error;  // what was wrong, for the console
};

RconFrames DecodeRconPackets(std::span<const std::uint8_t> bytes);

}  // namespace orv

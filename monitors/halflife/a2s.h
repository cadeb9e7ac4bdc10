// The binary queries that present-day Half-Life servers and HLTV proxies answer (A2S), and the parsers
// of their replies. Queries are built as whole datagrams (prefix included, no zero byte added behind a
// challenge); parsers work over the received datagram through the bounded reader and never read past it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace orv {

// Which queries an object speaks. Undecided until the first answer that tells: a classic answer ('m' or
// 'C') keeps the classic "details"/"players" cycle; an A2S answer ('I' or a challenge 'A') switches the
// info and players phases to A2S_INFO and A2S_PLAYER.
enum class CHLDialect : std::uint8_t { Undecided, Classic, A2S };

// "classic" while undecided or classic, "a2s" once the object speaks A2S.
const char* DialectName(CHLDialect dialect);

// Answer types (byte 4 of a datagram) of the A2S replies; the players reply is 'D' as for "players".
enum : std::uint8_t {
    kA2SAnswerInfo = 'I',
    kA2SAnswerChallenge = 'A',
};

// FF FF FF FF 'T' "Source Engine Query" 00, then the challenge's four bytes when one is known.
std::string A2SInfoQuery(std::optional<std::uint32_t> challenge);
// The same into a buffer the caller reuses.
void A2SInfoQueryInto(std::string& out, std::optional<std::uint32_t> challenge);
// FF FF FF FF 'U' and the challenge's four bytes; FF FF FF FF asks for a challenge.
std::string A2SPlayerQuery(std::optional<std::uint32_t> challenge);

// The challenge of an 'A' reply: the four bytes behind the type, little-endian (echoed back as they came).
// Nothing when the reply is shorter.
std::optional<std::uint32_t> ParseA2SChallenge(std::span<const std::uint8_t> datagram);

// An 'I' reply. Fields that the datagram does not hold stay empty or zero; truncated tells that the reply
// ended before its last fixed field (the version) or inside an extra-data field its flag byte announced.
struct A2SInfo {
    bool truncated = false;
    std::uint8_t protocol = 0;
    std::string name;
    std::string map;
    std::string folder;
    std::string game;
    std::uint16_t appId = 0;
    std::uint8_t players = 0;
    std::uint8_t maxPlayers = 0;
    std::uint8_t bots = 0;
    std::uint8_t serverType = 0;   // 'd' dedicated, 'l' listen, 'p' proxy
    std::uint8_t environment = 0;  // 'l' Linux, 'w' Windows, 'm'/'o' macOS
    std::uint8_t visibility = 0;   // 1: a password is needed
    std::uint8_t vac = 0;          // 1: VAC secured
    std::string version;
    // Extra data, present when its bit is set in the flag byte.
    std::uint8_t extraFlags = 0;
    std::optional<std::uint16_t> gamePort;  // 0x80
    std::optional<std::uint64_t> steamId;   // 0x10
    std::optional<std::uint16_t> tvPort;    // 0x40, with tvName
    std::string tvName;
    std::optional<std::string> keywords;  // 0x20
    std::optional<std::uint64_t> gameId;  // 0x01
};
A2SInfo ParseA2SInfo(std::span<const std::uint8_t> datagram);

// What an object remembers of its A2S exchange between ticks (nothing of it is saved).
struct CA2SSession {
    enum class Query : std::uint8_t { None, Info, Players };
    CHLDialect dialect = CHLDialect::Undecided;
    std::optional<std::uint32_t> challenge;  // the last one a challenge reply gave
    Query awaiting = Query::None;            // the last A2S query sent and not answered yet
    bool infoOutstanding = false;            // an info query waits for its one reply ('I' or 'm')
    bool infoReplySeen = false;              // the server sends 'I' replies (its 'm' ones are dropped)
    bool infoRetried = false;                // this cycle's info query was repeated with a new challenge
    bool playersRetried = false;             // the same for the players query
};

}  // namespace orv

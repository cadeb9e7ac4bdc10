// Parsers of the Half-Life server's answers. Each works over the received datagram (prefix included) or
// over one console line, returns a plain struct and reads nothing beyond its input: a truncated answer
// yields empty strings and missing numbers, never a read past the end.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orv {

// Answer types (byte 4 of a datagram).
enum : std::uint8_t {
    kHLAnswerDetails = 'm',
    kHLAnswerInfo = 'C',
    kHLAnswerPlayers = 'D',
    kHLAnswerChallenge = 'c',
    kHLAnswerPrint = 'l',
    kHLAnswerPing = 'j',
};

// The five strings of a details ('m') or info ('C') answer, from offset 5. Missing ones are empty.
struct HLServerInfo {
    std::string address;  // ip:port as the server sees itself
    std::string serverName;
    std::string map;
    std::string gameDirectory;
    std::string description;
};
HLServerInfo ParseHLServerInfo(std::span<const std::uint8_t> datagram);

// The host and port of an address "host:port". Nothing when the text has no ':', nothing before it,
// or no port number 0..65535 right after it (a leading decimal integer; text behind it is ignored).
struct HLAddress {
    std::string host;
    std::uint32_t port = 0;
};
std::optional<HLAddress> SplitHLAddress(std::string_view address);

// A players ('D') answer. accepted is false when the count byte announces more than 32 players;
// otherwise count names are given, missing records being empty.
struct HLPlayerList {
    bool accepted = false;
    std::int32_t count = 0;
    std::array<std::string, 32> names;
};
HLPlayerList ParseHLPlayers(std::span<const std::uint8_t> datagram);

// The challenge of a 'c' answer: the decimal number at offset 19 (optional sign, digits, wrapped to
// 32 bits). Nothing when the answer ends before offset 19 or holds no number there.
std::optional<std::uint32_t> ParseHLChallenge(std::span<const std::uint8_t> datagram);

// The console line of a server or proxy that refuses the rcon password.
inline constexpr std::string_view kHLBadRcon = "Bad rcon_password.";

// The console text of a print ('l') answer: from offset 5 up to the first zero byte or the end.
std::string_view HLPrintText(std::span<const std::uint8_t> datagram);
// Lines ended by a line feed, in order; empty lines are skipped and text after the last line feed is
// dropped.
std::vector<std::string> CutConsoleLines(std::string_view text);

// A line beginning with "\"sv_password\" is": the password between the quotes that follow " \"".
// Empty when an opening or closing quote is missing. Nothing when the line does not begin that way.
std::optional<std::string> ParseServerPasswordLine(std::string_view line);

// A player line of the rcon "status" answer, `#%2d "NAME" USERID UNIQUEID ...`: the name runs to the
// line's last double quote (the fields after it hold none), the user id follows it. Nothing for any
// other line (the column heading included).
struct HLStatusPlayer {
    std::string name;
    std::int32_t userId = 0;
};
std::optional<HLStatusPlayer> ParseStatusPlayerLine(std::string_view line);

// An AdminBot line "nxn_match_report = \"F1;...;F10;F11\"". A field whose terminator is missing is
// empty; a number field that holds no decimal number is nothing.
struct HLMatchReport {
    std::string teamAName;  // F1
    std::string teamBName;  // F2
    std::optional<std::int32_t> matchState;  // F7
    std::optional<std::int32_t> teamASet1;   // F8
    std::optional<std::int32_t> teamASet2;   // F9
    std::optional<std::int32_t> teamBSet1;   // F10
    std::optional<std::int32_t> teamBSet2;   // F11
};
HLMatchReport ParseMatchReport(std::string_view line);

// A decimal integer as the AdminBot fields hold it: optional leading blanks, optional sign, digits
// (wrapped to 32 bits). Nothing when no digit is found.
std::optional<std::int32_t> ParseDecimal(std::string_view text);

}  // namespace orv

// Parsers of the Quake 3 and GTV answers. Each reads only the bytes it is given and returns a plain
// struct; the monitors apply the result to their fields.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orv {

inline constexpr int kQ3MaxNames = 32;

// The answer's text: the bytes from offset 4 up to the first zero byte, or to the end of the datagram.
std::string AnswerText(std::span<const std::uint8_t> datagram);

// The lines of a console answer ("print"): the word dropped, then every piece followed by a line feed,
// empty pieces skipped. A last piece without a line feed is not a line.
std::vector<std::string> ConsoleLines(std::string text);

// "infoResponse": hostname and sv_maxclients.
struct Q3InfoAnswer {
    std::string serverName;
    std::int32_t maxPlayers = 0;
};
Q3InfoAnswer ParseQ3InfoAnswer(std::string_view text);

// "statusResponse": sv_hostname, sv_maxclients and the players, read from the server_ospauth value (which
// holds the player lines when it is the last key of the info string). Only complete quoted names count:
// a value without one gives no players. At most 32 names are read.
struct Q3StatusAnswer {
    std::string serverName;
    std::int32_t maxPlayers = 0;
    bool hasPlayerList = false;  // server_ospauth present and not empty
    std::int32_t playerCount = 0;
    std::array<std::string, kQ3MaxNames> playerNames;  // colour codes removed
};
Q3StatusAnswer ParseQ3StatusAnswer(std::string_view text);

// rcon "<rcon password>" <command>: how the Quake 3 server and the GTV proxy take a command.
std::string Q3RconText(std::string_view rconPassword, std::string_view command);

// Console line rules of the Quake 3 server.
inline constexpr std::string_view kQ3PasswordPrefix = "\"password\" is:\"";  // 15 characters
inline constexpr std::string_view kQ3ScorePrefix = "\"Score_Time\" is:";     // 16 characters
inline constexpr std::string_view kQ3NoRconPassword = "No rconpassword set on the server";
inline constexpr std::string_view kQ3BadRcon = "Bad rconpassword.";
// A line of the answer to rcon "password": the value up to the next double quote, colour codes removed.
bool ParseQ3PasswordLine(std::string_view line, std::string& password);
// A line of the answer to rcon "score_time": 0 when the clock waits, reached its time limit or shows a
// win, 1 otherwise.
bool ParseQ3ScoreLine(std::string_view line, std::int32_t& matchValue);

// Console line rules of the GTV proxy.
inline constexpr std::string_view kGtvPasswordPrefix = "\"gtv_password\" is:\"";  // 19 characters
inline constexpr std::string_view kGtvBadRcon = kQ3BadRcon;  // the proxy refuses as the server does
bool ParseGtvPasswordLine(std::string_view line, std::string& password);

// "managerInfoResponse": the proxy's name, clients, slots, chain list and hub list (at most 32 rooms).
struct GtvHubEntry {
    std::int32_t hubNumber = 0;
    std::int32_t roomState = 0;
    std::int32_t roomNumber = 0;
};
struct GtvManagerAnswer {
    std::string serverName;
    std::int32_t clients = 0;
    std::int32_t clientSlots = 0;
    std::string chainList;
    std::int32_t roomCount = 0;  // numHubs, kept within 0..32
    std::array<GtvHubEntry, kQ3MaxNames> hubs;
};
inline constexpr int kGtvMaxRooms = 32;
GtvManagerAnswer ParseGtvManagerAnswer(std::string_view text);

// "hubInfoResponse": one hub's map, recording, description, parent address, followed client and players.
struct GtvHubAnswer {
    std::int32_t hubNumber = 0;
    std::string map;  // "maps/" and ".bsp" removed
    std::string recordingName;
    std::string description;
    std::string serverAddress;
    std::int32_t following = -1;  // -1 without a "following" value
    std::int32_t playerCount = 0;
    std::array<std::string, kQ3MaxNames> playerNames;  // colour codes removed
    std::array<std::int32_t, kQ3MaxNames> playerNumbers{};
};
GtvHubAnswer ParseGtvHubAnswer(std::string_view text);

// Every occurrence of what removed, left to right.
std::string RemoveAll(std::string_view text, std::string_view what);

}  // namespace orv

#include "monitors/quake3/q3parse.h"

#include <algorithm>
#include <cstring>

#include "base/strutil.h"

namespace orv {

std::string AnswerText(std::span<const std::uint8_t> datagram) {
    if (datagram.size() <= 4) return {};
    const auto* begin = datagram.data() + 4;
    const auto* end = datagram.data() + datagram.size();
    const auto* zero = std::find(begin, end, std::uint8_t{0});
    return std::string(reinterpret_cast<const char*>(begin), static_cast<size_t>(zero - begin));
}

std::vector<std::string> ConsoleLines(std::string text) {
    std::vector<std::string> lines;
    Tokenize(text, "print");
    std::string line;
    while (Tokenize(text, "\n", line)) {
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

Q3InfoAnswer ParseQ3InfoAnswer(std::string_view text) {
    Q3InfoAnswer a;
    a.maxPlayers = InfoNumber(text, "sv_maxclients");
    a.serverName = InfoValue(text, "hostname");
    return a;
}

Q3StatusAnswer ParseQ3StatusAnswer(std::string_view text) {
    Q3StatusAnswer a;
    a.serverName = InfoValue(text, "sv_hostname");
    a.maxPlayers = InfoNumber(text, "sv_maxclients");
    std::string auth = InfoValue(text, "server_ospauth");
    if (auth.empty()) return a;
    a.hasPlayerList = true;
    std::string name;
    if (!Tokenize(auth, "\"", name)) return a;  // up to and including the first double quote; none: no players
    // The table has 32 entries: names beyond them are not read.
    while (a.playerCount < kQ3MaxNames) {
        if (!Tokenize(auth, "\"", name)) break;  // an unclosed name is no name
        a.playerNames[static_cast<size_t>(a.playerCount)] = StripColours(name);
        ++a.playerCount;
        if (!Tokenize(auth, "\"", name)) break;  // up to and including the next opening quote
    }
    return a;
}

std::string Q3RconText(std::string_view rconPassword, std::string_view command) {
    std::string text = "rcon \"";
    text += rconPassword;
    text += "\" ";
    text += command;
    return text;
}

bool ParseQ3PasswordLine(std::string_view line, std::string& password) {
    if (!BeginsWith(line, kQ3PasswordPrefix)) return false;
    std::string rest(line.substr(kQ3PasswordPrefix.size()));
    password = StripColours(Tokenize(rest, "\""));
    return true;
}

bool ParseQ3ScoreLine(std::string_view line, std::int32_t& matchValue) {
    if (!BeginsWith(line, kQ3ScorePrefix)) return false;
    const std::string_view rest = line.substr(kQ3ScorePrefix.size());
    const bool idle = rest.find("Waiting for Players") != std::string_view::npos ||
                      rest.find("Timelimit") != std::string_view::npos || rest.find("Win: ") != std::string_view::npos;
    matchValue = idle ? 0 : 1;
    return true;
}

bool ParseGtvPasswordLine(std::string_view line, std::string& password) {
    if (!BeginsWith(line, kGtvPasswordPrefix)) return false;
    std::string rest(line.substr(kGtvPasswordPrefix.size()));
    password = StripColours(Tokenize(rest, "\""));
    return true;
}

namespace {
bool IsWhite(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}
}  // namespace

GtvManagerAnswer ParseGtvManagerAnswer(std::string_view text) {
    GtvManagerAnswer a;
    a.serverName = InfoValue(text, "hostname");
    a.clients = InfoNumber(text, "clients");
    a.clientSlots = InfoNumber(text, "sv_maxclients");
    a.chainList = InfoValue(text, "chains");
    // The proxy's count is not trusted beyond the table.
    a.roomCount = std::clamp(InfoNumber(text, "numHubs"), 0, kGtvMaxRooms);
    if (a.roomCount == 0) return a;
    std::string hubs = InfoValue(text, "hubs");
    for (int i = 0; i < a.roomCount; ++i) {
        size_t white = 0;
        while (white < hubs.size() && IsWhite(hubs[white])) ++white;
        hubs.erase(0, white);
        GtvHubEntry& e = a.hubs[static_cast<size_t>(i)];
        // A token that is not a number, or the empty token of a last number without a space, reads 0.
        e.hubNumber = ToInt(Tokenize(hubs, " "));
        e.roomState = ToInt(Tokenize(hubs, " "));
        e.roomNumber = ToInt(Tokenize(hubs, " "));
    }
    return a;
}

GtvHubAnswer ParseGtvHubAnswer(std::string_view text) {
    GtvHubAnswer a;
    a.hubNumber = InfoNumber(text, "hubNum");
    a.map = RemoveAll(RemoveAll(InfoValue(text, "mapName"), "maps/"), ".bsp");
    a.recordingName = InfoValue(text, "recording");
    a.description = InfoValue(text, "desc");
    a.serverAddress = InfoValue(text, "parent");
    a.following = InfoValue(text, "following").empty() ? -1 : InfoNumber(text, "following");
    for (int k = 0; k < kQ3MaxNames; ++k) {
        const std::string number = std::to_string(k);
        if (InfoValue(text, "p" + number + "t").empty()) continue;
        const auto at = static_cast<size_t>(a.playerCount);
        a.playerNumbers[at] = k;
        a.playerNames[at] = StripColours(InfoValue(text, "p" + number + "n"));
        ++a.playerCount;
    }
    return a;
}

std::string RemoveAll(std::string_view text, std::string_view what) {
    if (what.empty()) return std::string(text);
    std::string out;
    out.reserve(text.size());
    size_t pos = 0;
    while (true) {
        const auto hit = text.find(what, pos);
        if (hit == std::string_view::npos) break;
        out.append(text.substr(pos, hit - pos));
        pos = hit + what.size();
    }
    out.append(text.substr(pos));
    return out;
}


}  // namespace orv

#include "monitors/halflife/hlparse.h"

#include <algorithm>
#include <cstring>

#include "base/bytereader.h"
#include "base/strutil.h"

namespace orv {

namespace {
constexpr size_t kStringsOffset = 5;
constexpr size_t kChallengeOffset = 19;
constexpr std::string_view kPasswordLine = "\"sv_password\" is";
constexpr std::string_view kMatchReportStart = "nxn_match_report = \"";
}  // namespace

HLServerInfo ParseHLServerInfo(std::span<const std::uint8_t> datagram) {
    CByteReader in(datagram, std::min(kStringsOffset, datagram.size()));
    HLServerInfo info;
    info.address = in.CString();
    info.serverName = in.CString();
    info.map = in.CString();
    info.gameDirectory = in.CString();
    info.description = in.CString();
    return info;
}

std::optional<HLAddress> SplitHLAddress(std::string_view address) {
    const auto colon = address.find(':');
    if (colon == std::string_view::npos || colon == 0) return std::nullopt;
    std::int32_t port = 0;
    if (!ScanInt(address.substr(colon + 1), port) || port < 0 || port > 65535) return std::nullopt;
    return HLAddress{std::string(address.substr(0, colon)), static_cast<std::uint32_t>(port)};
}

HLPlayerList ParseHLPlayers(std::span<const std::uint8_t> datagram) {
    CByteReader in(datagram, std::min(kStringsOffset, datagram.size()));
    HLPlayerList list;
    const std::uint8_t count = in.U8();  // missing: 0
    if (count > list.names.size()) return list;
    list.accepted = true;
    list.count = count;
    for (std::uint8_t i = 0; i < count; ++i) {
        // A record cut short ends the list's reading: the names still missing stay empty.
        if (in.Failed()) break;
        in.U8();  // index
        list.names[i] = in.CString();
        in.Skip(8);  // frag count and connection time
    }
    return list;
}

std::optional<std::uint32_t> ParseHLChallenge(std::span<const std::uint8_t> datagram) {
    if (datagram.size() <= kChallengeOffset) return std::nullopt;
    const auto* text = reinterpret_cast<const char*>(datagram.data() + kChallengeOffset);
    std::string_view rest(text, datagram.size() - kChallengeOffset);
    rest = rest.substr(0, rest.find('\0'));
    std::int32_t value = 0;
    if (!ScanInt(rest, value)) return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

std::string_view HLPrintText(std::span<const std::uint8_t> datagram) {
    if (datagram.size() <= kStringsOffset) return {};
    std::string_view text(reinterpret_cast<const char*>(datagram.data() + kStringsOffset),
                          datagram.size() - kStringsOffset);
    return text.substr(0, text.find('\0'));
}

std::vector<std::string> CutConsoleLines(std::string_view text) {
    std::vector<std::string> lines;
    std::string rest(text);
    std::string line;
    while (Tokenize(rest, "\n", line))
        if (!line.empty()) lines.push_back(line);
    return lines;
}

std::optional<std::string> ParseServerPasswordLine(std::string_view line) {
    if (!BeginsWith(line, kPasswordLine)) return std::nullopt;
    std::string_view rest = line.substr(kPasswordLine.size());
    if (!BeginsWith(rest, " \"")) return std::string();
    rest.remove_prefix(2);
    const auto close = rest.find('"');
    if (close == std::string_view::npos) return std::string();
    return std::string(rest.substr(0, close));
}

std::optional<HLStatusPlayer> ParseStatusPlayerLine(std::string_view line) {
    if (!BeginsWith(line, "#")) return std::nullopt;
    size_t at = line.find_first_not_of(' ', 1);
    const size_t digits = at == std::string_view::npos ? at : line.find_first_not_of("0123456789", at);
    if (digits == at || digits == std::string_view::npos || line[digits] != ' ') return std::nullopt;
    const size_t open = line.find_first_not_of(' ', digits);
    const size_t close = line.rfind('"');
    if (open == std::string_view::npos || line[open] != '"' || close <= open) return std::nullopt;
    std::string_view rest = line.substr(close + 1);
    const size_t id = rest.find_first_not_of(' ');
    if (id == 0 || id == std::string_view::npos) return std::nullopt;
    rest.remove_prefix(id);
    HLStatusPlayer player{std::string(line.substr(open + 1, close - open - 1)), 0};
    const size_t end = std::min(rest.find_first_not_of("0123456789"), rest.size());
    // User ids are small: a longer run of digits is no id (and would wrap into another player's).
    if (end == 0 || end > 9 || !ScanInt(rest.substr(0, end), player.userId)) return std::nullopt;
    return player;
}

std::optional<std::int32_t> ParseDecimal(std::string_view text) {
    std::int32_t value = 0;
    if (!ScanInt(text, value)) return std::nullopt;
    return value;
}

HLMatchReport ParseMatchReport(std::string_view line) {
    std::string rest(line);
    const auto start = rest.find(kMatchReportStart);
    if (start != std::string::npos) rest.erase(0, start + kMatchReportStart.size());
    std::array<std::string, 11> field;
    for (size_t i = 0; i < 10; ++i) Tokenize(rest, ";", field[i]);
    Tokenize(rest, "\"", field[10]);

    HLMatchReport report;
    report.teamAName = field[0];
    report.teamBName = field[1];
    report.matchState = ParseDecimal(field[6]);
    report.teamASet1 = ParseDecimal(field[7]);
    report.teamASet2 = ParseDecimal(field[8]);
    report.teamBSet1 = ParseDecimal(field[9]);
    report.teamBSet2 = ParseDecimal(field[10]);
    return report;
}

}  // namespace orv

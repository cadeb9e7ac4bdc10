#include "monitors/halflife/hlstatus.h"

#include "base/strutil.h"

namespace orv {

namespace {

constexpr std::string_view kHeader = "# userid name uniqueid connected ping loss state rate adr";

// A decimal number at text[at] (no sign), moving at behind it; nothing when there is no digit or it is
// too large for 32 bits.
std::optional<std::int32_t> Number(std::string_view text, size_t& at) {
    std::int64_t value = 0;
    const size_t start = at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
        value = value * 10 + (text[at] - '0');
        if (value > INT32_MAX) return std::nullopt;
        ++at;
    }
    if (at == start) return std::nullopt;
    return static_cast<std::int32_t>(value);
}

void SkipSpaces(std::string_view text, size_t& at) {
    while (at < text.size() && text[at] == ' ') ++at;
}

// "N humans, B bots (M/" after "players :"
void ParsePlayersLine(std::string_view line, HLModernStatus& out) {
    size_t at = line.find(':') + 1;
    SkipSpaces(line, at);
    const auto humans = Number(line, at);
    if (!humans || line.substr(at, 8) != " humans,") return;
    at += 8;
    SkipSpaces(line, at);
    const auto bots = Number(line, at);
    if (!bots || line.substr(at, 7) != " bots (") return;
    at += 7;
    const auto max = Number(line, at);
    out.humans = humans;
    out.bots = bots;
    if (max && at < line.size() && line[at] == '/') out.maxPlayers = max;
}

// "#  2 \"name\" ..." : the user id and the quoted name (the name may hold quotes: up to the last one).
std::optional<HLStatusPlayer> ParsePlayerLine(std::string_view line) {
    size_t at = 1;
    SkipSpaces(line, at);
    HLStatusPlayer p;
    const auto id = Number(line, at);
    if (!id || at >= line.size() || line[at] != ' ') return std::nullopt;
    SkipSpaces(line, at);
    const size_t close = line.rfind('"');
    if (at >= line.size() || line[at] != '"' || close == at) return std::nullopt;
    p.userId = *id;
    p.name = std::string(line.substr(at + 1, close - at - 1));
    return p;
}

}  // namespace

HLModernStatus ParseModernStatus(std::string_view text) {
    HLModernStatus out;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (BeginsWith(line, "players :")) {
            ParsePlayersLine(line, out);
        } else if (BeginsWith(line, kHeader)) {
            out.header = true;
        } else if (out.header && BeginsWith(line, "#") && out.players.size() < HLModernStatus::kMaxPlayers) {
            if (auto p = ParsePlayerLine(line)) out.players.push_back(std::move(*p));
        }
    }
    return out;
}

}  // namespace orv

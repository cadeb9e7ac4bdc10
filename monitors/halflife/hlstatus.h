// The "status" output of present-day Half-Life servers:
//   players : 2 humans, 1 bots (16/0 max) (not hibernating)
//   # userid name uniqueid connected ping loss state rate adr
//   #  2 "Alpha One" STEAM_1:0:1234 05:12 35 0 active 786432 127.0.0.1:27005
//   #  3 "Bot Joe" BOT active 64
// A pure function over the text; lines it does not know are skipped.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "monitors/halflife/hlparse.h"

namespace orv {

struct HLModernStatus {
    bool header = false;                  // the "# userid name ..." header was there: this is present-day output
    std::vector<HLStatusPlayer> players;  // at most kMaxPlayers, in the order listed
    std::optional<std::int32_t> humans, bots, maxPlayers;
    static constexpr size_t kMaxPlayers = 256;
};

HLModernStatus ParseModernStatus(std::string_view text);

}  // namespace orv

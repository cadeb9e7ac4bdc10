// The team-tag detector: finds the name prefixes (clan tags) that a good share of the players carry.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace orv {

class CTeamTagDetector {
public:
    CTeamTagDetector(std::uint8_t minTagLength, std::uint8_t maxTagLength)
        : maxTagLength(maxTagLength), minTagLength(minTagLength) {}
    virtual ~CTeamTagDetector() = default;

    // Sorts a copy of names, finds the tags and writes them, separated by ", ", to output while holding
    // lock. Fewer names than minimum players: returns without touching output.
    virtual void Run(const std::vector<std::string>& names, std::mutex& lock, std::string& output) const;

    // Parameters, in this order.
    std::uint8_t minShare = 40;    // percent of the players, inclusive
    std::uint8_t maxShare = 100;   // percent of the players, inclusive
    std::uint8_t minMembers = 2;   // players carrying the tag
    std::uint8_t minPlayers = 5;   // players on the server
    std::uint8_t maxTagLength;
    std::uint8_t minTagLength;
};

}  // namespace orv

// A broadcast to play on the loopback interface: which game servers and TV proxies exist, on which
// ports, who plays on them, which proxies relay what, and what happens when (matches, silences,
// players joining and leaving). Read from a small JSON file and/or made from counts of each kind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orv::sim {

// Something that happens on a schedule, in whole seconds since the simulator started: from start on,
// for length seconds, again every `every` seconds (0: once).
struct SimWindow {
    std::int64_t start = 0;
    std::int64_t length = 0;
    std::int64_t every = 0;

    // Seconds into the current occurrence at time t, or nothing outside every occurrence.
    std::optional<std::int64_t> Into(std::int64_t t) const;
    // True once the first occurrence has begun.
    bool Begun(std::int64_t t) const { return t >= start; }
};

struct SimRoom {
    std::string relays;  // name of the Quake 3 server or GTV proxy the room relays
    std::string description;
};

// The kinds: "hl" (classic Half-Life server), "a2s" (present-day Half-Life server), "hltv", "q3", "gtv".
struct SimPeerSpec {
    std::string kind;
    std::string name;  // unique; other peers refer to it
    int port = 0;      // 0: any free port
    std::string serverName;
    std::string map;
    std::string rcon = "secret";  // the rcon password the peer accepts
    std::string console = "udp";  // a2s: "tcp" adds the TCP remote console on the same port number
    std::string password;         // join password (sv_password, password, gtv_password)
    int slots = 0;                // 0: the kind's default
    std::vector<std::string> players;
    std::int64_t churn = 0;  // every churn seconds one player leaves or comes back; 0: never
    std::optional<SimWindow> match;
    std::string teamA = "Alpha", teamB = "Beta";
    std::optional<SimWindow> silent;
    // HLTV proxies: the Half-Life server or proxy relayed; GTV proxies: the rooms and the chained proxies.
    std::string relays;
    int spectators = 0;
    float delay = 30.0f;
    std::vector<SimRoom> rooms;
    std::vector<std::string> chains;
};

struct Scenario {
    std::vector<SimPeerSpec> peers;
};

inline const std::vector<std::string>& SimKinds() {
    static const std::vector<std::string> kinds{"hl", "a2s", "hltv", "q3", "gtv"};
    return kinds;
}

// What a scenario file may hold: its size, the peers it makes in all (counts included), and their text
// in all (each entry's text times its count).
constexpr size_t kMaxScenarioBytes = 1 << 20;
constexpr size_t kMaxScenarioPeers = 20000;
constexpr size_t kMaxScenarioMadeBytes = 64 << 20;

// Reads a scenario from JSON text and appends its peers to scenario. A peer with "count": N is made N
// times (names get "-1" .. "-N", a fixed port grows by one each time). On error: false and a message
// naming the peer and the key; a text over kMaxScenarioBytes, more than kMaxScenarioPeers peers or
// more than kMaxScenarioMadeBytes of them are refused.
bool ParseScenario(const std::string& json, Scenario& scenario, std::string& error);
// Appends count peers of the kind with generated names, players and relays (proxies relay the game
// servers of the same number when there are some). basePort 0: any free ports.
void AddGenerated(Scenario& scenario, const std::string& kind, int count, int basePort);
// Names unique, kinds known, relays and chains naming peers of a kind that can be relayed, ports in
// range and not given twice. On error: false and a message.
bool CheckScenario(const Scenario& scenario, std::string& error);

}  // namespace orv::sim

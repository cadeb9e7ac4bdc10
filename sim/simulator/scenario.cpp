#include "sim/simulator/scenario.h"

#include <algorithm>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

namespace orv::sim {

namespace {

using Json = nlohmann::json;

struct ParseError {
    std::string message;
};

[[noreturn]] void Fail(const std::string& where, const std::string& what) { throw ParseError{where + ": " + what}; }

std::string GetString(const Json& v, const std::string& where) {
    if (!v.is_string()) Fail(where, "a text is expected");
    return v.get<std::string>();
}

std::int64_t GetInt(const Json& v, const std::string& where, std::int64_t lo, std::int64_t hi) {
    if (!v.is_number_integer()) Fail(where, "a whole number is expected");
    const std::int64_t n = v.get<std::int64_t>();
    if (n < lo || n > hi) Fail(where, "must lie between " + std::to_string(lo) + " and " + std::to_string(hi));
    return n;
}

std::vector<std::string> GetStrings(const Json& v, const std::string& where) {
    if (!v.is_array()) Fail(where, "a list of texts is expected");
    std::vector<std::string> out;
    for (const Json& e : v) out.push_back(GetString(e, where));
    return out;
}

constexpr std::int64_t kDay = 86400;

SimWindow GetWindow(const Json& v, const std::string& where, SimPeerSpec* teams) {
    if (!v.is_object()) Fail(where, "an object with start, length and every is expected");
    SimWindow w;
    for (const auto& [key, value] : v.items()) {
        const std::string at = where + "." + key;
        if (key == "start")
            w.start = GetInt(value, at, 0, kDay);
        else if (key == "length")
            w.length = GetInt(value, at, 1, kDay);
        else if (key == "every")
            w.every = GetInt(value, at, 0, kDay);
        else if (key == "teams" && teams) {
            const auto names = GetStrings(value, at);
            if (names.size() != 2) Fail(at, "two team names are expected");
            teams->teamA = names[0];
            teams->teamB = names[1];
        } else
            Fail(at, "unknown key");
    }
    if (w.length == 0) Fail(where, "length is missing");
    if (w.every != 0 && w.every < w.length) Fail(where, "every must be 0 or at least the length");
    return w;
}

SimPeerSpec GetPeer(const Json& v, const std::string& where, int& count) {
    if (!v.is_object()) Fail(where, "an object is expected");
    SimPeerSpec p;
    count = 1;
    for (const auto& [key, value] : v.items()) {
        const std::string at = where + "." + key;
        if (key == "kind") p.kind = GetString(value, at);
        else if (key == "name") p.name = GetString(value, at);
        else if (key == "count") count = static_cast<int>(GetInt(value, at, 1, 20000));
        else if (key == "port") p.port = static_cast<int>(GetInt(value, at, 0, 65535));
        else if (key == "serverName") p.serverName = GetString(value, at);
        else if (key == "map") p.map = GetString(value, at);
        else if (key == "rcon") p.rcon = GetString(value, at);
        else if (key == "console") {
            p.console = GetString(value, at);
            if (p.console != "udp" && p.console != "tcp") Fail(at, "must be \"udp\" or \"tcp\"");
        }
        else if (key == "password") p.password = GetString(value, at);
        else if (key == "slots") p.slots = static_cast<int>(GetInt(value, at, 1, 100000));
        else if (key == "players") p.players = GetStrings(value, at);
        else if (key == "churn") p.churn = GetInt(value, at, 0, kDay);
        else if (key == "match") p.match = GetWindow(value, at, &p);
        else if (key == "silent") p.silent = GetWindow(value, at, nullptr);
        else if (key == "relays") p.relays = GetString(value, at);
        else if (key == "spectators") p.spectators = static_cast<int>(GetInt(value, at, 0, 100000));
        else if (key == "delay") p.delay = static_cast<float>(GetInt(value, at, 0, 3600));
        else if (key == "chains") p.chains = GetStrings(value, at);
        else if (key == "rooms") {
            if (!value.is_array()) Fail(at, "a list of rooms is expected");
            for (const Json& r : value) {
                if (!r.is_object()) Fail(at, "a room is an object with relays and description");
                SimRoom room;
                for (const auto& [rk, rv] : r.items()) {
                    if (rk == "relays") room.relays = GetString(rv, at + ".relays");
                    else if (rk == "description") room.description = GetString(rv, at + ".description");
                    else Fail(at + "." + rk, "unknown key");
                }
                p.rooms.push_back(room);
            }
        } else
            Fail(at, "unknown key");
    }
    if (p.kind.empty()) Fail(where, "kind is missing");
    if (std::find(SimKinds().begin(), SimKinds().end(), p.kind) == SimKinds().end())
        Fail(where + ".kind", "unknown kind \"" + p.kind + "\" (hl, a2s, hltv, q3 or gtv)");
    if (p.console == "tcp" && p.kind != "a2s") Fail(where + ".console", "only a present-day server (a2s) has a TCP console");
    return p;
}

bool IsHalfLife(const std::string& kind) { return kind == "hl" || kind == "a2s"; }
bool IsQuake(const std::string& kind) { return kind == "q3" || kind == "gtv"; }

}  // namespace

std::optional<std::int64_t> SimWindow::Into(std::int64_t t) const {
    if (t < start || length <= 0) return std::nullopt;
    std::int64_t into = t - start;
    if (every > 0) into %= every;
    if (into >= length) return std::nullopt;
    return into;
}

bool ParseScenario(const std::string& text, Scenario& scenario, std::string& error) {
    if (text.size() > kMaxScenarioBytes) {
        error = "larger than " + std::to_string(kMaxScenarioBytes) + " bytes";
        return false;
    }
    const Json root = Json::parse(text, nullptr, false);
    if (root.is_discarded()) {
        error = "not a JSON document";
        return false;
    }
    try {
        if (!root.is_object()) Fail("scenario", "an object with a list \"peers\" is expected");
        for (const auto& [key, value] : root.items())
            if (key != "peers" && key != "comment") Fail(key, "unknown key");
        if (!root.contains("peers") || !root["peers"].is_array()) Fail("scenario", "the list \"peers\" is missing");
        int index = 0;
        size_t made = 0, madeBytes = 0;
        for (const Json& v : root["peers"]) {
            const std::string where = "peer " + std::to_string(++index);
            int count = 1;
            SimPeerSpec p = GetPeer(v, where, count);
            if ((made += static_cast<size_t>(count)) > kMaxScenarioPeers)
                Fail(where, "more than " + std::to_string(kMaxScenarioPeers) + " peers in all");
            // Every copy holds the entry's players and texts again.
            if ((madeBytes += v.dump().size() * static_cast<size_t>(count)) > kMaxScenarioMadeBytes)
                Fail(where, "with the counts, the peers hold more than " + std::to_string(kMaxScenarioMadeBytes) +
                                " bytes in all");
            if (p.name.empty()) p.name = p.kind + std::to_string(index);
            for (int i = 0; i < count; ++i) {
                SimPeerSpec copy = p;
                if (count > 1) {
                    copy.name = p.name + "-" + std::to_string(i + 1);
                    if (p.port != 0) copy.port = p.port + i;
                    if (copy.port > 65535) Fail(where, "the ports run past 65535");
                }
                scenario.peers.push_back(std::move(copy));
            }
        }
    } catch (const ParseError& e) {
        error = e.message;
        return false;
    }
    return true;
}

void AddGenerated(Scenario& scenario, const std::string& kind, int count, int basePort) {
    static const char* const kFirst[] = {"Alpha", "Bravo", "Delta", "Echo", "Kilo", "Oscar", "Romeo", "Tango"};
    const std::string relayedKind = kind == "hltv" ? "hl" : kind == "gtv" ? "q3" : "";
    std::vector<std::string> relayable;
    for (const auto& p : scenario.peers)
        if (!relayedKind.empty() && (p.kind == relayedKind || (relayedKind == "hl" && p.kind == "a2s")))
            relayable.push_back(p.name);
    int existing = 0;
    for (const auto& p : scenario.peers) existing += p.kind == kind;
    for (int i = 0; i < count; ++i) {
        SimPeerSpec p;
        p.kind = kind;
        const int n = existing + i + 1;
        p.name = kind + "-" + std::to_string(n);
        p.port = basePort == 0 ? 0 : basePort + i;
        p.serverName = "Orvane Sim " + kind + " " + std::to_string(n);
        if (IsHalfLife(kind) || kind == "q3") {
            const std::string tag = kind == "q3" ? "^1Q" + std::to_string(n % 10) + "^7|" : "[T" + std::to_string(n % 10) + "]";
            for (int k = 0; k < 6; ++k) p.players.push_back(tag + kFirst[(n + k) % 8]);
            p.churn = 7 + n % 5;
        }
        if (!relayable.empty() && (kind == "hltv" || kind == "gtv")) {
            const std::string target = relayable[static_cast<size_t>(i) % relayable.size()];
            if (kind == "hltv")
                p.relays = target;
            else
                p.rooms.push_back({target, "Room " + std::to_string(n)});
        }
        scenario.peers.push_back(p);
    }
}

bool CheckScenario(const Scenario& scenario, std::string& error) {
    std::map<std::string, std::string> kindOf;
    std::set<int> ports;
    for (const auto& p : scenario.peers) {
        if (!kindOf.emplace(p.name, p.kind).second) {
            error = "the name \"" + p.name + "\" is given twice";
            return false;
        }
        if (p.port != 0 && !ports.insert(p.port).second) {
            error = "the port " + std::to_string(p.port) + " is given twice";
            return false;
        }
    }
    auto refuse = [&](const SimPeerSpec& p, const std::string& what) {
        error = p.name + ": " + what;
        return false;
    };
    for (const auto& p : scenario.peers) {
        if (!p.relays.empty()) {
            if (p.kind != "hltv") return refuse(p, "only an HLTV proxy relays with \"relays\" (GTV proxies relay in rooms)");
            const auto it = kindOf.find(p.relays);
            if (it == kindOf.end() || !(IsHalfLife(it->second) || it->second == "hltv") || p.relays == p.name)
                return refuse(p, "relays \"" + p.relays + "\", which is no other Half-Life server or HLTV proxy");
        }
        if (!p.rooms.empty() && p.kind != "gtv") return refuse(p, "only a GTV proxy has rooms");
        if (!p.chains.empty() && p.kind != "gtv") return refuse(p, "only a GTV proxy has chains");
        for (const auto& r : p.rooms) {
            const auto it = kindOf.find(r.relays);
            if (it == kindOf.end() || !IsQuake(it->second) || r.relays == p.name)
                return refuse(p, "a room relays \"" + r.relays + "\", which is no Quake 3 server or other GTV proxy");
        }
        for (const auto& c : p.chains) {
            const auto it = kindOf.find(c);
            if (it == kindOf.end() || it->second != "gtv" || c == p.name)
                return refuse(p, "chains \"" + c + "\", which is no other GTV proxy");
        }
        if (p.match && !(IsHalfLife(p.kind) || p.kind == "q3"))
            return refuse(p, "only game servers play matches");
    }
    return true;
}

}  // namespace orv::sim

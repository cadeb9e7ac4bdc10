#include "sim/simulator/simulator.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "sim/a2speer.h"
#include "sim/gtvpeer.h"
#include "sim/hlpeer.h"
#include "sim/hltvpeer.h"
#include "sim/q3peer.h"

namespace orv::sim {

namespace {

// Proxies of the simulator answer for as long as it runs.
constexpr std::chrono::seconds kForever{10LL * 365 * 86400};

std::string Clock(std::int64_t seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
    return text;
}

}  // namespace

struct CSimulator::Peer {
    SimPeerSpec spec;
    std::unique_ptr<CHLPeer> hl;
    std::unique_ptr<CA2SPeer> a2s;  // a present-day server: the binary queries over hl (destroyed first)
    std::unique_ptr<CHLTVPeer> hltv;
    std::unique_ptr<CQ3Peer> q3;
    std::unique_ptr<CGTVPeer> gtv;
    std::vector<std::string> current;  // the players of this second
    std::string relayedMap;             // a proxy's: the map of the game it relays
    // Resolved once all peers are bound: what an HLTV proxy relays and how many proxies relay it; a
    // GTV proxy's chained addresses and what each of its rooms relays.
    Peer* relayed = nullptr;
    std::int32_t proxies = 0;
    std::string chains;
    std::vector<Peer*> roomRelayed;

    int Port() const {
        return hl ? hl->Port() : hltv ? hltv->Port() : q3 ? q3->Port() : gtv ? gtv->Port() : 0;
    }
    bool Ok() const { return hl ? hl->Ok() : hltv ? hltv->Ok() : q3 ? q3->Ok() : gtv ? gtv->Ok() : false; }
    std::string Address() const { return "127.0.0.1:" + std::to_string(Port()); }
    std::string Map() const {
        if (!relayedMap.empty()) return relayedMap;
        if (!spec.map.empty()) return spec.map;
        return spec.kind == "q3" || spec.kind == "gtv" ? "q3dm17" : "de_dust2";
    }
};

CSimulator::CSimulator(const Scenario& scenario) {
    for (const SimPeerSpec& spec : scenario.peers) {
        auto p = std::make_unique<Peer>();
        p->spec = spec;
        if (spec.kind == "hl" || spec.kind == "a2s") {
            p->hl = std::make_unique<CHLPeer>(spec.port);
            if (spec.kind == "a2s") p->a2s = std::make_unique<CA2SPeer>(*p->hl);
            if (!spec.serverName.empty()) p->hl->SetServerName(spec.serverName);
            p->hl->SetMap(p->Map());
            p->hl->SetRconPassword(spec.rcon);
            p->hl->SetPassword(spec.password);
            p->hl->SetMaxPlayers(static_cast<std::uint8_t>(spec.slots ? std::min(spec.slots, 255) : 16));
            // The TCP console takes the same port number once the UDP side has one.
            if (p->a2s && spec.console == "tcp" && p->hl->Ok() && !p->a2s->EnableTcpRcon()) {
                m_error = "cannot listen on TCP 127.0.0.1:" + std::to_string(p->Port()) + " for " + spec.name;
                return;
            }
        } else if (spec.kind == "hltv") {
            p->hltv = std::make_unique<CHLTVPeer>(kForever, spec.port);
            if (!spec.serverName.empty()) p->hltv->SetName(spec.serverName);
            p->hltv->SetRconPassword(spec.rcon);
            p->hltv->SetSlots(spec.slots ? spec.slots : 128);
            p->hltv->SetDelay(spec.delay);
        } else if (spec.kind == "q3") {
            p->q3 = std::make_unique<CQ3Peer>(spec.port);
            if (!spec.serverName.empty()) p->q3->SetHostName(spec.serverName);
            p->q3->SetMap(p->Map());
            p->q3->SetRconPassword(spec.rcon);
            p->q3->SetPassword(spec.password);
            p->q3->SetMaxClients(spec.slots ? spec.slots : 16);
        } else if (spec.kind == "gtv") {
            p->gtv = std::make_unique<CGTVPeer>(spec.port);
            if (!spec.serverName.empty()) p->gtv->SetHostName(spec.serverName);
            p->gtv->SetRconPassword(spec.rcon);
            p->gtv->SetGtvPassword(spec.password);
        }
        if (!p->Ok()) {
            m_error = spec.port ? "cannot bind 127.0.0.1:" + std::to_string(spec.port) + " for " + spec.name +
                                      " (is the port taken?)"
                                : "cannot bind a port on 127.0.0.1 for " + spec.name;
            return;
        }
        m_peers.push_back(std::move(p));
    }
    for (auto& p : m_peers) {
        const SimPeerSpec& s = p->spec;
        if (!s.relays.empty()) p->relayed = Find(s.relays);
        if (p->relayed && p->hltv && p->relayed->hltv) ++p->relayed->proxies;
        for (const auto& c : s.chains)
            if (Peer* chained = Find(c)) p->chains += (p->chains.empty() ? "" : " ") + chained->Address();
        for (const auto& r : s.rooms) p->roomRelayed.push_back(Find(r.relays));
    }
    Step(0);
}

CSimulator::~CSimulator() = default;

std::vector<CSimulator::Listed> CSimulator::List() const {
    std::vector<Listed> out;
    for (const auto& p : m_peers) out.push_back({p->spec.kind, p->spec.name, p->Address()});
    return out;
}

CSimulator::Peer* CSimulator::Find(const std::string& name) {
    for (auto& p : m_peers)
        if (p->spec.name == name) return p.get();
    return nullptr;
}

std::vector<std::string> CSimulator::PlayersAt(const SimPeerSpec& spec, std::int64_t t) const {
    std::vector<std::string> out = spec.players;
    if (spec.churn <= 0 || out.empty()) return out;
    // One player leaves for churn seconds and comes back; then the next one leaves.
    const std::int64_t step = t / spec.churn;
    if (step % 2 == 1) out.erase(out.begin() + static_cast<std::ptrdiff_t>((step / 2) % out.size()));
    return out;
}

void CSimulator::Step(std::int64_t t) {
    for (auto& p : m_peers) p->current = PlayersAt(p->spec, t);
    for (auto& pp : m_peers) {
        Peer& p = *pp;
        const SimPeerSpec& s = p.spec;
        const bool silent = s.silent && s.silent->Into(t).has_value();
        if (p.hl) {
            std::vector<HLPeerPlayer> records;
            for (size_t i = 0; i < p.current.size(); ++i)
                records.push_back({p.current[i], static_cast<std::int32_t>((t / 4 + 3 * i) % 40),
                                   static_cast<float>(t + 45 * static_cast<std::int64_t>(i))});
            p.hl->SetPlayerRecords(records);
            if (s.match) {
                HLMatchReportFields f;
                f.teamA = s.teamA;
                f.teamB = s.teamB;
                const std::int64_t L = s.match->length, half = L / 2;
                const std::int64_t pause = std::max<std::int64_t>(1, std::min<std::int64_t>(10, L / 10));
                auto score = [&](std::int64_t into) {
                    const std::int64_t first = std::min(into, half);
                    f.teamASet1 = static_cast<std::int32_t>(first / 5);
                    f.teamBSet1 = static_cast<std::int32_t>(first / 7);
                    const std::int64_t second = std::max<std::int64_t>(0, into - half - pause);
                    f.teamASet2 = static_cast<std::int32_t>(second / 6);
                    f.teamBSet2 = static_cast<std::int32_t>(second / 4);
                };
                if (const auto into = s.match->Into(t)) {
                    f.state = *into < half ? 2 : *into < half + pause ? 3 : 4;
                    score(*into);
                } else if (s.match->Begun(t)) {
                    f.state = 5;  // finished, until the next one begins
                    score(L);
                } else {
                    f.state = 1;  // warming up
                }
                p.hl->SetMatchReport(f);
            }
            p.hl->SetSilent(silent);
        } else if (p.q3) {
            std::vector<Q3PeerPlayer> players;
            for (size_t i = 0; i < p.current.size(); ++i)
                players.push_back({static_cast<std::int32_t>((t / 3 + 5 * i) % 50), static_cast<std::int32_t>(20 + 7 * i),
                                   p.current[i]});
            p.q3->SetPlayers(players);
            if (s.match) {
                std::string clock = "Waiting for Players";
                if (const auto into = s.match->Into(t)) {
                    clock = Clock(s.match->length - *into);
                } else if (s.match->Begun(t)) {
                    std::int64_t since = t - s.match->start;
                    if (s.match->every > 0) since %= s.match->every;
                    since -= s.match->length;
                    if (since >= 0 && since < 10) clock = "Timelimit";
                }
                p.q3->SetScoreTime(clock);
            }
            p.q3->SetSilent(silent);
        }
    }
    // Proxies copy what they relay, so they run after the game servers.
    for (auto& pp : m_peers) {
        Peer& p = *pp;
        const SimPeerSpec& s = p.spec;
        const bool silent = s.silent && s.silent->Into(t).has_value();
        if (p.hltv) {
            if (Peer* relayed = p.relayed) {
                p.hltv->SetConnectedTo(relayed->Address());
                p.relayedMap = relayed->Map();
                p.hltv->Base().SetMap(p.relayedMap);
                p.hltv->Base().SetPlayers(relayed->current);
                p.current = relayed->current;
            }
            p.hltv->SetProxies(p.proxies);
            p.hltv->SetSpectators(s.spectators == 0 ? 0 : static_cast<std::int32_t>(s.spectators + (t * 7) % 13));
            p.hltv->SetSilent(silent);
        } else if (p.gtv) {
            p.gtv->SetClients(s.spectators == 0 ? 0 : static_cast<std::int32_t>(s.spectators + (t * 5) % 11),
                              s.slots ? s.slots : 64);
            p.gtv->SetChains(p.chains);
            for (size_t i = 0; i < s.rooms.size(); ++i) {
                const std::int32_t hub = static_cast<std::int32_t>(i + 1);
                const std::optional<GTVPeerRoom> before = p.gtv->Room(hub);
                GTVPeerRoom room = before.value_or(GTVPeerRoom{});
                if (!before) room.description = s.rooms[i].description;
                room.hubNumber = hub;
                room.roomNumber = hub;
                Peer* relayed = p.roomRelayed[i];
                room.parent = relayed ? relayed->Address() : std::string();
                room.map = relayed ? relayed->Map() : p.Map();
                room.players.clear();
                const auto& names = relayed ? relayed->current : std::vector<std::string>{};
                for (size_t k = 0; k < names.size(); ++k)
                    room.players.push_back({static_cast<std::int32_t>(k), names[k]});
                room.following.reset();
                if (!names.empty()) room.following = static_cast<std::int32_t>((t / 10) % static_cast<std::int64_t>(names.size()));
                if (i == 0) {
                    p.current = names;
                    p.relayedMap = room.map;
                }
                p.gtv->SetRoom(room);
            }
            p.gtv->SetSilent(silent);
        }
    }
}

void CSimulator::Drain(const Sink& sink) {
    for (auto& p : m_peers) {
        std::vector<std::string> got = p->hl     ? p->hl->TakeReceived()
                                       : p->hltv ? p->hltv->TakeReceived()
                                       : p->q3   ? p->q3->TakeReceived()
                                                 : p->gtv->TakeReceived();
        if (sink)
            for (const auto& bytes : got) sink(p->spec.kind, p->spec.name, p->Port(), bytes);
    }
}

bool OpenLog(const std::string& path, std::ofstream& out) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    ::close(fd);
    out.open(path, std::ios::binary | std::ios::app);
    return out.is_open();
}

std::string Printable(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out.push_back(static_cast<char>(c));
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

}  // namespace orv::sim

// Plays a scenario with the loopback peers: makes one peer per entry on 127.0.0.1, then, once a
// second, moves the broadcast on (players, matches, silences, relays, spectators) and collects the
// datagrams the peers received.
#pragma once

#include <cstdint>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/simulator/scenario.h"

namespace orv::sim {

class CSimulator {
public:
    // Makes and binds every peer; Ok() tells whether all could bind, Error() which could not.
    explicit CSimulator(const Scenario& scenario);
    ~CSimulator();
    CSimulator(const CSimulator&) = delete;
    CSimulator& operator=(const CSimulator&) = delete;

    bool Ok() const { return m_error.empty(); }
    const std::string& Error() const { return m_error; }

    struct Listed {
        std::string kind, name, address;
    };
    // Every peer with its "127.0.0.1:PORT", in scenario order.
    std::vector<Listed> List() const;

    // Sets every peer to what the scenario says at t whole seconds after the start.
    void Step(std::int64_t t);

    // Hands every datagram received since the last call to sink(kind, name, port, bytes) and forgets it.
    using Sink = std::function<void(const std::string& kind, const std::string& name, int port, const std::string& bytes)>;
    void Drain(const Sink& sink);

private:
    struct Peer;
    std::vector<std::string> PlayersAt(const SimPeerSpec& spec, std::int64_t t) const;
    Peer* Find(const std::string& name);

    std::vector<std::unique_ptr<Peer>> m_peers;
    std::string m_error;
};

// The text of a datagram for a log line: printable ASCII as it is, every other byte as \xNN.
std::string Printable(const std::string& bytes);

// Opens the datagram log for appending. The log holds the rcon passwords the peers receive: a new file is
// created readable by its owner alone (0600); an existing one keeps its permissions.
bool OpenLog(const std::string& path, std::ofstream& out);

}  // namespace orv::sim

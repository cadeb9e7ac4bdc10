// The remote console of present-day Half-Life servers: a TCP connection to the same host and port as
// the game's UDP port. This object chooses the transport (a server that refuses the connection, or lets
// it hang for a few seconds, keeps the datagram rcon), authenticates once per connection, sends the
// commands in order, each followed by an empty response packet whose echo closes its output, collects
// the output (at most 64 KiB per command) and reconnects with a growing delay. It never sends a password
// that the server refused: the owner clears it, and nothing is sent without one.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/platform.h"
#include "net/rconframe.h"
#include "net/tcpsession.h"

namespace orv {

class CHLRconTcp {
public:
    enum class Transport { Undecided, Probing, Udp, Tcp };
    static constexpr Time kConnectTimeout = 3;  // seconds; a connect still pending then counts as refused
    static constexpr Time kAuthTimeout = 10;    // no answer to the password: the connection is dropped
    static constexpr Time kCutAfter = 6;        // output still not ended after a whole cycle is cut
    static constexpr Time kFirstRetry = 1, kLastRetry = 60;
    static constexpr size_t kMaxOutput = 64 * 1024;
    static constexpr size_t kMaxWaiting = 64;         // commands held while not authenticated
    static constexpr std::int64_t kTcpOverhead = 40;  // IPv4 and TCP headers, per packet

    struct Owner {
        std::function<std::string()> password;  // the rcon password now (empty: send nothing)
        std::function<void()> authenticated;
        // A command's whole output (or what came before it was cut).
        std::function<void(const std::string& command, const std::string& output)> output;
        std::function<void()> refused;  // the server refused the password
        std::function<void()> lost;     // an authenticated connection ended
        // The server has no TCP console: the commands held meanwhile, for the datagram rcon.
        std::function<void(std::vector<std::string> held)> udp;
        std::function<void(const std::string& line)> console;
        std::function<void(std::uint64_t packets)> sent;
    };

    CHLRconTcp(CPlatform& platform, Owner owner);

    // Starts the transport choice on a connection to address:port (dotted). Only while undecided.
    void Probe(const std::string& dottedAddress, std::uint32_t port);
    // A command for the server. Held while connecting (queries of the cycle are not held twice),
    // sent at once when authenticated.
    void Command(const std::string& command, bool query);
    // Once a second: the connect time-out, the reconnection when due, the auth time-out.
    void Tick();
    // Output that has waited a whole cycle for its end is delivered as it is.
    void CutUnfinished();
    // A new password: the connection starts again at once (a refusal is forgotten).
    void Restart();

    Transport GetTransport() const { return m_transport; }
    bool UsesTcp() const { return m_transport == Transport::Tcp; }
    // Commands go to this object rather than to the datagram rcon.
    bool TakesCommands() const { return m_transport == Transport::Probing || m_transport == Transport::Tcp; }
    bool Authenticated() const { return m_authenticated; }
    CTcpSession::State SessionState() const { return m_session.GetState(); }
    Time RetryDelay() const { return m_retryDelay; }
    // What one command costs on the wire: its packet and the end marker.
    static std::int64_t WireCost(const std::string& command);

private:
    struct InFlight {
        std::string command;
        std::int32_t id = 0, markerId = 0;
        std::string output;
        Time sent = 0;
    };
    struct Held {
        std::string command;
        bool query = false;
    };
    void Connect();
    void OnConnected();
    void OnBytes(std::span<const std::uint8_t> bytes);
    void OnPacket(const RconPacket& packet);
    void OnClosed(bool refused, const std::string& why);
    void Drop(const std::string& line);  // closes and schedules the next attempt
    void SendCommand(const std::string& command);
    void SendPacket(std::int32_t id, std::int32_t type, const std::string& body);
    // Delivers every command up to and including index (the earlier ones cut).
    void Complete(size_t index);
    void ScheduleRetry();

    CPlatform& m_platform;
    Owner m_owner;
    CTcpSession m_session;
    Transport m_transport = Transport::Undecided;
    std::string m_address;
    std::uint32_t m_port = 0;
    bool m_authenticated = false;
    std::int32_t m_authId = 0;
    Time m_authSent = 0;
    std::int32_t m_nextId = 1;
    std::string m_inbox;
    std::deque<InFlight> m_inFlight;
    std::deque<Held> m_held;
    Time m_retryDelay = kFirstRetry;
    Time m_nextAttempt = 0;
    bool m_everConnected = false;
};

}  // namespace orv

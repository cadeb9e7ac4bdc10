// A loopback peer that plays an HLTV spectator proxy on its own thread. It is a Half-Life peer (CHLPeer:
// details, players, challenge, the rcon password and challenge checks, silence, the record of every
// datagram) whose rcon commands are the proxy's: "status" prints the proxy's status block, "delay"
// prints "Client delay is ...", and record, stoprecord, stoprecording, connect, serverpassword,
// disconnect, spectatorpassword and proxypassword change what the next status reports. After its
// lifetime it answers nothing more; destroying it stops its thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sim/hlpeer.h"

namespace orv::sim {

class CHLTVPeer {
public:
    static constexpr std::chrono::seconds kDefaultLifetime{300};

    // Defaults: name "Orvane HLTV", map de_dust2, 128 slots, no spectators or proxies, bandwidth in 1.5
    // and out 15.0, not connected, delay 30.0, not recording, rcon password "secret".
    explicit CHLTVPeer(std::chrono::seconds lifetime = kDefaultLifetime, int port = 0);
    ~CHLTVPeer() = default;
    CHLTVPeer(const CHLTVPeer&) = delete;
    CHLTVPeer& operator=(const CHLTVPeer&) = delete;

    bool Ok() const { return m_hl.Ok(); }
    int Port() const { return m_hl.Port(); }
    std::string Address() const { return "127.0.0.1:" + std::to_string(Port()); }
    // The Half-Life side: details, players, challenge, rcon password, silence, records.
    CHLPeer& Base() { return m_hl; }
    const CHLPeer& Base() const { return m_hl; }

    // What the status block reports.
    void SetName(const std::string& name);  // also the server name of the details answer
    void SetSlots(std::int32_t slots);
    void SetSpectators(std::int32_t spectators);
    void SetProxies(std::int32_t proxies);
    void SetBandwidth(float in, float out);
    // The address the proxy relays ("HLTV proxy connected to ..."); empty: "Not connected.".
    void SetConnectedTo(const std::string& address);
    void SetDelay(float seconds);
    // The demo being recorded, without ".dem"; empty: not recording.
    void SetRecording(const std::string& name);
    // Replaces the whole status text (for odd output); nothing: the usual block.
    void SetStatusOverride(std::optional<std::string> text);
    void SetRconPassword(const std::string& password) { m_hl.SetRconPassword(password); }
    void SetSilent(bool silent) { m_hl.SetSilent(silent); }

    // What it was told.
    std::string ConnectedTo() const;
    std::string Recording() const;
    std::vector<std::string> Connects() const;         // every "connect" argument
    std::vector<std::string> ServerPasswords() const;  // every "serverpassword" argument
    std::vector<std::string> Recordings() const;       // every "record" argument
    std::string SpectatorPassword() const;
    std::string ProxyPassword() const;

    // The records of the Half-Life side.
    std::vector<std::string> Received() const { return m_hl.Received(); }
    size_t ReceivedCount() const { return m_hl.ReceivedCount(); }
    std::vector<std::string> AcceptedCommands() const { return m_hl.AcceptedCommands(); }
    std::vector<std::string> RefusedCommands() const { return m_hl.RefusedCommands(); }
    void ClearReceived() { m_hl.ClearReceived(); }
    std::vector<std::string> TakeReceived() { return m_hl.TakeReceived(); }
    bool WaitFor(const std::function<bool(const std::vector<std::string>&)>& pred,
                 std::chrono::milliseconds limit) const {
        return m_hl.WaitFor(pred, limit);
    }
    bool WaitForCount(size_t count, std::chrono::milliseconds limit) const { return m_hl.WaitForCount(count, limit); }
    bool SendToClient(const std::string& bytes) { return m_hl.SendToClient(bytes); }

    // The console text of "status" as the proxy prints it now.
    std::string StatusText() const;

private:
    std::optional<std::string> RunCommand(const std::string& command);
    std::string StatusTextLocked() const;

    // Guarded by m_lock.
    mutable std::mutex m_lock;
    std::string m_name = "Orvane HLTV";
    std::int32_t m_slots = 128, m_spectators = 0, m_proxies = 0;
    float m_in = 1.5f, m_out = 15.0f;
    std::string m_connectedTo;
    float m_delay = 30.0f;
    std::string m_recording;
    std::optional<std::string> m_statusOverride;
    std::vector<std::string> m_connects, m_serverPasswords, m_recordings;
    std::string m_spectatorPassword, m_proxyPassword;
    std::chrono::steady_clock::time_point m_end;

    CHLPeer m_hl;  // last: its thread stops before the fields above go
};

}  // namespace orv::sim

#include "sim/hltvpeer.h"

#include "base/strutil.h"

namespace orv::sim {

namespace {

// A password argument as the operator's commands send it: the quotes around it are not part of it.
std::string Unquoted(std::string value) {
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    return value;
}

}  // namespace

CHLTVPeer::CHLTVPeer(std::chrono::seconds lifetime, int port)
    : m_end(std::chrono::steady_clock::now() + lifetime), m_hl(port) {
    m_hl.SetServerName(m_name);
    m_hl.SetDescription("HLTV");
    // Past its lifetime the peer answers nothing (the datagrams are still recorded).
    m_hl.SetPacketHook([this](const std::string&) -> std::optional<std::string> {
        if (std::chrono::steady_clock::now() >= m_end) return std::string();
        return std::nullopt;
    });
    m_hl.SetRconHook([this](const std::string& command) { return RunCommand(command); });
}

std::optional<std::string> CHLTVPeer::RunCommand(const std::string& command) {
    std::lock_guard lk(m_lock);
    if (command == "status") return m_statusOverride ? *m_statusOverride : StatusTextLocked();
    if (command == "delay") return Format("Client delay is %.1f seconds.\n", static_cast<double>(m_delay));
    if (BeginsWith(command, "delay ")) {
        float value = m_delay;
        ScanFloat(command.substr(6), value);
        m_delay = value;
        return Format("Client delay is %.1f seconds.\n", static_cast<double>(m_delay));
    }
    if (BeginsWith(command, "record ")) {
        const std::string name = command.substr(7);
        m_recordings.push_back(name);
        if (!m_recording.empty()) return "Already recording.\n";
        m_recording = name;
        return "Start recording to " + name + ".dem.\n";
    }
    if (command == "stoprecord" || command == "stoprecording") {
        if (m_recording.empty()) return "Not recording.\n";
        const std::string was = m_recording;
        m_recording.clear();
        return "Completed demo " + was + ".dem.\n";
    }
    if (BeginsWith(command, "connect ")) {
        m_connectedTo = command.substr(8);
        m_connects.push_back(m_connectedTo);
        return "Connecting to " + m_connectedTo + "...\n";
    }
    if (BeginsWith(command, "serverpassword ")) {
        m_serverPasswords.push_back(command.substr(15));
        return std::string();
    }
    if (command == "disconnect") {
        m_connectedTo.clear();
        return "HLTV proxy disconnected.\n";
    }
    if (BeginsWith(command, "spectatorpassword ")) {
        m_spectatorPassword = Unquoted(command.substr(18));
        return std::string();
    }
    if (BeginsWith(command, "proxypassword ")) {
        m_proxyPassword = Unquoted(command.substr(14));
        return std::string();
    }
    if (BeginsWith(command, "say ")) return "Console: " + command.substr(4) + "\n";
    return "Unknown command: " + command.substr(0, command.find(' ')) + "\n";
}

std::string CHLTVPeer::StatusTextLocked() const {
    std::string s = "----- Status -----\n";
    s += Format("Local IP 127.0.0.1:%d, Network In %.1f, Out %.1f, Loss 0.00\n", m_hl.Port(), static_cast<double>(m_in),
                static_cast<double>(m_out));
    s += Format("Name %s, Clients %d/%d\n", m_name.c_str(), m_spectators + m_proxies, m_slots);
    if (m_connectedTo.empty())
        s += "Not connected.\n";
    else
        s += "HLTV proxy connected to " + m_connectedTo + ", delay " + Format("%.1f", static_cast<double>(m_delay)) +
             " s\n";
    if (!m_recording.empty()) s += "Recording to " + m_recording + ".dem (12 seconds, 0.1 MB)\n";
    s += Format("Local Slots %d, Spectators %d, Proxies %d\n", m_slots, m_spectators, m_proxies);
    return s;
}

std::string CHLTVPeer::StatusText() const {
    std::lock_guard lk(m_lock);
    return StatusTextLocked();
}

// ---- settings ------------------------------------------------------------------------------------

#define ORV_HLTV_SETTER(Name, member, Type) \
    void CHLTVPeer::Name(Type value) {      \
        std::lock_guard lk(m_lock);         \
        member = value;                     \
    }
ORV_HLTV_SETTER(SetSlots, m_slots, std::int32_t)
ORV_HLTV_SETTER(SetSpectators, m_spectators, std::int32_t)
ORV_HLTV_SETTER(SetProxies, m_proxies, std::int32_t)
ORV_HLTV_SETTER(SetConnectedTo, m_connectedTo, const std::string&)
ORV_HLTV_SETTER(SetDelay, m_delay, float)
ORV_HLTV_SETTER(SetRecording, m_recording, const std::string&)
ORV_HLTV_SETTER(SetStatusOverride, m_statusOverride, std::optional<std::string>)
#undef ORV_HLTV_SETTER

void CHLTVPeer::SetName(const std::string& name) {
    {
        std::lock_guard lk(m_lock);
        m_name = name;
    }
    m_hl.SetServerName(name);
}

void CHLTVPeer::SetBandwidth(float in, float out) {
    std::lock_guard lk(m_lock);
    m_in = in;
    m_out = out;
}

// ---- records -------------------------------------------------------------------------------------

#define ORV_HLTV_GETTER(Type, Name, member) \
    Type CHLTVPeer::Name() const {          \
        std::lock_guard lk(m_lock);         \
        return member;                      \
    }
ORV_HLTV_GETTER(std::string, ConnectedTo, m_connectedTo)
ORV_HLTV_GETTER(std::string, Recording, m_recording)
ORV_HLTV_GETTER(std::vector<std::string>, Connects, m_connects)
ORV_HLTV_GETTER(std::vector<std::string>, ServerPasswords, m_serverPasswords)
ORV_HLTV_GETTER(std::vector<std::string>, Recordings, m_recordings)
ORV_HLTV_GETTER(std::string, SpectatorPassword, m_spectatorPassword)
ORV_HLTV_GETTER(std::string, ProxyPassword, m_proxyPassword)
#undef ORV_HLTV_GETTER

}  // namespace orv::sim

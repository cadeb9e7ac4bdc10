#include "monitors/halflife/hlrcon_tcp.h"

#include <algorithm>

namespace orv {

CHLRconTcp::CHLRconTcp(CPlatform& platform, Owner owner)
    : m_platform(platform),
      m_owner(std::move(owner)),
      m_session(platform.sockets, platform.clock,
                CTcpSession::Events{[this] { OnConnected(); }, [this](auto bytes) { OnBytes(bytes); },
                                    [this](bool refused, const std::string& why) { OnClosed(refused, why); }}) {}

std::int64_t CHLRconTcp::WireCost(const std::string& command) {
    return static_cast<std::int64_t>(command.size()) + 14 + kTcpOverhead + 14 + kTcpOverhead;
}

void CHLRconTcp::Probe(const std::string& dottedAddress, std::uint32_t port) {
    if (m_transport != Transport::Undecided) return;
    m_address = dottedAddress;
    m_port = port;
    m_transport = Transport::Probing;
    Connect();
}

void CHLRconTcp::Connect() {
    m_inbox.clear();
    m_authenticated = false;
    if (m_owner.password().empty()) return;
    if (!m_session.Connect(m_address, m_port)) OnClosed(true, "no connection possible");
}

void CHLRconTcp::Restart() {
    if (m_transport != Transport::Tcp) return;
    m_session.Close();
    m_inFlight.clear();
    m_retryDelay = kFirstRetry;
    Connect();
}

void CHLRconTcp::OnConnected() {
    m_transport = Transport::Tcp;
    m_everConnected = true;
    const std::string password = m_owner.password();
    if (password.empty()) {
        m_session.Close();
        return;
    }
    m_authId = m_nextId++;
    m_authSent = m_platform.clock.Now();
    SendPacket(m_authId, rconpacket::kAuth, password);
}

void CHLRconTcp::OnClosed(bool refused, const std::string& why) {
    const bool wasAuthenticated = m_authenticated;
    m_authenticated = false;
    m_inbox.clear();
    if (m_transport == Transport::Probing && refused) {
        // Nobody takes a TCP console here: the datagram rcon, as for any early server.
        m_transport = Transport::Udp;
        std::vector<std::string> held;
        for (auto& h : m_held)
            if (!h.query) held.push_back(std::move(h.command));
        m_held.clear();
        m_owner.udp(std::move(held));
        return;
    }
    m_transport = Transport::Tcp;
    // Output cut short by the end of the connection is still shown.
    if (!m_inFlight.empty()) Complete(m_inFlight.size() - 1);
    if (m_everConnected || !refused) m_owner.console("Orvane : rcon connection ended (" + why + ")");
    ScheduleRetry();
    if (wasAuthenticated) m_owner.lost();
}

void CHLRconTcp::ScheduleRetry() {
    m_nextAttempt = m_platform.clock.Now() + m_retryDelay;
    m_retryDelay = std::min(m_retryDelay * 2, kLastRetry);
}

void CHLRconTcp::Drop(const std::string& line) {
    m_owner.console(line);
    const bool wasAuthenticated = m_authenticated;
    m_session.Close();
    m_authenticated = false;
    m_inbox.clear();
    if (!m_inFlight.empty()) Complete(m_inFlight.size() - 1);
    ScheduleRetry();
    if (wasAuthenticated) m_owner.lost();
}

void CHLRconTcp::Tick() {
    m_session.CheckConnectTimeout(kConnectTimeout);
    const Time now = m_platform.clock.Now();
    if (m_transport != Transport::Tcp) return;
    const auto state = m_session.GetState();
    if (state == CTcpSession::State::Closed && now >= m_nextAttempt && !m_owner.password().empty())
        Connect();
    else if (state == CTcpSession::State::Open && !m_authenticated && now - m_authSent > kAuthTimeout)
        Drop("Orvane : rcon connection dropped (no answer to the password)");
}

void CHLRconTcp::Command(const std::string& command, bool query) {
    if (m_authenticated && m_session.GetState() == CTcpSession::State::Open) {
        SendCommand(command);
        return;
    }
    if (query && std::any_of(m_held.begin(), m_held.end(), [&](const Held& h) { return h.command == command; })) return;
    if (m_held.size() >= kMaxWaiting) {
        // The oldest query gives way; what the operator typed is kept.
        const auto q = std::find_if(m_held.begin(), m_held.end(), [](const Held& h) { return h.query; });
        if (q == m_held.end()) return;
        m_held.erase(q);
    }
    m_held.push_back({command, query});
}

void CHLRconTcp::SendCommand(const std::string& command) {
    InFlight f;
    f.command = command;
    f.id = m_nextId++;
    f.markerId = m_nextId++;
    f.sent = m_platform.clock.Now();
    const std::int32_t markerId = f.markerId;
    m_inFlight.push_back(std::move(f));
    SendPacket(m_inFlight.back().id, rconpacket::kExec, command);
    // A send that ended the connection has already completed what was in flight (OnClosed).
    if (m_session.GetState() != CTcpSession::State::Open) return;
    // The server answers this empty response packet only after the whole output: its echo ends it.
    SendPacket(markerId, rconpacket::kResponse, "");
}

void CHLRconTcp::SendPacket(std::int32_t id, std::int32_t type, const std::string& body) {
    if (m_nextId > 0x3FFFFFFF) m_nextId = 1;
    m_session.Send(EncodeRconPacket(id, type, body));
    m_owner.sent(1);
}

void CHLRconTcp::OnBytes(std::span<const std::uint8_t> bytes) {
    m_inbox.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    const RconFrames frames =
        DecodeRconPackets(std::span(reinterpret_cast<const std::uint8_t*>(m_inbox.data()), m_inbox.size()));
    m_inbox.erase(0, frames.consumed);
    for (const RconPacket& p : frames.packets) {
        OnPacket(p);
        if (m_session.GetState() != CTcpSession::State::Open) return;  // refused or dropped meanwhile
    }
    if (frames.bad) Drop("Orvane : rcon connection closed: " + frames.error);
}

void CHLRconTcp::OnPacket(const RconPacket& packet) {
    if (!m_authenticated) {
        if (packet.type != rconpacket::kAuthResponse) return;  // the empty response before the verdict
        if (packet.id == rconpacket::kRefusedId) {
            m_session.Close();
            m_inFlight.clear();
            m_held.clear();
            m_owner.refused();  // clears the password: nothing is sent again until a new one
            ScheduleRetry();
            return;
        }
        if (packet.id != m_authId) return;
        m_authenticated = true;
        m_retryDelay = kFirstRetry;
        m_owner.authenticated();
        std::deque<Held> held;
        held.swap(m_held);
        // Should a send end the connection, the rest is held again for the next one.
        for (const Held& h : held) Command(h.command, h.query);
        return;
    }
    if (packet.type != rconpacket::kResponse) return;
    for (size_t i = 0; i < m_inFlight.size(); ++i) {
        InFlight& f = m_inFlight[i];
        if (packet.id == f.id) {
            const size_t room = kMaxOutput - f.output.size();
            f.output.append(packet.body, 0, std::min(room, packet.body.size()));
            return;
        }
        if (packet.id == f.markerId) {
            Complete(i);
            return;
        }
    }
}

void CHLRconTcp::Complete(size_t index) {
    std::vector<InFlight> done(std::make_move_iterator(m_inFlight.begin()),
                               std::make_move_iterator(m_inFlight.begin() + static_cast<std::ptrdiff_t>(index + 1)));
    m_inFlight.erase(m_inFlight.begin(), m_inFlight.begin() + static_cast<std::ptrdiff_t>(index + 1));
    for (const InFlight& f : done) m_owner.output(f.command, f.output);
}

void CHLRconTcp::CutUnfinished() {
    const Time now = m_platform.clock.Now();
    size_t cut = 0;
    while (cut < m_inFlight.size() && now - m_inFlight[cut].sent >= kCutAfter) ++cut;
    if (cut > 0) Complete(cut - 1);
}

}  // namespace orv

// CHLServer with the TCP remote console of present-day servers. A game server that answers the A2S
// queries and has an rcon password tries a TCP connection to its own host and port when it first enters
// state 2; until that try ends its commands wait (the cycle's queries at most once each). A refusal or a
// connect that hangs keeps the datagram rcon, byte for byte as for any early server; the choice is not
// saved. Over TCP the object is in state 3 while authenticated and answering, returns to 2 when the
// connection ends, and a refused password gets the same protection as a refused datagram rcon.
#include <algorithm>

#include "base/strutil.h"
#include "monitors/halflife/hlserver.h"

namespace orv {

namespace {
// The whole output is known: a last line without a line feed is kept too. Empty lines are skipped.
std::vector<std::string> OutputLines(std::string_view text) {
    std::vector<std::string> lines;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!line.empty()) lines.emplace_back(line);
    }
    return lines;
}
}  // namespace

bool CHLServer::RconOverTcp() {
    if (!m_tcp) {
        if (!IsGameServer() || Dialect() != CHLDialect::A2S || rconPassword.empty() || resolvedAddress.empty())
            return false;
        CHLRconTcp::Owner owner;
        owner.password = [this] { return rconPassword; };
        owner.authenticated = [this] {
            SetState(kStateRcon);
            MarkAnswered();
            QueryStatus();
        };
        owner.output = [this](const std::string& command, const std::string& text) { OnTcpOutput(command, text); };
        owner.refused = [this] { DisableRcon(); };
        owner.lost = [this] {
            if (state == kStateRcon) SetState(kStateMonitor);
        };
        owner.udp = [this](std::vector<std::string> held) {
            if (state == kStateMonitor && !rconPassword.empty()) RequestChallenge();
            for (const std::string& command : held) SendRcon(command);
        };
        owner.console = [this](const std::string& line) { AppendConsole(line, 0); };
        owner.sent = [this](std::uint64_t packets) {
            if (output) output->CountSentOutside(packets);
        };
        m_tcp = std::make_unique<CHLRconTcp>(Platform(), std::move(owner));
        m_tcp->Probe(resolvedAddress, port);
    }
    return m_tcp->TakesCommands();
}

const char* CHLServer::RconTransport() const {
    return m_tcp && m_tcp->UsesTcp() ? "tcp" : "udp";
}

void CHLServer::OnTcpOutput(const std::string& command, const std::string& text) {
    OnPrintLines(OutputLines(text));
    if (command == "status") ApplyModernStatus(ParseModernStatus(text));
}

void CHLServer::ApplyModernStatus(const HLModernStatus& status) {
    if (!status.header) return;  // not present-day output: the classic rules already ran over the lines
    statusPlayers = status.players;
    playerNameCount = static_cast<std::int32_t>(std::min<size_t>(status.players.size(), kMaxPlayerNames));
    for (std::int32_t i = 0; i < playerNameCount; ++i)
        playerNames[static_cast<size_t>(i)] = status.players[static_cast<size_t>(i)].name;
    // Held to what the info reply can carry, so both sources fill the same gauges alike.
    if (status.maxPlayers) maxPlayers = std::min(*status.maxPlayers, 255);
    if (status.bots) bots = std::min(*status.bots, 255);
    if (status.humans && status.bots) infoPlayers = static_cast<std::int32_t>(std::min<std::int64_t>(std::int64_t{*status.humans} + bots, 255));
}

}  // namespace orv

#include "sim/hlpeer.h"

#include <cstring>

#include "base/strutil.h"

namespace orv::sim {

namespace {

using namespace std::chrono_literals;

const std::string kPrefix("\xFF\xFF\xFF\xFF", 4);

// "rcon <challenge> \"<password>\" <command>": the three parts, or nothing when malformed.
struct RconRequest {
    std::string challenge, password, command;
};
std::optional<RconRequest> SplitRcon(const std::string& text) {
    if (!BeginsWith(text, "rcon ")) return std::nullopt;
    RconRequest r;
    size_t pos = 5;
    const size_t space = text.find(' ', pos);
    if (space == std::string::npos) return std::nullopt;
    r.challenge = text.substr(pos, space - pos);
    pos = space + 1;
    if (pos >= text.size() || text[pos] != '"') return std::nullopt;
    const size_t close = text.find('"', pos + 1);
    if (close == std::string::npos) return std::nullopt;
    r.password = text.substr(pos + 1, close - pos - 1);
    pos = close + 1;
    if (pos < text.size() && text[pos] == ' ') ++pos;
    r.command = text.substr(pos);
    return r;
}

std::uint32_t ChallengeValue(const std::string& text) {
    std::int32_t v = 0;
    ScanInt(text, v);
    return static_cast<std::uint32_t>(v);
}

}  // namespace

CHLPeer::CHLPeer(int port) : m_udp(port) {
    m_address = "127.0.0.1:" + std::to_string(m_udp.Port());
    m_serverName = "Orvane Test Server";
    m_map = "de_dust2";
    m_gameDirectory = "cstrike";
    m_description = "Counter-Strike";
    m_rconPassword = "secret";
    m_challenge = "123456789";
    if (m_udp.Ok()) m_thread = std::thread([this] { Run(); });
}

CHLPeer::~CHLPeer() {
    m_stop = true;
    if (m_thread.joinable()) {
        m_udp.SendTo(m_udp.Port(), std::string());  // wakes the receive at once
        m_thread.join();
    }
}

void CHLPeer::Run() {
    while (!m_stop) {
        auto d = m_udp.Receive(100ms);
        if (m_stop) break;
        if (d) Handle(*d);
    }
}

void CHLPeer::Handle(const Datagram& d) {
    bool silent;
    PacketHook hook;
    DatagramHook datagramHook;
    {
        std::lock_guard lk(m_lock);
        m_client = d.from;
        silent = m_silent;
        hook = m_packetHook;
        datagramHook = m_datagramHook;
    }
    if (!silent && BeginsWith(d.bytes, kPrefix)) {
        std::string text = d.bytes.substr(4);
        text = text.substr(0, text.find('\0'));
        std::optional<std::string> answer;
        if (datagramHook) answer = datagramHook(d.bytes);
        if (!answer && hook) answer = hook(text);
        if (!answer) answer = Answer(text);
        if (answer && !answer->empty()) m_udp.SendTo(d.from, *answer);
    }
    // Recorded once handled: a waiter that sees the datagram also sees its effects and its answer sent.
    m_record.Record(d.bytes);
}

std::optional<std::string> CHLPeer::Answer(const std::string& text) {
    if (BeginsWith(text, "rcon ")) return AnswerRcon(text);
    if (text == "details") return DetailsAnswer();
    if (text == "info") return InfoAnswer();
    if (text == "players") return PlayersAnswer();
    if (text == "challenge rcon") return ChallengeAnswer();
    if (text == "ping") return kPrefix + std::string("j\0", 2);
    return std::nullopt;
}

std::optional<std::string> CHLPeer::AnswerRcon(const std::string& text) {
    const auto request = SplitRcon(text);
    if (!request) return std::nullopt;
    {
        std::lock_guard lk(m_lock);
        if (ChallengeValue(request->challenge) != ChallengeValue(m_challenge) ||
            request->challenge.find_first_not_of("0123456789") != std::string::npos) {
            m_record.Refuse(request->command);
            return PrintAnswer("Bad challenge.\n");
        }
        if (request->password != m_rconPassword) {
            m_record.Refuse(request->command);
            return PrintAnswer("Bad rcon_password.\n");
        }
        m_record.Accept(request->command);
    }
    const std::string printed = RunRconCommand(request->command);
    return printed.empty() ? std::string() : PrintAnswer(printed);
}

std::string CHLPeer::RunRconCommand(const std::string& command) {
    RconHook hook;
    {
        std::lock_guard lk(m_lock);
        hook = m_rconHook;
    }
    if (hook)
        if (auto printed = hook(command)) return *printed;
    std::lock_guard lk(m_lock);
    return RunCommand(command);
}

std::string CHLPeer::RconPassword() const {
    std::lock_guard lk(m_lock);
    return m_rconPassword;
}

// Runs an accepted command and returns what the server prints (empty: it prints nothing).
std::string CHLPeer::RunCommand(const std::string& command) {
    if (command == "status") return StatusText();
    if (command == "sv_password") return "\"sv_password\" is \"" + m_password + "\"\n";
    if (BeginsWith(command, "sv_password ")) {
        std::string value = command.substr(12);
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
        m_password = value;
        return {};
    }
    if (command == "nxn_match_report") {
        if (!m_matchReport) return "[AMX] No match running.\n";
        return "nxn_match_report = \"" + *m_matchReport + "\"\n";
    }
    if (BeginsWith(command, "kick ")) {
        std::string name = command.substr(5);
        if (name.size() >= 2 && name.front() == '"' && name.back() == '"') name = name.substr(1, name.size() - 2);
        // "#ID": the user id of the status answer, the player's place in the list from 1.
        std::int32_t id = 0;
        if (name.size() > 1 && name[0] == '#' && ScanInt(name.substr(1), id) && id >= 1 &&
            static_cast<size_t>(id) <= m_players.size())
            name = m_players[static_cast<size_t>(id - 1)].name;
        std::erase_if(m_players, [&](const HLPeerPlayer& p) { return p.name == name; });
        return {};
    }
    if (BeginsWith(command, "say ")) return "Server: " + command.substr(4) + "\n";
    if (BeginsWith(command, "changelevel ")) {
        m_map = command.substr(12);
        return {};
    }
    if (BeginsWith(command, "sv_restartround ")) return {};
    const std::string word = command.substr(0, command.find(' '));
    return "Unknown command: " + word + "\n";
}

std::string CHLPeer::StatusText() const {
    std::string s = "hostname:  " + m_serverName + "\n";
    s += "version :  47/1.1.2.5/Stdio 4554 secure  (10)\n";
    s += "tcp/ip  :  " + m_address + "\n";
    s += "map     :  " + m_map + " at: 0 x, 0 y, 0 z\n";
    s += Format("players :  %zu active (%u max)\n\n", m_players.size(), static_cast<unsigned>(m_maxPlayers));
    s += "#      name userid uniqueid frag time ping loss adr\n";
    int i = 1;
    for (const auto& p : m_players) {
        s += Format("#%2d \"%s\" %d STEAM_0:0:%d %4d 01:00 20 0 127.0.0.1:%d\n", i, p.name.c_str(), i, i, p.frags,
                    27004 + i);
        ++i;
    }
    s += Format("%zu users\n", m_players.size());
    return s;
}

std::string CHLPeer::ServerInfoStrings() const {
    std::string out;
    PutCString(out, m_address);
    PutCString(out, m_serverName);
    PutCString(out, m_map);
    PutCString(out, m_gameDirectory);
    PutCString(out, m_description);
    out.push_back(static_cast<char>(std::min<size_t>(m_players.size(), 255)));
    out.push_back(static_cast<char>(m_maxPlayers));
    out.push_back(static_cast<char>(47));  // protocol
    return out;
}

std::string CHLPeer::DetailsAnswer() const {
    std::lock_guard lk(m_lock);
    std::string out = kPrefix + "m" + ServerInfoStrings();
    out.push_back('d');                                  // dedicated
    out.push_back('l');                                  // Linux
    out.push_back(static_cast<char>(m_password.empty() ? 0 : 1));
    out.push_back('\0');                                 // not a mod
    out.push_back('\1');                                 // secure
    out.push_back('\0');                                 // bots
    return out;
}

std::string CHLPeer::InfoAnswer() const {
    std::lock_guard lk(m_lock);
    return kPrefix + "C" + ServerInfoStrings();
}

std::string CHLPeer::PlayersAnswer() const {
    std::lock_guard lk(m_lock);
    std::string out = kPrefix + "D";
    out.push_back(static_cast<char>(std::min<size_t>(m_players.size(), 255)));
    std::uint8_t index = 1;
    for (const auto& p : m_players) {
        out.push_back(static_cast<char>(index++));
        PutCString(out, p.name);
        PutU32(out, static_cast<std::uint32_t>(p.frags));
        std::uint32_t bits;
        std::memcpy(&bits, &p.time, sizeof bits);
        PutU32(out, bits);
    }
    return out;
}

std::string CHLPeer::ChallengeAnswer() const {
    std::lock_guard lk(m_lock);
    return kPrefix + "challenge rcon " + m_challenge + "\n" + std::string(1, '\0');
}

std::string CHLPeer::PrintAnswer(const std::string& consoleText) { return kPrefix + "l" + consoleText + std::string(1, '\0'); }

// ---- settings ------------------------------------------------------------------------------------

#define ORV_PEER_SETTER(Name, member, Type) \
    void CHLPeer::Name(Type value) {        \
        std::lock_guard lk(m_lock);         \
        member = value;                     \
    }
ORV_PEER_SETTER(SetAddress, m_address, const std::string&)
ORV_PEER_SETTER(SetServerName, m_serverName, const std::string&)
ORV_PEER_SETTER(SetMap, m_map, const std::string&)
ORV_PEER_SETTER(SetGameDirectory, m_gameDirectory, const std::string&)
ORV_PEER_SETTER(SetDescription, m_description, const std::string&)
ORV_PEER_SETTER(SetPlayerRecords, m_players, const std::vector<HLPeerPlayer>&)
ORV_PEER_SETTER(SetMaxPlayers, m_maxPlayers, std::uint8_t)
ORV_PEER_SETTER(SetPassword, m_password, const std::string&)
ORV_PEER_SETTER(SetRconPassword, m_rconPassword, const std::string&)
ORV_PEER_SETTER(SetChallenge, m_challenge, const std::string&)
ORV_PEER_SETTER(SetMatchReportText, m_matchReport, const std::string&)
ORV_PEER_SETTER(SetSilent, m_silent, bool)
ORV_PEER_SETTER(SetPacketHook, m_packetHook, PacketHook)
ORV_PEER_SETTER(SetDatagramHook, m_datagramHook, DatagramHook)
ORV_PEER_SETTER(SetRconHook, m_rconHook, RconHook)
#undef ORV_PEER_SETTER

void CHLPeer::SetPlayers(const std::vector<std::string>& names) {
    std::vector<HLPeerPlayer> players;
    for (const auto& n : names) players.push_back({n, 0, 0.0f});
    SetPlayerRecords(players);
}

void CHLPeer::SetMatchReport(const HLMatchReportFields& f) {
    SetMatchReportText(Format("%s;%s;0;0;0;0;%d;%d;%d;%d;%d", f.teamA.c_str(), f.teamB.c_str(), f.state, f.teamASet1,
                              f.teamASet2, f.teamBSet1, f.teamBSet2));
}

void CHLPeer::SetNoMatch() {
    std::lock_guard lk(m_lock);
    m_matchReport.reset();
}

std::uint32_t CHLPeer::ExpectedChallenge() const {
    std::lock_guard lk(m_lock);
    return ChallengeValue(m_challenge);
}

std::string CHLPeer::Password() const {
    std::lock_guard lk(m_lock);
    return m_password;
}

std::vector<std::string> CHLPeer::PlayerNames() const {
    std::lock_guard lk(m_lock);
    std::vector<std::string> names;
    for (const auto& p : m_players) names.push_back(p.name);
    return names;
}

bool CHLPeer::SendToClient(const std::string& bytes) {
    std::optional<sockaddr_in> to;
    {
        std::lock_guard lk(m_lock);
        to = m_client;
    }
    return to && m_udp.SendTo(*to, bytes);
}

}  // namespace orv::sim

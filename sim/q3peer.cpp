#include "sim/q3peer.h"

#include <algorithm>

#include "base/strutil.h"

namespace orv::sim {

namespace {

using namespace std::chrono_literals;

const std::string kPrefix("\xFF\xFF\xFF\xFF", 4);

// "rcon \"<password>\" <command>" or "rcon <password> <command>".
struct RconRequest {
    std::string password, command;
};
std::optional<RconRequest> SplitRcon(const std::string& text) {
    if (!BeginsWith(text, "rcon ")) return std::nullopt;
    RconRequest r;
    size_t pos = 5;
    if (pos < text.size() && text[pos] == '"') {
        const size_t close = text.find('"', pos + 1);
        if (close == std::string::npos) return std::nullopt;
        r.password = text.substr(pos + 1, close - pos - 1);
        pos = close + 1;
    } else {
        const size_t space = text.find(' ', pos);
        r.password = text.substr(pos, space == std::string::npos ? std::string::npos : space - pos);
        pos = space == std::string::npos ? text.size() : space;
    }
    if (pos < text.size() && text[pos] == ' ') ++pos;
    r.command = text.substr(pos);
    return r;
}

// The text between the first pair of double quotes, or the word after the command word.
std::string Argument(const std::string& command) {
    const size_t open = command.find('"');
    if (open != std::string::npos) {
        const size_t close = command.find('"', open + 1);
        return command.substr(open + 1, close == std::string::npos ? std::string::npos : close - open - 1);
    }
    const size_t space = command.find(' ');
    return space == std::string::npos ? std::string() : command.substr(space + 1);
}

}  // namespace

// --- CQuakeLoopbackPeer ---------------------------------------------------------------------------

CQuakeLoopbackPeer::CQuakeLoopbackPeer(int port) : m_udp(port) {}

CQuakeLoopbackPeer::~CQuakeLoopbackPeer() {
    Stop();
}

void CQuakeLoopbackPeer::Start() {
    if (m_udp.Ok() && !m_thread.joinable()) m_thread = std::thread([this] { Run(); });
}

void CQuakeLoopbackPeer::Stop() {
    m_stop = true;
    if (m_thread.joinable()) {
        m_udp.SendTo(m_udp.Port(), std::string());  // wakes the receive at once
        m_thread.join();
    }
}

std::string CQuakeLoopbackPeer::Address() const {
    return "127.0.0.1:" + std::to_string(Port());
}

void CQuakeLoopbackPeer::Run() {
    while (!m_stop) {
        auto d = m_udp.Receive(100ms);
        if (m_stop) break;
        if (d) Handle(*d);
    }
}

void CQuakeLoopbackPeer::Handle(const Datagram& d) {
    // A datagram is recorded once its answer has left: a waiter that sees it may count on the answer.
    auto record = [&] { m_record.Record(d.bytes); };
    bool silent;
    PacketHook packetHook;
    RconHook rconHook;
    {
        std::lock_guard lk(m_lock);
        m_client = d.from;
        silent = m_silent;
        packetHook = m_packetHook;
        rconHook = m_rconHook;
    }
    if (silent || !BeginsWith(d.bytes, kPrefix)) return record();
    std::string text = d.bytes.substr(4);
    text = text.substr(0, text.find('\0'));

    std::optional<std::string> answer;
    if (packetHook) answer = packetHook(text);
    if (!answer) {
        if (BeginsWith(text, "rcon ")) {
            answer = AnswerRcon(text, rconHook);
        } else {
            std::lock_guard lk(m_lock);
            answer = Answer(text);
        }
    }
    if (answer && !answer->empty()) m_udp.SendTo(d.from, *answer);
    record();
}

std::optional<std::string> CQuakeLoopbackPeer::AnswerRcon(const std::string& text, const RconHook& hook) {
    const auto request = SplitRcon(text);
    if (!request) return std::nullopt;
    {
        std::lock_guard lk(m_lock);
        if (m_rconPassword.empty() || request->password != m_rconPassword) {
            m_record.Refuse(request->command);
            return PrintAnswer(RefusalText(request->password));
        }
        m_record.Accept(request->command);
    }
    if (hook) {
        if (auto printed = hook(request->command)) return PrintAnswer(*printed);
    }
    std::lock_guard lk(m_lock);
    return PrintAnswer(RunCommand(request->command));
}

void CQuakeLoopbackPeer::SetRconPassword(const std::string& password) {
    std::lock_guard lk(m_lock);
    m_rconPassword = password;
}

std::string CQuakeLoopbackPeer::RconPassword() const {
    std::lock_guard lk(m_lock);
    return m_rconPassword;
}

void CQuakeLoopbackPeer::SetSilent(bool silent) {
    std::lock_guard lk(m_lock);
    m_silent = silent;
}

void CQuakeLoopbackPeer::SetPacketHook(PacketHook hook) {
    std::lock_guard lk(m_lock);
    m_packetHook = std::move(hook);
}

void CQuakeLoopbackPeer::SetRconHook(RconHook hook) {
    std::lock_guard lk(m_lock);
    m_rconHook = std::move(hook);
}

std::vector<std::string> CQuakeLoopbackPeer::ReceivedTexts() const {
    std::vector<std::string> texts;
    for (const std::string& d : Received()) {
        if (!BeginsWith(d, kPrefix)) continue;
        std::string t = d.substr(4);
        texts.push_back(t.substr(0, t.find('\0')));
    }
    return texts;
}

size_t CQuakeLoopbackPeer::CountText(const std::string& text) const {
    const auto texts = ReceivedTexts();
    return static_cast<size_t>(std::count(texts.begin(), texts.end(), text));
}

bool CQuakeLoopbackPeer::WaitForText(const std::string& text, std::chrono::milliseconds limit) const {
    const std::string framed = kPrefix + text + std::string(1, '\0');
    return WaitFor([&](const std::vector<std::string>& r) { return std::find(r.begin(), r.end(), framed) != r.end(); },
                   limit);
}

bool CQuakeLoopbackPeer::SendToClient(const std::string& bytes) {
    std::optional<sockaddr_in> to;
    {
        std::lock_guard lk(m_lock);
        to = m_client;
    }
    return to && m_udp.SendTo(*to, bytes);
}

std::string CQuakeLoopbackPeer::PrintAnswer(const std::string& consoleText) {
    return kPrefix + "print\n" + consoleText;
}

// --- CQ3Peer --------------------------------------------------------------------------------------

CQ3Peer::CQ3Peer(int port) : CQuakeLoopbackPeer(port) {
    m_hostName = "Orvane Q3 Server";
    m_map = "q3dm17";
    m_scoreTime = "Waiting for Players";
    m_ospAuth = "1";
    m_rconPassword = "secret";
    Start();
}

CQ3Peer::~CQ3Peer() {
    Stop();
}

void CQ3Peer::SetHostName(const std::string& name) {
    std::lock_guard lk(m_lock);
    m_hostName = name;
}

void CQ3Peer::SetMap(const std::string& map) {
    std::lock_guard lk(m_lock);
    m_map = map;
}

void CQ3Peer::SetMaxClients(std::int32_t slots) {
    std::lock_guard lk(m_lock);
    m_maxClients = slots;
}

void CQ3Peer::SetPlayers(const std::vector<Q3PeerPlayer>& players) {
    std::lock_guard lk(m_lock);
    m_players = players;
}

void CQ3Peer::SetPassword(const std::string& password) {
    std::lock_guard lk(m_lock);
    m_password = password;
}

void CQ3Peer::SetScoreTime(const std::string& value) {
    std::lock_guard lk(m_lock);
    m_scoreTime = value;
}

void CQ3Peer::SetOspAuth(const std::string& value, bool last) {
    std::lock_guard lk(m_lock);
    m_ospAuth = value;
    m_ospAuthLast = last;
}

void CQ3Peer::SetExtraInfo(const std::vector<std::pair<std::string, std::string>>& keys) {
    std::lock_guard lk(m_lock);
    m_extraInfo = keys;
}

std::vector<Q3PeerPlayer> CQ3Peer::Players() const {
    std::lock_guard lk(m_lock);
    return m_players;
}

std::string CQ3Peer::Password() const {
    std::lock_guard lk(m_lock);
    return m_password;
}

std::string CQ3Peer::StatusAnswer() const {
    std::lock_guard lk(m_lock);
    return StatusAnswerLocked();
}

std::string CQ3Peer::InfoAnswer(const std::string& challenge) const {
    std::lock_guard lk(m_lock);
    return InfoAnswerLocked(challenge);
}

std::string CQ3Peer::StatusAnswerLocked() const {
    std::string info = "\\sv_hostname\\" + m_hostName + "\\sv_maxclients\\" + std::to_string(m_maxClients) +
                       "\\mapname\\" + m_map + "\\gamename\\osp";
    for (const auto& [key, value] : m_extraInfo) info += "\\" + key + "\\" + value;
    if (!m_ospAuth.empty()) {
        info += "\\server_ospauth\\" + m_ospAuth;
        if (!m_ospAuthLast) info += "\\g_needpass\\" + std::string(m_password.empty() ? "0" : "1");
    }
    std::string out = kPrefix + "statusResponse\n" + info + "\n";
    for (const Q3PeerPlayer& p : m_players)
        out += std::to_string(p.score) + " " + std::to_string(p.ping) + " \"" + p.name + "\"\n";
    return out;
}

std::string CQ3Peer::InfoAnswerLocked(const std::string& challenge) const {
    std::string out = kPrefix + "infoResponse\n";
    if (!challenge.empty()) out += "\\challenge\\" + challenge;
    out += "\\protocol\\68\\hostname\\" + m_hostName + "\\mapname\\" + m_map + "\\clients\\" +
           std::to_string(m_players.size()) + "\\sv_maxclients\\" + std::to_string(m_maxClients) +
           "\\gametype\\1\\pure\\1";
    for (const auto& [key, value] : m_extraInfo) out += "\\" + key + "\\" + value;
    return out;
}

std::optional<std::string> CQ3Peer::Answer(const std::string& received) {
    // Other clients end their queries with a line feed ("getinfo\n"), as the server's own parser allows.
    const std::string text = !received.empty() && received.back() == '\n' ? received.substr(0, received.size() - 1) : received;
    if (text == "getstatus" || BeginsWith(text, "getstatus ")) return StatusAnswerLocked();
    if (text == "getinfo") return InfoAnswerLocked({});
    if (BeginsWith(text, "getinfo ")) return InfoAnswerLocked(text.substr(8));
    return std::nullopt;
}

std::string CQ3Peer::RefusalText(const std::string& givenPassword) const {
    if (m_rconPassword.empty()) return "No rconpassword set on the server.\n";
    return "Bad rconpassword.\n";
}

std::string CQ3Peer::RunCommand(const std::string& command) {
    if (command == "password") return "\"password\" is:\"" + m_password + "^7\" default:\"^7\"\n";
    if (BeginsWith(command, "password ")) {
        m_password = Argument(command);
        return {};
    }
    if (command == "score_time") return "\"Score_Time\" is:\"" + m_scoreTime + "^7\" default:\"^7\"\n";
    if (BeginsWith(command, "kick ")) {
        const std::string name = Argument(command);
        const auto it = std::find_if(m_players.begin(), m_players.end(), [&](const Q3PeerPlayer& p) {
            return p.name == name || StripColours(p.name) == name;
        });
        if (it == m_players.end()) return "Player " + name + " is not on the server\n";
        const std::string kicked = it->name;
        m_players.erase(it);
        return kicked + "^7 was kicked\n";
    }
    if (command == "status") {
        std::string out =
            "map: " + m_map + "\nnum score ping name            lastmsg address               qport rate\n";
        out += "--- ----- ---- --------------- ------- --------------------- ----- -----\n";
        int num = 0;
        for (const Q3PeerPlayer& p : m_players)
            out += Format("%3d %5d %4d %s^7 %7d %21s %5d %5d\n", num++, p.score, p.ping, p.name.c_str(), 0, "bot", 0,
                          25000);
        return out;
    }
    return "Unknown command: " + command + "\n";
}

}  // namespace orv::sim

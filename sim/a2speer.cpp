#include "sim/a2speer.h"

#include <mutex>
#include <optional>
#include <span>

#include "base/bytereader.h"
#include "base/strutil.h"

namespace orv::sim {

namespace {

const std::string kPrefix("\xFF\xFF\xFF\xFF", 4);
const std::string kInfoQuery = kPrefix + "TSource Engine Query" + std::string(1, '\0');
const std::string kPlayerQuery = kPrefix + "U";
constexpr std::uint32_t kFirstChallenge = 0x2A17C0DE;

// The challenge a query carries in its last four bytes, when it has them.
std::optional<std::uint32_t> CarriedChallenge(const std::string& query, size_t offset) {
    if (query.size() != offset + 4) return std::nullopt;
    return CByteReader(std::span(reinterpret_cast<const std::uint8_t*>(query.data()), query.size()), offset).U32();
}

}  // namespace

struct CA2SPeer::State {
    std::mutex lock;
    Settings settings;
    std::uint32_t challenge = kFirstChallenge;
    bool detached = false;

    std::string ChallengeReplyLocked() const {
        std::string out = kPrefix + "A";
        PutU32(out, challenge);
        return out;
    }

    // The 'I' reply made of what the Half-Life side's details answer holds and the settings.
    std::string InfoReplyLocked(const CHLPeer& base) const {
        const std::string details = base.DetailsAnswer();
        CByteReader in(std::span(reinterpret_cast<const std::uint8_t*>(details.data()), details.size()), 5);
        const std::string address = in.CString();
        const std::string name = in.CString(), map = in.CString(), folder = in.CString(), game = in.CString();
        const std::uint8_t players = in.U8(), maxPlayers = in.U8();
        in.Skip(3);  // protocol, server type, operating system
        const std::uint8_t visibility = in.U8();

        std::string out = kPrefix + "I";
        out.push_back(static_cast<char>(settings.protocol));
        PutCString(out, name);
        PutCString(out, map);
        PutCString(out, folder);
        PutCString(out, game);
        PutU16(out, settings.appId);
        out.push_back(static_cast<char>(players));
        out.push_back(static_cast<char>(maxPlayers));
        out.push_back(static_cast<char>(settings.bots));
        out.push_back(settings.serverType);
        out.push_back(settings.environment);
        out.push_back(static_cast<char>(visibility));
        out.push_back(static_cast<char>(settings.vac ? 1 : 0));
        PutCString(out, settings.version);
        // Extra data: the game port, as present-day servers send it.
        out.push_back(static_cast<char>(0x80));
        std::int32_t port = 0;
        ScanInt(address.substr(address.find(':') + 1), port);
        PutU16(out, static_cast<std::uint16_t>(port));
        return out;
    }

    // The answer to one datagram: nothing to let the Half-Life side answer, empty to stay quiet.
    std::optional<std::string> Answer(CHLPeer& base, const std::string& datagram) {
        std::lock_guard lk(lock);
        if (detached) return std::nullopt;
        const std::string text = datagram.substr(4, datagram.find('\0', 4) - 4);
        if (text == "details" || text == "players" || text == "info") return std::string();  // not any more
        const bool info = BeginsWith(datagram, kInfoQuery);
        const bool players = !info && BeginsWith(datagram, kPlayerQuery);
        if (!info && !players) return std::nullopt;
        if (settings.freshChallengeEveryQuery) {
            ++challenge;
            return ChallengeReplyLocked();
        }
        const auto carried = CarriedChallenge(datagram, info ? kInfoQuery.size() : kPlayerQuery.size());
        const bool accepted = carried ? *carried == challenge : (info && !settings.challengeRequired);
        if (!accepted) return ChallengeReplyLocked();
        if (players) return base.PlayersAnswer();  // the same layout as the classic players answer
        if (settings.obsoleteReplyToo) base.SendToClient(base.DetailsAnswer());
        return InfoReplyLocked(base);
    }
};

CA2SPeer::CA2SPeer() : m_own(std::make_unique<CHLPeer>()), m_base(*m_own), m_state(std::make_shared<State>()) {
    Install();
}

CA2SPeer::CA2SPeer(CHLPeer& base) : m_base(base), m_state(std::make_shared<State>()) {
    Install();
}

CA2SPeer::~CA2SPeer() {
    m_tcp.reset();
    {
        std::lock_guard lk(m_state->lock);
        m_state->detached = true;
    }
    m_base.SetDatagramHook(nullptr);
}

void CA2SPeer::Install() {
    CHLPeer* base = &m_base;
    std::shared_ptr<State> state = m_state;
    m_base.SetDatagramHook([base, state](const std::string& datagram) { return state->Answer(*base, datagram); });
}

void CA2SPeer::SetSettings(const Settings& settings) {
    std::lock_guard lk(m_state->lock);
    m_state->settings = settings;
}

void CA2SPeer::SetChallenge(std::uint32_t challenge) {
    std::lock_guard lk(m_state->lock);
    m_state->challenge = challenge;
}

std::uint32_t CA2SPeer::Challenge() const {
    std::lock_guard lk(m_state->lock);
    return m_state->challenge;
}

std::string CA2SPeer::InfoReply() const {
    std::lock_guard lk(m_state->lock);
    return m_state->InfoReplyLocked(m_base);
}

std::string CA2SPeer::ChallengeReply() const {
    std::lock_guard lk(m_state->lock);
    return m_state->ChallengeReplyLocked();
}

bool CA2SPeer::EnableTcpRcon() {
    if (m_tcp) return m_tcp->Ok();
    CTcpRconPeer::Handler handler;
    handler.password = [this] { return m_base.RconPassword(); };
    handler.execute = [this](const std::string& command) {
        if (command == "status") return ModernStatus();
        if (command == "cvarlist") return LongOutput();
        return m_base.RunRconCommand(command);
    };
    m_tcp = std::make_unique<CTcpRconPeer>(Port(), std::move(handler));
    return m_tcp->Ok();
}

std::string CA2SPeer::ModernStatus() const {
    const std::string details = m_base.DetailsAnswer();
    CByteReader in(std::span(reinterpret_cast<const std::uint8_t*>(details.data()), details.size()), 5);
    const std::string address = in.CString(), name = in.CString(), map = in.CString();
    in.CString();
    in.CString();
    in.U8();
    const unsigned maxPlayers = in.U8();
    const std::vector<std::string> players = m_base.PlayerNames();
    std::uint8_t bots = 0;
    {
        std::lock_guard lk(m_state->lock);
        bots = m_state->settings.bots;
    }
    std::string s = "hostname: " + name + "\n";
    s += "version : 1.38.7.9/13879 1575/8804 secure  [G:1:1234567]\n";
    s += "udp/ip  : " + address + "  (public ip: 127.0.0.1)\n";
    s += "os      :  Linux\ntype    :  community dedicated\n";
    s += "map     : " + map + "\n";
    s += Format("players : %zu humans, %u bots (%u/0 max) (not hibernating)\n\n", players.size(),
                static_cast<unsigned>(bots), maxPlayers);
    s += "# userid name uniqueid connected ping loss state rate adr\n";
    int id = 2;
    for (const std::string& p : players) {
        s += Format("#%3d \"%s\" STEAM_1:0:%d 05:%02d %d 0 active 786432 127.0.0.1:%d\n", id, p.c_str(), 1000 + id,
                    id % 60, 20 + id, 27004 + id);
        ++id;
    }
    for (unsigned b = 0; b < bots; ++b) s += Format("#%3d \"BOT %u\" BOT active 64\n", id++, b + 1);
    s += "#end\n";
    return s;
}

std::string CA2SPeer::LongOutput() {
    std::string s;
    for (int i = 0; i < 400; ++i)
        s += Format("cvar_%04d : %d : , \"sv\" : a console variable listed in order, number %04d\n", i, i, i);
    s += Format("%d convars/concommands\n", 400);
    return s;
}

}  // namespace orv::sim

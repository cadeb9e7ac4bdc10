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

}  // namespace orv::sim

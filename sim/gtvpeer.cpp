#include "sim/gtvpeer.h"

#include <algorithm>

#include "base/strutil.h"

namespace orv::sim {

namespace {

const std::string kPrefix("\xFF\xFF\xFF\xFF", 4);

// The words of a command after the command word; a double-quoted word keeps its spaces.
std::vector<std::string> Arguments(const std::string& command) {
    std::vector<std::string> words;
    size_t pos = command.find(' ');
    while (pos != std::string::npos && pos < command.size()) {
        while (pos < command.size() && command[pos] == ' ') ++pos;
        if (pos >= command.size()) break;
        if (command[pos] == '"') {
            const size_t close = command.find('"', pos + 1);
            words.push_back(command.substr(pos + 1, close == std::string::npos ? std::string::npos : close - pos - 1));
            pos = close == std::string::npos ? std::string::npos : close + 1;
        } else {
            const size_t end = command.find(' ', pos);
            words.push_back(command.substr(pos, end == std::string::npos ? std::string::npos : end - pos));
            pos = end;
        }
    }
    return words;
}

std::string Word(const std::string& command) {
    return command.substr(0, command.find(' '));
}

}  // namespace

CGTVPeer::CGTVPeer(int port) : CQuakeLoopbackPeer(port) {
    m_hostName = "Orvane GTV";
    m_rconPassword = "secret";
    Start();
}

CGTVPeer::~CGTVPeer() {
    Stop();
}

void CGTVPeer::SetHostName(const std::string& name) {
    std::lock_guard lk(m_lock);
    m_hostName = name;
}

void CGTVPeer::SetClients(std::int32_t clients, std::int32_t slots) {
    std::lock_guard lk(m_lock);
    m_clients = clients;
    m_slots = slots;
}

void CGTVPeer::SetChains(const std::string& chains) {
    std::lock_guard lk(m_lock);
    m_chains = chains;
}

void CGTVPeer::SetGtvPassword(const std::string& password) {
    std::lock_guard lk(m_lock);
    m_gtvPassword = password;
}

void CGTVPeer::SetRooms(const std::vector<GTVPeerRoom>& rooms) {
    std::lock_guard lk(m_lock);
    m_rooms = rooms;
}

void CGTVPeer::SetRoom(const GTVPeerRoom& room) {
    std::lock_guard lk(m_lock);
    if (GTVPeerRoom* r = FindRoom(room.hubNumber))
        *r = room;
    else
        m_rooms.push_back(room);
}

void CGTVPeer::SetHubListOverride(std::optional<std::string> numHubs, std::optional<std::string> hubs) {
    std::lock_guard lk(m_lock);
    m_numHubsOverride = std::move(numHubs);
    m_hubsOverride = std::move(hubs);
}

std::vector<GTVPeerRoom> CGTVPeer::Rooms() const {
    std::lock_guard lk(m_lock);
    return m_rooms;
}

std::optional<GTVPeerRoom> CGTVPeer::Room(std::int32_t hubNumber) const {
    std::lock_guard lk(m_lock);
    for (const GTVPeerRoom& r : m_rooms)
        if (r.hubNumber == hubNumber) return r;
    return std::nullopt;
}

std::string CGTVPeer::GtvPassword() const {
    std::lock_guard lk(m_lock);
    return m_gtvPassword;
}

std::vector<std::string> CGTVPeer::Connects() const {
    std::lock_guard lk(m_lock);
    return m_connects;
}

std::vector<std::string> CGTVPeer::PasswordsGiven() const {
    std::lock_guard lk(m_lock);
    return m_passwordsGiven;
}

std::string CGTVPeer::ManagerAnswer() const {
    std::lock_guard lk(m_lock);
    return ManagerAnswerLocked();
}

std::optional<std::string> CGTVPeer::HubAnswer(std::int32_t hubNumber) const {
    std::lock_guard lk(m_lock);
    return HubAnswerLocked(hubNumber);
}

GTVPeerRoom* CGTVPeer::FindRoom(std::int32_t hubNumber) {
    for (GTVPeerRoom& r : m_rooms)
        if (r.hubNumber == hubNumber) return &r;
    return nullptr;
}

std::string CGTVPeer::ManagerAnswerLocked() const {
    std::string hubs;
    for (const GTVPeerRoom& r : m_rooms)
        hubs +=
            std::to_string(r.hubNumber) + " " + std::to_string(r.roomState) + " " + std::to_string(r.roomNumber) + " ";
    const std::string numHubs = m_numHubsOverride ? *m_numHubsOverride : std::to_string(m_rooms.size());
    return kPrefix + "managerInfoResponse\n\\version\\GTV 0.9\\hostname\\" + m_hostName + "\\clients\\" +
           std::to_string(m_clients) + "\\sv_maxclients\\" + std::to_string(m_slots) + "\\chains\\" + m_chains +
           "\\numHubs\\" + numHubs + "\\hubs\\" + (m_hubsOverride ? *m_hubsOverride : hubs);
}

std::optional<std::string> CGTVPeer::HubAnswerLocked(std::int32_t hubNumber) const {
    for (const GTVPeerRoom& r : m_rooms) {
        if (r.hubNumber != hubNumber) continue;
        std::string out = kPrefix + "hubInfoResponse\n\\hubNum\\" + std::to_string(r.hubNumber) + "\\mapName\\maps/" +
                          r.map + ".bsp\\recording\\" + r.recording + "\\desc\\" + r.description + "\\parent\\" +
                          r.parent;
        if (r.following) out += "\\following\\" + std::to_string(*r.following);
        for (const GTVPeerPlayer& p : r.players) {
            const std::string k = std::to_string(p.client);
            out += "\\p" + k + "t\\1\\p" + k + "n\\" + p.name;
        }
        return out;
    }
    return std::nullopt;
}

std::optional<std::string> CGTVPeer::Answer(const std::string& text) {
    if (text == "getManagerInfo") return ManagerAnswerLocked();
    if (BeginsWith(text, "gethubinfo ")) {
        const auto answer = HubAnswerLocked(ToInt(text.substr(11)));
        return answer ? *answer : std::string();  // an unknown hub gets no answer
    }
    return std::nullopt;
}

std::string CGTVPeer::RunCommand(const std::string& command) {
    const std::string word = Word(command);
    const std::vector<std::string> args = Arguments(command);
    auto hub = [&](size_t i) -> GTVPeerRoom* { return i < args.size() ? FindRoom(ToInt(args[i])) : nullptr; };
    if (word == "gtv_password") {
        if (args.empty()) return "\"gtv_password\" is:\"" + m_gtvPassword + "^7\" default:\"^7\"\n";
        m_gtvPassword = args[0];
        return {};
    }
    if (word == "gtv_follow") {
        if (args.size() < 2) return "usage: gtv_follow <clientnum> <hubnum>\n";
        GTVPeerRoom* r = hub(1);
        if (!r) return "Unknown hub " + args[1] + "\n";
        r->following = ToInt(args[0]);
        return "Hub " + args[1] + " now follows client " + args[0] + "\n";
    }
    if (word == "gtv_record") {
        if (args.size() < 2) return "usage: gtv_record <filename> <hubnum>\n";
        GTVPeerRoom* r = hub(1);
        if (!r) return "Unknown hub " + args[1] + "\n";
        r->recording = args[0];
        return "Recording hub " + args[1] + " to " + args[0] + "\n";
    }
    if (word == "gtv_stoprecord") {
        GTVPeerRoom* r = hub(0);
        if (!r) return "usage: gtv_stoprecord <hubnum>\n";
        r->recording.clear();
        return "Stopped recording hub " + args[0] + "\n";
    }
    if (word == "gtv_disconnect") {
        const std::int32_t n = args.empty() ? -1 : ToInt(args[0]);
        const auto before = m_rooms.size();
        std::erase_if(m_rooms, [n](const GTVPeerRoom& r) { return r.hubNumber == n; });
        return before == m_rooms.size() ? "Unknown hub " + std::to_string(n) + "\n"
                                        : "Hub " + std::to_string(n) + " closed\n";
    }
    if (word == "gtv_description") {
        GTVPeerRoom* r = hub(0);
        if (!r || args.size() < 2) return "usage: gtv_description <hubnum> \"<text>\"\n";
        r->description = args[1];
        return {};
    }
    if (word == "gtv_connect") {
        const std::string rest = command.size() > word.size() ? command.substr(word.size() + 1) : std::string();
        m_connects.push_back(rest);
        GTVPeerRoom room;
        for (const GTVPeerRoom& r : m_rooms) room.hubNumber = std::max(room.hubNumber, r.hubNumber + 1);
        room.roomState = 1;
        room.parent = args.empty() ? std::string() : args[0];
        m_rooms.push_back(room);
        return "Connecting hub " + std::to_string(room.hubNumber) + " to " + room.parent + "\n";
    }
    if (word == "password") {
        m_passwordsGiven.push_back(command.size() > word.size() ? command.substr(word.size() + 1) : std::string());
        return {};
    }
    return "Unknown command: " + command + "\n";
}

}  // namespace orv::sim

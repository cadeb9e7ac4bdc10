// A loopback peer that plays a Quake 3 GTV proxy on its own thread: answers "getManagerInfo" and
// "gethubinfo <hub>", and the rcon commands gtv_password, gtv_follow, gtv_record, gtv_stoprecord,
// gtv_disconnect, gtv_description, gtv_connect and password; a wrong rcon password gets
// "Bad rconpassword.". Records every datagram it receives (see CQuakeLoopbackPeer).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/q3peer.h"

namespace orv::sim {

struct GTVPeerPlayer {
    std::int32_t client = 0;
    std::string name;  // as the proxy writes it, colour codes included
};

struct GTVPeerRoom {
    std::int32_t hubNumber = 0;
    std::int32_t roomState = 3;
    std::int32_t roomNumber = 0;
    std::string map = "q3dm17";  // reported as maps/<map>.bsp
    std::string recording;
    std::string description;
    std::string parent;                     // the address of the game the hub relays
    std::optional<std::int32_t> following;  // no "following" key without a value
    std::vector<GTVPeerPlayer> players;
};

class CGTVPeer : public CQuakeLoopbackPeer {
public:
    // Defaults: "Orvane GTV", 0 clients of 64, no chains, no rooms, gtv_password empty,
    // rcon password "secret".
    explicit CGTVPeer(int port = 0);  // any free port for 0
    ~CGTVPeer() override;

    void SetHostName(const std::string& name);
    void SetClients(std::int32_t clients, std::int32_t slots);
    // The "chains" value: the addresses of the proxies chained to this one, as the proxy writes them.
    void SetChains(const std::string& chains);
    void SetGtvPassword(const std::string& password);
    void SetRooms(const std::vector<GTVPeerRoom>& rooms);
    // Replaces the room with the same hub number, or appends it.
    void SetRoom(const GTVPeerRoom& room);
    // Overrides the numHubs value and the hubs text of the manager answer (for odd answers).
    void SetHubListOverride(std::optional<std::string> numHubs, std::optional<std::string> hubs);

    std::vector<GTVPeerRoom> Rooms() const;
    std::optional<GTVPeerRoom> Room(std::int32_t hubNumber) const;
    std::string GtvPassword() const;
    // Upstream connections asked for by "gtv_connect" (the whole argument text) and passwords given
    // by "password".
    std::vector<std::string> Connects() const;
    std::vector<std::string> PasswordsGiven() const;

    // The answers, each a whole datagram, prefix included.
    std::string ManagerAnswer() const;
    // Nothing for a hub that is not listed.
    std::optional<std::string> HubAnswer(std::int32_t hubNumber) const;

protected:
    std::optional<std::string> Answer(const std::string& text) override;
    std::string RunCommand(const std::string& command) override;

private:
    std::string ManagerAnswerLocked() const;
    std::optional<std::string> HubAnswerLocked(std::int32_t hubNumber) const;
    GTVPeerRoom* FindRoom(std::int32_t hubNumber);

    // Guarded by m_lock.
    std::string m_hostName, m_chains, m_gtvPassword;
    std::int32_t m_clients = 0, m_slots = 64;
    std::vector<GTVPeerRoom> m_rooms;
    std::optional<std::string> m_numHubsOverride, m_hubsOverride;
    std::vector<std::string> m_connects, m_passwordsGiven;
};

}  // namespace orv::sim

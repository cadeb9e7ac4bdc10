// A loopback peer that plays a present-day Half-Life server (or, given an HLTV peer's Half-Life side, a
// present-day HLTV proxy): it answers the binary A2S_INFO ('T') and A2S_PLAYER ('U') queries, by default
// only after a challenge round trip ('A'), and stays silent to the classic "details", "players" and
// "info" queries. "challenge rcon" and rcon commands are answered exactly as the Half-Life peer does,
// since it is one underneath. It can also answer an info query with the obsolete 'm' reply before the
// 'I' reply, or hand out a fresh challenge for every query (a server nobody can get an answer from).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "sim/hlpeer.h"
#include "sim/tcprconpeer.h"

namespace orv::sim {

class CA2SPeer {
public:
    // What the info reply reports beyond the Half-Life peer's name, map, folder, game and players.
    struct Settings {
        std::uint8_t protocol = 48;
        std::uint16_t appId = 10;
        std::uint8_t bots = 0;
        char serverType = 'd';  // 'p' for a proxy
        char environment = 'l';
        bool vac = true;
        std::string version = "1.1.2.7/Stdio";
        bool challengeRequired = true;  // false: an info query without challenge is answered at once
        bool obsoleteReplyToo = false;  // answer an info query with 'm' and then 'I'
        bool freshChallengeEveryQuery = false;
    };

    // A present-day server of its own (the Half-Life peer's defaults: rcon password "secret").
    CA2SPeer();
    // Gives base (for instance CHLTVPeer::Base()) the present-day queries. base must outlive the use of
    // this object; after this object is gone base answers the A2S queries no more.
    explicit CA2SPeer(CHLPeer& base);
    ~CA2SPeer();
    CA2SPeer(const CA2SPeer&) = delete;
    CA2SPeer& operator=(const CA2SPeer&) = delete;

    bool Ok() const { return m_base.Ok(); }
    int Port() const { return m_base.Port(); }
    std::string Address() const { return "127.0.0.1:" + std::to_string(Port()); }
    // The Half-Life side: what it reports, rcon, silence and the record of every datagram received.
    CHLPeer& Base() { return m_base; }
    const CHLPeer& Base() const { return m_base; }

    void SetSettings(const Settings& settings);
    // The challenge the next queries must carry (a server may change it at any time).
    void SetChallenge(std::uint32_t challenge);
    std::uint32_t Challenge() const;

    // The TCP remote console on the same port number, as present-day servers have it (off until enabled):
    // the Half-Life side's rcon password and commands, "status" in the present-day layout, and
    // "cvarlist", a long output (about 20 KB). False when the TCP port is taken.
    bool EnableTcpRcon();
    CTcpRconPeer* TcpRcon() { return m_tcp.get(); }
    std::string ModernStatus() const;
    static std::string LongOutput();

    // The replies as the peer would send them now, prefix included.
    std::string InfoReply() const;
    std::string ChallengeReply() const;

private:
    struct State;
    void Install();

    std::unique_ptr<CHLPeer> m_own;  // set when the peer is a server of its own
    CHLPeer& m_base;
    std::shared_ptr<State> m_state;  // shared with the hook, which may outlive this object on base's thread
    std::unique_ptr<CTcpRconPeer> m_tcp;
};

}  // namespace orv::sim

// Loopback peers of the Quake 3 family, each on its own thread bound to 127.0.0.1 on a port of its own.
// CQuakeLoopbackPeer carries what they share: the thread, the record of every datagram received (with
// waits on a condition and a deadline), rcon framing and password checks, silence and hooks.
// CQ3Peer plays a Quake 3 server running OSP: "getstatus", "getinfo" and the rcon commands "password",
// "score_time", "kick", "status".
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "sim/peerrecord.h"
#include "sim/udppeer.h"

namespace orv::sim {

class CQuakeLoopbackPeer {
public:
    // Answers a whole out-of-band text (prefix and trailing zero removed): the bytes to send back
    // (prefix included), an empty string to stay quiet, or nothing to let the peer answer as usual.
    using PacketHook = std::function<std::optional<std::string>(const std::string& text)>;
    // Answers an accepted rcon command: the console text to print, or nothing to answer as usual.
    using RconHook = std::function<std::optional<std::string>(const std::string& command)>;

    virtual ~CQuakeLoopbackPeer();
    CQuakeLoopbackPeer(const CQuakeLoopbackPeer&) = delete;
    CQuakeLoopbackPeer& operator=(const CQuakeLoopbackPeer&) = delete;

    bool Ok() const { return m_udp.Ok(); }
    int Port() const { return m_udp.Port(); }
    // "127.0.0.1:<port>".
    std::string Address() const;

    void SetRconPassword(const std::string& password);
    std::string RconPassword() const;
    // A silent peer records but answers nothing.
    void SetSilent(bool silent);
    void SetPacketHook(PacketHook hook);
    void SetRconHook(RconHook hook);

    // Every datagram received, in order, exactly as it arrived; each is recorded once its answer has left.
    std::vector<std::string> Received() const { return m_record.Received(); }
    // Their texts: prefix and everything from the first zero byte on removed.
    std::vector<std::string> ReceivedTexts() const;
    size_t ReceivedCount() const { return m_record.ReceivedCount(); }
    // How many received texts equal text exactly.
    size_t CountText(const std::string& text) const;
    // Rcon commands that passed the password check, and those that did not.
    std::vector<std::string> AcceptedCommands() const { return m_record.AcceptedCommands(); }
    std::vector<std::string> RefusedCommands() const { return m_record.RefusedCommands(); }
    void ClearReceived() { m_record.Clear(); }
    // The datagrams received since the last call, in order; forgets them and the command records.
    std::vector<std::string> TakeReceived() { return m_record.Take(); }
    // Waits until pred(received datagrams) holds or the limit passes; true when it held.
    bool WaitFor(const std::function<bool(const std::vector<std::string>&)>& pred,
                 std::chrono::milliseconds limit) const {
        return m_record.WaitFor(pred, limit);
    }
    bool WaitForCount(size_t count, std::chrono::milliseconds limit) const { return m_record.WaitForCount(count, limit); }
    bool WaitForText(const std::string& text, std::chrono::milliseconds limit) const;

    // Sends bytes to the client that last spoke to the peer (false before any client did).
    bool SendToClient(const std::string& bytes);
    // FF FF FF FF "print\n" + console text.
    static std::string PrintAnswer(const std::string& consoleText);

protected:
    explicit CQuakeLoopbackPeer(int port = 0);
    // The derived peer starts the thread when it is fully built, and stops it before it is torn down.
    void Start();
    void Stop();

    // The kind's answer to a text other than rcon; called with m_lock held.
    virtual std::optional<std::string> Answer(const std::string& text) = 0;
    // The console text for an accepted rcon command; called with m_lock held.
    virtual std::string RunCommand(const std::string& command) = 0;
    // The console text when the rcon password is refused; called with m_lock held.
    virtual std::string RefusalText(const std::string& givenPassword) const { return "Bad rconpassword.\n"; }

    mutable std::mutex m_lock;
    std::string m_rconPassword;  // guarded by m_lock

private:
    void Run();
    void Handle(const Datagram& d);
    std::optional<std::string> AnswerRcon(const std::string& text, const RconHook& hook);

    CUdpPeer m_udp;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;

    // Guarded by m_lock.
    bool m_silent = false;
    PacketHook m_packetHook;
    RconHook m_rconHook;
    std::optional<sockaddr_in> m_client;

    CPeerRecord m_record;  // locks on its own
};

struct Q3PeerPlayer {
    std::int32_t score = 0;
    std::int32_t ping = 0;
    std::string name;  // as the server writes it, colour codes included
};

class CQ3Peer : public CQuakeLoopbackPeer {
public:
    // Defaults: "Orvane Q3 Server", map "q3dm17", 16 slots, no players, server_ospauth "1" as the last
    // key, no password, rcon password "secret", score time "Waiting for Players".
    explicit CQ3Peer(int port = 0);  // any free port for 0
    ~CQ3Peer() override;

    void SetHostName(const std::string& name);
    void SetMap(const std::string& map);
    void SetMaxClients(std::int32_t slots);
    void SetPlayers(const std::vector<Q3PeerPlayer>& players);
    // The server's join password, as "password" prints it (colour codes allowed).
    void SetPassword(const std::string& password);
    // The OSP score clock, as "score_time" prints it: "12:31", "Waiting for Players", "Timelimit", ...
    void SetScoreTime(const std::string& value);
    // The server_ospauth value; empty leaves the key out. When not last, other keys follow it.
    void SetOspAuth(const std::string& value, bool last = true);
    // More keys of the info strings, placed before server_ospauth.
    void SetExtraInfo(const std::vector<std::pair<std::string, std::string>>& keys);
    // An empty rcon password makes every rcon command answer "No rconpassword set on the server."
    // (inherited SetRconPassword).

    std::vector<Q3PeerPlayer> Players() const;
    std::string Password() const;

    // The answers, each a whole datagram, prefix included.
    std::string StatusAnswer() const;
    std::string InfoAnswer(const std::string& challenge = {}) const;

protected:
    std::optional<std::string> Answer(const std::string& text) override;
    std::string RunCommand(const std::string& command) override;
    std::string RefusalText(const std::string& givenPassword) const override;

private:
    std::string StatusAnswerLocked() const;
    std::string InfoAnswerLocked(const std::string& challenge) const;

    // Guarded by m_lock.
    std::string m_hostName, m_map, m_password, m_scoreTime, m_ospAuth;
    bool m_ospAuthLast = true;
    std::int32_t m_maxClients = 16;
    std::vector<Q3PeerPlayer> m_players;
    std::vector<std::pair<std::string, std::string>> m_extraInfo;
};

}  // namespace orv::sim

// A loopback peer that plays a Half-Life server on its own thread: answers "details", "info", "players",
// "ping", "challenge rcon" and rcon commands ("status", "sv_password", "nxn_match_report", kick, say,
// changelevel, sv_restartround), checks the rcon password and challenge, can fall silent, and records
// every datagram it receives. Hooks let an HLTV peer or a demo simulator answer more.
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
#include <vector>

#include "sim/peerrecord.h"
#include "sim/udppeer.h"

namespace orv::sim {

struct HLPeerPlayer {
    std::string name;
    std::int32_t frags = 0;
    float time = 0.0f;
};

// AdminBot-mx's report of the match.
struct HLMatchReportFields {
    std::string teamA = "Alpha";
    std::string teamB = "Beta";
    std::int32_t state = 0;
    std::int32_t teamASet1 = 0;
    std::int32_t teamASet2 = 0;
    std::int32_t teamBSet1 = 0;
    std::int32_t teamBSet2 = 0;
};

class CHLPeer {
public:
    // Answers a whole out-of-band text (prefix and trailing zero removed): the bytes to send back
    // (prefix included), an empty string to stay quiet, or nothing to let the peer answer as usual.
    using PacketHook = std::function<std::optional<std::string>(const std::string& text)>;
    // Answers a whole datagram as received (binary queries carry zero bytes); called before the packet
    // hook, with the same meaning of its result.
    using DatagramHook = std::function<std::optional<std::string>(const std::string& datagram)>;
    // Answers an accepted rcon command: the console text to print, or nothing to answer as usual.
    using RconHook = std::function<std::optional<std::string>(const std::string& command)>;

    // Binds 127.0.0.1 on the given port (any free one for 0) and starts answering.
    explicit CHLPeer(int port = 0);
    ~CHLPeer();  // stops and joins its thread
    CHLPeer(const CHLPeer&) = delete;
    CHLPeer& operator=(const CHLPeer&) = delete;

    bool Ok() const { return m_udp.Ok(); }
    int Port() const { return m_udp.Port(); }

    // What it reports. Defaults: address "127.0.0.1:<port>", "Orvane Test Server", "de_dust2", "cstrike",
    // "Counter-Strike", no players, 16 slots, no password, rcon password "secret", challenge "123456789".
    void SetAddress(const std::string& address);
    void SetServerName(const std::string& name);
    void SetMap(const std::string& map);
    void SetGameDirectory(const std::string& directory);
    void SetDescription(const std::string& description);
    void SetPlayers(const std::vector<std::string>& names);
    void SetPlayerRecords(const std::vector<HLPeerPlayer>& players);
    void SetMaxPlayers(std::uint8_t slots);
    void SetPassword(const std::string& password);          // sv_password
    void SetRconPassword(const std::string& password);
    // The challenge as the server prints it: any decimal text, beyond 2^31 or negative.
    void SetChallenge(const std::string& text);
    void SetChallenge(std::int64_t value) { SetChallenge(std::to_string(value)); }
    // Match report: the fields, a raw report text (the part between the quotes), or no match.
    void SetMatchReport(const HLMatchReportFields& fields);
    void SetMatchReportText(const std::string& quotedPart);
    void SetNoMatch();
    // A silent peer records but answers nothing.
    void SetSilent(bool silent);
    void SetPacketHook(PacketHook hook);
    void SetDatagramHook(DatagramHook hook);
    void SetRconHook(RconHook hook);

    // The challenge as a client must echo it: the unsigned 32-bit value of the challenge text.
    std::uint32_t ExpectedChallenge() const;
    std::string Password() const;
    std::string RconPassword() const;
    // Runs a command that passed the password check (the rcon hook first) and returns what it prints;
    // the datagram rcon and a TCP console run commands alike.
    std::string RunRconCommand(const std::string& command);
    std::vector<std::string> PlayerNames() const;

    // Every datagram received, in order, exactly as it arrived; recorded once handled and answered.
    std::vector<std::string> Received() const { return m_record.Received(); }
    size_t ReceivedCount() const { return m_record.ReceivedCount(); }
    // Rcon commands that passed the password and challenge checks, and the refused ones.
    std::vector<std::string> AcceptedCommands() const { return m_record.AcceptedCommands(); }
    std::vector<std::string> RefusedCommands() const { return m_record.RefusedCommands(); }
    void ClearReceived() { m_record.Clear(); }
    // The datagrams received since the last call, in order; forgets them and the command records.
    std::vector<std::string> TakeReceived() { return m_record.Take(); }
    // Waits until pred(received datagrams) holds or the limit passes; true when it held.
    bool WaitFor(const std::function<bool(const std::vector<std::string>&)>& pred, std::chrono::milliseconds limit) const {
        return m_record.WaitFor(pred, limit);
    }
    bool WaitForCount(size_t count, std::chrono::milliseconds limit) const { return m_record.WaitForCount(count, limit); }

    // Sends bytes to the client that last spoke to the peer (false before any client did).
    bool SendToClient(const std::string& bytes);

    // The answers, exposed for tests and other peers: each returns the whole datagram, prefix included.
    std::string DetailsAnswer() const;
    std::string InfoAnswer() const;
    std::string PlayersAnswer() const;
    std::string ChallengeAnswer() const;
    static std::string PrintAnswer(const std::string& consoleText);

private:
    void Run();
    void Handle(const Datagram& d);
    std::optional<std::string> Answer(const std::string& text);
    std::optional<std::string> AnswerRcon(const std::string& text);
    std::string RunCommand(const std::string& command);  // called with m_lock held
    std::string StatusText() const;
    std::string ServerInfoStrings() const;

    CUdpPeer m_udp;
    mutable std::mutex m_lock;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;

    // Guarded by m_lock.
    std::string m_address, m_serverName, m_map, m_gameDirectory, m_description;
    std::vector<HLPeerPlayer> m_players;
    std::uint8_t m_maxPlayers = 16;
    std::string m_password, m_rconPassword, m_challenge;
    std::optional<std::string> m_matchReport;  // the quoted part; none = no match
    bool m_silent = false;
    PacketHook m_packetHook;
    DatagramHook m_datagramHook;
    RconHook m_rconHook;
    std::optional<sockaddr_in> m_client;

    CPeerRecord m_record;  // locks on its own
};

}  // namespace orv::sim

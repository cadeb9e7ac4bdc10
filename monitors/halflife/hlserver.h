// CHLServer: a Half-Life game server (Counter-Strike included). Polls it with "details" and "players",
// keeps what it reports, drives it by rcon (challenge, commands, the bad-password protection), follows
// the AdminBot match report and detects team tags. CHLTV derives from it: the answer handlers, the icon
// choice and the print-line rules are protected virtuals so a proxy can reuse or replace each one.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "core/commonobject.h"
#include "monitors/halflife/a2s.h"
#include "monitors/halflife/hlparse.h"
#include "monitors/halflife/hlrcon_tcp.h"
#include "monitors/halflife/hlstatus.h"
#include "monitors/halflife/teamtags.h"

namespace orv {

class CHLServer : public CCommonObject {
public:
    static constexpr std::uint16_t kSchema = 10;
    // Bitmap resource ids.
    static constexpr std::uint32_t kIconHalfLife = 160;
    static constexpr std::uint32_t kIconCounterStrike = 154;
    static constexpr std::uint32_t kMatchBitmap = 157;
    static constexpr std::int32_t kGaugeMaximum = 14;

    explicit CHLServer(CPlatform& platform);
    ~CHLServer() override;

    const char* ClassName() const override { return "CHLServer"; }
    std::uint16_t Schema() const override { return kSchema; }
    // The shared fields only: everything of its own is rebuilt from the answers.
    void Serialize(CArchive& ar) override;

    // Dispatches on byte 4: 'm', 'C', 'D', 'c', 'l' and the A2S 'I' and 'A' (once the dialect admits the
    // answer); 'j' is ignored; anything else is a stray.
    void OnPacket(std::span<const std::uint8_t> datagram) override;
    // Time-out, then by poll phase: 0 details (or A2S_INFO), 1 fresh challenge in state 2, 2 players (or
    // A2S_PLAYER), 3 match report + status + server password, 4 team tags, 5 nothing.
    void Tick() override;
    // Entering 2 with an rcon password requests a challenge first.
    void SetState(std::int32_t value) override;
    bool IsGameServer() const override { return true; }
    // "rcon <challenge> \"<rcon password>\" <command>"; nothing while the rcon password is empty.
    void SendRcon(std::string_view command) override;
    // details, players and, with an rcon password, the three rcon queries of phase 3.
    std::int64_t CycleBytes() const override;
    // "say Kicking <name>", then "kick \"<name>\"". A name that cannot be pasted into a command
    // (SafeInCommand) goes by its user id from the last status answer, "say Kicking #<id>" and
    // "kick #<id>"; without one nothing is sent and the console says why.
    void Kick(const std::string& playerName) override;
    static constexpr const char* kKickRefusedLine =
        "Kick not sent: the name holds a quote, a semicolon or a line break, and the last status answer "
        "gave no user id for it";

    // The server's command set.
    virtual void RestartRound(std::int32_t count);          // "sv_restartround %d"
    virtual void ChangeLevel(const std::string& mapName);   // "changelevel <map>", not for an empty map
    virtual void QueryStatus();                             // rcon "status"
    virtual void RequestChallenge();                        // out-of-band "challenge rcon"
    virtual void QueryPlayers();                            // out-of-band "players"
    virtual void QueryDetails();                            // out-of-band "details"
    virtual void SetServerPassword(const std::string& pw);  // rcon sv_password "<pw>"
    virtual void QueryServerPassword();                     // rcon "sv_password"
    void QueryMatchReport();                                // rcon "nxn_match_report"
    // A new rcon password was entered: the challenge is forgotten and an answering server returns to
    // state 2, which asks for a fresh one at once. Refusals of commands sent with the old password, still
    // on their way, do not clear the new one.
    void RestartRcon();

    // Runs the team-tag detector over the current player list into team tags.
    void DetectTeamTags();
    // Team tags, read under the tags lock.
    std::string TeamTags() const;

    // What the layout view draws: the player gauge (out of 14) and the crossed-swords mark.
    std::int32_t GaugePlayers() const { return playerNameCount < kGaugeMaximum ? playerNameCount : kGaugeMaximum; }
    bool ShowsMatchMark() const { return state >= kStateRcon && matchRunning == 1; }
    // A team's match score: the sum of its two sets, held to the 32-bit range.
    std::int32_t TeamAScore() const;
    std::int32_t TeamBScore() const;

private:
    // Read by every tick: next to what the base reads.
    CA2SSession m_a2s;
    std::unique_ptr<CHLRconTcp> m_tcp;

public:
    // Own fields, in declaration order.
    std::int32_t matchRunning = 0;
    CTeamTagDetector tagDetector{2, 12};
    mutable std::mutex tagsLock;  // held while the detector writes team tags
    std::string gameDirectory;
    std::string map;
    std::string teamTags;
    std::uint32_t challenge = 0;
    std::string teamAName = "?";
    std::string teamBName = "?";
    std::int32_t teamASet1 = 0;
    std::int32_t teamBSet1 = 0;
    std::int32_t teamASet2 = 0;
    std::int32_t teamBSet2 = 0;
    std::int32_t matchState = 0;
    Time challengeRetried = 0;  // when a "Bad challenge." answer last asked for a fresh challenge
    // After a new rcon password, until the fresh challenge arrives: refusals answer the old password.
    bool oldPasswordInFlight = false;
    // The players of the last rcon status answer with their user ids (cleared by its "players :" line).
    std::vector<HLStatusPlayer> statusPlayers;
    static constexpr size_t kMaxStatusPlayers = HLModernStatus::kMaxPlayers;
    static constexpr Time kChallengeRetrySeconds = 6;

    // The queries this object speaks, decided by the first answer that tells (hlserver_a2s.cpp).
    CHLDialect Dialect() const { return m_a2s.dialect; }
    // What the last A2S info reply reported beyond the classic fields (0 until one arrived).
    std::int32_t infoPlayers = 0;
    std::int32_t bots = 0;
    std::int32_t vac = 0;  // 1: VAC secured

    // The remote console's transport (hlserver_tcp.cpp): "tcp" once a present-day server took the TCP
    // connection, "udp" otherwise (the datagram rcon, also while the choice is being made).
    const char* RconTransport() const;
    const CHLRconTcp* TcpRcon() const { return m_tcp.get(); }

protected:
    // The info and players phases: the classic query, the A2S one, or (undecided) details and A2S_INFO.
    void PollInfo();
    void PollPlayers();
    // Settles the dialect on an answer's type; false when the answer is not to be handled (an A2S reply
    // to an object that speaks classic, or a second reply to one info query).
    bool AdmitAnswer(std::uint8_t type);
    void OnA2SInfo(std::span<const std::uint8_t> datagram);
    // Remembers the challenge and repeats the query it answered, once per query and cycle.
    void OnA2SChallenge(std::span<const std::uint8_t> datagram);

    // Answer handlers, one per answer type; the datagram includes its prefix.
    virtual void OnDetails(std::span<const std::uint8_t> datagram);
    virtual void OnInfo(std::span<const std::uint8_t> datagram);
    virtual void OnPlayers(std::span<const std::uint8_t> datagram);
    // Stores the challenge, state 3, status query, answered.
    virtual void OnChallenge(std::span<const std::uint8_t> datagram);
    // Cuts the console text into lines and hands them to OnPrintLines.
    virtual void OnPrint(std::span<const std::uint8_t> datagram);
    // Every line into the console log and through OnPrintLine; then state 3 when a password is set,
    // and answered.
    virtual void OnPrintLines(const std::vector<std::string>& lines);
    // The server's line rules: password read-back, match report, no-match line, bad password.
    virtual void OnPrintLine(const std::string& line);
    // The icon for a game directory: 154 for exactly "cstrike", 160 otherwise.
    virtual std::uint32_t IconForGameDirectory(const std::string& directory) const;

    // "rcon <challenge> \"<rcon password>\" <command>".
    std::string RconText(std::string_view command) const;
    // The same in pieces; digits holds the challenge's decimal text.
    std::array<std::string_view, 6> RconPieces(std::string_view command, std::array<char, 16>& digits) const;
    // Pieces the handlers are made of.
    // State 2 when in 1 (with its challenge request), then last answer time := now.
    void Answered();
    // In state 2 with an rcon password: set state 2 again, which asks for a fresh challenge.
    void RepeatChallengeRequest();
    // Server name, map, game directory and icon from a details or info answer.
    void ApplyServerInfo(const HLServerInfo& info);
    // Host and port from the address a details answer reports; unchanged when it is not host:port.
    void ApplyReportedAddress(const std::string& address);
    void ApplyPlayers(const HLPlayerList& players);
    // Challenge := the answer's number; false (challenge unchanged) when it holds none.
    bool StoreChallenge(std::span<const std::uint8_t> datagram);
    void OnMatchReport(const std::string& line);
    void OnNoMatchRunning();
    void OnBadRconPassword();
    // "Bad challenge.": one fresh challenge request per cycle.
    void OnBadChallenge();

    // The TCP remote console of present-day servers (hlserver_tcp.cpp). True when it carries the
    // commands (the transport is TCP or still being tried); starts the try for a game server that speaks
    // A2S and has an rcon password.
    bool RconOverTcp();
    // "say Kicking <name>", then "kickid <id>" with the id the last status listed for that name.
    void OnTcpOutput(const std::string& command, const std::string& output);
    void ApplyModernStatus(const HLModernStatus& status);

private:
    // The unit of the output queue that the two dialect probes of an undecided server form.
    static constexpr std::uint32_t kDialectProbes = 1;
    void SendA2SInfo(std::uint32_t unit = 0);
    void SendA2SPlayers();
};

}  // namespace orv

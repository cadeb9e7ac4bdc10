// CHLTV: an HLTV spectator proxy of a Half-Life server. It is polled and driven like a CHLServer (same
// "details" and "players" queries, same challenge and rcon framing) and adds what a proxy has: its
// console output (status block, delay) read into spectators, slots, bandwidth, delay, relayed server
// and recording; the connect commands sent when the operator drops it onto another object; the link to
// the object it relays; and automatic recording of the relayed server's AdminBot match.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "monitors/halflife/hlserver.h"

namespace orv {

// How the layout view joins a proxy to the object it relays.
enum class CHLTVLinkStyle {
    None,     // no line
    Solid,    // solid, 4 pixels: the proxy confirms it relays that object
    DashDot,  // dash-dot, 1 pixel: dropped but not (yet) confirmed
};

struct CHLTVLinkLine {
    CHLTVLinkStyle style = CHLTVLinkStyle::None;
    const CCommonObject* target = nullptr;  // the linked object
    std::int32_t fromX = 0, fromY = 0;      // centre of this proxy's icon
    std::int32_t toX = 0, toY = 0;          // centre of the linked object's icon
};

class CHLTV : public CHLServer {
public:
    static constexpr const char* kClassName = "CHLTV";
    static constexpr std::uint16_t kSchema = 101;
    static constexpr std::uint32_t kIcon = 153;
    static constexpr std::uint32_t kDefaultPort = 27020;
    static constexpr Time kLinkHoldOff = 10;   // seconds without automatic linking after Disconnect
    static constexpr Time kStopMargin = 10;    // seconds a recording goes on after the spectators saw the end
    static constexpr Time kUnknownDelay = 30;  // the delay assumed while the proxy has not reported one
    static constexpr float kDelayUnknown = -1.0f;
    // Recording marks (bitmap ids) and the bandwidth that fills the red gauge.
    static constexpr std::uint32_t kMarkRecording = 151;
    static constexpr std::uint32_t kMarkStopPending = 173;
    static constexpr std::uint32_t kMarkAutoRecord = 155;
    static constexpr float kGaugeBandwidth = 1500.0f;

    static constexpr const char* kInternalError =
        "CHLTV::CheckAutoRecord() : Internal error, report this bug to the author";

    explicit CHLTV(CPlatform& platform);

    const char* ClassName() const override { return kClassName; }
    std::uint16_t Schema() const override { return kSchema; }
    // The shared fields, then export to web, external host, external port, proxy password, auto record;
    // loading creates the socket once more.
    void Serialize(CArchive& ar) override;

    // The address string or the external address string, exactly.
    bool Matches(const std::string& address) const override;
    // The operator dropped this proxy onto target: connect it there (see hltv.cpp) and link to it.
    void OnDrop(CCommonObject* target) override;
    bool RconAccepted() const override { return state >= kStateRcon; }
    // Stamps the view time, then dispatches as the server does.
    void OnPacket(std::span<const std::uint8_t> datagram) override;
    // Time-out, then by poll phase: 0 details (or A2S_INFO), 1 fresh challenge in state 2, 2 players (or
    // A2S_PLAYER), 3 challenge (its answer asks for the status), 4 team tags and "delay" while the delay is unknown,
    // 5 automatic recording.
    void Tick() override;
    // details, players, the challenge of phase 3 and the status it asks for.
    std::int64_t CycleBytes() const override;
    bool CanRecord() const override { return true; }
    bool IsGameServer() const override { return false; }
    void OnObjectDeleted(CCommonObject* deleted) override;
    // Links to the first object of the list that matches the reported server address, when the proxy
    // reports one, has no link yet and linking is not held off.
    void ResolveLinks(const CObjectList& objects) override;

    // Operations a proxy adds.
    // "%s:%d" of external host and external port.
    virtual std::string ExternalAddressString() const;
    // rcon "serverpassword <password>", not for an empty password.
    virtual void SendServerPassword(const std::string& serverPassword);
    // "%Y-%m-%d_%Hh%M" local time, "_", map, "_", the match's team names (or the proxy's own team tags),
    // cleaned. The proxy adds ".dem" itself.
    virtual std::string RecordingFileName() const;

    // Removes every character that is not an ASCII letter, a digit or one of ()-_={}[]!+@.
    static void CleanFileName(std::string& text);

    // The game server at the end of the relay chain: the linked object, followed through proxies. None
    // when a link is missing or the chain comes back to a proxy already visited. A chain ending at an
    // object that is not a Half-Life server gives none too, after the internal-error message when
    // reportInternalError is set.
    const CHLServer* GameServer(bool reportInternalError) const;
    // Phase 5: starts recording when the relayed match runs, stops delay + 10 s after it ended. A proxy
    // that does not start recording is asked a few times per match, and the operator is told once.
    void CheckAutoRecord();

    // What the layout view draws.
    CHLTVLinkLine LinkLine() const;
    // Fill heights of the three gauges for a gauge of the given height.
    std::int32_t PlayerGaugeFill(std::int32_t height) const;
    std::int32_t SpectatorGaugeFill(std::int32_t height) const;  // 0 when it is not drawn (no slots)
    bool ShowsSpectatorGauge() const { return spectatorSlots != 0; }
    std::int32_t BandwidthGaugeFill(std::int32_t height) const;
    // The recording mark bitmap in state 3 (151 recording, 173 stop pending, 155 auto record armed); 0: none.
    std::uint32_t RecordingMark() const;
    bool StopPending() const { return stopRecordingAt != 0; }

    // Own fields, in declaration order.
    Time linkNotBefore = 0;
    std::int32_t autoRecord = 0;
    float delay = kDelayUnknown;
    std::int32_t exportToWeb = 1;
    std::int32_t externalPort = 0;
    std::string externalHost;
    std::string proxyPassword;
    CCommonObject* linkedServer = nullptr;  // not owned
    std::string serverAddress;              // what the proxy says it relays, as it prints it
    std::int32_t spectatorSlots = 0;
    std::int32_t spectators = 0;  // spectators plus relayed proxies
    float outgoingBandwidth = -1.0f;
    std::string recordingFile;  // with ".dem"; empty: not recording
    Time stopRecordingAt = 0;   // 0: no stop pending

protected:
    // A challenge answer stores the number and asks for the status; the state is left to the status answer.
    void OnChallenge(std::span<const std::uint8_t> datagram) override;
    // Every line into the console log and through the proxy's rules; a status block without a recording
    // line ends the recording; a refused rcon password clears it (the server's protection); any other
    // print answer means rcon is in use (state 3).
    void OnPrintLines(const std::vector<std::string>& lines) override;
    std::uint32_t IconForGameDirectory(const std::string& directory) const override { return kIcon; }

    // The purposes of the automatic commands: one of each waits in the output queue at most.
    enum : std::uint32_t { kPurposeRecord = 1, kPurposeStop, kPurposeStopSource };
    CAutomaticTries m_recordTries;

    struct ConsoleFlags {
        bool statusSeen = false;
        bool recordingSeen = false;
    };
    // The proxy's console rules, each tested in turn against the line.
    void ApplyConsoleLine(const std::string& line, ConsoleFlags& flags);
    // Seconds between the end of a match and the stop of its recording.
    Time StopDelaySeconds() const;
};

}  // namespace orv

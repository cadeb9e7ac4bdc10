#include "monitors/halflife/hltv.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>

#include "base/archive.h"
#include "base/strutil.h"

namespace orv {

namespace {

// A cursor that reads a console text the way sscanf reads it with a format made of %d, %f, blanks and
// literal characters: a conversion skips leading white space; a blank in the format matches any amount
// of white space, none included; any other character must match exactly. Nothing is read beyond the text.
class CScanCursor {
public:
    explicit CScanCursor(std::string_view text) : m_text(text) {}

    bool Int(std::int32_t& value) {
        SkipSpace();
        size_t end = m_pos;
        if (end < m_text.size() && (m_text[end] == '+' || m_text[end] == '-')) ++end;
        const size_t digits = end;
        while (end < m_text.size() && m_text[end] >= '0' && m_text[end] <= '9') ++end;
        if (end == digits) return false;
        if (!ScanInt(m_text.substr(m_pos, end - m_pos), value)) return false;
        m_pos = end;
        return true;
    }

    bool Float(float& value) {
        SkipSpace();
        // strtof needs a terminated buffer; a number is short, so a bounded slice is enough.
        const size_t len = std::min<size_t>(m_text.size() - m_pos, 64);
        char buf[65];
        m_text.copy(buf, len, m_pos);
        buf[len] = 0;
        char* end = nullptr;
        const float f = std::strtof(buf, &end);
        // "nan", "inf" or a figure beyond a float is nothing a proxy means: the field stays as it was.
        if (end == buf || !std::isfinite(f)) return false;
        value = f;
        m_pos += static_cast<size_t>(end - buf);
        return true;
    }

    bool Literal(std::string_view format) {
        for (char c : format) {
            if (c == ' ') {
                SkipSpace();
            } else {
                if (m_pos >= m_text.size() || m_text[m_pos] != c) return false;
                ++m_pos;
            }
        }
        return true;
    }

private:
    void SkipSpace() {
        while (m_pos < m_text.size() && (m_text[m_pos] == ' ' || (m_text[m_pos] >= '\t' && m_text[m_pos] <= '\r')))
            ++m_pos;
    }

    std::string_view m_text;
    size_t m_pos = 0;
};

// a + b without overflow: the sum is held to the 32-bit range.
std::int32_t SaturatedSum(std::int32_t a, std::int32_t b) {
    const std::int64_t sum = static_cast<std::int64_t>(a) + b;
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(sum, std::numeric_limits<std::int32_t>::min(),
                                                              std::numeric_limits<std::int32_t>::max()));
}

bool InSameZone(const CCommonObject& a, const CCommonObject& b) {
    // An object without a group, or a group without a zone, lies in no zone.
    return a.group && b.group && a.group->zone && a.group->zone == b.group->zone;
}

void Centre(const CRect& r, std::int32_t& x, std::int32_t& y) {
    x = r.left + r.Width() / 2;
    y = r.top + r.Height() / 2;
}

}  // namespace

CHLTV::CHLTV(CPlatform& platform) : CHLServer(platform) {
    icon = kIcon;
}

void CHLTV::Serialize(CArchive& ar) {
    CHLServer::Serialize(ar);
    ar.Int32(exportToWeb);
    ar.String(externalHost);
    ar.Int32(externalPort);
    ar.String(proxyPassword);
    ar.Int32(autoRecord);
}

// ---- polling -------------------------------------------------------------------------------------

void CHLTV::Tick() {
    CheckTimeout();
    switch (pollPhase) {
        case 0:
            PollInfo();
            break;
        case 1:
            RepeatChallengeRequest();
            break;
        case 2:
            PollPlayers();
            break;
        case 3:
            RequestChallenge();
            break;
        case 4:
            DetectTeamTags();
            if (delay == kDelayUnknown) SendRconQuery("delay");
            break;
        case 5:
            CheckAutoRecord();
            break;
        default:
            break;
    }
    pollPhase = (pollPhase + 1) % 6;
}

// ---- answers -------------------------------------------------------------------------------------

void CHLTV::OnPacket(std::span<const std::uint8_t> datagram) {
    viewStamp = Now();
    CHLServer::OnPacket(datagram);
}

void CHLTV::OnChallenge(std::span<const std::uint8_t> datagram) {
    StoreChallenge(datagram);
    QueryStatus();
    MarkAnswered();
}

void CHLTV::OnPrintLines(const std::vector<std::string>& lines) {
    ConsoleFlags flags;
    bool refused = false;
    for (const std::string& line : lines) {
        AppendConsole(line, 0);
        ApplyConsoleLine(line, flags);
        // The proxy refused the rcon password: the server's protection, and no control is shown.
        if (BeginsWith(line, kHLBadRcon)) {
            OnBadRconPassword();
            refused = true;
        }
    }
    // A status block without a recording line: the proxy is not recording.
    if (flags.statusSeen && !flags.recordingSeen) recordingFile.clear();
    // A proxy that prints anything else in answer to rcon is in rcon use, whatever the password field says.
    if (!refused && state < kStateRcon) SetState(kStateRcon);
    MarkAnswered();
}

void CHLTV::ApplyConsoleLine(const std::string& line, ConsoleFlags& flags) {
    const std::string_view l(line);
    if (BeginsWith(l, "----- Status -----")) flags.statusSeen = true;
    if (BeginsWith(l, "Local IP ")) {
        CScanCursor in(After(l, ", Out "));
        float out;
        if (in.Float(out)) outgoingBandwidth = out;
    }
    if (BeginsWith(l, "Name ")) {
        CScanCursor in(After(l, ", Clients "));
        std::int32_t clients, slots;
        if (in.Int(clients)) {
            spectators = clients;
            if (in.Literal("/") && in.Int(slots)) spectatorSlots = slots;
        }
    }
    if (BeginsWith(l, "HLTV proxy connected to ")) serverAddress = UpTo(After(l, "HLTV proxy connected to "), ",");
    if (BeginsWith(l, "HLTV proxy disconnected.")) serverAddress.clear();
    if (BeginsWith(l, "Recording to ")) {
        recordingFile = std::string(UpTo(After(l, "Recording to "), ".dem (")) + ".dem";
        flags.recordingSeen = true;
    }
    if (BeginsWith(l, "Client delay is ")) {
        CScanCursor in(After(l, "Client delay is "));
        float value;
        if (in.Float(value)) delay = value;
    }
    if (BeginsWith(l, "Local Slots ")) {
        CScanCursor in(After(l, "Local Slots "));
        std::int32_t slots, watching, proxies;
        if (in.Int(slots)) {
            spectatorSlots = slots;
            // The sum needs both numbers; one alone changes nothing.
            if (in.Literal(", Spectators ") && in.Int(watching) && in.Literal(", Proxies ") && in.Int(proxies))
                spectators = SaturatedSum(watching, proxies);
        }
    }
    if (BeginsWith(l, "Connected to ")) serverAddress = UpTo(After(l, "("), ")");
    if (BeginsWith(l, "Local IP ")) {
        CScanCursor in(After(l, "Network In "));
        float in1, out;
        if (in.Float(in1) && in.Literal(" Out ") && in.Float(out)) outgoingBandwidth = out;
    }
    if (BeginsWith(l, "Not connected.")) serverAddress.clear();
    if (BeginsWith(l, "Source Game Server")) serverAddress = UpTo(After(l, "Source Game Server "), ",");
    if (BeginsWith(l, "Source HLTV Proxy")) serverAddress = After(l, "Source HLTV Proxy ");
    if (BeginsWith(l, "Current spectator delay is")) {
        CScanCursor in(After(l, "Current spectator delay is "));
        float value;
        if (in.Float(value)) delay = value;
    }
}

// ---- commands ------------------------------------------------------------------------------------

std::int64_t CHLTV::CycleBytes() const {
    std::int64_t bytes = WireCost("details") + WireCost("players") + WireCost("challenge rcon");
    if (!rconPassword.empty()) bytes += WireCost(RconText("status"));
    return bytes;
}

std::string CHLTV::ExternalAddressString() const {
    return orv::AddressString(externalHost, externalPort);
}

void CHLTV::SendServerPassword(const std::string& serverPassword) {
    if (!serverPassword.empty()) SendRcon("serverpassword " + serverPassword);
}

bool CHLTV::Matches(const std::string& address) const {
    return AddressString() == address || ExternalAddressString() == address;
}

void CHLTV::OnDrop(CCommonObject* target) {
    if (!target) return;
    if (const auto* proxy = dynamic_cast<const CHLTV*>(target)) {
        // Relay another proxy: its proxy password, and the address this proxy can reach it at.
        SendServerPassword(proxy->proxyPassword);
        const std::string address = InSameZone(*this, *proxy) ? proxy->AddressString() : proxy->ExternalAddressString();
        SendRcon("connect " + address);
        serverAddress.clear();
    } else if (const auto* server = dynamic_cast<const CHLServer*>(target)) {
        SendServerPassword(server->password);
        SendRcon("connect " + server->AddressString());
    } else {
        SendRcon("connect " + target->AddressString());
        serverAddress.clear();
    }
    linkedServer = target;
}

void CHLTV::OnObjectDeleted(CCommonObject* deleted) {
    if (linkedServer == deleted) linkedServer = nullptr;
}

void CHLTV::ResolveLinks(const CObjectList& objects) {
    if (serverAddress.empty() || linkedServer || !(linkNotBefore < Now())) return;
    for (const auto& o : objects) {
        if (o->Matches(serverAddress)) {
            linkedServer = o.get();
            return;
        }
    }
}

// ---- automatic recording ---------------------------------------------------------------------------

const CHLServer* CHLTV::GameServer(bool reportInternalError) const {
    std::vector<const CCommonObject*> visited{this};
    const CCommonObject* reached = linkedServer;
    while (const auto* proxy = dynamic_cast<const CHLTV*>(reached)) {
        // A chain that comes back to a proxy already visited relays no game server.
        if (std::find(visited.begin(), visited.end(), reached) != visited.end()) return nullptr;
        visited.push_back(reached);
        reached = proxy->linkedServer;
    }
    if (!reached) return nullptr;
    if (const auto* server = dynamic_cast<const CHLServer*>(reached)) return server;
    if (reportInternalError) Platform().prompter.Message(kInternalError);
    return nullptr;
}

Time CHLTV::StopDelaySeconds() const {
    // A delay not yet reported (or not a number) counts as 30 s; an absurd one is held to the 32-bit range.
    if (!(delay >= 0.0f)) return kStopMargin + kUnknownDelay;
    const double seconds = std::min<double>(delay, std::numeric_limits<std::int32_t>::max());
    return kStopMargin + static_cast<Time>(seconds);
}

void CHLTV::CheckAutoRecord() {
    if (autoRecord != 1) return;
    const CHLServer* server = GameServer(true);
    if (!server) return;
    if (server->matchRunning == 1) {
        if (!recordingFile.empty()) {
            if (m_recordTries.count > 0) ResetAutomaticNotice();  // it started recording
            m_recordTries.Reset();
        } else if (TryAutomatic(m_recordTries, "start recording")) {
            SendRconAutomatic("record " + RecordingFileName(), kPurposeRecord);
        }
        return;
    }
    m_recordTries.Reset();  // the next match is asked for again
    if (server->matchRunning == 0 && !recordingFile.empty()) {
        if (stopRecordingAt == 0) {
            stopRecordingAt = Now() + StopDelaySeconds();
        } else if (Now() > stopRecordingAt) {
            SendRconAutomatic("stoprecord", kPurposeStop);
            SendRconAutomatic("stoprecording", kPurposeStopSource);
            stopRecordingAt = 0;
        }
    }
}

std::string CHLTV::RecordingFileName() const {
    std::string teams;
    const CHLServer* server = GameServer(false);
    if (server && server->matchRunning == 1)
        teams = server->teamAName + "_" + server->teamBName;
    else
        teams = TeamTags();
    const std::tm local = Platform().clock.LocalTime(Now());
    char stamp[64] = {};
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d_%Hh%M", &local);
    std::string name = std::string(stamp) + "_" + map + "_" + teams;
    CleanFileName(name);
    return name;
}

void CHLTV::CleanFileName(std::string& text) { text = orv::CleanFileName(text); }

// ---- what the view draws -------------------------------------------------------------------------

CHLTVLinkLine CHLTV::LinkLine() const {
    CHLTVLinkLine line;
    if (state <= kStateTimeout || !linkedServer) return line;
    line.target = linkedServer;
    Centre(iconRect, line.fromX, line.fromY);
    Centre(linkedServer->iconRect, line.toX, line.toY);
    if (serverAddress.empty()) {
        line.style = CHLTVLinkStyle::DashDot;
    } else if (serverAddress == linkedServer->AddressString()) {
        line.style = CHLTVLinkStyle::Solid;
    } else if (const auto* proxy = dynamic_cast<const CHLTV*>(linkedServer)) {
        line.style = serverAddress == proxy->ExternalAddressString() ? CHLTVLinkStyle::Solid : CHLTVLinkStyle::None;
    } else {
        line.style = CHLTVLinkStyle::DashDot;
    }
    return line;
}

std::int32_t CHLTV::PlayerGaugeFill(std::int32_t height) const {
    if (serverAddress.empty()) return 0;
    return height * GaugePlayers() / kGaugeMaximum;
}

std::int32_t CHLTV::SpectatorGaugeFill(std::int32_t height) const {
    if (spectatorSlots == 0) return 0;
    // Held to the gauge: a proxy may report more spectators than slots, or odd numbers.
    const std::int64_t fill = static_cast<std::int64_t>(height) * spectators / spectatorSlots;
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(fill, 0, height));
}

std::int32_t CHLTV::BandwidthGaugeFill(std::int32_t height) const {
    // 1 and below (and a figure that is not a number) show empty: log10 would be zero, negative or undefined.
    if (!(outgoingBandwidth > 1.0f)) return 0;
    const double b = std::min<double>(outgoingBandwidth, kGaugeBandwidth);
    const double fill = height * std::log10(b) / std::log10(static_cast<double>(kGaugeBandwidth));
    return static_cast<std::int32_t>(std::clamp<double>(fill, 0.0, height));
}

std::uint32_t CHLTV::RecordingMark() const {
    if (state < kStateRcon) return 0;
    if (!recordingFile.empty()) return StopPending() ? kMarkStopPending : kMarkRecording;
    return autoRecord == 1 ? kMarkAutoRecord : 0;
}

}  // namespace orv

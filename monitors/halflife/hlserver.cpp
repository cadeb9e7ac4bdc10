#include "monitors/halflife/hlserver.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

#include "base/archive.h"
#include "base/strutil.h"

namespace orv {

namespace {
constexpr std::string_view kMatchReportLine = "nxn_match_report = ";
constexpr std::string_view kNoMatchLine = "[AMX] No match running.";
constexpr std::string_view kBadChallengeLine = "Bad challenge.";
constexpr std::string_view kStatusPlayersLine = "players :";
}  // namespace

CHLServer::CHLServer(CPlatform& platform) : CCommonObject(platform) {
    icon = kIconHalfLife;
    pollPhase = 0;
    tagDetector.minShare = 25;
    tagDetector.maxShare = 100;
    tagDetector.minMembers = 3;
    tagDetector.minPlayers = 5;
}

CHLServer::~CHLServer() = default;

void CHLServer::Serialize(CArchive& ar) { CCommonObject::Serialize(ar); }

// ---- polling -------------------------------------------------------------------------------------

void CHLServer::Tick() {
    CheckTimeout();
    if (m_tcp) m_tcp->Tick();
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
            if (m_tcp) m_tcp->CutUnfinished();
            QueryMatchReport();
            QueryStatus();
            QueryServerPassword();
            break;
        case 4:
            DetectTeamTags();
            break;
        default:
            break;
    }
    pollPhase = (pollPhase + 1) % 6;
}

void CHLServer::SetState(std::int32_t value) {
    if (value == kStateMonitor && !rconPassword.empty() && !RconOverTcp()) RequestChallenge();
    state = value;
}

void CHLServer::RepeatChallengeRequest() {
    if (state == kStateMonitor && !rconPassword.empty()) SetState(kStateMonitor);
}

void CHLServer::DetectTeamTags() {
    // Only this thread writes the tags: reading whether there are any needs no lock.
    if (!teamTags.empty()) {
        std::lock_guard guard(tagsLock);
        teamTags.clear();
    }
    if (playerNameCount < tagDetector.minPlayers) return;  // too few to tell teams apart
    const std::vector<std::string> names(playerNames.begin(), playerNames.begin() + playerNameCount);
    tagDetector.Run(names, tagsLock, teamTags);
}

std::string CHLServer::TeamTags() const {
    std::lock_guard guard(tagsLock);
    return teamTags;
}

// ---- commands ------------------------------------------------------------------------------------

std::array<std::string_view, 6> CHLServer::RconPieces(std::string_view command, std::array<char, 16>& digits) const {
    const char* end = std::to_chars(digits.data(), digits.data() + digits.size(), challenge).ptr;  // as "%lu"
    return {"rcon ", std::string_view(digits.data(), static_cast<size_t>(end - digits.data())), " \"", rconPassword,
            "\" ", command};
}

std::string CHLServer::RconText(std::string_view command) const {
    std::array<char, 16> digits;
    std::string text;
    for (std::string_view piece : RconPieces(command, digits)) text += piece;
    return text;
}

void CHLServer::SendRcon(std::string_view command) {
    if (rconPassword.empty()) return;
    if (m_tcp && m_tcp->TakesCommands()) {
        m_tcp->Command(std::string(command), InQueryScope());
        return;
    }
    std::array<char, 16> digits;
    SendOutOfBandParts(RconPieces(command, digits));  // framed in place: three of these per server and cycle
}

std::int64_t CHLServer::CycleBytes() const {
    std::int64_t bytes = WireCost("details") + WireCost("players");
    if (!rconPassword.empty() && m_tcp && m_tcp->UsesTcp())
        bytes += CHLRconTcp::WireCost("nxn_match_report") + CHLRconTcp::WireCost("status") + CHLRconTcp::WireCost("sv_password");
    else if (!rconPassword.empty())
        bytes += WireCost(RconText("nxn_match_report")) + WireCost(RconText("status")) + WireCost(RconText("sv_password"));
    return bytes;
}

void CHLServer::Kick(const std::string& playerName) {
    const bool overTcp = m_tcp && m_tcp->TakesCommands();
    if (!overTcp && SafeInCommand(playerName)) {
        SendRcon("say Kicking " + playerName);
        SendRcon("kick \"" + playerName + "\"");
        return;
    }
    // Present-day servers kick by user id; a name that would end the quoted argument or run commands of
    // its own on the server is never pasted either: its user id from the status answer stands for it.
    const auto known = std::find_if(statusPlayers.begin(), statusPlayers.end(),
                                    [&](const HLStatusPlayer& p) { return p.name == playerName; });
    if (known == statusPlayers.end()) {
        AppendConsole(overTcp && SafeInCommand(playerName)
                          ? "Orvane : no user id known for " + playerName + ", kick not sent"
                          : std::string(kKickRefusedLine),
                      0);
        return;
    }
    const std::string id = std::to_string(known->userId);
    SendRcon("say Kicking " + (SafeInCommand(playerName) ? playerName : "#" + id));
    SendRcon(overTcp ? "kickid " + id : "kick #" + id);
}

void CHLServer::RestartRound(std::int32_t count) { SendRcon(Format("sv_restartround %d", count)); }

void CHLServer::ChangeLevel(const std::string& mapName) {
    if (!mapName.empty()) SendRcon("changelevel " + mapName);
}

void CHLServer::RestartRcon() {
    challenge = 0;
    oldPasswordInFlight = true;
    if (m_tcp) m_tcp->Restart();
    if (state >= kStateMonitor) SetState(kStateMonitor);
}

void CHLServer::QueryStatus() { SendRconQuery("status"); }
void CHLServer::RequestChallenge() { SendOutOfBand("challenge rcon", CPacketKind::Handshake); }
void CHLServer::QueryPlayers() { SendQuery("players"); }
void CHLServer::QueryDetails() { SendQuery("details"); }
void CHLServer::SetServerPassword(const std::string& pw) { SendRcon("sv_password \"" + pw + "\""); }
void CHLServer::QueryServerPassword() { SendRconQuery("sv_password"); }
void CHLServer::QueryMatchReport() { SendRconQuery("nxn_match_report"); }

// ---- answers -------------------------------------------------------------------------------------

void CHLServer::OnPacket(std::span<const std::uint8_t> datagram) {
    const std::uint8_t type = AnswerType(datagram);
    if (!AdmitAnswer(type)) return;
    switch (type) {
        case kHLAnswerDetails:
            OnDetails(datagram);
            break;
        case kHLAnswerInfo:
            OnInfo(datagram);
            break;
        case kHLAnswerPlayers:
            OnPlayers(datagram);
            break;
        case kHLAnswerChallenge:
            OnChallenge(datagram);
            break;
        case kHLAnswerPrint:
            OnPrint(datagram);
            break;
        case kHLAnswerPing:
            break;
        case kA2SAnswerInfo:
            OnA2SInfo(datagram);
            break;
        case kA2SAnswerChallenge:
            OnA2SChallenge(datagram);
            break;
        default:
            ++strayDatagrams;
            break;
    }
}

void CHLServer::Answered() {
    if (state == kStateTimeout) SetState(kStateMonitor);
    MarkAnswered();
}

std::uint32_t CHLServer::IconForGameDirectory(const std::string& directory) const {
    return directory == "cstrike" ? kIconCounterStrike : kIconHalfLife;
}

void CHLServer::ApplyServerInfo(const HLServerInfo& info) {
    serverName = info.serverName;
    map = info.map;
    gameDirectory = info.gameDirectory;
    icon = IconForGameDirectory(gameDirectory);
}

void CHLServer::ApplyReportedAddress(const std::string& address) {
    if (const auto parts = SplitHLAddress(address)) {
        host = parts->host;
        port = parts->port;
    }
}

void CHLServer::ApplyPlayers(const HLPlayerList& players) {
    if (!players.accepted) return;
    playerNameCount = players.count;
    for (std::int32_t i = 0; i < players.count; ++i) playerNames[static_cast<size_t>(i)] = players.names[static_cast<size_t>(i)];
}

void CHLServer::OnDetails(std::span<const std::uint8_t> datagram) {
    const HLServerInfo info = ParseHLServerInfo(datagram);
    ApplyReportedAddress(info.address);
    ApplyServerInfo(info);
    Answered();
}

void CHLServer::OnInfo(std::span<const std::uint8_t> datagram) {
    ApplyServerInfo(ParseHLServerInfo(datagram));
    Answered();
}

void CHLServer::OnPlayers(std::span<const std::uint8_t> datagram) {
    ApplyPlayers(ParseHLPlayers(datagram));
    Answered();
}

bool CHLServer::StoreChallenge(std::span<const std::uint8_t> datagram) {
    const auto value = ParseHLChallenge(datagram);
    if (!value) return false;
    challenge = *value;
    oldPasswordInFlight = false;
    return true;
}

void CHLServer::OnChallenge(std::span<const std::uint8_t> datagram) {
    StoreChallenge(datagram);
    SetState(kStateRcon);
    QueryStatus();
    MarkAnswered();
}

void CHLServer::OnPrint(std::span<const std::uint8_t> datagram) { OnPrintLines(CutConsoleLines(HLPrintText(datagram))); }

void CHLServer::OnPrintLines(const std::vector<std::string>& lines) {
    bool refused = false;
    for (const std::string& line : lines) {
        AppendConsole(line, 0);
        OnPrintLine(line);
        refused = refused || BeginsWith(line, kHLBadRcon);
    }
    // A refusal proves no control, even one that answers a command sent with an older password.
    if (!refused && state < kStateRcon && !rconPassword.empty()) SetState(kStateRcon);
    MarkAnswered();
}

void CHLServer::OnPrintLine(const std::string& line) {
    if (auto pw = ParseServerPasswordLine(line)) password = std::move(*pw);
    if (BeginsWith(line, kMatchReportLine)) OnMatchReport(line);
    if (BeginsWith(line, kNoMatchLine)) OnNoMatchRunning();
    if (BeginsWith(line, kHLBadRcon)) OnBadRconPassword();
    if (BeginsWith(line, kBadChallengeLine)) OnBadChallenge();
    if (BeginsWith(line, kStatusPlayersLine)) statusPlayers.clear();
    if (auto player = ParseStatusPlayerLine(line); player && statusPlayers.size() < kMaxStatusPlayers)
        statusPlayers.push_back(std::move(*player));
}

void CHLServer::OnBadChallenge() {
    // The challenge went stale: ask for a fresh one, but at most once a cycle, never in a loop.
    if (rconPassword.empty() || (challengeRetried != 0 && Now() - challengeRetried < kChallengeRetrySeconds)) return;
    challengeRetried = Now();
    RequestChallenge();
}

namespace {
// Set scores come from the network: their sum is made in 64 bits and held to the 32-bit range.
std::int32_t ScoreSum(std::int32_t a, std::int32_t b) {
    const std::int64_t sum = static_cast<std::int64_t>(a) + b;
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(sum, INT32_MIN, INT32_MAX));
}
}  // namespace

std::int32_t CHLServer::TeamAScore() const { return ScoreSum(teamASet1, teamASet2); }
std::int32_t CHLServer::TeamBScore() const { return ScoreSum(teamBSet1, teamBSet2); }

void CHLServer::OnMatchReport(const std::string& line) {
    const HLMatchReport report = ParseMatchReport(line);
    teamAName = report.teamAName;
    teamBName = report.teamBName;
    // A field without a number keeps the value it had.
    if (report.matchState) matchState = *report.matchState;
    if (report.teamASet1) teamASet1 = *report.teamASet1;
    if (report.teamASet2) teamASet2 = *report.teamASet2;
    if (report.teamBSet1) teamBSet1 = *report.teamBSet1;
    if (report.teamBSet2) teamBSet2 = *report.teamBSet2;
    switch (matchState) {
        case 2:
        case 4:
            MatchStateChange(matchRunning, 1);
            break;
        case 0:
        case 1:
        case 3:
        case 5:
            MatchStateChange(matchRunning, 0);
            break;
        default:
            break;
    }
}

void CHLServer::OnNoMatchRunning() {
    MatchStateChange(matchRunning, 0);
    teamAName.clear();
    teamBName.clear();
    teamASet1 = teamBSet1 = teamASet2 = teamBSet2 = 0;
    matchState = 0;
}

void CHLServer::OnBadRconPassword() {
    // Only the first refusal disables rcon: the answers to commands already on their way refuse as well.
    if (rconPassword.empty() || oldPasswordInFlight) return;
    DisableRcon();
}

}  // namespace orv

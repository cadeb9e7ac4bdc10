#include "monitors/quake3/q3server.h"

#include "base/strutil.h"
#include "monitors/quake3/q3parse.h"

namespace orv {

CQ3Server::CQ3Server(CPlatform& platform) : CCommonObject(platform) {
    icon = kIcon;
}

void CQ3Server::Tick() {
    CheckTimeout();
    switch (pollPhase) {
        case 0:
            SendQuery("getstatus");
            break;
        case 2:
            if (state >= kStateMonitor && !rconPassword.empty()) SendRconQuery("password");
            break;
        case 3:
            SendRconQuery("score_time");
            break;
        case 4:
            SendQuery("getinfo");
            break;
        default:
            break;
    }
    pollPhase = (pollPhase + 1) % kPollCycle;
}

void CQ3Server::SendRcon(std::string_view command) {
    if (rconPassword.empty()) return;
    SendOutOfBand(Q3RconText(rconPassword, command));
}

std::int64_t CQ3Server::CycleBytes() const {
    std::int64_t bytes = WireCost("getstatus") + WireCost("getinfo");
    if (!rconPassword.empty())
        bytes += WireCost(Q3RconText(rconPassword, "password")) + WireCost(Q3RconText(rconPassword, "score_time"));
    return bytes;
}

void CQ3Server::Kick(const std::string& playerName) {
    // Pasted, such a name would end the quoted argument or run commands of its own on the server.
    if (!SafeInCommand(playerName)) return AppendConsole(kKickRefusedLine, 0);
    SendRcon("kick \"" + playerName + "\"");
}

void CQ3Server::OnPacket(std::span<const std::uint8_t> datagram) {
    const std::string text = AnswerText(datagram);
    // A console answer is consumed line by line, so at most one of the three kinds applies.
    if (BeginsWith(text, "print"))
        HandleConsoleAnswer(text);
    else if (BeginsWith(text, "infoResponse"))
        HandleInfoAnswer(text);
    else if (BeginsWith(text, "statusResponse"))
        HandleStatusAnswer(text);
}

void CQ3Server::HandleConsoleAnswer(const std::string& text) {
    for (const std::string& line : ConsoleLines(text)) {
        AppendConsole(StripColours(line), 0);
        std::string value;
        if (ParseQ3PasswordLine(line, value)) password = value;
        std::int32_t match = 0;
        if (ParseQ3ScoreLine(line, match)) MatchStateChange(matchRunning, match);
        if (BeginsWith(line, kQ3NoRconPassword)) {
            // Any further attempt would count as a bad rcon attempt and get the operator banned.
            AppendConsole(kNoRconLine1, 0);
            AppendConsole(kNoRconLine2, 0);
            rconPassword.clear();
            SetState(kStateMonitor);
        }
        if (BeginsWith(line, kQ3BadRcon) && !rconPassword.empty()) DisableRcon();
    }
    if (state <= kStateRcon && !rconPassword.empty()) SetState(kStateRcon);
    MarkAnswered();
}

void CQ3Server::HandleInfoAnswer(const std::string& text) {
    const Q3InfoAnswer a = ParseQ3InfoAnswer(text);
    maxPlayers = a.maxPlayers;
    serverName = a.serverName;
    if (state <= kStateMonitor) SetState(kStateMonitor);
    MarkAnswered();
}

void CQ3Server::HandleStatusAnswer(const std::string& text) {
    const Q3StatusAnswer a = ParseQ3StatusAnswer(text);
    serverName = a.serverName;
    maxPlayers = a.maxPlayers;
    if (a.hasPlayerList) {
        playerNameCount = a.playerCount;
        for (int i = 0; i < a.playerCount; ++i)
            playerNames[static_cast<size_t>(i)] = a.playerNames[static_cast<size_t>(i)];
    }
    if (state <= kStateMonitor) SetState(kStateMonitor);
    MarkAnswered();
}

}  // namespace orv

// The Half-Life server monitor: its answers, challenge, rcon commands, AdminBot match tracking and team
// tags, against a loopback peer playing the server (real sockets, fake clock) and raw answers. The cases
// are scripts, tests/data/hl_*.txt, run on the verbs and views of the fixture.
#include "monitor_fixture.h"
#include "monitors/halflife/hlparse.h"
#include "monitors/halflife/hlserver.h"
#include "sim/hlpeer.h"

namespace orv {
namespace {

using namespace test;

struct HLServerTest : DocFixture {
    sim::CHLPeer peer;
    CHLServer* server = Add<CHLServer>("127.0.0.1", peer.Port(), "Servers");

    void Settle() { DocFixture::Settle(*server, peer); }
    // Setters act before the shared verbs, the operator's commands after them, in this order.
    Verbs verbs = ObjectVerbs(
        server, peer,
        {{"password", [&](auto& v) { server->password = v; }},
         {"sound", [&](auto&) { doc.sound.sound.enabled = 0; }},
         {"silent", [&](auto& v) { peer.SetSilent(v == "1"); }},
         {"peer challenge", [&](auto& v) { peer.SetChallenge(v); }},
         {"peer players", [&](auto& v) { peer.SetPlayers(Split(v, ',')); }},
         {"report",
          [&](auto& v) {
              peer.SetMatchReport({"Alpha", "Beta", std::stoi(v), 7, 0, 5, 0});
          }},
         {"nomatch", [&](auto&) { peer.SetNoMatch(); }},  // the stop sound, empty names, zero scores, state 0
         {"clear tags", [&](auto&) { server->teamTags.clear(); }},
         {"names",
          [&](auto& v) {
              const auto names = Split(v, ',');
              server->playerNameCount = static_cast<std::int32_t>(names.size());
              std::copy(names.begin(), names.end(), server->playerNames.begin());
              server->DetectTeamTags();
          }}},
        {{"authenticate",
          [&](auto&) {
              server->SetState(CCommonObject::kStateMonitor);  // asks for a challenge
              Settle();
          }},
         {"clear console", [&](auto&) { server->consoleLog.Clear(); }},
         {"restart", [&](auto& v) { server->RestartRound(std::stoi(v)); }},
         {"change level", [&](auto& v) { server->ChangeLevel(v); }},
         {"set password", [&](auto& v) { server->SetServerPassword(v); }},
         {"query password", [&](auto&) { server->QueryServerPassword(); }},
         {"query report", [&](auto&) { server->QueryMatchReport(); }},
         {"kick", [&](auto& v) { server->Kick(v); }},
         {"query status", [&](auto&) { server->QueryStatus(); }},
         {"ping", [&](auto&) { server->SendOutOfBand("ping"); }},  // the peer answers 'j'
         {"flush", [&](auto&) { Settle(); }}});
    Views views = {{"sent", [&] { return SentLine(peer, peer.ExpectedChallenge()); }},
                   {"queued", [&] { return std::to_string(doc.output.Count()); }},
                   {"object",
                    [&] {
                        auto& s = *server;
                        return std::to_string(s.state) + " " + std::to_string(s.challenge) + " " +
                               std::to_string(tp.clock.now - s.lastAnswerTime) + " " + s.resolvedAddress + " " +
                               std::to_string(s.strayDatagrams) + " [" + s.password + "] [" + s.rconPassword + "]";
                    }},
                   {"peer",
                    [&] {
                        return Joined(peer.PlayerNames()) + " [" + peer.Password() + "] " +
                               Joined(peer.AcceptedCommands()) + " " + Joined(peer.RefusedCommands());
                    }},
                   {"console", [&] { return Joined(Console(*server)); }},
                   // What the details, info and players answers fill: address, [name], [map], [game directory], icon,
                   // the players' names, the gauge's players.
                   {"fields",
                    [&] {
                        auto& s = *server;
                        std::string out = s.host + ":" + std::to_string(s.port) + " [" + s.serverName + "] [" + s.map +
                                          "] [" + s.gameDirectory + "] " + std::to_string(s.icon) + " players";
                        for (int i = 0; i < s.playerNameCount; ++i)
                            out += " [" + s.playerNames[static_cast<size_t>(i)] + "]";
                        return out + " gauge " + std::to_string(s.GaugePlayers());
                    }},
                   // The match: state [password] [team A] [team B] match-state sets scores running match-mark [rcon
                   // password] [last console line] sounds.
                   {"match",
                    [&] {
                        auto& s = *server;
                        return std::to_string(s.state) + " [" + s.password + "] [" + s.teamAName + "] [" + s.teamBName +
                               "] " + std::to_string(s.matchState) + " " + std::to_string(s.teamASet1) + " " +
                               std::to_string(s.teamASet2) + " " + std::to_string(s.teamBSet1) + " " +
                               std::to_string(s.teamBSet2) + " " + std::to_string(s.TeamAScore()) + "-" +
                               std::to_string(s.TeamBScore()) + " " + std::to_string(s.matchRunning) + " " +
                               std::to_string(s.ShowsMatchMark()) + " [" + s.rconPassword + "] [" +
                               (s.consoleLog.count ? Console(s).back() : "") + "] " + Joined(tp.sound.played);
                    }},
                   {"tags", [&] { return server->TeamTags(); }}};
};

TEST_F(HLServerTest, ChallengeAndRconCommands) {
    RunScript("hl_challenge.txt", verbs, views);
}

TEST_F(HLServerTest, AnswersPingsAndStrays) {
    peer.SetAddress("10.0.0.2:900");
    peer.SetPlayerRecords({{"John Doe", 12, 61.5f}, {"Jane", -1, 3.0f}, {"", 0, 0.0f}});
    RunScript("hl_answers.txt", verbs, views);
}

TEST_F(HLServerTest, ConsoleLinesAndThePasswordLine) {
    RunScript("hl_password.txt", verbs, views);
    EXPECT_FALSE(ParseServerPasswordLine("sv_password is \"x\""));
}

TEST_F(HLServerTest, MatchReports) {
    RunScript("hl_matchreport.txt", verbs, views);
    EXPECT_FALSE(ParseMatchReport("nxn_match_report = \"A;B\"").matchState);
    // Team scores from the network add in 64 bits and stay in range.
    std::tie(server->teamASet1, server->teamASet2, server->teamBSet1, server->teamBSet2) =
        std::tuple(INT32_MAX, 5, INT32_MIN, -5);
    EXPECT_EQ(std::tuple(server->TeamAScore(), server->TeamBScore()), std::tuple(INT32_MAX, INT32_MIN));
}

TEST_F(HLServerTest, MatchStatesAndTeamTags) {
    for (auto file : {"hl_matchstates.txt", "hl_teamtags.txt"}) RunScript(file, verbs, views);
}

}  // namespace
}  // namespace orv

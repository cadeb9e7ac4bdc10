// The Half-Life server monitor: its answers, challenge, rcon commands, AdminBot match tracking and team
// tags, against a loopback peer playing the server (real sockets, fake clock) and raw answers.
#include "monitor_fixture.h"
#include "monitors/halflife/hlparse.h"
#include "monitors/halflife/hlserver.h"
#include "sim/hlpeer.h"

namespace orv {
namespace {

using namespace test;

// An answer as the server sends it: FF FF FF FF + bytes.
std::string Answer(const std::string& bytes) {
    return kOob + bytes;
}
const std::string kDetails = Answer(
    "m10.0.0.2:900\0My Server\0de_dust2\0cstrike\0Counter-Strike\0\x05\x10\x2F"
    "dl\0\0\x01\0"s);

struct HLServerTest : DocFixture {
    sim::CHLPeer peer;
    CHLServer* server = Add<CHLServer>("127.0.0.1", peer.Port(), "Servers");

    void Deliver(const std::string& bytes) { server->OnPacket(Bytes(bytes)); }
    void Settle() { DocFixture::Settle(*server, peer); }
    // State 3 through the peer's challenge; the console emptied.
    void Authenticate(const std::string& rcon = "secret") {
        server->rconPassword = rcon;
        server->SetState(CCommonObject::kStateMonitor);  // asks for a challenge
        Settle();
        ASSERT_EQ(server->state, 3);
        server->consoleLog.Clear();
    }
    std::string Rcon(const std::string& command) {
        return Framed("rcon " + std::to_string(peer.ExpectedChallenge()) + " \"secret\" " + command);
    }
    // A row of a script: an answer (FF FF FF FF first), after the server password it names.
    void Step(Row& r) {
        if (r.count("password")) server->password = r["password"];
        if (r.count("sound")) doc.sound.sound.enabled = 0;
        if (r.count("report")) peer.SetMatchReport({"Alpha", "Beta", std::stoi(r["report"]), 7, 0, 5, 0});
        if (r.count("nomatch")) peer.SetNoMatch();  // the stop sound, empty names, zero scores, state 0
        if (r.count("report") || r.count("nomatch")) {
            server->QueryMatchReport();
            Settle();
        }
        if (r.count("deliver")) Deliver(Answer(r["deliver"]));
    }
    std::string Dump() {
        auto& s = *server;
        return std::to_string(s.state) + " [" + s.password + "] [" + s.teamAName + "] [" + s.teamBName + "] " +
               std::to_string(s.matchState) + " " + std::to_string(s.teamASet1) + " " + std::to_string(s.teamASet2) +
               " " + std::to_string(s.teamBSet1) + " " + std::to_string(s.teamBSet2) + " " +
               std::to_string(s.TeamAScore()) + "-" + std::to_string(s.TeamBScore()) + " " +
               std::to_string(s.matchRunning) + " " + std::to_string(s.ShowsMatchMark()) + " [" + s.rconPassword +
               "] [" + (s.consoleLog.count ? Console(s).back() : "") + "] " + Joined(tp.sound.played);
    }
};

TEST_F(HLServerTest, ChallengesAreEchoedUnsigned) {
    for (auto [printed, stored] : {std::pair{"3000000000", 3000000000u}, {"-1234", 4294966062u}, {"42", 42u}}) {
        peer.SetChallenge(printed);
        peer.ClearReceived();
        server->state = 1;
        Authenticate();
        EXPECT_EQ(server->challenge, stored) << printed;
        EXPECT_EQ(peer.AcceptedCommands(), std::vector<std::string>{"status"});  // asked at once, with the new number
        EXPECT_TRUE(Has(peer.Received(), Framed("rcon " + std::to_string(stored) + " \"secret\" status")));
    }
    EXPECT_TRUE(peer.RefusedCommands().empty());
    // An answer without a number keeps the old one, but grants state 3.
    server->state = 2;
    for (auto text : {"challenge rcon x\n", "challenge rc"}) Deliver(Answer(text));
    EXPECT_EQ(std::tuple(server->challenge, server->state), std::tuple(42u, 3));
    Deliver(Answer("challenge rcon  77\n"));
    EXPECT_EQ(server->challenge, 77u);
}

TEST_F(HLServerTest, RconCommandsAndSilenceWithoutPassword) {
    peer.SetPlayers({"John Doe", "Jane"});
    auto commands = [&] {
        server->RestartRound(3);
        server->ChangeLevel("");  // an empty map sends nothing
        server->ChangeLevel("de_nuke");
        server->SetServerPassword("pw 1");
        server->QueryServerPassword();
        server->QueryMatchReport();
        server->Kick("John Doe");
    };
    commands();
    server->QueryStatus();
    EXPECT_EQ(doc.output.Count(), 0);  // no rcon password: nothing at all
    Authenticate();
    peer.ClearReceived();
    commands();
    Settle();
    // The operator's commands in order, ahead of the queries (the password read back, the match report).
    EXPECT_EQ(Sent(peer),
              (std::vector<std::string>{Rcon("sv_restartround 3"), Rcon("changelevel de_nuke"),
                                        Rcon("sv_password \"pw 1\""), Rcon("say Kicking John Doe"),
                                        Rcon("kick \"John Doe\""), Rcon("sv_password"), Rcon("nxn_match_report")}));
    EXPECT_EQ(peer.PlayerNames(), std::vector<std::string>{"Jane"});
    EXPECT_EQ(peer.Password(), "pw 1");
    EXPECT_EQ(server->password, "pw 1");  // read back from the server's answer
    server->SetServerPassword("");
    server->QueryServerPassword();
    Settle();
    EXPECT_EQ(server->password, "");
    EXPECT_TRUE(Has(Console(*server), "\"sv_password\" is \"pw 1\""));
}

// What the details, info and players answers fill: address, [name], [map], [game directory], icon, and
// the players' names.
std::string Fields(const CHLServer& s) {
    std::string out = s.host + ":" + std::to_string(s.port) + " [" + s.serverName + "] [" + s.map + "] [" +
                      s.gameDirectory + "] " + std::to_string(s.icon) + " players";
    for (int i = 0; i < s.playerNameCount; ++i) out += " [" + s.playerNames[static_cast<size_t>(i)] + "]";
    return out;
}

TEST_F(HLServerTest, QueryAnswersRowByRow) {
    peer.SetAddress("10.0.0.2:900");
    peer.SetPlayerRecords({{"John Doe", 12, 61.5f}, {"Jane", -1, 3.0f}, {"", 0, 0.0f}});
    server->Tick();  // phase 0: details
    server->Tick();
    server->Tick();  // phase 2: players
    Settle();
    EXPECT_EQ(Fields(*server),
              "10.0.0.2:900 [Orvane Test Server] [de_dust2] [cstrike] 154 players [John Doe] [Jane] []");
    EXPECT_EQ(std::tuple(server->state, server->lastAnswerTime, server->resolvedAddress),
              std::tuple(2, tp.clock.now, "127.0.0.1"));
    EXPECT_EQ(Sent(peer),
              (std::vector<std::string>{Framed("details"), Framed("TSource Engine Query"),
                                        Framed("players")}));  // no password: no challenge; A2S_INFO until the
                                                               // first answer tells the dialect
    std::string twenty = "D\x14";
    for (int i = 0; i < 20; ++i) twenty += std::string(1, static_cast<char>(i)) + "p" + std::string(9, '\0');
    for (auto& row : Rows("hl_answers.txt")) {
        Deliver(Answer(row["answer"]));
        EXPECT_EQ(Fields(*server), row["fields"]) << row["answer"];
    }
    Deliver(Answer(twenty));
    EXPECT_EQ(std::tuple(server->playerNameCount, server->GaugePlayers()), std::tuple(20, 14));  // the gauge holds 14
}

TEST_F(HLServerTest, PingAnswersDoNotCountAndOtherTypesAreStrays) {
    Deliver(kDetails);
    const Time answered = server->lastAnswerTime;
    for (int i = 0; i < 11; ++i) {
        tp.clock.Advance(1);
        Deliver(Answer("j\0"s));
    }
    server->SendOutOfBand("ping");  // the peer answers 'j' too
    Settle();
    EXPECT_EQ(std::tuple(server->lastAnswerTime, server->strayDatagrams), std::tuple(answered, 0u));
    server->pollPhase = 5;
    server->Tick();
    EXPECT_EQ(server->state, 1);
    Deliver(Answer("x"));
    Deliver(kOob);  // byte 4 is the zero behind the datagram
    EXPECT_EQ(std::tuple(server->strayDatagrams, server->state), std::tuple(2u, 1));
}

TEST_F(HLServerTest, ChallengeAskedOnEnteringStateTwoAndInPhaseOneUntilGranted) {
    peer.SetSilent(true);
    server->state = 2;
    server->pollPhase = 1;
    server->lastAnswerTime = tp.clock.now + 1;
    server->Tick();  // no password
    server->rconPassword = "secret";
    server->pollPhase = 1;
    server->Tick();
    server->state = 3;
    server->pollPhase = 1;
    server->Tick();
    Settle();
    EXPECT_EQ(Sent(peer), std::vector<std::string>{Framed("challenge rcon")});
    // After a time-out, the first answer asks for a challenge again.
    peer.SetSilent(false);
    peer.ClearReceived();
    server->state = 1;
    server->pollPhase = 0;
    server->Tick();
    Settle();
    EXPECT_EQ(server->state, 3);
    const auto sent = Sent(peer);
    ASSERT_GE(sent.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(sent.begin(), sent.begin() + 4),
              (std::vector<std::string>{Framed("details"), Framed("TSource Engine Query"), Framed("challenge rcon"),
                                        Rcon("status")}));
}

TEST_F(HLServerTest, PrintAnswerLinesAndThePasswordLine) {
    Deliver(Answer("lfirst line\n\nsecond\nunterminated\0after zero\n"s));
    EXPECT_EQ(Console(*server), (std::vector<std::string>{"first line", "second"}));
    EXPECT_EQ(std::tuple(server->state, server->lastAnswerTime),
              std::tuple(1, tp.clock.now));  // no password: state kept
    RunScript("hl_password.txt", [&](Row& r) { Step(r); }, [&] { return Dump(); });
    EXPECT_FALSE(ParseServerPasswordLine("sv_password is \"x\""));
    // With a password, any print answer grants state 3.
    server->rconPassword = "r";
    server->state = 2;
    Deliver(Answer("lUnknown command: foo\n"));
    EXPECT_EQ(server->state, 3);
}

TEST_F(HLServerTest, MatchReportStartsStopsAndRestartsTheMatch) {
    Authenticate();
    RunScript("hl_matchstates.txt", [&](Row& r) { Step(r); }, [&] { return Dump(); });
}

TEST_F(HLServerTest, MatchReportFieldsWithoutNumbersKeepTheirValues) {
    RunScript("hl_matchreport.txt", [&](Row& r) { Step(r); }, [&] { return Dump(); });
    EXPECT_FALSE(ParseMatchReport("nxn_match_report = \"A;B\"").matchState);
    // Team scores from the network add in 64 bits and stay in range.
    std::tie(server->teamASet1, server->teamASet2, server->teamBSet1, server->teamBSet2) =
        std::tuple(INT32_MAX, 5, INT32_MIN, -5);
    EXPECT_EQ(std::tuple(server->TeamAScore(), server->TeamBScore()), std::tuple(INT32_MAX, INT32_MIN));
}

TEST_F(HLServerTest, TeamTags) {
    for (auto& row : Rows("hl_teamtags.txt")) {
        const auto names = Split(row["names"], ',');
        server->playerNameCount = static_cast<std::int32_t>(names.size());
        std::copy(names.begin(), names.end(), server->playerNames.begin());
        server->DetectTeamTags();
        EXPECT_EQ(server->TeamTags(), row["tags"]) << row["names"];
    }
    // On phase 4, from the players the peer reported on phase 2.
    peer.SetPlayers({"CD|y1", "CD|y2", "CD|y3", "CD|y4", "CD|y5", "[AB]x1", "[AB]x2", "[AB]x3", "[AB]x4", "[AB]x5"});
    server->teamTags.clear();
    server->pollPhase = 2;
    server->Tick();
    Settle();
    server->Tick();
    EXPECT_EQ(server->teamTags, "");
    server->Tick();  // phase 4
    EXPECT_EQ(server->teamTags, "CD|y, [AB]x");
}

}  // namespace
}  // namespace orv

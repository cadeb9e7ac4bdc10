// The Half-Life server monitor: its datagrams, answers, rcon, AdminBot match tracking and team tags,
// against a loopback peer playing the server (real sockets, fake clock), plus the parsers on raw bytes.
#include <gtest/gtest.h>

#include <algorithm>

#include "base/archive.h"
#include "document/document.h"
#include "fakes.h"
#include "monitors/halflife/hlparse.h"
#include "monitors/halflife/hlserver.h"
#include "net/outputcontrol.h"
#include "sim/hlpeer.h"

namespace orv {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;

// FF FF FF FF + text + the zero byte every outgoing datagram ends with.
std::string Framed(const std::string& text) { return std::string(4, '\xFF') + text + std::string(1, '\0'); }
// An answer as the server sends it: FF FF FF FF + bytes.
std::string Answer(const std::string& bytes) { return std::string(4, '\xFF') + bytes; }

std::span<const std::uint8_t> Bytes(const std::string& s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

// The console log's lines, oldest first.
std::vector<std::string> Console(const CCommonObject& o) {
    return {o.consoleLog.text.begin(), o.consoleLog.text.begin() + o.consoleLog.count};
}

bool HasText(const std::vector<std::string>& received, const std::string& datagram) {
    return std::find(received.begin(), received.end(), datagram) != received.end();
}

const std::string kDetailsExample = Answer(("m10.0.0.2:900\0My Server\0de_dust2\0cstrike\0Counter-Strike\0"s) +
                                           ("\x05\x10\x2F" "dl\0\0\x01\0"s));

struct HLServerFixture : ::testing::Test {
    test::TestPlatform tp;
    COutputSocketControl output;  // not started: Flush sends what is queued
    CSoundHolder sound{tp.sound};
    sim::CHLPeer peer;
    std::unique_ptr<CHLServer> server;

    void SetUp() override {
        ASSERT_TRUE(peer.Ok());
        output.SetLimit(80'000'000);
        server = std::make_unique<CHLServer>(tp.platform);
        server->host = "127.0.0.1";
        server->port = static_cast<std::uint32_t>(peer.Port());
        server->output = &output;
        server->sound = &sound;
        server->CreateSocket();
        ASSERT_EQ(server->resolvedAddress, "127.0.0.1");
    }
    void TearDown() override { server.reset(); }

    void Flush() {
        while (output.Count() > 0) output.RunWindow();
    }
    // Sends what is queued and lets answers arrive until cond holds.
    bool RunUntil(const std::function<bool()>& cond, std::chrono::milliseconds limit = 3s) {
        return tp.loop.RunUntil([&] {
            Flush();
            return cond();
        }, limit);
    }
    void Tick(Time advance = 1) {
        tp.clock.Advance(advance);
        server->Tick();
    }
    // Queued datagrams of one tick, as text.
    std::vector<std::string> TickAndTake(Time advance = 1) {
        const size_t before = peer.ReceivedCount();
        Tick(advance);
        const size_t queued = static_cast<size_t>(output.Count());
        Flush();
        EXPECT_TRUE(peer.WaitForCount(before + queued, 2s));
        auto all = peer.Received();
        return {all.begin() + static_cast<std::ptrdiff_t>(before), all.end()};
    }
    // Brings the server to state 3 through the peer's challenge.
    void Authenticate(const std::string& rcon = "secret") {
        server->rconPassword = rcon;
        server->SetState(CCommonObject::kStateMonitor);  // requests a challenge
        ASSERT_TRUE(RunUntil([&] { return server->state == CCommonObject::kStateRcon && server->consoleLog.count > 0; }));
        // The peer records a datagram once it has answered it.
        ASSERT_TRUE(peer.WaitFor([](const std::vector<std::string>& r) { return !r.empty() && r.back().ends_with("status"s + '\0'); }, 2s));
        server->consoleLog.Clear();
    }
    void Deliver(const std::string& bytes) { server->OnPacket(Bytes(bytes)); }
};

// ---- construction and the wire ---------------------------------------------------------------------

TEST_F(HLServerFixture, StartsAtPhaseZeroWithTheHalfLifeIconAndSavesOnlyTheSharedFields) {
    EXPECT_STREQ(server->ClassName(), "CHLServer");
    EXPECT_EQ(server->Schema(), 10);
    EXPECT_EQ(server->pollPhase, 0);
    EXPECT_EQ(server->icon, 160u);
    EXPECT_EQ(server->state, 1);
    EXPECT_EQ(server->teamAName, "?");
    EXPECT_EQ(server->teamBName, "?");
    EXPECT_TRUE(server->IsGameServer());

    server->rconPassword = "rc";
    server->password = "pw";
    server->serverName = "not saved";
    server->map = "not saved";
    CArchive ar;
    server->Serialize(ar);
    CArchive expected;
    std::string host = "127.0.0.1", rc = "rc", pw = "pw";
    std::uint32_t p = static_cast<std::uint32_t>(peer.Port()), gid = 0;
    expected.String(host);
    expected.UInt32(p);
    expected.UInt32(gid);
    expected.String(rc);
    expected.String(pw);
    EXPECT_EQ(ar.Data(), expected.Data());
}

TEST_F(HLServerFixture, QueriesLeaveAsExactBytes) {
    peer.SetSilent(true);
    EXPECT_EQ(TickAndTake(), (std::vector<std::string>{("\xFF\xFF\xFF\xFF" "details\0"s),  // phase 0, and A2S_INFO
                                                       ("\xFF\xFF\xFF\xFF" "TSource Engine Query\0"s)}));
    EXPECT_TRUE(TickAndTake().empty());                                                                     // phase 1
    EXPECT_EQ(TickAndTake(), std::vector<std::string>{("\xFF\xFF\xFF\xFF" "players\0"s)});  // phase 2
    EXPECT_TRUE(TickAndTake().empty());  // phase 3: no rcon password, no rcon
    EXPECT_TRUE(TickAndTake().empty());  // phase 4: team tags only
    EXPECT_TRUE(TickAndTake().empty());  // phase 5
    EXPECT_EQ(server->pollPhase, 0);

    server->RequestChallenge();
    Flush();
    ASSERT_TRUE(peer.WaitForCount(4, 2s));
    EXPECT_EQ(peer.Received()[3], ("\xFF\xFF\xFF\xFF" "challenge rcon\0"s));
}

TEST_F(HLServerFixture, RconCarriesChallengeZeroBeforeAnyChallengeAnswer) {
    peer.SetSilent(true);
    server->rconPassword = "secret";
    server->pollPhase = 3;
    const auto sent = TickAndTake();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0], Framed("rcon 0 \"secret\" nxn_match_report"));
    EXPECT_EQ(sent[1], Framed("rcon 0 \"secret\" status"));
    EXPECT_EQ(sent[2], Framed("rcon 0 \"secret\" sv_password"));
    EXPECT_EQ(sent[1], ("\xFF\xFF\xFF\xFF" "rcon 0 \"secret\" status\0"s));
}

TEST_F(HLServerFixture, ChallengesBeyondSignedRangeAndNegativeAreEchoedUnsigned) {
    struct Case {
        std::string printed;
        std::uint32_t stored;
    };
    for (const Case& c : {Case{"3000000000", 3000000000u}, Case{"-1234", 4294966062u}, Case{"42", 42u}}) {
        SCOPED_TRACE(c.printed);
        peer.SetChallenge(c.printed);
        peer.ClearReceived();
        server->state = 1;
        server->consoleLog.Clear();
        Authenticate();
        EXPECT_EQ(server->challenge, c.stored);
        // The challenge answer itself asks for the status, with the new number.
        const auto received = peer.Received();
        EXPECT_TRUE(HasText(received, Framed("rcon " + std::to_string(c.stored) + " \"secret\" status")));
        EXPECT_EQ(peer.AcceptedCommands(), std::vector<std::string>{"status"});
        EXPECT_TRUE(peer.RefusedCommands().empty());
    }
}

TEST_F(HLServerFixture, KickSendsSayThenQuotedKick) {
    peer.SetPlayers({"John Doe", "Jane"});
    Authenticate();
    peer.ClearReceived();
    server->Kick("John Doe");
    EXPECT_EQ(output.Count(), 2);
    Flush();
    ASSERT_TRUE(peer.WaitForCount(2, 2s));
    const auto r = peer.Received();
    EXPECT_EQ(r[0], Framed("rcon " + std::to_string(peer.ExpectedChallenge()) + " \"secret\" say Kicking John Doe"));
    EXPECT_EQ(r[1], Framed("rcon " + std::to_string(peer.ExpectedChallenge()) + " \"secret\" kick \"John Doe\""));
    EXPECT_EQ(peer.AcceptedCommands(), (std::vector<std::string>{"say Kicking John Doe", "kick \"John Doe\""}));
    EXPECT_EQ(peer.PlayerNames(), std::vector<std::string>{"Jane"});
}

TEST_F(HLServerFixture, CommandSetTextsAndSilenceWithoutRconPassword) {
    peer.SetSilent(true);
    server->RestartRound(3);
    server->ChangeLevel("de_nuke");
    server->SetServerPassword("pw 1");
    server->QueryServerPassword();
    server->QueryStatus();
    server->QueryMatchReport();
    server->Kick("x");
    EXPECT_EQ(output.Count(), 0);  // no rcon password: nothing at all

    server->rconPassword = "r";
    server->challenge = 7;
    server->RestartRound(3);
    server->ChangeLevel("");  // an empty map sends nothing
    server->ChangeLevel("de_nuke");
    server->SetServerPassword("pw 1");
    server->QueryServerPassword();
    server->QueryStatus();
    server->QueryMatchReport();
    Flush();
    ASSERT_TRUE(peer.WaitForCount(6, 2s));
    EXPECT_EQ(peer.Received(), (std::vector<std::string>{
                                   Framed("rcon 7 \"r\" sv_restartround 3"), Framed("rcon 7 \"r\" changelevel de_nuke"),
                                   Framed("rcon 7 \"r\" sv_password \"pw 1\""), Framed("rcon 7 \"r\" sv_password"),
                                   Framed("rcon 7 \"r\" status"), Framed("rcon 7 \"r\" nxn_match_report")}));
}

// ---- query answers ---------------------------------------------------------------------------------

TEST_F(HLServerFixture, SilentServerStaysInStateOne) {
    peer.SetSilent(true);
    for (int i = 0; i < 12; ++i) {
        Tick();
        if (i == 5) Flush();  // a query still waiting is not queued twice
    }
    Flush();
    ASSERT_TRUE(peer.WaitForCount(6, 2s));
    tp.loop.RunOnce(50ms);
    EXPECT_EQ(server->state, 1);
    EXPECT_EQ(server->lastAnswerTime, 0);
    // Details (with A2S_INFO until a first answer tells the dialect) and players once per six ticks each.
    EXPECT_EQ(peer.Received(), (std::vector<std::string>{Framed("details"), Framed("TSource Engine Query"),
                                                         Framed("players"), Framed("details"),
                                                         Framed("TSource Engine Query"), Framed("players")}));
}

TEST_F(HLServerFixture, DetailsExampleSetsAddressFieldsIconAndState) {
    peer.SetAddress("10.0.0.2:900");
    peer.SetServerName("My Server");
    peer.SetMap("de_dust2");
    peer.SetGameDirectory("cstrike");
    peer.SetDescription("Counter-Strike");
    peer.SetPlayers({"a", "b", "c", "d", "e"});
    EXPECT_EQ(peer.DetailsAnswer(), kDetailsExample);  // the peer speaks the server's bytes

    Tick();  // phase 0: details
    ASSERT_TRUE(RunUntil([&] { return server->state == 2; }));
    EXPECT_EQ(server->host, "10.0.0.2");
    EXPECT_EQ(server->port, 900u);
    EXPECT_EQ(server->serverName, "My Server");
    EXPECT_EQ(server->map, "de_dust2");
    EXPECT_EQ(server->gameDirectory, "cstrike");
    EXPECT_EQ(server->icon, 154u);
    EXPECT_EQ(server->lastAnswerTime, tp.clock.now);
    // The socket is not re-created: it still talks to the peer.
    EXPECT_EQ(server->resolvedAddress, "127.0.0.1");
    EXPECT_EQ(output.Count(), 0);  // no rcon password: no challenge request
}

TEST_F(HLServerFixture, IconDependsOnExactGameDirectory) {
    for (const auto& [dir, icon] : std::vector<std::pair<std::string, std::uint32_t>>{
             {"valve", 160}, {"Cstrike", 160}, {"cstrike ", 160}, {"", 160}, {"cstrike", 154}}) {
        Deliver(Answer("m1.2.3.4:5" + std::string(1, '\0') + "n" + std::string(1, '\0') + "m" + std::string(1, '\0') +
                       dir + std::string(1, '\0') + "d" + std::string(1, '\0')));
        EXPECT_EQ(server->icon, icon) << dir;
        EXPECT_EQ(server->gameDirectory, dir);
    }
}

TEST_F(HLServerFixture, InfoAnswerLeavesHostAndPort) {
    Deliver(Answer(("C10.0.0.9:27015\0Info Name\0de_inferno\0cstrike\0Counter-Strike\0\x03\x10\x2F"s)));
    EXPECT_EQ(server->host, "127.0.0.1");
    EXPECT_EQ(server->port, static_cast<std::uint32_t>(peer.Port()));
    EXPECT_EQ(server->serverName, "Info Name");
    EXPECT_EQ(server->map, "de_inferno");
    EXPECT_EQ(server->gameDirectory, "cstrike");
    EXPECT_EQ(server->icon, 154u);
    EXPECT_EQ(server->state, 2);
    EXPECT_EQ(server->lastAnswerTime, tp.clock.now);

    // The peer's info answer over the socket as well.
    peer.SetServerName("From Peer");
    server->SendOutOfBand("info");
    ASSERT_TRUE(RunUntil([&] { return server->serverName == "From Peer"; }));
    EXPECT_EQ(server->host, "127.0.0.1");
}

TEST_F(HLServerFixture, ReportedAddressWithoutHostColonAndPortKeepsHostAndPort) {
    const std::uint32_t port = server->port;
    for (const std::string address : {"10.0.0.2", "10.0.0.2:", "10.0.0.2:x", ":900", "10.0.0.2:70000", "10.0.0.2:-1", ""}) {
        Deliver(Answer("m" + address + std::string(1, '\0') + "Name" + std::string(1, '\0')));
        EXPECT_EQ(server->host, "127.0.0.1") << address;
        EXPECT_EQ(server->port, port) << address;
        EXPECT_EQ(server->serverName, "Name");
    }
    Deliver(Answer(("m10.0.0.3:27016 extra\0N\0"s)));  // a leading number, as %d reads it
    EXPECT_EQ(server->host, "10.0.0.3");
    EXPECT_EQ(server->port, 27016u);
}

TEST_F(HLServerFixture, TruncatedDetailsReadMissingStringsAsEmpty) {
    server->map = "old";
    server->gameDirectory = "cstrike";
    Deliver(Answer("m1.2.3.4:5" + std::string(1, '\0') + "Cut Na"));  // the name runs to the end
    EXPECT_EQ(server->serverName, "Cut Na");
    EXPECT_EQ(server->map, "");
    EXPECT_EQ(server->gameDirectory, "");
    EXPECT_EQ(server->icon, 160u);
    EXPECT_EQ(server->port, 5u);
    Deliver(Answer("m"));
    EXPECT_EQ(server->serverName, "");
    EXPECT_EQ(server->host, "1.2.3.4");
}

TEST_F(HLServerFixture, PlayersAnswers) {
    peer.SetPlayerRecords({{"John Doe", 12, 61.5f}, {"Jane", -1, 3.0f}, {"", 0, 0.0f}});
    Tick();   // details
    Tick();
    Tick();   // players
    ASSERT_TRUE(RunUntil([&] { return server->playerNameCount == 3; }));
    EXPECT_EQ(server->playerNames[0], "John Doe");
    EXPECT_EQ(server->playerNames[1], "Jane");
    EXPECT_EQ(server->playerNames[2], "");
    EXPECT_EQ(peer.PlayersAnswer(), Answer(("D\x03\x01John Doe\0\x0C\0\0\0\0\0\x76\x42"
                                                       "\x02Jane\0\xFF\xFF\xFF\xFF\0\0\x40\x40\x03\0\0\0\0\0\0\0\0\0"s)));

    // Count 33: list and count stay, the answer still counts.
    tp.clock.Advance(5);
    Deliver(Answer(("D\x21\x01Z\0\0\0\0\0\0\0\0\0"s)));
    EXPECT_EQ(server->playerNameCount, 3);
    EXPECT_EQ(server->playerNames[0], "John Doe");
    EXPECT_EQ(server->lastAnswerTime, tp.clock.now);

    // Count 0 empties the list; the gauge follows.
    Deliver(Answer(("D\0"s)));
    EXPECT_EQ(server->playerNameCount, 0);
    EXPECT_EQ(server->GaugePlayers(), 0);

    // Records missing from a truncated answer are empty names; a name cut short ends at the datagram's end.
    Deliver(Answer(("D\x04\x01" "Ann\0\x01\0\0\0\0\0\0\0\x02" "Bo"s)));
    EXPECT_EQ(server->playerNameCount, 4);
    EXPECT_EQ(server->playerNames[0], "Ann");
    EXPECT_EQ(server->playerNames[1], "Bo");
    EXPECT_EQ(server->playerNames[2], "");
    EXPECT_EQ(server->playerNames[3], "");

    // A count byte that is missing reads as 0.
    Deliver(Answer("D"));
    EXPECT_EQ(server->playerNameCount, 0);

    // Twenty players fill the gauge (capped at 14).
    std::string twenty = "D\x14";
    for (int i = 0; i < 20; ++i) twenty += std::string(1, static_cast<char>(i)) + "p" + std::string(9, '\0');
    Deliver(Answer(twenty));
    EXPECT_EQ(server->playerNameCount, 20);
    EXPECT_EQ(server->GaugePlayers(), 14);
}

TEST_F(HLServerFixture, PingAnswerIsIgnoredAndOtherTypesAreStrays) {
    Deliver(kDetailsExample);
    ASSERT_EQ(server->state, 2);
    const Time answered = server->lastAnswerTime;
    // A server that only answers pings times out.
    for (int i = 0; i < 11; ++i) {
        tp.clock.Advance(1);
        peer.SendToClient(Answer(("j\0"s)));
    }
    server->SendOutOfBand("ping");  // the peer answers 'j' too
    Flush();
    ASSERT_TRUE(peer.WaitForCount(1, 2s));
    tp.loop.RunUntil([] { return false; }, 100ms);
    EXPECT_EQ(server->lastAnswerTime, answered);
    EXPECT_EQ(server->strayDatagrams, 0u);
    server->pollPhase = 5;
    server->Tick();
    EXPECT_EQ(server->state, 1);

    Deliver(Answer("x"));
    Deliver(std::string(4, '\xFF'));  // byte 4 is the zero behind the datagram
    EXPECT_EQ(server->strayDatagrams, 2u);
    EXPECT_EQ(server->state, 1);
}

TEST_F(HLServerFixture, TimeoutThenFirstAnswerRequestsAChallenge) {
    Authenticate();
    const Time answered = server->lastAnswerTime;
    peer.SetSilent(true);
    peer.ClearReceived();
    server->pollPhase = 0;
    server->Tick();  // details and A2S_INFO, unanswered
    Flush();
    ASSERT_TRUE(peer.WaitForCount(2, 2s));  // both arrived before the record is cleared below
    server->pollPhase = 5;
    tp.clock.now = answered + 10;
    server->Tick();
    EXPECT_EQ(server->state, 3);  // ten seconds since it left: still fine
    tp.clock.now = answered + 11;
    server->pollPhase = 5;
    server->Tick();
    EXPECT_EQ(server->state, 1);
    EXPECT_EQ(output.Count(), 0);
    peer.ClearReceived();
    peer.SetSilent(false);
    server->pollPhase = 0;
    server->Tick();  // details
    ASSERT_TRUE(RunUntil([&] { return server->state == 3; }));
    ASSERT_TRUE(peer.WaitForCount(4, 2s));  // details, A2S_INFO, challenge rcon, status
    const auto r = peer.Received();
    EXPECT_EQ(r[0], Framed("details"));
    EXPECT_EQ(r[2], Framed("challenge rcon"));
}

TEST_F(HLServerFixture, PhaseOneRepeatsTheChallengeOnlyInStateTwoWithAPassword) {
    peer.SetSilent(true);
    server->pollPhase = 1;
    server->state = 2;
    server->lastAnswerTime = tp.clock.now + 1;
    EXPECT_TRUE(TickAndTake().empty());  // no password
    server->rconPassword = "secret";
    server->pollPhase = 1;
    EXPECT_EQ(TickAndTake(), std::vector<std::string>{Framed("challenge rcon")});
    EXPECT_EQ(server->state, 2);
    server->state = 3;
    server->pollPhase = 1;
    EXPECT_TRUE(TickAndTake().empty());
}

TEST_F(HLServerFixture, ChallengeWithoutNumberKeepsTheOldOneButGrantsState3) {
    server->challenge = 99;
    Deliver(Answer("challenge rcon x\n"));
    EXPECT_EQ(server->challenge, 99u);
    EXPECT_EQ(server->state, 3);
    Deliver(Answer("challenge rc"));  // ends before offset 19
    EXPECT_EQ(server->challenge, 99u);
    Deliver(Answer("challenge rcon  77\n"));
    EXPECT_EQ(server->challenge, 77u);
}

// ---- print answers ---------------------------------------------------------------------------------

TEST_F(HLServerFixture, PrintAnswerLinesAndPasswordReadBack) {
    Deliver(Answer(("lfirst line\n\nsecond\n"s) + "unterminated" + std::string(1, '\0') + "after zero\n"));
    EXPECT_EQ(Console(*server), (std::vector<std::string>{"first line", "second"}));
    EXPECT_EQ(server->state, 1);  // no rcon password: the state is left alone
    EXPECT_EQ(server->lastAnswerTime, tp.clock.now);

    Deliver(Answer("l\"sv_password\" is \"abc def\"\n"));
    EXPECT_EQ(server->password, "abc def");
    Deliver(Answer("l\"sv_password\" is \"\"\n"));
    EXPECT_EQ(server->password, "");
    server->password = "x";
    Deliver(Answer("l\"sv_password\" is \"open\n"));  // closing quote missing
    EXPECT_EQ(server->password, "");
    server->password = "x";
    Deliver(Answer("l\"sv_password\" is:\"y\"\n"));  // no space-quote after the 16 characters
    EXPECT_EQ(server->password, "");
    server->password = "x";
    Deliver(Answer("l \"sv_password\" is \"y\"\n"));  // does not begin the line
    Deliver(Answer("l\"sv_password\" is \"z\""));     // no line feed: no line
    EXPECT_EQ(server->password, "x");

    // With a password, any print answer grants state 3.
    server->rconPassword = "r";
    server->state = 2;
    Deliver(Answer("lUnknown command: foo\n"));
    EXPECT_EQ(server->state, 3);
}

TEST_F(HLServerFixture, ServerPasswordComesBackFromThePeer) {
    peer.SetPassword("match pw");
    Authenticate();
    server->QueryServerPassword();
    ASSERT_TRUE(RunUntil([&] { return server->password == "match pw"; }));
    server->SetServerPassword("");
    server->QueryServerPassword();
    ASSERT_TRUE(RunUntil([&] { return peer.Password().empty() && server->password.empty(); }));
    EXPECT_EQ(Console(*server).front(), "\"sv_password\" is \"match pw\"");
}

TEST_F(HLServerFixture, WrongPasswordDisablesRconOnce) {
    peer.SetChallenge("0");  // the commands carry a valid challenge, only the password is wrong
    server->rconPassword = "wrong";
    server->pollPhase = 3;
    Tick();  // nxn_match_report, status, sv_password: three refusals come back
    ASSERT_TRUE(RunUntil([&] { return server->consoleLog.count >= 5; }));
    ASSERT_TRUE(peer.WaitForCount(3, 2s));
    tp.loop.RunUntil([] { return false; }, 100ms);  // nothing more arrives
    EXPECT_EQ(peer.RefusedCommands().size(), 3u);
    EXPECT_EQ(Console(*server), (std::vector<std::string>{
                                    "Bad rcon_password.",
                                    "Orvane : Bad rcon_password detected. Internal rcon has been disabled to prevent "
                                    "being banned.",
                                    "Orvane : Please re-enter the good rcon_password", "Bad rcon_password.",
                                    "Bad rcon_password."}));
    EXPECT_EQ(server->rconPassword, "");
    EXPECT_EQ(server->state, 2);
    EXPECT_EQ(tp.sound.played, std::vector<std::string>{"badrcon.wav"});

    // The next cycles send details and players only: no rcon, no challenge request.
    peer.ClearReceived();
    std::vector<std::string> sent;
    for (int i = 0; i < 12; ++i) {
        for (auto& d : TickAndTake()) sent.push_back(d);
        tp.loop.RunOnce(0ms);
    }
    EXPECT_EQ(sent, (std::vector<std::string>{Framed("details"), Framed("TSource Engine Query"), Framed("players"),
                                              Framed("details"), Framed("players")}));
    EXPECT_EQ(server->state, 2);
}

TEST_F(HLServerFixture, WrongPasswordAfterChallengeThroughThePeer) {
    server->rconPassword = "wrong";
    Tick();  // details -> state 2 -> challenge -> state 3 -> status -> refused
    ASSERT_TRUE(RunUntil([&] { return server->rconPassword.empty(); }));
    EXPECT_EQ(server->state, 2);
    EXPECT_EQ(server->challenge, peer.ExpectedChallenge());
    EXPECT_EQ(tp.sound.played, std::vector<std::string>{"badrcon.wav"});
    EXPECT_EQ(peer.RefusedCommands(), std::vector<std::string>{"status"});
}

// ---- AdminBot --------------------------------------------------------------------------------------

TEST_F(HLServerFixture, MatchReportStartsStopsAndRestartsTheMatch) {
    Authenticate();
    auto report = [&](std::int32_t state) {
        peer.SetMatchReport({"Alpha", "Beta", state, 7, 0, 5, 0});
        const auto before = server->consoleLog.appended;
        server->QueryMatchReport();
        ASSERT_TRUE(RunUntil([&] { return server->consoleLog.appended > before; }));
    };
    report(2);
    EXPECT_EQ(server->teamAName, "Alpha");
    EXPECT_EQ(server->teamBName, "Beta");
    EXPECT_EQ(server->matchState, 2);
    EXPECT_EQ(server->TeamAScore(), 7);
    EXPECT_EQ(server->TeamBScore(), 5);
    EXPECT_EQ(server->matchRunning, 1);
    EXPECT_TRUE(server->ShowsMatchMark());
    EXPECT_EQ(tp.sound.played, std::vector<std::string>{"MatchStarted.wav"});
    EXPECT_EQ(Console(*server).back(), "nxn_match_report = \"Alpha;Beta;0;0;0;0;2;7;0;5;0\"");

    report(2);  // six seconds later, the same report: nothing
    EXPECT_EQ(tp.sound.played.size(), 1u);
    report(3);
    EXPECT_EQ(server->matchRunning, 0);
    EXPECT_EQ(tp.sound.played.back(), "MatchStopped.wav");
    report(4);
    EXPECT_EQ(server->matchRunning, 1);
    EXPECT_EQ(tp.sound.played, (std::vector<std::string>{"MatchStarted.wav", "MatchStopped.wav", "MatchStarted.wav"}));
    report(9);
    EXPECT_EQ(server->matchState, 9);
    EXPECT_EQ(server->matchRunning, 1);
    EXPECT_EQ(tp.sound.played.size(), 3u);
    EXPECT_EQ(server->state, 3);

    // No match: the stop sound, empty names, zero scores, state 0; a second time nothing is played.
    peer.SetNoMatch();
    const auto before = server->consoleLog.appended;
    server->QueryMatchReport();
    ASSERT_TRUE(RunUntil([&] { return server->consoleLog.appended > before; }));
    EXPECT_EQ(Console(*server).back(), "[AMX] No match running.");
    EXPECT_EQ(server->matchRunning, 0);
    EXPECT_EQ(server->teamAName, "");
    EXPECT_EQ(server->teamBName, "");
    EXPECT_EQ(server->TeamAScore() + server->TeamBScore(), 0);
    EXPECT_EQ(server->matchState, 0);
    EXPECT_EQ(tp.sound.played, (std::vector<std::string>{"MatchStarted.wav", "MatchStopped.wav", "MatchStarted.wav",
                                                         "MatchStopped.wav"}));
}

TEST_F(HLServerFixture, NoMatchLineAfterARunningMatch) {
    Deliver(Answer("lnxn_match_report = \"A;B;;;;;4;1;2;3;4\"\n"));
    EXPECT_EQ(server->matchRunning, 1);
    EXPECT_EQ(server->TeamAScore(), 3);
    EXPECT_EQ(server->TeamBScore(), 7);
    Deliver(Answer("l[AMX] No match running.\n"));
    EXPECT_EQ(server->matchRunning, 0);
    EXPECT_EQ(server->teamAName, "");
    EXPECT_EQ(server->teamASet1 + server->teamASet2 + server->teamBSet1 + server->teamBSet2, 0);
    EXPECT_EQ(tp.sound.played, (std::vector<std::string>{"MatchStarted.wav", "MatchStopped.wav"}));
    Deliver(Answer("l[AMX] No match running.\n"));
    EXPECT_EQ(tp.sound.played.size(), 2u);
}

TEST_F(HLServerFixture, SoundDisabledChangesMatchRunningSilently) {
    sound.sound.enabled = 0;
    Deliver(Answer("lnxn_match_report = \"A;B;;;;;2;1;0;0;0\"\n"));
    EXPECT_EQ(server->matchRunning, 1);
    Deliver(Answer("lnxn_match_report = \"A;B;;;;;5;1;0;0;0\"\n"));
    EXPECT_EQ(server->matchRunning, 0);
    server->rconPassword = "r";
    Deliver(Answer("lBad rcon_password.\n"));
    EXPECT_EQ(server->rconPassword, "");
    EXPECT_TRUE(tp.sound.played.empty());
}

TEST_F(HLServerFixture, MatchReportFieldsWithoutNumbersKeepTheirValues) {
    Deliver(Answer("lnxn_match_report = \"Alpha;Beta;0;0;0;0;2;7;0;5;0\"\n"));
    // Short report: F2's terminator is missing, so F2..F10 are empty and F11 is "Beta".
    Deliver(Answer("lnxn_match_report = \"Gamma;Beta\"\n"));
    EXPECT_EQ(server->teamAName, "Gamma");
    EXPECT_EQ(server->teamBName, "");
    EXPECT_EQ(server->matchState, 2);
    EXPECT_EQ(server->TeamAScore(), 7);
    EXPECT_EQ(server->TeamBScore(), 5);
    EXPECT_EQ(server->matchRunning, 1);
    EXPECT_EQ(tp.sound.played.size(), 1u);
    // Numbers with blanks and signs; text that is not a number.
    Deliver(Answer("lnxn_match_report = \"A;B;x;x;x;x; 3;-1;+2;abc;9z\"\n"));
    EXPECT_EQ(server->matchState, 3);
    EXPECT_EQ(server->teamASet1, -1);
    EXPECT_EQ(server->teamASet2, 2);
    EXPECT_EQ(server->teamBSet1, 5);
    EXPECT_EQ(server->teamBSet2, 9);
    EXPECT_EQ(server->matchRunning, 0);
    // A report without the quote: nothing is dropped before the fields are cut.
    Deliver(Answer("lnxn_match_report = A;B;c;d;e;f;4;1;1;1;1\"\n"));
    EXPECT_EQ(server->teamAName, "nxn_match_report = A");
    EXPECT_EQ(server->matchState, 4);
    EXPECT_EQ(server->matchRunning, 1);
    // Neither line changes the state by itself without a password.
    EXPECT_EQ(server->state, 1);
}

// ---- team tags -------------------------------------------------------------------------------------

void SetPlayers(CHLServer& s, const std::vector<std::string>& names) {
    s.playerNameCount = static_cast<std::int32_t>(names.size());
    for (size_t i = 0; i < names.size(); ++i) s.playerNames[i] = names[i];
}

TEST_F(HLServerFixture, TeamTagDetection) {
    SetPlayers(*server, {"[AB]x3", "CD|y1", "[AB]x1", "CD|y4", "CD|y2", "[AB]x5", "CD|y3", "[AB]x2", "CD|y5", "[AB]x4"});
    server->DetectTeamTags();
    EXPECT_EQ(server->TeamTags(), "CD|y, [AB]x");

    SetPlayers(*server, {"zz1", "abcX2", "zz2", "abcX1", "abcX3"});
    server->DetectTeamTags();
    EXPECT_EQ(server->teamTags, "abcX");
    EXPECT_EQ(server->tagDetector.minShare, 25);
    EXPECT_EQ(server->tagDetector.minMembers, 3);

    SetPlayers(*server, {"abc1", "abc2", "abc3", "abc4"});  // four players never
    server->DetectTeamTags();
    EXPECT_EQ(server->teamTags, "");

    // Case-sensitive, byte-wise; a share below a quarter is no tag.
    SetPlayers(*server, {"tagA", "tagB", "TAGC", "x1", "x2", "x3", "y1", "y2", "y3", "z1", "z2", "z3", "w1"});
    server->DetectTeamTags();
    EXPECT_EQ(server->teamTags, "");

    // Empty and one-letter names never make a tag, nor swallow the others.
    SetPlayers(*server, {"", "", "", "[X]a", "[X]b", "[X]c", "q"});
    server->DetectTeamTags();
    EXPECT_EQ(server->teamTags, "[X]");

    // A tag is at most twelve characters.
    SetPlayers(*server, {"ABCDEFGHIJKLMN1", "ABCDEFGHIJKLMN2", "ABCDEFGHIJKLMN3", "p", "q"});
    server->DetectTeamTags();
    EXPECT_EQ(server->teamTags, "ABCDEFGHIJKL");
}

TEST(TeamTagDetector, RunsWithItsOwnParameters) {
    CTeamTagDetector d(2, 12);
    EXPECT_EQ(d.minShare, 40);
    EXPECT_EQ(d.minMembers, 2);
    std::mutex lock;
    std::string out = "unchanged";
    d.Run({"a1", "a2", "a3", "a4"}, lock, out);  // fewer than five: output untouched
    EXPECT_EQ(out, "unchanged");
    d.Run({"ab1", "ab2", "cd1", "cd2", "ef"}, lock, out);  // two members, 40 %
    EXPECT_EQ(out, "ab, cd");
}

TEST_F(HLServerFixture, TagsDetectedOnPhaseFourFromThePeersPlayers) {
    peer.SetPlayers({"CD|y1", "CD|y2", "CD|y3", "CD|y4", "CD|y5", "[AB]x1", "[AB]x2", "[AB]x3", "[AB]x4", "[AB]x5"});
    Tick();
    Tick();
    Tick();  // players
    ASSERT_TRUE(RunUntil([&] { return server->playerNameCount == 10; }));
    Tick();
    EXPECT_EQ(server->teamTags, "");
    Tick();  // phase 4
    EXPECT_EQ(server->teamTags, "CD|y, [AB]x");
    peer.SetPlayers({"CD|y1", "CD|y2"});
    for (int i = 0; i < 4; ++i) Tick();  // phases 5, 0, 1, 2: players again
    ASSERT_TRUE(RunUntil([&] { return server->playerNameCount == 2; }));
    Tick();
    Tick();  // phase 4: too few players, tags cleared
    EXPECT_EQ(server->teamTags, "");
}

// ---- through the document ----------------------------------------------------------------------------

TEST(HLServerDocument, AddedObjectIsPolledAndReachesTheDocumentsSound) {
    test::TestPlatform tp;
    sim::CHLPeer peer;
    peer.SetRconPassword("right");
    peer.SetMatchReport({"Alpha", "Beta", 2, 1, 0, 0, 0});
    COrvaneDoc doc(tp.platform);
    doc.New();
    doc.output.SetLimit(80'000'000);
    auto made = std::make_unique<CHLServer>(tp.platform);
    made->host = "127.0.0.1";
    made->port = static_cast<std::uint32_t>(peer.Port());
    made->rconPassword = "right";
    auto* server = static_cast<CHLServer*>(doc.AddObject(std::move(made), doc.groups.Head()));
    ASSERT_NE(server, nullptr);
    EXPECT_EQ(server->pollPhase, 0);
    for (int i = 0; i < 4 && server->matchRunning == 0; ++i) {
        tp.clock.Advance(1);
        doc.Tick();
        tp.loop.RunUntil([&] { return server->state == 3 && (i < 3 || server->matchRunning == 1); }, 3s);
    }
    EXPECT_EQ(server->state, 3);
    EXPECT_EQ(server->matchRunning, 1);
    EXPECT_EQ(tp.sound.played, std::vector<std::string>{"MatchStarted.wav"});
}

// ---- parsers on raw bytes -------------------------------------------------------------------------

TEST(HLParse, ParsersStayInsideTheDatagram) {
    // Every prefix of real answers parses without reading past its end (ASan watches the heap copies).
    const std::vector<std::string> answers = {
        kDetailsExample, Answer(("D\x02\x01" "a\0\0\0\0\0\0\0\0\0\x02" "b\0\0\0\0\0\0\0\0\0"s)),
        Answer("challenge rcon 3000000000\n"), Answer("l\"sv_password\" is \"x\"\nnxn_match_report = \"a;b;c\"\n")};
    for (const auto& a : answers) {
        for (size_t n = 0; n <= a.size(); ++n) {
            std::vector<std::uint8_t> heap(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(n));
            const std::span<const std::uint8_t> s(heap.data(), heap.size());
            ParseHLServerInfo(s);
            ParseHLPlayers(s);
            ParseHLChallenge(s);
            for (const auto& line : CutConsoleLines(HLPrintText(s))) {
                ParseServerPasswordLine(line);
                ParseMatchReport(line);
            }
        }
    }
    EXPECT_EQ(ParseHLChallenge(Bytes(Answer("challenge rcon 3000000000\n"))), 3000000000u);
    EXPECT_EQ(ParseHLChallenge(Bytes(Answer("challenge rcon -1\n"))), 4294967295u);
    EXPECT_FALSE(ParseHLChallenge(Bytes(Answer("challenge rcon "))));
    EXPECT_EQ(CutConsoleLines("a\n\n\nb\nc"), (std::vector<std::string>{"a", "b"}));
    EXPECT_FALSE(ParseServerPasswordLine("sv_password is \"x\""));
    const auto r = ParseMatchReport("nxn_match_report = \"Alpha;Beta;1;2;3;4;2;7;0;5;0\"");
    EXPECT_EQ(r.teamAName, "Alpha");
    EXPECT_EQ(r.matchState, 2);
    EXPECT_EQ(r.teamASet1, 7);
    EXPECT_EQ(r.teamASet2, 0);
    EXPECT_EQ(r.teamBSet1, 5);
    EXPECT_EQ(r.teamBSet2, 0);
    EXPECT_FALSE(ParseMatchReport("nxn_match_report = \"A;B\"").matchState);
}

}  // namespace
}  // namespace orv

// The Quake 3 server monitor against a loopback OSP server: queries and rcon on the wire, states, the
// console rules (password, Score_Time, no rcon password) and the status answer's player list.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "document/document.h"
#include "base/strutil.h"
#include "fakes.h"
#include "monitors/quake3/q3parse.h"
#include "monitors/quake3/q3server.h"
#include "sim/q3peer.h"

namespace orv {
namespace {

using namespace std::chrono_literals;

const std::string kOob("\xFF\xFF\xFF\xFF", 4);

std::string Framed(const std::string& text) {
    return kOob + text + std::string(1, '\0');
}

struct Q3Fixture : ::testing::Test {
    test::TestPlatform tp;
    COrvaneDoc doc{tp.platform};
    sim::CQ3Peer peer;
    int flushes = 0;

    Q3Fixture() {
        doc.New();
        doc.output.SetLimit(1'000'000);
        // The test runs the queue's windows itself (Settle), so nothing waits for the worker's pace.
        doc.output.Stop();
    }

    // Added as the document adds it, polling from phase 0; the peer learns the object's address.
    CQ3Server* Add(const std::string& rconPassword) {
        auto o = std::make_unique<CQ3Server>(tp.platform);
        o->host = "127.0.0.1";
        o->port = static_cast<std::uint32_t>(peer.Port());
        o->rconPassword = rconPassword;
        auto* server = static_cast<CQ3Server*>(doc.AddObject(std::move(o), doc.groups[0]));
        EXPECT_NE(server, nullptr);
        server->pollPhase = 0;
        Settle(*server);
        peer.ClearReceived();
        return server;
    }

    // Everything the object queued has reached the peer, and every answer the peer gave to it has been
    // handled by the object.
    void Settle(CCommonObject& o) {
        const std::string marker = "flush " + std::to_string(++flushes);
        o.SendQuery(marker);  // behind the object's queries and actions
        while (doc.output.Count() > 0) doc.output.RunWindow();
        ASSERT_TRUE(peer.WaitForText(marker, 3s)) << marker;
        while (tp.loop.RunOnce(0ms) > 0) {
        }
    }

    // A datagram from the peer, handled by the object before this returns.
    void Deliver(const std::string& text) {
        ASSERT_TRUE(peer.SendToClient(kOob + text));
        ASSERT_EQ(tp.loop.RunOnce(2000ms), 1);
    }

    // The texts the peer received, without the flush markers.
    std::vector<std::string> Sent() {
        std::vector<std::string> out;
        for (auto& t : peer.ReceivedTexts())
            if (!BeginsWith(t, "flush ")) out.push_back(t);
        return out;
    }

    std::vector<std::string> Console(const CCommonObject& o) {
        return {o.consoleLog.text.begin(), o.consoleLog.text.begin() + o.consoleLog.count};
    }
};

TEST_F(Q3Fixture, ConstructionDefaults) {
    CQ3Server s(tp.platform);
    EXPECT_STREQ(s.ClassName(), "CQ3Server");
    EXPECT_EQ(s.Schema(), 10);
    EXPECT_EQ(s.icon, 159u);
    EXPECT_EQ(s.matchRunning, 0);
    EXPECT_EQ(s.state, 1);
    EXPECT_TRUE(s.IsGameServer());
    EXPECT_FALSE(s.IsGTV());
    EXPECT_GE(s.pollPhase, 0);
    EXPECT_LE(s.pollPhase, 4);
}

TEST_F(Q3Fixture, SixPhaseCycleWithExactBytesOnTheWire) {
    CQ3Server* s = Add("secret");
    s->Tick();  // 0: getstatus
    Settle(*s);
    EXPECT_EQ(s->state, 2);
    s->Tick();  // 1: nothing
    s->Tick();  // 2: password
    s->Tick();  // 3: score_time
    s->Tick();  // 4: getinfo
    s->Tick();  // 5: nothing
    Settle(*s);
    EXPECT_EQ(s->pollPhase, 0);

    std::vector<std::string> wire;
    for (auto& d : peer.Received())
        if (d.find("flush") == std::string::npos) wire.push_back(d);
    ASSERT_EQ(wire.size(), 4u);
    EXPECT_EQ(wire[0], Framed("getstatus"));
    EXPECT_EQ(wire[0].size(), 14u);
    // An rcon password of n = 6 and a command of m characters: n + m + 13 bytes.
    EXPECT_EQ(wire[1], Framed("rcon \"secret\" password"));
    EXPECT_EQ(wire[1].size(), 6u + 8u + 13u);
    EXPECT_EQ(wire[2], Framed("rcon \"secret\" score_time"));
    EXPECT_EQ(wire[2].size(), 6u + 10u + 13u);
    EXPECT_EQ(wire[3], Framed("getinfo"));
    EXPECT_EQ(wire[3].size(), 12u);
    EXPECT_EQ(s->state, 3);  // the console answers proved the rcon password

    peer.ClearReceived();
    s->Kick("^1Al pha");
    Settle(*s);
    EXPECT_EQ(Sent(), std::vector<std::string>{"rcon \"secret\" kick \"^1Al pha\""});
}

TEST_F(Q3Fixture, QueriesLeaveThroughTheDocumentsWorker) {
    CQ3Server* s = Add("secret");
    doc.output.Start();
    s->Tick();
    ASSERT_TRUE(peer.WaitForText("getstatus", 3s));
    ASSERT_TRUE(tp.loop.RunUntil([&] { return s->state == 2; }, 3s));
    EXPECT_EQ(s->serverName, "Orvane Q3 Server");
}

TEST_F(Q3Fixture, StatesGoOneTwoThreeAndBackToOneAfterElevenSilentSeconds) {
    CQ3Server* s = Add("secret");
    EXPECT_EQ(s->state, 1);
    s->pollPhase = 4;
    s->Tick();  // getinfo
    Settle(*s);
    EXPECT_EQ(s->state, 2);
    EXPECT_EQ(s->serverName, "Orvane Q3 Server");
    EXPECT_EQ(s->maxPlayers, 16);
    s->SendRcon("status");
    Settle(*s);
    EXPECT_EQ(s->state, 3);
    // A later info or status answer keeps state 3.
    s->pollPhase = 0;
    s->Tick();
    Settle(*s);
    EXPECT_EQ(s->state, 3);

    peer.SetSilent(true);
    s->Tick();  // 1: nothing
    s->Tick();  // 2: password
    Settle(*s);  // it left and stays unanswered
    tp.clock.Advance(10);
    s->Tick();
    EXPECT_EQ(s->state, 3);  // ten seconds: still answering
    tp.clock.Advance(1);
    s->Tick();
    EXPECT_EQ(s->state, 1);
    Settle(*s);
    // Queries go on while silent, "score_time" included; "password" waits for state 2.
    peer.ClearReceived();
    for (int i = 0; i < 6; ++i) s->Tick();
    Settle(*s);
    EXPECT_EQ(Sent(), (std::vector<std::string>{"getstatus", "rcon \"secret\" score_time", "getinfo"}));
}

TEST_F(Q3Fixture, EmptyRconPasswordSendsNoRconAndNeverReachesStateThree) {
    CQ3Server* s = Add("");
    for (int i = 0; i < 12; ++i) {
        s->Tick();
        Settle(*s);
    }
    s->Kick("Alpha");
    s->SendRcon("status");
    Settle(*s);
    EXPECT_EQ(Sent(), (std::vector<std::string>{"getstatus", "getinfo", "getstatus", "getinfo"}));
    EXPECT_EQ(s->state, 2);
    Deliver("print\nsomething\n");
    EXPECT_EQ(s->state, 2);
    EXPECT_EQ(Console(*s), std::vector<std::string>{"something"});
}

TEST_F(Q3Fixture, PasswordLineSetsThePasswordWithoutColourCodes) {
    CQ3Server* s = Add("secret");
    peer.SetPassword("^1join^7me");
    s->pollPhase = 0;
    s->Tick();
    Settle(*s);
    s->Tick();
    s->Tick();  // phase 2, in state 2 now
    Settle(*s);
    EXPECT_EQ(s->password, "joinme");
    EXPECT_EQ(Console(*s), std::vector<std::string>{"\"password\" is:\"joinme\" default:\"\""});

    // The value ends at the next double quote; an empty one clears the password.
    Deliver("print\n\"password\" is:\"\" default:\"old^7\"\n");
    EXPECT_EQ(s->password, "");
    EXPECT_EQ(s->consoleLog.text[1], "\"password\" is:\"\" default:\"old\"");
    // A line that only starts like it does not count.
    s->password = "kept";
    Deliver("print\n\"password\" is: \"x\"\n password\" is:\"y\"\n");
    EXPECT_EQ(s->password, "kept");
}

TEST_F(Q3Fixture, ScoreTimeStartsAndStopsTheMatchWithOneSoundPerChange) {
    CQ3Server* s = Add("secret");
    peer.SetScoreTime("12:31");
    s->SendRcon("score_time");
    Settle(*s);
    EXPECT_EQ(s->matchRunning, 1);
    EXPECT_EQ(tp.sound.played, std::vector<std::string>{"MatchStarted.wav"});
    EXPECT_EQ(s->consoleLog.text[0], "\"Score_Time\" is:\"12:31\" default:\"\"");

    peer.SetScoreTime("12:35");
    s->SendRcon("score_time");
    Settle(*s);
    EXPECT_EQ(tp.sound.played.size(), 1u);  // equal values play nothing

    peer.SetScoreTime("Waiting for Players");
    s->SendRcon("score_time");
    Settle(*s);
    EXPECT_EQ(s->matchRunning, 0);
    EXPECT_EQ(tp.sound.played, (std::vector<std::string>{"MatchStarted.wav", "MatchStopped.wav"}));
    s->SendRcon("score_time");
    Settle(*s);
    EXPECT_EQ(tp.sound.played.size(), 2u);

    // The other idle words, anywhere in the rest of the line (the default part included).
    struct Row {
        const char* line;
        int match;
    };
    for (const Row& r : {Row{"\"Score_Time\" is:\"20:00\"", 1}, Row{"\"Score_Time\" is:\"Timelimit hit^7\"", 0},
                         Row{"\"Score_Time\" is:\"3:00\"", 1}, Row{"\"Score_Time\" is:\"Red Win: 10-3\"", 0},
                         Row{"\"Score_Time\" is:\"1:00\" default:\"Waiting for Players\"", 0},
                         Row{"\"Score_Time\" is:\"Win:10\"", 1}}) {
        Deliver(std::string("print\n") + r.line + "\n");
        EXPECT_EQ(s->matchRunning, r.match) << r.line;
    }
    EXPECT_EQ(tp.sound.played.size(), 7u);

    // With sound off the value still changes.
    doc.sound.sound.enabled = 0;
    Deliver("print\n\"Score_Time\" is:\"Timelimit\"\n");
    EXPECT_EQ(s->matchRunning, 0);
    EXPECT_EQ(tp.sound.played.size(), 7u);
    // Not reset on time-out.
    Deliver("print\n\"Score_Time\" is:\"5:00\"\n");
    peer.SetSilent(true);
    s->Tick();
    Settle(*s);
    tp.clock.Advance(60);
    s->Tick();
    EXPECT_EQ(s->state, 1);
    EXPECT_EQ(s->matchRunning, 1);
}

TEST_F(Q3Fixture, NoRconPasswordOnTheServerDisablesRconForGood) {
    CQ3Server* s = Add("secret");
    peer.SetRconPassword("");
    s->pollPhase = 0;
    s->Tick();  // getstatus: state 2
    Settle(*s);
    s->Tick();
    s->Tick();  // password
    Settle(*s);
    EXPECT_EQ(s->rconPassword, "");
    EXPECT_EQ(s->state, 2);
    EXPECT_EQ(Console(*s), (std::vector<std::string>{"No rconpassword set on the server.", CQ3Server::kNoRconLine1,
                                                     CQ3Server::kNoRconLine2}));
    EXPECT_EQ(peer.RefusedCommands(), std::vector<std::string>{"password"});

    peer.ClearReceived();
    for (int i = 0; i < 18; ++i) {
        s->Tick();
        if (i % 6 == 5) Settle(*s);  // a query still waiting is not queued twice
    }
    s->Kick("Alpha");
    s->SendRcon("status");
    Settle(*s);
    for (auto& t : Sent()) EXPECT_FALSE(BeginsWith(t, "rcon")) << t;
    EXPECT_EQ(Sent().size(), 6u);  // three getstatus, three getinfo
    EXPECT_EQ(s->state, 2);

    // A new rcon password from the operator brings rcon back.
    peer.SetRconPassword("secret");
    s->rconPassword = "secret";
    s->SendRcon("status");
    Settle(*s);
    EXPECT_EQ(s->state, 3);
}

TEST_F(Q3Fixture, StatusAnswerReadsThePlayersFromTheOspAuthValue) {
    CQ3Server* s = Add("");
    peer.SetMaxClients(12);
    peer.SetPlayers({{5, 50, "^2Alpha"}, {0, 999, "Bravo"}});
    s->Tick();
    Settle(*s);
    EXPECT_EQ(s->serverName, "Orvane Q3 Server");
    EXPECT_EQ(s->maxPlayers, 12);
    ASSERT_EQ(s->playerNameCount, 2);
    EXPECT_EQ(s->playerNames[0], "Alpha");
    EXPECT_EQ(s->playerNames[1], "Bravo");
    EXPECT_EQ(s->state, 2);

    // The key not last: no quoted name, so no players.
    peer.SetOspAuth("1", false);
    s->pollPhase = 0;
    s->Tick();
    Settle(*s);
    EXPECT_EQ(s->playerNameCount, 0);

    // Without the key, or with an empty value, the list stays as it was.
    Deliver("statusResponse\n\\sv_hostname\\X\\server_ospauth\\1\n0 0 \"Ann\"\n");
    Deliver("statusResponse\n\\sv_hostname\\X\n0 0 \"Zed\"\n");
    Deliver("statusResponse\n\\sv_hostname\\X\\server_ospauth\\");
    ASSERT_EQ(s->playerNameCount, 1);
    EXPECT_EQ(s->playerNames[0], "Ann");

    // Only complete quoted names count: an empty server, an unclosed last name.
    Deliver("statusResponse\n\\sv_hostname\\X\\server_ospauth\\1\n");
    EXPECT_EQ(s->playerNameCount, 0);
    Deliver("statusResponse\n\\server_ospauth\\1\n0 0 \"Ann\"\n1 2 \"^3Cut");
    ASSERT_EQ(s->playerNameCount, 1);
    EXPECT_EQ(s->playerNames[0], "Ann");
}

TEST_F(Q3Fixture, MoreThanThirtyTwoNamesStopAtTheTable) {
    CQ3Server* s = Add("");
    std::vector<sim::Q3PeerPlayer> many;
    for (int i = 0; i < 40; ++i) many.push_back({i, i, "p" + std::to_string(i)});
    peer.SetPlayers(many);
    s->Tick();
    Settle(*s);
    ASSERT_EQ(s->playerNameCount, 32);
    EXPECT_EQ(s->playerNames[0], "p0");
    EXPECT_EQ(s->playerNames[31], "p31");
}

TEST_F(Q3Fixture, InfoAnswerUsesHostnameNotSvHostname) {
    CQ3Server* s = Add("");
    Deliver("infoResponse\n\\sv_hostname\\Wrong\\sv_maxclients\\8x");
    EXPECT_EQ(s->serverName, "");
    EXPECT_EQ(s->maxPlayers, 8);
    EXPECT_EQ(s->state, 2);
    Deliver("infoResponse\n\\hostname\\^1Right\\sv_maxclients\\-3");
    EXPECT_EQ(s->serverName, "^1Right");  // the server name keeps its colour codes
    EXPECT_EQ(s->maxPlayers, -3);
}

TEST_F(Q3Fixture, ConsoleAnswerEdges) {
    CQ3Server* s = Add("secret");
    // No line feed after the word: no line, but rcon is proved.
    Deliver("print");
    EXPECT_EQ(s->consoleLog.count, 0);
    EXPECT_EQ(s->state, 3);
    // A last line without a line feed is not handled; empty lines are skipped; colour codes go.
    Deliver("print\n\n^1first^7 line\n\nlast");
    EXPECT_EQ(Console(*s), std::vector<std::string>{"first line"});
    // "Bad rconpassword.": the refusal is no control; rcon stays off until a new password is entered.
    Deliver("print\nBad rconpassword.\n");
    EXPECT_EQ(Console(*s), (std::vector<std::string>{"first line", "Bad rconpassword.", CQ3Server::kBadRconLine1,
                                                     CQ3Server::kBadRconLine2}));
    EXPECT_EQ(s->state, 2);
    EXPECT_EQ(s->rconPassword, "");
    EXPECT_EQ(tp.sound.played, std::vector<std::string>{"badrcon.wav"});
    Deliver("print\nBad rconpassword.\n");  // the answer to a command already on its way
    EXPECT_EQ(s->state, 2);
    EXPECT_EQ(s->consoleLog.count, 5);
    // Other answers, and text before the keyword, are ignored.
    const Time before = s->lastAnswerTime;
    tp.clock.Advance(3);
    Deliver("disconnect");
    Deliver(" print\nx\n");
    Deliver("getstatus");
    EXPECT_EQ(s->lastAnswerTime, before);
    EXPECT_EQ(s->consoleLog.count, 5);
    // A console answer is consumed by its lines: a trailing keyword is no second answer.
    Deliver("printinfoResponse\n\\hostname\\Nope\\sv_maxclients\\9\n");
    EXPECT_EQ(s->serverName, "");
    EXPECT_EQ(s->consoleLog.text[5], "infoResponse");
}

TEST_F(Q3Fixture, DatagramsArePrefixedAndAnswersEndAtTheFirstZero) {
    CQ3Server* s = Add("");
    ASSERT_TRUE(peer.SendToClient("infoResponse\n\\hostname\\NoPrefix"));
    ASSERT_EQ(tp.loop.RunOnce(2000ms), 1);
    EXPECT_EQ(s->strayDatagrams, 1u);
    EXPECT_EQ(s->state, 1);
    Deliver(std::string("infoResponse\n\\hostname\\Cut") + std::string(1, '\0') + "\\sv_maxclients\\8");
    EXPECT_EQ(s->serverName, "Cut");
    EXPECT_EQ(s->maxPlayers, 0);
}

// The shared text helpers, as these parsers rely on them.
TEST(Q3Text, InfoStringAndColourHelpers) {
    EXPECT_EQ(InfoValue("\\sv_hostname\\A\\hostname\\B", "hostname"), "B");
    EXPECT_EQ(InfoValue("x\\hostname\\tail", "hostname"), "tail");
    EXPECT_EQ(InfoValue("\\hostname", "hostname"), "");
    EXPECT_EQ(InfoNumber("\\n\\-12abc", "n"), -12);
    EXPECT_EQ(InfoNumber("\\n\\+7", "n"), 7);
    EXPECT_EQ(InfoNumber("\\n\\ 7", "n"), 0);
    EXPECT_EQ(InfoNumber("\\n\\", "n"), 0);
    EXPECT_EQ(StripColours("^1A^^22B^a^9"), "A^2B^a");
    EXPECT_EQ(CleanFileName("2003-05-04_21h30_q3dm17_(A l.p/h\\a)_B@{x}[y]!+=:"),
              "2003-05-04_21h30_q3dm17_(Alpha)_B@{x}[y]!+=");
}

TEST(Q3Parse, ConsoleLinesFollowTokenize) {
    EXPECT_EQ(ConsoleLines("print\na\n\nb\nc"), (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(ConsoleLines("print").empty());
    std::int32_t match = -1;
    EXPECT_FALSE(ParseQ3ScoreLine("\"Score_Time\" is", match));
    EXPECT_EQ(match, -1);
    std::string pw = "x";
    EXPECT_TRUE(ParseQ3PasswordLine("\"password\" is:\"^1abc", pw));  // no closing quote: empty
    EXPECT_EQ(pw, "");
    const std::uint8_t bytes[] = {0xFF, 0xFF, 0xFF, 0xFF, 'p', 'r'};
    EXPECT_EQ(AnswerText(bytes), "pr");
    EXPECT_EQ(AnswerText(std::span<const std::uint8_t>(bytes, 4)), "");
}

}  // namespace
}  // namespace orv

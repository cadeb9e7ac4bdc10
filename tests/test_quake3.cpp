// The Quake 3 server monitor against a loopback OSP server: states, kick, the console rules (password,
// Score_Time) and the status and info answers.
#include "monitor_fixture.h"
#include "monitors/quake3/q3parse.h"
#include "monitors/quake3/q3server.h"
#include "sim/q3peer.h"

namespace orv {
namespace {

using namespace test;

struct Q3Test : DocFixture {
    sim::CQ3Peer peer;
    CQ3Server* s = nullptr;
    CQ3Server* AddServer(const std::string& rcon) {
        s = Add<CQ3Server>("127.0.0.1", peer.Port(), "Servers", rcon);
        Settle();  // the peer learns the object's address
        peer.ClearReceived();
        return s;
    }
    void Settle() { DocFixture::Settle(*s, peer); }
    void Ticks(int n) {
        for (int i = 0; i < n; ++i) s->Tick();
        Settle();
    }
    void Deliver(const std::string& text) { DeliverFrom(peer, text); }
};

TEST_F(Q3Test, StatesPasswordQueryAndKick) {
    AddServer("secret");
    peer.SetPassword("^1join^7me");
    Ticks(1);  // getstatus
    EXPECT_EQ(std::tuple(s->state, s->serverName, s->maxPlayers), std::tuple(2, "Orvane Q3 Server", 16));
    Ticks(2);  // phase 2 in state 2: password
    EXPECT_EQ(std::tuple(s->state, s->password, Console(*s)),
              std::tuple(3, "joinme", std::vector<std::string>{"\"password\" is:\"joinme\" default:\"\""}));
    EXPECT_EQ(Sent(peer, true), (std::vector<std::string>{"getstatus", "rcon \"secret\" password"}));
    peer.ClearReceived();
    s->Kick("^1Al pha");
    Settle();
    EXPECT_EQ(Sent(peer, true), std::vector<std::string>{"rcon \"secret\" kick \"^1Al pha\""});
    // The value ends at the next double quote; an empty one clears it; a line that only starts like it
    // does not count.
    Deliver("print\n\"password\" is:\"\" default:\"old^7\"\n");
    EXPECT_EQ(std::tuple(s->password, Console(*s).back()), std::tuple("", "\"password\" is:\"\" default:\"old\""));
    s->password = "kept";
    Deliver("print\n\"password\" is: \"x\"\n password\" is:\"y\"\n");
    EXPECT_EQ(s->password, "kept");
    std::string pw = "x";
    EXPECT_TRUE(ParseQ3PasswordLine("\"password\" is:\"^1abc", pw));  // no closing quote: empty
    EXPECT_EQ(pw, "");
}

TEST_F(Q3Test, EmptyRconPasswordSendsNoRconAndNeverReachesStateThree) {
    AddServer("");
    Ticks(6);
    Ticks(6);
    s->Kick("Alpha");
    s->SendRcon("status");
    Settle();
    EXPECT_EQ(Sent(peer, true), (std::vector<std::string>{"getstatus", "getinfo", "getstatus", "getinfo"}));
    Deliver("print\nsomething\n");
    EXPECT_EQ(std::tuple(s->state, Console(*s)), std::tuple(2, std::vector<std::string>{"something"}));
    // A new rcon password from the operator brings rcon and state 3.
    s->rconPassword = "secret";
    s->SendRcon("status");
    Settle();
    EXPECT_EQ(s->state, 3);
}

TEST_F(Q3Test, ScoreTimeStartsAndStopsTheMatchWithOneSoundPerChange) {
    AddServer("secret");
    for (auto [clock, match] :
         {std::pair{"12:31", 1}, {"12:35", 1}, {"Waiting for Players", 0}, {"Waiting for Players", 0}}) {
        peer.SetScoreTime(clock);
        s->SendRcon("score_time");
        Settle();
        EXPECT_EQ(s->matchRunning, match) << clock;
    }
    EXPECT_EQ(Console(*s)[0], "\"Score_Time\" is:\"12:31\" default:\"\"");
    EXPECT_EQ(tp.sound.played, (std::vector<std::string>{"MatchStarted.wav", "MatchStopped.wav"}));
    // The other idle words, anywhere in the rest of the line (the default part included).
    for (auto [line, match] : {std::pair{"\"Score_Time\" is:\"20:00\"", 1},
                               {"\"Score_Time\" is:\"Timelimit hit^7\"", 0},
                               {"\"Score_Time\" is:\"3:00\"", 1},
                               {"\"Score_Time\" is:\"Red Win: 10-3\"", 0},
                               {"\"Score_Time\" is:\"1:00\" default:\"Waiting for Players\"", 0},
                               {"\"Score_Time\" is:\"Win:10\"", 1}}) {
        Deliver("print\n"s + line + "\n");
        EXPECT_EQ(s->matchRunning, match) << line;
    }
    EXPECT_EQ(tp.sound.played.size(), 7u);
    doc.sound.sound.enabled = 0;  // with the sound off the value still changes
    Deliver("print\n\"Score_Time\" is:\"Timelimit\"\n");
    EXPECT_EQ(std::tuple(s->matchRunning, tp.sound.played.size()), std::tuple(0, 7u));
    Deliver("print\n\"Score_Time\" is:\"5:00\"\n");
    peer.SetSilent(true);
    Ticks(1);  // a query left unanswered
    tp.clock.Advance(60);
    s->Tick();
    EXPECT_EQ(std::tuple(s->state, s->matchRunning), std::tuple(1, 1));  // not reset on time-out
    std::int32_t match = -1;
    EXPECT_FALSE(ParseQ3ScoreLine("\"Score_Time\" is", match));
    EXPECT_EQ(match, -1);
}

TEST_F(Q3Test, StatusAnswerReadsThePlayersFromTheOspAuthValue) {
    AddServer("");
    peer.SetMaxClients(12);
    peer.SetPlayers({{5, 50, "^2Alpha"}, {0, 999, "Bravo"}});
    Ticks(1);
    EXPECT_EQ(std::tuple(s->maxPlayers, s->playerNameCount, s->playerNames[0], s->playerNames[1]),
              std::tuple(12, 2, "Alpha", "Bravo"));
    peer.SetOspAuth("1", false);  // the key not last: no quoted name, no players
    s->pollPhase = 0;
    Ticks(1);
    EXPECT_EQ(s->playerNameCount, 0);
    // Without the key, or with an empty value, the list stays; an unclosed name is no name.
    Deliver("statusResponse\n\\sv_hostname\\X\\sv_maxclients\\4\n0 0 \"Zed\"\n");
    Deliver("statusResponse\n\\sv_hostname\\X\\server_ospauth\\\n0 0 \"Zed\"\n");
    EXPECT_EQ(std::tuple(s->playerNameCount, s->maxPlayers), std::tuple(1, 0));
    Deliver("statusResponse\n\\sv_hostname\\X\\server_ospauth\\1\n");  // nobody: no double quote either
    EXPECT_EQ(s->playerNameCount, 0);
    Deliver("statusResponse\n\\server_ospauth\\1\n0 0 \"Zed\"\n1 2 \"^3Cut");
    EXPECT_EQ(std::tuple(s->playerNameCount, s->playerNames[0]), std::tuple(1, "Zed"));
    std::vector<sim::Q3PeerPlayer> many;
    for (int i = 0; i < 40; ++i) many.push_back({i, i, "p" + std::to_string(i)});
    peer.SetPlayers(many);
    peer.SetOspAuth("1", true);
    s->pollPhase = 0;
    Ticks(1);
    EXPECT_EQ(std::tuple(s->playerNameCount, s->playerNames[0], s->playerNames[31]), std::tuple(32, "p0", "p31"));
}

TEST_F(Q3Test, InfoAndConsoleAnswerEdges) {
    AddServer("secret");
    Deliver("infoResponse\n\\sv_hostname\\Wrong\\sv_maxclients\\8x");
    EXPECT_EQ(std::tuple(s->serverName, s->maxPlayers, s->state), std::tuple("", 8, 2));
    Deliver("infoResponse\n\\hostname\\^1Right\\sv_maxclients\\-3");
    EXPECT_EQ(std::tuple(s->serverName, s->maxPlayers), std::tuple("^1Right", -3));  // colour codes kept
    Deliver("print");  // no line feed after the word: no line, but rcon is proved
    EXPECT_EQ(std::tuple(s->consoleLog.count, s->state), std::tuple(0, 3));
    // The last line without a line feed is dropped; empty lines are skipped; colour codes go.
    Deliver("print\n\n^1first^7 line\n\nlast");
    // A refusal is no control: the protection clears the password, once for the answers still on their way.
    Deliver("print\nBad rconpassword.\n");
    Deliver("print\nBad rconpassword.\n");
    EXPECT_EQ(Console(*s), (std::vector<std::string>{"first line", "Bad rconpassword.", CQ3Server::kBadRconLine1,
                                                     CQ3Server::kBadRconLine2, "Bad rconpassword."}));
    EXPECT_EQ(std::tuple(s->state, s->rconPassword, tp.sound.played),
              std::tuple(2, "", std::vector<std::string>{"badrcon.wav"}));
    // Other answers, and text before the keyword, are ignored; a console answer is consumed by its lines.
    const Time before = s->lastAnswerTime;
    tp.clock.Advance(3);
    for (auto text : {"disconnect", " print\nx\n", "getstatus"}) Deliver(text);
    EXPECT_EQ(std::tuple(s->lastAnswerTime, s->consoleLog.count), std::tuple(before, 5));
    Deliver("printinfoResponse\n\\hostname\\Nope\\sv_maxclients\\9\n");
    EXPECT_EQ(std::tuple(s->serverName, Console(*s)[5]), std::tuple("^1Right", "infoResponse"));
    // Without the prefix: a stray; an answer ends at its first zero byte.
    ASSERT_TRUE(peer.SendToClient("infoResponse\n\\hostname\\NoPrefix"));
    ASSERT_EQ(tp.loop.RunOnce(2000ms), 1);
    EXPECT_EQ(s->strayDatagrams, 1u);
    Deliver("infoResponse\n\\hostname\\Cut\0\\sv_maxclients\\8"s);
    EXPECT_EQ(std::tuple(s->serverName, s->maxPlayers), std::tuple("Cut", 0));
    const std::uint8_t bytes[] = {0xFF, 0xFF, 0xFF, 0xFF, 'p', 'r'};
    EXPECT_EQ(std::tuple(AnswerText(bytes), AnswerText(std::span<const std::uint8_t>(bytes, 4))), std::tuple("pr", ""));
}

}  // namespace
}  // namespace orv

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
    std::string Dump() {
        std::vector<std::string> players(s->playerNames.begin(), s->playerNames.begin() + s->playerNameCount);
        return std::to_string(s->state) + " [" + s->serverName + "] " + std::to_string(s->maxPlayers) + " [" +
               s->password + "] [" + s->rconPassword + "] " + std::to_string(s->matchRunning) + " " +
               std::to_string(s->strayDatagrams) + " " + std::to_string(tp.clock.now - s->lastAnswerTime) + " " +
               Joined(players) + " " + Joined(Console(*s)) + " " + Joined(tp.sound.played);
    }
    void Step(Row& r) {
        if (r.count("advance")) tp.clock.Advance(std::stoi(r["advance"]));
        if (r.count("sound")) doc.sound.sound.enabled = 0;
        if (r.count("deliver")) Deliver(r["deliver"]);
        if (r.count("stray")) {
            ASSERT_TRUE(peer.SendToClient(r["stray"]));
            ASSERT_EQ(tp.loop.RunOnce(2000ms), 1);
        }
    }
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
    RunScript("q3_score.txt", [&](Row& r) { Step(r); }, [&] { return Dump(); });
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
    RunScript("q3_answers.txt", [&](Row& r) { Step(r); }, [&] { return Dump(); });
    const std::uint8_t bytes[] = {0xFF, 0xFF, 0xFF, 0xFF, 'p', 'r'};
    EXPECT_EQ(std::tuple(AnswerText(bytes), AnswerText(std::span<const std::uint8_t>(bytes, 4))), std::tuple("pr", ""));
}

}  // namespace
}  // namespace orv

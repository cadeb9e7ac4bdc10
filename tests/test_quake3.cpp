// The Quake 3 server monitor against a loopback OSP server: states, kick, the console rules (password,
// Score_Time) and the status and info answers. The cases are scripts, tests/data/q3_*.txt, run on the
// verbs and views of the fixture.
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
    void Run(const std::string& rcon, const std::string& file) {
        s = Add<CQ3Server>("127.0.0.1", peer.Port(), "Servers", rcon);
        Settle(*s, peer);  // the peer learns the object's address
        RunScript(file, verbs, views);
    }
    // Setters act before the shared verbs, the rest after them ("deliver" through the sockets, "stray"
    // without the FF FF FF FF prefix).
    Verbs verbs =
        ObjectVerbs(s, peer,
                    {{"sound", [&](auto&) { doc.sound.sound.enabled = 0; }},
                     {"silent", [&](auto& v) { peer.SetSilent(v == "1"); }},
                     {"password", [&](auto& v) { s->password = v; }},
                     {"peer password", [&](auto& v) { peer.SetPassword(v); }},
                     {"peer score", [&](auto& v) { peer.SetScoreTime(v); }},
                     {"peer osp auth", [&](auto& v) { peer.SetOspAuth(Split(v, ' ')[0], Split(v, ' ')[1] == "last"); }},
                     {"peer players",  // n players p0, p1, ...
                      [&](auto& v) {
                          std::vector<sim::Q3PeerPlayer> many;
                          for (int i = 0; i < std::stoi(v); ++i) many.push_back({i, i, "p" + std::to_string(i)});
                          peer.SetPlayers(many);
                      }}},
                    {{"kick", [&](auto& v) { s->Kick(v); }},
                     {"send rcon", [&](auto& v) { s->SendRcon(v); }},
                     {"deliver", [&](auto& v) { DeliverFrom(peer, v); }},
                     {"stray",
                      [&](auto& v) {
                          ASSERT_TRUE(peer.SendToClient(v));
                          ASSERT_EQ(tp.loop.RunOnce(2000ms), 1);
                      }},
                     {"flush", [&](auto&) { Settle(*s, peer); }}});
    Views views = {
        {"sent", [&] { return SentLine(peer, 0); }},
        {"players",
         [&] {
             return std::to_string(s->maxPlayers) + " " + std::to_string(s->playerNameCount) + " " +
                    Joined({s->playerNames.begin(), s->playerNames.begin() + s->playerNameCount});
         }},
        // state [name] max [password] [rcon password] match strays seconds-since-answer players console sounds
        {"object", [&] {
             std::vector<std::string> players(s->playerNames.begin(), s->playerNames.begin() + s->playerNameCount);
             return std::to_string(s->state) + " [" + s->serverName + "] " + std::to_string(s->maxPlayers) + " [" +
                    s->password + "] [" + s->rconPassword + "] " + std::to_string(s->matchRunning) + " " +
                    std::to_string(s->strayDatagrams) + " " + std::to_string(tp.clock.now - s->lastAnswerTime) + " " +
                    Joined(players) + " " + Joined(Console(*s)) + " " + Joined(tp.sound.played);
         }}};
};

TEST_F(Q3Test, StatesPasswordQueryAndKick) {
    Run("secret", "q3_states.txt");
    std::string pw = "x";
    EXPECT_TRUE(ParseQ3PasswordLine("\"password\" is:\"^1abc", pw));  // no closing quote: empty
    EXPECT_EQ(pw, "");
}

TEST_F(Q3Test, EmptyRconPasswordSendsNoRconAndNeverReachesStateThree) {
    Run("", "q3_norcon.txt");
}

TEST_F(Q3Test, ScoreTimeStartsAndStopsTheMatchWithOneSoundPerChange) {
    Run("secret", "q3_score.txt");
    std::int32_t match = -1;
    EXPECT_FALSE(ParseQ3ScoreLine("\"Score_Time\" is", match));
    EXPECT_EQ(match, -1);
}

TEST_F(Q3Test, StatusAnswerReadsThePlayersFromTheOspAuthValue) {
    peer.SetMaxClients(12);
    peer.SetPlayers({{5, 50, "^2Alpha"}, {0, 999, "Bravo"}});
    Run("", "q3_status.txt");
}

TEST_F(Q3Test, InfoAndConsoleAnswerEdges) {
    Run("secret", "q3_answers.txt");
    const std::uint8_t bytes[] = {0xFF, 0xFF, 0xFF, 0xFF, 'p', 'r'};
    EXPECT_EQ(std::tuple(AnswerText(bytes), AnswerText(std::span<const std::uint8_t>(bytes, 4))), std::tuple("pr", ""));
}

}  // namespace
}  // namespace orv

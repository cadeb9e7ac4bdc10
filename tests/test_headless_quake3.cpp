// The headless front end with Quake 3 servers and GTV proxies: the real orvane-headless executable as a
// child process against loopback Quake 3 and GTV peers, read line by line from its standard output as
// the lines come.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "apps/headless.h"
#include "document/document.h"
#include "base/strutil.h"
#include "fakes.h"
#include "headless_process.h"
#include "monitors/quake3/gtv.h"
#include "monitors/quake3/q3server.h"
#include "sim/gtvpeer.h"
#include "sim/q3peer.h"

namespace orv {
namespace {

using namespace std::chrono_literals;
using headless_test::HeadlessProcess;
using Json = nlohmann::json;
using SteadyClock = std::chrono::steady_clock;

// The out-of-band datagram of a text, as it arrives at the peer.
std::string OutOfBand(const std::string& text) {
    return std::string("\xFF\xFF\xFF\xFF", 4) + text + std::string(1, '\0');
}

bool Has(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

size_t Count(const std::vector<std::string>& list, const std::string& item) {
    return static_cast<size_t>(std::count(list.begin(), list.end(), item));
}

// Index of the first occurrence, or -1.
long IndexOf(const std::vector<std::string>& list, const std::string& item) {
    const auto it = std::find(list.begin(), list.end(), item);
    return it == list.end() ? -1 : static_cast<long>(it - list.begin());
}

// The rcon texts a peer received.
std::vector<std::string> RconTexts(const sim::CQuakeLoopbackPeer& peer) {
    std::vector<std::string> out;
    for (auto& t : peer.ReceivedTexts())
        if (BeginsWith(t, "rcon")) out.push_back(t);
    return out;
}

size_t Occurrences(const std::string& text, const std::string& piece) {
    size_t n = 0;
    for (size_t pos = text.find(piece); pos != std::string::npos; pos = text.find(piece, pos + piece.size())) ++n;
    return n;
}

// Every object line of a run, by address, and every console line each object reported, in order.
struct Lines {
    std::map<std::string, std::vector<Json>> byAddress;
    std::map<std::string, std::vector<std::string>> console;
    std::int64_t tick = -1;  // of the last object line

    const std::vector<Json>& Of(const std::string& address) { return byAddress[address]; }
    const Json& Last(const std::string& address) { return byAddress[address].back(); }
    // The first line of the object that satisfies pred, or nullptr.
    const Json* First(const std::string& address, const std::function<bool(const Json&)>& pred) {
        for (const Json& j : byAddress[address])
            if (pred(j)) return &j;
        return nullptr;
    }
    std::vector<std::int32_t> States(const std::string& address) {
        std::vector<std::int32_t> s;
        for (const Json& j : byAddress[address]) s.push_back(j.at("state").get<std::int32_t>());
        return s;
    }
};

// Reads object lines into lines until done() holds after one of them; false when the limit passes first.
bool ReadUntil(HeadlessProcess& p, Lines& lines, const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = SteadyClock::now() + limit;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
        if (left.count() <= 0) return false;
        auto line = p.WaitForObject([](const Json&) { return true; }, left);
        if (!line) return false;
        const std::string address = line->at("address");
        lines.tick = line->at("tick").get<std::int64_t>();
        for (auto& c : line->at("console")) lines.console[address].push_back(c.get<std::string>());
        lines.byAddress[address].push_back(std::move(*line));
        if (done()) return true;
    }
}

// True once the states go 1, then 2, then 3, never back.
bool OneThenTwoThenThree(const std::vector<std::int32_t>& states) {
    if (states.empty() || states.front() != 1) return false;
    if (!std::is_sorted(states.begin(), states.end())) return false;
    return std::find(states.begin(), states.end(), 2) != states.end() && states.back() == 3;
}

// Holds the peer's rcon answers back (recording them unanswered) until it has answered a query that
// is not rcon and the test lets it go on: so the monitor sees an answer in state 1 before any console
// answer.
class RconGate {
public:
    explicit RconGate(sim::CQuakeLoopbackPeer& peer, bool openAfterFirstAnswer) : m_auto(openAfterFirstAnswer) {
        peer.SetPacketHook([this](const std::string& text) -> std::optional<std::string> {
            if (!BeginsWith(text, "rcon ")) {
                if (m_auto) m_open = true;
                return std::nullopt;  // answered as usual
            }
            if (!m_open) return std::string();  // recorded, not answered
            return std::nullopt;
        });
    }
    void Open() { m_open = true; }

private:
    const bool m_auto;
    std::atomic<bool> m_open{false};
};

// ---- Command line ----

TEST(HeadlessQuake3, HelpListsBothKindsAndTheirFields) {
    HeadlessProcess p({"--help"});
    ASSERT_TRUE(p.Started());
    EXPECT_EQ(p.Wait(10s), 0);
    std::string text;
    for (auto& l : p.lines) text += l + "\n";
    for (const char* word : {"--q3 HOST[:PORT][,rcon=PASSWORD]\n", "Monitor a Quake 3 (OSP) server",
                             "default port 27960, group \"Servers\"",
                             "--gtv HOST[:PORT][,rcon=PASSWORD][,ext=HOST:PORT][,export=0|1][,autorecord=0|1]",
                             "Monitor a Quake 3 GTV proxy", "default port 27970, group \"Internet TV\"", "CQ3Server",
                             "rconPasswordSet", "CGTV", "chainList", "linkNotBefore", "followedPlayerName",
                             "recordingName", "serverAddress", "hubNumber", "roomState", "roomNumber"})
        EXPECT_NE(text.find(word), std::string::npos) << word;
}

TEST(HeadlessQuake3, BadSpecsExitWithTwoAndSayWhy) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--q3", "127.0.0.1,ext=127.0.0.2:27960"},
         "orvane-headless: --q3 '127.0.0.1,ext=127.0.0.2:27960': unknown setting 'ext' (accepted: rcon)"},
        {{"--q3", "127.0.0.1:65536"}, "--q3 '127.0.0.1:65536': the port must be a number from 1 to 65535"},
        {{"--q3", "bad host"}, "'bad host' is not a host name or a dotted IPv4 address"},
        {{"--q3", "127.0.0.1,rcon"}, "expected KEY=VALUE after a comma, found 'rcon'"},
        {{"--q3"}, "--q3"},
        {{"--gtv", "127.0.0.1,ext=127.0.0.2"},
         "orvane-headless: --gtv '127.0.0.1,ext=127.0.0.2': ext must be HOST:PORT with a host name or a dotted "
         "IPv4 address and a port from 1 to 65535"},
        {{"--gtv", "127.0.0.1,ext=bad host:27970"}, "ext must be HOST:PORT"},
        {{"--gtv", "127.0.0.1,ext=:27970"}, "ext must be HOST:PORT"},
        {{"--gtv", "127.0.0.1,ext=127.0.0.2:0"}, "ext must be HOST:PORT"},
        {{"--gtv", "127.0.0.1,ext=127.0.0.2:65536"}, "ext must be HOST:PORT"},
        {{"--gtv", "127.0.0.1,export=yes"}, "--gtv '127.0.0.1,export=yes': export must be 0 or 1"},
        {{"--gtv", "127.0.0.1,autorecord=2"}, "--gtv '127.0.0.1,autorecord=2': autorecord must be 0 or 1"},
        {{"--gtv", "127.0.0.1,autorecord="}, "autorecord must be 0 or 1"},
        {{"--gtv", "127.0.0.1,proxypw=x"}, "unknown setting 'proxypw' (accepted: rcon, ext, export, autorecord)"},
        {{"--gtv", "127.0.0.1,rcon=a,rcon=b"}, "the setting 'rcon' is given twice"},
        {{"--gtv", "127.0.0.1:x"}, "the port must be a number from 1 to 65535"},
    };
    for (auto& [args, message] : cases) {
        const std::string joined = args.size() > 1 ? args[0] + " " + args[1] : args[0];
        HeadlessProcess p(args);
        ASSERT_TRUE(p.Started());
        EXPECT_EQ(p.Wait(10s), 2) << joined;
        EXPECT_NE(p.Err().find(message), std::string::npos) << joined << "\n" << p.Err();
        EXPECT_EQ(p.Err().find("AddressSanitizer"), std::string::npos) << p.Err();
        EXPECT_TRUE(p.lines.empty()) << joined;  // refused before the first tick
    }
}

TEST(HeadlessQuake3, KindTableEntriesAndDefaultPorts) {
    const auto* q3 = headless::FindKindByOption("--q3");
    ASSERT_NE(q3, nullptr);
    EXPECT_EQ(q3->className, "CQ3Server");
    EXPECT_EQ(q3->group, "Servers");
    EXPECT_EQ(q3->defaultPort, 27960u);
    EXPECT_EQ(headless::FindKindByClass("CQ3Server"), q3);
    const auto* gtv = headless::FindKindByOption("--gtv");
    ASSERT_NE(gtv, nullptr);
    EXPECT_EQ(gtv->className, "CGTV");
    EXPECT_EQ(gtv->group, "Internet TV");
    EXPECT_EQ(gtv->defaultPort, 27970u);
    EXPECT_EQ(headless::FindKindByClass("CGTV"), gtv);

    std::string error;
    auto spec = headless::ParseObjectSpec(*q3, "127.0.0.1", error);
    ASSERT_TRUE(spec) << error;
    EXPECT_EQ(spec->port, 27960u);
    spec = headless::ParseObjectSpec(*gtv, "127.0.0.1,rcon=a\\,b,ext=127.0.0.2:27971", error);
    ASSERT_TRUE(spec) << error;
    EXPECT_EQ(spec->port, 27970u);
    EXPECT_EQ(*spec->Find("rcon"), "a,b");
}

// Tick 0 before any answer: the kinds' own fields with their starting values, the settings in place,
// and both objects in their groups (seen through the layout the run saves).
TEST(HeadlessQuake3, FirstLinesAndGroupsOfBothKinds) {
    char tmpl[] = "/tmp/orvane-headless-q3-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    const std::string path = dir + "/run.orv";
    {
        HeadlessProcess p({"--q3", "127.0.0.1:9", "--gtv",
                           "127.0.0.1:7,rcon=pw,ext=127.0.0.9:27971,export=1,autorecord=0", "--gtv", "127.0.0.1",
                           "--seconds", "0", "--save", path});
        ASSERT_TRUE(p.Started());
        EXPECT_EQ(p.Wait(10s), 0) << p.Err();
        ASSERT_EQ(p.lines.size(), 4u);
        EXPECT_EQ(Json::parse(p.lines[0]).at("objects"), 3);

        const Json q3 = Json::parse(p.lines[1]);
        EXPECT_EQ(q3.at("kind"), "CQ3Server");
        EXPECT_EQ(q3.at("address"), "127.0.0.1:9");
        EXPECT_EQ(q3.at("state"), 1);
        EXPECT_EQ(q3.at("icon"), 159);
        EXPECT_EQ(q3.at("password"), "");
        EXPECT_EQ(q3.at("rconPasswordSet"), false);
        EXPECT_EQ(q3.at("matchRunning"), 0);
        EXPECT_EQ(q3.at("maxPlayers"), 0);
        EXPECT_TRUE(q3.at("playerNames").empty());

        const Json gtv = Json::parse(p.lines[2]);
        EXPECT_EQ(gtv.at("kind"), "CGTV");
        EXPECT_EQ(gtv.at("address"), "127.0.0.1:7");
        EXPECT_EQ(gtv.at("state"), 1);
        EXPECT_EQ(gtv.at("icon"), 161);
        EXPECT_EQ(gtv.at("password"), "");
        EXPECT_EQ(gtv.at("rconPasswordSet"), true);
        EXPECT_EQ(gtv.at("clients"), 0);
        EXPECT_EQ(gtv.at("slots"), 0);
        EXPECT_EQ(gtv.at("chainList"), "");
        EXPECT_EQ(gtv.at("expanded"), 0);
        EXPECT_TRUE(gtv.at("selectedRoom").is_null());
        EXPECT_EQ(gtv.at("linkNotBefore"), 0);
        EXPECT_EQ(gtv.at("exportToWeb"), 1);
        EXPECT_EQ(gtv.at("externalAddress"), "127.0.0.9:27971");
        EXPECT_EQ(gtv.at("autoRecord"), 0);
        EXPECT_EQ(gtv.at("roomCount"), 0);
        EXPECT_TRUE(gtv.at("rooms").empty());
        EXPECT_EQ(gtv.at("players"), 0);

        // Without settings: the default port and the object's own defaults.
        const Json plain = Json::parse(p.lines[3]);
        EXPECT_EQ(plain.at("address"), "127.0.0.1:27970");
        EXPECT_EQ(plain.at("rconPasswordSet"), false);
        EXPECT_EQ(plain.at("exportToWeb"), 0);
        EXPECT_EQ(plain.at("autoRecord"), 1);
    }

    test::TestPlatform tp;
    COrvaneDoc doc(tp.platform);
    ASSERT_TRUE(doc.Open(path));
    ASSERT_EQ(doc.objects.size(), 3u);
    const auto* q3 = dynamic_cast<const CQ3Server*>(doc.objects[0]);
    const auto* gtv = dynamic_cast<const CGTV*>(doc.objects[1]);
    ASSERT_NE(q3, nullptr);
    ASSERT_NE(gtv, nullptr);
    ASSERT_NE(q3->group, nullptr);
    ASSERT_NE(gtv->group, nullptr);
    EXPECT_EQ(q3->group->name, "Servers");
    EXPECT_EQ(gtv->group->name, "Internet TV");
    EXPECT_EQ(gtv->rconPassword, "pw");
    EXPECT_EQ(gtv->externalHost, "127.0.0.9");
    EXPECT_EQ(gtv->externalPort, 27971u);
    EXPECT_EQ(gtv->exportToWeb, 1u);
    EXPECT_EQ(gtv->autoRecord, 0u);
    std::filesystem::remove_all(dir);
}

// ---- Quake 3 server ----

// The peer holds its console answers until it has answered a status or info query: the line goes from
// 1 (no answer) to 2 (answering) to 3 (rcon accepted). On the wire: the two queries and the rcon
// commands, byte for byte, and "password" only once the server answers.
TEST(HeadlessQuake3, ServerGoesFromOneToTwoToThreeWithExactQueries) {
    sim::CQ3Peer peer;
    ASSERT_TRUE(peer.Ok());
    peer.SetMaxClients(12);
    peer.SetPlayers({{5, 50, "^2Alpha"}, {0, 999, "Bravo"}});
    RconGate gate(peer, true);
    const std::string address = peer.Address();
    HeadlessProcess p({"--q3", address + ",rcon=secret"});
    ASSERT_TRUE(p.Started());

    Lines lines;
    ASSERT_TRUE(ReadUntil(
        p, lines, [&] { return !lines.Of(address).empty() && lines.Last(address).at("state") == 3; }, 15s))
        << p.Err();
    const auto states = lines.States(address);
    EXPECT_TRUE(OneThenTwoThenThree(states)) << ::testing::PrintToString(states);
    EXPECT_EQ(lines.Of(address).front().at("tick"), 0);

    // The first answer (status or info) gives the name and the slots; the status answer the players.
    const Json* answering = lines.First(address, [](const Json& j) { return j.at("state") == 2; });
    ASSERT_NE(answering, nullptr);
    EXPECT_EQ(answering->at("serverName"), "Orvane Q3 Server");
    EXPECT_EQ(answering->at("maxPlayers"), 12);
    EXPECT_EQ(answering->at("rconPasswordSet"), true);
    EXPECT_EQ(lines.Last(address).at("players"), 2);
    EXPECT_EQ(lines.Last(address).at("playerNames"), Json::array({"Alpha", "Bravo"}));

    // Both queries leave within one six-second cycle.
    ASSERT_TRUE(peer.WaitFor(
        [](const std::vector<std::string>& r) {
            return Has(r, OutOfBand("getstatus")) && Has(r, OutOfBand("getinfo"));
        },
        8s));
    ::kill(p.Pid(), SIGTERM);
    EXPECT_EQ(p.Wait(5s), 0);

    const std::string getstatus = OutOfBand("getstatus");
    const std::string getinfo = OutOfBand("getinfo");
    const std::string password = OutOfBand("rcon \"secret\" password");
    const std::string scoreTime = OutOfBand("rcon \"secret\" score_time");
    EXPECT_EQ(getstatus, std::string("\xFF\xFF\xFF\xFFgetstatus\0", 14));
    EXPECT_EQ(getinfo, std::string("\xFF\xFF\xFF\xFFgetinfo\0", 12));
    EXPECT_EQ(password.size(), 6u + 8u + 13u);    // password of 6, command of 8
    EXPECT_EQ(scoreTime.size(), 6u + 10u + 13u);  // command of 10
    const auto received = peer.Received();
    for (const std::string& d : received)
        EXPECT_TRUE(d == getstatus || d == getinfo || d == password || d == scoreTime) << ::testing::PrintToString(d);
    EXPECT_TRUE(Has(received, password) || Has(received, scoreTime));
    // "password" asks only a server that has answered.
    const long firstAnswered = std::min<long>(IndexOf(received, getstatus) < 0 ? 1000 : IndexOf(received, getstatus),
                                              IndexOf(received, getinfo) < 0 ? 1000 : IndexOf(received, getinfo));
    if (Has(received, password)) {
        EXPECT_GT(IndexOf(received, password), firstAnswered);
    }
    EXPECT_TRUE(peer.RefusedCommands().empty());
}

// The peer's OSP clock starts between two "score_time" queries (the --rcon one sent on reaching state 3
// and the cycle's own): matchRunning turns 1 and the match sound goes to standard error once.
TEST(HeadlessQuake3, MatchClockStartPlaysTheMatchSound) {
    sim::CQ3Peer peer;
    ASSERT_TRUE(peer.Ok());
    peer.SetPassword("^3join^7me");
    std::atomic<int> scoreQueries{0};
    peer.SetRconHook([&](const std::string& command) -> std::optional<std::string> {
        if (command == "score_time" && ++scoreQueries == 2) peer.SetScoreTime("12:31");
        return std::nullopt;
    });
    const std::string address = peer.Address();
    HeadlessProcess p({"--q3", address + ",rcon=secret", "--rcon", address + "=score_time"});
    ASSERT_TRUE(p.Started());

    Lines lines;
    ASSERT_TRUE(ReadUntil(
        p, lines,
        [&] {
            const Json& j = lines.Last(address);
            return j.at("matchRunning") == 1 && j.at("password") == "joinme";
        },
        15s))
        << p.Err();
    ::kill(p.Pid(), SIGTERM);
    EXPECT_EQ(p.Wait(5s), 0);

    EXPECT_EQ(lines.Of(address).front().at("matchRunning"), 0);
    EXPECT_EQ(lines.Last(address).at("state"), 3);
    EXPECT_EQ(Occurrences(p.Err(), "sound: MatchStarted.wav\n"), 1u) << p.Err();
    EXPECT_EQ(p.Err().find("MatchStopped"), std::string::npos) << p.Err();
    // The console shows both clock lines, colour codes removed.
    const auto& console = lines.console[address];
    EXPECT_TRUE(Has(console, "\"Score_Time\" is:\"Waiting for Players\" default:\"\""))
        << ::testing::PrintToString(console);
    EXPECT_TRUE(Has(console, "\"Score_Time\" is:\"12:31\" default:\"\"")) << ::testing::PrintToString(console);
    EXPECT_GE(Count(peer.ReceivedTexts(), "rcon \"secret\" score_time"), 2u);
}

// No rcon password, given or empty: not one rcon datagram. A server without an rcon password: the two
// console lines, the password cleared, state 2, and no rcon after its answer for a whole cycle.
TEST(HeadlessQuake3, NoRconWithoutPasswordAndNoneAfterTheServerSaysItHasNone) {
    sim::CQ3Peer omitted, empty, bare;
    ASSERT_TRUE(omitted.Ok() && empty.Ok() && bare.Ok());
    bare.SetRconPassword("");  // "No rconpassword set on the server."
    HeadlessProcess p(
        {"--q3", omitted.Address(), "--q3", empty.Address() + ",rcon=", "--q3", bare.Address() + ",rcon=secret"});
    ASSERT_TRUE(p.Started());

    Lines lines;
    std::optional<std::int64_t> refusedAt;
    ASSERT_TRUE(ReadUntil(
        p, lines,
        [&] {
            if (!refusedAt && Has(lines.console[bare.Address()], CQ3Server::kNoRconLine2)) refusedAt = lines.tick;
            // A whole six-tick cycle after the refusal, and at least one cycle in all.
            return refusedAt && lines.tick >= std::max<std::int64_t>(*refusedAt + 6, 6) &&
                   lines.Of(bare.Address()).back().at("tick") == lines.tick;
        },
        20s))
        << p.Err();
    ::kill(p.Pid(), SIGTERM);
    EXPECT_EQ(p.Wait(5s), 0);

    for (const sim::CQ3Peer* peer : {&omitted, &empty}) {
        const std::string address = peer->Address();
        EXPECT_TRUE(RconTexts(*peer).empty()) << address << ::testing::PrintToString(RconTexts(*peer));
        EXPECT_TRUE(Has(peer->ReceivedTexts(), "getstatus")) << address;
        EXPECT_TRUE(Has(peer->ReceivedTexts(), "getinfo")) << address;
        const auto states = lines.States(address);
        EXPECT_TRUE(std::find(states.begin(), states.end(), 2) != states.end()) << address;
        EXPECT_TRUE(std::find(states.begin(), states.end(), 3) == states.end()) << address;
        EXPECT_EQ(lines.Last(address).at("rconPasswordSet"), false) << address;
    }

    const std::string address = bare.Address();
    const auto& console = lines.console[address];
    const long answer = IndexOf(console, "No rconpassword set on the server.");
    ASSERT_GE(answer, 0) << ::testing::PrintToString(console);
    ASSERT_LT(static_cast<size_t>(answer + 2), console.size());
    EXPECT_EQ(console[static_cast<size_t>(answer + 1)], CQ3Server::kNoRconLine1);
    EXPECT_EQ(console[static_cast<size_t>(answer + 2)], CQ3Server::kNoRconLine2);
    // Exactly the one attempt the server answered, whatever the phase it came at.
    const auto rcon = RconTexts(bare);
    ASSERT_EQ(rcon.size(), 1u) << ::testing::PrintToString(rcon);
    EXPECT_TRUE(rcon[0] == "rcon \"secret\" score_time" || rcon[0] == "rcon \"secret\" password") << rcon[0];
    EXPECT_EQ(bare.RefusedCommands().size(), 1u);
    const Json* cleared = lines.First(address, [](const Json& j) { return j.at("rconPasswordSet") == false; });
    ASSERT_NE(cleared, nullptr);
    EXPECT_EQ(cleared->at("state"), 2);
    const auto states = lines.States(address);
    EXPECT_TRUE(std::find(states.begin(), states.end(), 3) == states.end()) << ::testing::PrintToString(states);
    EXPECT_EQ(lines.Last(address).at("state"), 2);
}

// ---- GTV proxy ----

// What the peer saw, with the time each text arrived.
class ArrivalLog {
public:
    explicit ArrivalLog(sim::CQuakeLoopbackPeer& peer) {
        peer.SetPacketHook([this](const std::string& text) -> std::optional<std::string> {
            std::lock_guard lk(m_lock);
            m_texts.emplace_back(text, SteadyClock::now());
            return std::nullopt;
        });
    }
    std::vector<std::pair<std::string, SteadyClock::time_point>> Texts() const {
        std::lock_guard lk(m_lock);
        return m_texts;
    }
    size_t Count(const std::string& text) const {
        std::lock_guard lk(m_lock);
        return static_cast<size_t>(
            std::count_if(m_texts.begin(), m_texts.end(), [&](auto& t) { return t.first == text; }));
    }

private:
    mutable std::mutex m_lock;
    std::vector<std::pair<std::string, SteadyClock::time_point>> m_texts;
};

// A proxy with three rooms, one relaying a Quake 3 server that the run monitors too: the rooms with
// their maps, players and following, the link the document makes, and the five-second cycle of manager
// query, hub queries and gtv_password.
TEST(HeadlessQuake3, GTVRoomsAndTheFiveSecondCycle) {
    sim::CQ3Peer game;
    sim::CGTVPeer tv;
    ASSERT_TRUE(game.Ok() && tv.Ok());
    tv.SetClients(7, 64);
    tv.SetChains("127.0.0.1:27971 127.0.0.1:27972 ");
    tv.SetGtvPassword("^1tv^7pass");
    sim::GTVPeerRoom final;
    final.hubNumber = 3;
    final.roomState = 3;
    final.roomNumber = 1;
    final.map = "q3dm17";
    final.description = "Grand ^2Final";
    final.parent = game.Address();
    final.following = 4;
    final.players = {{0, "^1Alpha"}, {2, "GTV-relay"}, {4, "Bravo"}};
    sim::GTVPeerRoom hidden;
    hidden.hubNumber = 5;
    hidden.roomState = 2;
    hidden.map = "q3tourney2";
    hidden.recording = "demo1";
    hidden.parent = "127.0.0.1:1";
    sim::GTVPeerRoom waiting;
    waiting.hubNumber = 7;
    waiting.roomState = 1;
    waiting.roomNumber = 2;
    waiting.map = "ospdm1";
    waiting.following = 9;  // nobody among its players
    waiting.players = {{1, "Charlie"}};
    tv.SetRooms({final, hidden, waiting});
    ArrivalLog log(tv);

    HeadlessProcess p({"--q3", game.Address(), "--gtv", tv.Address() + ",rcon=secret,ext=127.0.0.1:27999,export=1",
                       "--seconds", "30"});
    ASSERT_TRUE(p.Started());

    Lines lines;
    const std::string address = tv.Address();
    ASSERT_TRUE(ReadUntil(
        p, lines,
        [&] {
            if (lines.Of(address).empty()) return false;
            const Json& j = lines.Last(address);
            return j.at("rooms").size() == 3 && !j.at("rooms")[0].at("linked").is_null() &&
                   j.at("password") == "tvpass" && log.Count("getManagerInfo") >= 2 && log.Count("gethubinfo 7") >= 2;
        },
        20s))
        << p.Err();
    const Json j = lines.Last(address);
    ::kill(p.Pid(), SIGTERM);
    EXPECT_EQ(p.Wait(5s), 0);

    EXPECT_EQ(j.at("kind"), "CGTV");
    EXPECT_EQ(j.at("state"), 3);
    EXPECT_EQ(j.at("serverName"), "Orvane GTV");
    EXPECT_EQ(j.at("clients"), 7);
    EXPECT_EQ(j.at("slots"), 64);
    EXPECT_EQ(j.at("chainList"), "127.0.0.1:27971 127.0.0.1:27972 ");
    EXPECT_EQ(j.at("expanded"), 0);
    EXPECT_TRUE(j.at("selectedRoom").is_null());
    EXPECT_EQ(j.at("players"), 0);  // no selected room, no player list
    EXPECT_EQ(j.at("linkNotBefore"), 0);
    EXPECT_EQ(j.at("exportToWeb"), 1);
    EXPECT_EQ(j.at("externalAddress"), "127.0.0.1:27999");
    EXPECT_EQ(j.at("autoRecord"), 1);
    EXPECT_EQ(j.at("roomCount"), 3);

    const Json& r0 = j.at("rooms")[0];
    EXPECT_EQ(r0.at("hubNumber"), 3);
    EXPECT_EQ(r0.at("roomState"), 3);
    EXPECT_EQ(r0.at("roomNumber"), 1);
    EXPECT_EQ(r0.at("map"), "q3dm17");
    EXPECT_EQ(r0.at("description"), "Grand ^2Final");  // the hub's "desc" as it came
    EXPECT_EQ(r0.at("following"), 4);
    EXPECT_EQ(r0.at("followedPlayerName"), "Bravo");
    EXPECT_EQ(r0.at("recordingName"), "");
    EXPECT_EQ(r0.at("players"), Json::array({"Alpha", "GTV-relay", "Bravo"}));
    EXPECT_EQ(r0.at("playerNumbers"), Json::array({0, 2, 4}));
    EXPECT_EQ(r0.at("serverAddress"), game.Address());
    EXPECT_EQ(r0.at("linked"), game.Address());

    const Json& r1 = j.at("rooms")[1];
    EXPECT_EQ(r1.at("hubNumber"), 5);
    EXPECT_EQ(r1.at("roomState"), 2);
    EXPECT_EQ(r1.at("map"), "q3tourney2");
    EXPECT_EQ(r1.at("recordingName"), "demo1");
    EXPECT_EQ(r1.at("following"), -1);  // no "following" key
    EXPECT_EQ(r1.at("followedPlayerName"), "-");
    EXPECT_TRUE(r1.at("players").empty());
    EXPECT_EQ(r1.at("serverAddress"), "127.0.0.1:1");
    EXPECT_TRUE(r1.at("linked").is_null());  // nothing monitored there

    const Json& r2 = j.at("rooms")[2];
    EXPECT_EQ(r2.at("hubNumber"), 7);
    EXPECT_EQ(r2.at("roomState"), 1);
    EXPECT_EQ(r2.at("roomNumber"), 2);
    EXPECT_EQ(r2.at("following"), 9);
    EXPECT_EQ(r2.at("followedPlayerName"), "-");
    EXPECT_EQ(r2.at("players"), Json::array({"Charlie"}));
    EXPECT_EQ(r2.at("serverAddress"), "");
    EXPECT_TRUE(r2.at("linked").is_null());

    // The bytes of the two queries.
    const auto received = tv.Received();
    EXPECT_EQ(std::string("\xFF\xFF\xFF\xFFgetManagerInfo\0", 19), OutOfBand("getManagerInfo"));
    EXPECT_TRUE(Has(received, OutOfBand("getManagerInfo")));
    EXPECT_EQ(std::string("\xFF\xFF\xFF\xFFgethubinfo 3\0", 17), OutOfBand("gethubinfo 3"));
    EXPECT_TRUE(Has(received, OutOfBand("gethubinfo 3")));

    // One cycle: the manager query, a second later the three hub queries in room order, a second after
    // that gtv_password; five seconds from one manager query to the next.
    const auto texts = log.Texts();
    std::vector<size_t> managers;
    for (size_t i = 0; i < texts.size(); ++i)
        if (texts[i].first == "getManagerInfo") managers.push_back(i);
    ASSERT_GE(managers.size(), 2u);
    const size_t a = managers[0], b = managers[1];
    const double cycle = std::chrono::duration<double>(texts[b].second - texts[a].second).count();
    EXPECT_GT(cycle, 4.5);
    EXPECT_LT(cycle, 5.5);
    std::vector<std::string> between;
    for (size_t i = a + 1; i < b; ++i)
        if (texts[i].first != "rcon \"secret\" gtv_follow") between.push_back(texts[i].first);  // the probe
    EXPECT_EQ(between, (std::vector<std::string>{"gethubinfo 3", "gethubinfo 5", "gethubinfo 7",
                                                 "rcon \"secret\" gtv_password"}));
    auto after = [&](const std::string& text) {
        for (size_t i = a + 1; i < b; ++i)
            if (texts[i].first == text) return std::chrono::duration<double>(texts[i].second - texts[a].second).count();
        return -1.0;
    };
    EXPECT_NEAR(after("gethubinfo 3"), 1.0, 0.5);
    EXPECT_NEAR(after("rcon \"secret\" gtv_password"), 2.0, 0.5);
}

// With an rcon password the first answer after silence brings the probe "gtv_follow" (held unanswered
// here, so the line stays in 2); without one nothing rcon leaves; a wrong one is answered "Bad
// rconpassword." and rcon stays silent from then on.
TEST(HeadlessQuake3, GTVProbeOnlyWithPasswordAndWrongPasswordSilencesRcon) {
    sim::CGTVPeer held, open, wrong;
    ASSERT_TRUE(held.Ok() && open.Ok() && wrong.Ok());
    for (sim::CGTVPeer* peer : {&held, &open, &wrong}) {
        sim::GTVPeerRoom room;
        room.hubNumber = 1;
        peer->SetRooms({room});
    }
    RconGate gate(held, false);
    wrong.SetRconPassword("right");
    HeadlessProcess p(
        {"--gtv", held.Address() + ",rcon=secret", "--gtv", open.Address(), "--gtv", wrong.Address() + ",rcon=wrong"});
    ASSERT_TRUE(p.Started());

    Lines lines;
    bool opened = false;
    std::optional<std::int64_t> openAnswering, refusedAt;
    ASSERT_TRUE(ReadUntil(
        p, lines,
        [&] {
            if (lines.Of(held.Address()).empty() || lines.Of(open.Address()).empty() ||
                lines.Of(wrong.Address()).empty())
                return false;
            // The held proxy: once its line shows 2, its answers go on.
            if (!opened && lines.Last(held.Address()).at("state") == 2) {
                gate.Open();
                opened = true;
            }
            if (!openAnswering && lines.Last(open.Address()).at("state") == 2) openAnswering = lines.tick;
            if (!refusedAt && Has(lines.console[wrong.Address()], CGTV::kBadRconLine2)) refusedAt = lines.tick;
            // A whole five-tick cycle after the refusal and after the open proxy answered.
            return opened && lines.Last(held.Address()).at("state") == 3 && openAnswering &&
                   lines.tick >= *openAnswering + 5 && refusedAt && lines.tick >= *refusedAt + 5;
        },
        25s))
        << p.Err();
    ::kill(p.Pid(), SIGTERM);
    EXPECT_EQ(p.Wait(5s), 0);

    // Held: 1, 2 (the probe unanswered), then 3 once its answers go on; the probe right after the
    // first manager query, before the next tick's hub query, and only once.
    const auto heldStates = lines.States(held.Address());
    EXPECT_TRUE(OneThenTwoThenThree(heldStates)) << ::testing::PrintToString(heldStates);
    const auto heldTexts = held.ReceivedTexts();
    const long manager = IndexOf(heldTexts, "getManagerInfo");
    ASSERT_GE(manager, 0);
    EXPECT_EQ(IndexOf(heldTexts, "rcon \"secret\" gtv_follow"), manager + 1) << ::testing::PrintToString(heldTexts);
    EXPECT_EQ(Count(heldTexts, "rcon \"secret\" gtv_follow"), 1u);
    EXPECT_TRUE(Has(held.ReceivedTexts(), "rcon \"secret\" gtv_password"));
    EXPECT_EQ(lines.Last(held.Address()).at("password"), "");  // the peer's gtv_password is empty

    // Open: answering, never a single rcon datagram.
    EXPECT_TRUE(RconTexts(open).empty()) << ::testing::PrintToString(RconTexts(open));
    EXPECT_EQ(lines.Last(open.Address()).at("state"), 2);
    EXPECT_GE(Count(open.ReceivedTexts(), "getManagerInfo"), 1u);
    EXPECT_GE(Count(open.ReceivedTexts(), "gethubinfo 1"), 1u);

    // Wrong: the one refused attempt (the probe or gtv_password, by the phase it started at), the
    // console lines, the sound, state 2 for good.
    const auto rcon = RconTexts(wrong);
    ASSERT_EQ(rcon.size(), 1u) << ::testing::PrintToString(rcon);
    EXPECT_TRUE(rcon[0] == "rcon \"wrong\" gtv_follow" || rcon[0] == "rcon \"wrong\" gtv_password") << rcon[0];
    EXPECT_EQ(wrong.RefusedCommands().size(), 1u);
    const auto& console = lines.console[wrong.Address()];
    const long bad = IndexOf(console, "Bad rconpassword.");
    ASSERT_GE(bad, 0) << ::testing::PrintToString(console);
    ASSERT_LT(static_cast<size_t>(bad + 2), console.size());
    EXPECT_EQ(console[static_cast<size_t>(bad + 1)], CGTV::kBadRconLine1);
    EXPECT_EQ(console[static_cast<size_t>(bad + 2)], CGTV::kBadRconLine2);
    const auto wrongStates = lines.States(wrong.Address());
    EXPECT_TRUE(std::find(wrongStates.begin(), wrongStates.end(), 3) == wrongStates.end());
    EXPECT_EQ(lines.Last(wrong.Address()).at("state"), 2);
    EXPECT_EQ(lines.Last(wrong.Address()).at("rconPasswordSet"), false);
    EXPECT_EQ(Occurrences(p.Err(), "sound: badrcon.wav\n"), 1u) << p.Err();
}

}  // namespace
}  // namespace orv

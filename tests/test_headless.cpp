// The headless front end: the command line through its parser, one end-to-end run of the real
// orvane-headless with every kind against its loopback peer (a table of what each object's line must
// reach), present-day and classic Half-Life servers in one run, the exit codes with --open/--save, the
// status page it publishes to a loopback FTP server (and keeps when the template is missing), the needed rate.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <sstream>

#include "apps/headless.h"
#include "ftptestserver.h"
#include "headless_process.h"
#include "monitor_fixture.h"
#include "monitors/halflife/hltv.h"
#include "sim/a2speer.h"
#include "sim/gtvpeer.h"
#include "sim/hlpeer.h"
#include "sim/hltvpeer.h"
#include "sim/q3peer.h"

namespace orv {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using headless_test::HeadlessProcess;
using headless_test::Json;
using test::Framed;
namespace fs = std::filesystem;

// Holds a peer's rcon and challenge answers (recorded, not answered) until the flag is set, so that the
// object's line shows state 2 before state 3.
template <class P>
std::shared_ptr<std::atomic<bool>> Hold(P& peer) {
    auto open = std::make_shared<std::atomic<bool>>(false);
    peer.SetPacketHook([open](const std::string& t) -> std::optional<std::string> {
        if (*open || !(t.starts_with("rcon") || t.starts_with("challenge"))) return std::nullopt;
        return std::string();
    });
    return open;
}

// The command line in this process: parsed, then run (for the tick at second 0 without --seconds) when
// the parser accepts it (the kinds check their own settings as they make the objects). The exit code, standard output
// and standard error.
std::tuple<int, std::string, std::string> Parse(std::vector<std::string> args) {
    args.insert(args.begin(), "orvane-headless");
    std::vector<const char*> argv;
    for (auto& a : args) argv.push_back(a.c_str());
    std::ostringstream out, err;
    int code = -1;
    auto options = headless::ParseCommandLine(static_cast<int>(argv.size()), argv.data(), out, err, code);
    if (options) {
        options->seconds = options->seconds.value_or(0);
        const volatile std::sig_atomic_t stop = 0;
        code = headless::CHeadlessRunner(*options, out, err).Run(stop);
    }
    return {code, out.str(), err.str()};
}

// The rows of tests/data/headless_usage.txt: refusals with their messages, --help, a layout that cannot be
// read, the needed rate and its warning.
TEST(HeadlessCommandLine, EachLineExitsWithItsCodeAndSaysWhy) {
    for (auto& row : test::Rows("headless_usage.txt")) {
        const auto [code, out, err] = Parse(test::Split(row["args"], '|'));
        const int want = row.count("code") ? std::stoi(row["code"]) : headless::kExitUsage;
        EXPECT_EQ(code, want) << row["args"];
        EXPECT_EQ(out.empty(), !row.count("out")) << out;  // nothing when refused before the first tick
        for (auto& word : test::Split(row["out"], '|')) EXPECT_NE(out.find(word), std::string::npos) << word;
        if (want == headless::kExitUsage) {
            EXPECT_NE(err.find("orvane-headless: "), std::string::npos) << err;
            EXPECT_NE(err.find(row["err"]), std::string::npos) << row["args"] << ": " << row["err"] << "\n" << err;
        } else {
            EXPECT_EQ(err, row["err"]) << row["args"];
        }
    }
    // Bytes from the wire become valid UTF-8: kept when valid, Latin-1 otherwise.
    EXPECT_EQ(std::tuple(headless::Utf8("Caf\xE9 \xFF\x01"), headless::Utf8("d\xC3\xA9p\xC3\xB4t")),
              std::tuple("Caf\xC3\xA9 \xC3\xBF\x01", "d\xC3\xA9p\xC3\xB4t"));
}

// One run with every kind, each against its peer; the HLTV proxy relays the Half-Life server and the GTV
// room the Quake 3 server, both monitored too. Each object's lines go from state 1 through 2 to 3, where
// they reach the fields of its row in tests/data/headless_fields.txt.
TEST(HeadlessRun, EveryKindGoesFromOneToTwoToThreeAndReportsItsFields) {
    sim::CHLPeer hl;
    sim::CHLTVPeer tv;
    sim::CQ3Peer q3;
    sim::CGTVPeer gtv;
    const std::string hlAddress = "127.0.0.1:" + std::to_string(hl.Port());
    hl.SetRconPassword("pw");
    hl.SetMatchReport({"Alpha", "Beta", 2, 7, 0, 5, 0});
    hl.SetRconHook([](const std::string& c) -> std::optional<std::string> {
        return c == "echo once=1" ? std::optional<std::string>("only-once-line\n") : std::nullopt;
    });
    tv.SetConnectedTo(hlAddress);
    q3.SetPassword("^3join^7me");
    q3.SetScoreTime("12:31");
    q3.SetPlayers({{5, 50, "^2Alpha"}, {0, 999, "Bravo"}});
    gtv.SetChains("127.0.0.1:27971 ");
    gtv.SetGtvPassword("^1tv^7pass");
    // Hub 3, room state 3, room 1 on q3dm17, not recording, relaying the Quake 3 server, following player 4.
    gtv.SetRooms({{3, 3, 1, "q3dm17", "", "Grand ^2Final", q3.Address(), 4, {{0, "^1Alpha"}, {4, "Bravo"}}}});

    // By kind, the address and the rcon answers held until the line shows state 2; none for the Half-Life
    // kinds, whose challenge answer grants state 3 at once (and the proxy's peer answers through the hook).
    const std::map<std::string, std::pair<std::string, std::shared_ptr<std::atomic<bool>>>> objects = {
        {"CHLServer", {hlAddress, nullptr}},
        {"CHLTV", {tv.Address(), nullptr}},
        {"CQ3Server", {q3.Address(), Hold(q3)}},
        {"CGTV", {gtv.Address(), Hold(gtv)}}};
    std::map<std::string, Json> want;  // by address
    for (auto& row : test::Rows("headless_fields.txt")) {
        std::string text = row["fields"];
        for (auto [mark, address] : {std::pair{"$HL", hlAddress}, {"$Q3", q3.Address()}})
            for (size_t at; (at = text.find(mark)) != std::string::npos;) text.replace(at, 3, address);
        want[objects.at(row["kind"]).first] = Json::parse(text);
    }
    HeadlessProcess p({"--hl", hlAddress + ",rcon=pw", "--rcon", hlAddress + "=echo once=1", "--hltv",
                       tv.Address() + ",rcon=secret,ext=127.0.0.9:27021,export=0,autorecord=1", "--q3",
                       q3.Address() + ",rcon=secret", "--gtv",
                       gtv.Address() + ",rcon=secret,ext=127.0.0.1:27999,export=1,autorecord=0"});
    auto reached = [&](const std::string& address) {
        if (p.StateOf(address) != 3) return false;
        Json merged = p.Last(address);
        merged.update(want[address]);
        return merged == p.Last(address);
    };
    const bool allReached = p.Until(
        [&] {
            for (auto& [kind, o] : objects)
                if (o.second && p.StateOf(o.first) == 2) *o.second = true;
            return std::ranges::all_of(objects, [&](auto& o) { return reached(o.second.first); });
        },
        25s);
    for (auto& [kind, o] : objects)
        if (!reached(o.first)) ADD_FAILURE() << kind << " never reached " << want[o.first] << ": " << p.Last(o.first);
    ASSERT_TRUE(allReached) << p.Err();
    ::kill(p.Pid(), SIGTERM);
    EXPECT_EQ(p.Wait(5s), 0);
    for (auto& [kind, o] : objects) {
        const auto& lines = p.objects[o.first];
        EXPECT_EQ(std::tuple(lines.front()["tick"], lines.front()["state"], lines.front()["kind"]),
                  std::tuple(0, 1, kind));
        std::vector<int> states;
        for (auto& j : lines) states.push_back(j["state"]);
        EXPECT_TRUE(std::is_sorted(states.begin(), states.end()) && (!o.second || *o.second))
            << kind << testing::PrintToString(states);
    }
    // Each console line is reported once, on the line after it came; the --rcon command went out once.
    int once = 0;
    for (auto& j : p.objects[hlAddress])
        for (auto& c : j["console"]) once += c == "only-once-line";
    EXPECT_EQ(once, 1);
    const auto accepted = hl.AcceptedCommands();
    EXPECT_EQ(std::count(accepted.begin(), accepted.end(), "echo once=1"), 1);
    EXPECT_NE(p.Err().find("sound: MatchStarted.wav\nsound: MatchStarted.wav\n"), std::string::npos) << p.Err();
}

// The address on each line in order; "" on the document line.
std::vector<std::string> Addresses(const HeadlessProcess& p) {
    std::vector<std::string> out;
    for (auto& line : p.lines) out.push_back(Json::parse(line).value("address", ""));
    return out;
}

TEST(HeadlessRun, SavedLayoutOpensAgainAndExitCodes) {
    // The address on each line: the document line, then the objects (the GTV proxy on its default port).
    std::vector<std::string> lines{"", "127.0.0.1:9", "127.0.0.1:8", "127.0.0.1:7", "127.0.0.1:27970"};
    test::TempDir dir{"orvane-headless"};
    const std::string path = (dir.path / "run.orv").string();
    {
        HeadlessProcess p({"--hl", "127.0.0.1:9,rcon=pw", "--hl", "127.0.0.1:9", "--hltv",
                           "127.0.0.1:8,proxypw=relay\\,p\\\\w=d", "--q3", "127.0.0.1:7", "--gtv", "127.0.0.1",
                           "--limit", "20480", "--no-sound", "--seconds", "0", "--save", path});
        EXPECT_EQ(p.Wait(10s), 0) << p.Err();
        EXPECT_NE(p.Err().find("This Object already exists\nGroup : Servers\nZone : LAN Local\n"), std::string::npos);
        const Json doc = p.ticks.at(0);
        EXPECT_EQ(std::tuple(doc["tick"], doc["limit"], doc["objects"], doc["sound"]), std::tuple(0, 20480, 4, false));
        EXPECT_GE(doc["queue"].get<int>() + doc["sent"].get<int>(), 2);  // the Half-Life kinds' details, by the tick
        EXPECT_EQ(Addresses(p), lines);
    }
    test::TestPlatform tp;
    COrvaneDoc saved(tp.platform);
    ASSERT_TRUE(saved.Open(path));
    std::vector<std::string> groups;
    for (auto& o : saved.objects) groups.push_back(o->group ? o->group->name : "");
    EXPECT_EQ(groups, (std::vector<std::string>{"Servers", "Local TV", "Servers", "Internet TV"}));
    EXPECT_EQ(dynamic_cast<CHLTV&>(*saved.objects[1]).proxyPassword, "relay,p\\w=d");
    // The opened layout brings its objects and limit, a command-line object comes after them, --limit wins.
    for (auto [extra, limit] :
         {std::pair{std::vector<std::string>{"--limit", "40960"}, 40960}, {{"--hl", "127.0.0.1:6"}, 20480}}) {
        if (limit == 20480) lines.push_back("127.0.0.1:6");
        extra.insert(extra.end(), {"--open", path, "--seconds", "0"});
        HeadlessProcess p(extra);
        EXPECT_EQ(p.Wait(10s), 0) << p.Err();
        EXPECT_EQ(std::tuple(Addresses(p), p.ticks.at(0)["objects"], p.ticks.at(0)["limit"]),
                  std::tuple(lines, lines.size() - 1, limit));
    }
    // Ctrl+C ends the run between ticks with 0; a closed standard output at the next tick with 1, not by SIGPIPE.
    for (bool interrupt : {true, false}) {
        HeadlessProcess p({"--hl", "127.0.0.1:9"});
        ASSERT_TRUE(p.ReadLine(5s));  // the first tick's document line: the run is going
        const auto before = headless_test::Clock::now();
        interrupt ? (void)::kill(p.Pid(), SIGINT) : p.CloseOutput();
        EXPECT_EQ(p.Wait(5s), interrupt ? 0 : 1);
        EXPECT_TRUE(!interrupt || headless_test::Clock::now() - before < 1s) << "Ctrl+C waited for the next tick";
        EXPECT_EQ(p.Err().find("Sanitizer"), std::string::npos) << p.Err();
    }
}

// A layout opened with --open enables the status page toward a loopback FTP server (--ftp-port); a GTV
// proxy comes from the command line; the program runs in the folder that holds web_template.html.
TEST(HeadlessRun, OpenedLayoutPublishesTheStatusPage) {
    test::TempDir tmp{"orvane-headless-page"};
    test::FtpServer server{tmp.path / "ftp"};
    ASSERT_GT(server.port, 0) << "the test FTP server did not start";
    fs::create_directories(server.home / "www");
    sim::CGTVPeer gtv;
    gtv.SetClients(7, 64);
    const fs::path layout = tmp.path / "page.orv";
    {
        test::TestPlatform tp;
        COrvaneDoc doc(tp.platform);
        doc.New();
        // Every 2 seconds to /www/status.html on the FTP server at 127.0.0.1 (its port from --ftp-port).
        doc.SetVuzuVedSettings(
            {true, "127.0.0.1", test::FtpServer::kUser, test::FtpServer::kPassword, "/www/status.html", 2});
        ASSERT_TRUE(doc.Save(layout.string()));
    }
    // The page itself is the status page module's (test_modules.cpp): here, that the proxy's values reach it.
    test::WriteFile(
        tmp.path / "web_template.html",
        "[SECTION_GTV][SECTION_GTV_LOOP][#HOSTNAME]|[#IP]|[#NBSPEC]/[#NBSPECMAX][/SECTION_GTV_LOOP][/SECTION_GTV]");
    // Ticks 0 to 7: uploads on ticks 1, 3, 5 and 7; the proxy has answered its manager query well before the last.
    std::vector<std::string> args{"--open",     layout.string(),
                                  "--gtv",      gtv.Address() + ",ext=gtv.example.org:27970,export=1",
                                  "--ftp-port", std::to_string(server.port),
                                  "--seconds",  "7"};
    HeadlessProcess p(args, tmp.path.string());
    ASSERT_EQ(p.Wait(30s), 0) << p.Err();
    EXPECT_EQ(p.Err(), "");
    EXPECT_EQ(server.Stores(), std::vector<std::string>(4, "/www/status.html"));
    const auto page = test::ReadFile(server.home / "www" / "status.html");
    EXPECT_EQ(page, "Orvane GTV|gtv.example.org:27970|7/64");
    // Without the template: told once, and the live page is kept at every interval.
    fs::remove(tmp.path / "web_template.html");
    args.back() = "3";
    HeadlessProcess again(args, tmp.path.string());
    ASSERT_EQ(again.Wait(30s), 0) << again.Err();
    EXPECT_EQ(again.Err(),
              "Unable to open template file web_template.html. Please put it on same dir that this program\n");
    EXPECT_EQ(std::tuple(server.Stores().size(), test::ReadFile(server.home / "www" / "status.html")),
              std::tuple(4u, page));
}

size_t CountStarting(const std::vector<std::string>& received, const std::string& head) {
    return static_cast<size_t>(
        std::count_if(received.begin(), received.end(), [&](auto& d) { return d.starts_with(head); }));
}

// Present-day servers and a classic one in one run: each object finds its dialect by itself, and a classic
// server sees exactly the bytes of old.
TEST(HeadlessRun, EachHalfLifeObjectFindsItsDialectAndClassicBytesStayTheSame) {
    sim::CHLPeer classic;
    sim::CA2SPeer modern, modernRcon, fresh, modernTcp;
    ASSERT_TRUE(modernTcp.EnableTcpRcon());
    sim::CHLTVPeer tvBase;
    sim::CA2SPeer tv(tvBase.Base());
    modern.Base().SetPlayers({"alpha", "beta"});
    modern.Base().SetMaxPlayers(20);
    modern.SetSettings({.bots = 1});
    fresh.SetSettings({.freshChallengeEveryQuery = true});
    tv.SetSettings({.serverType = 'p'});
    const auto address = [](int port) { return "127.0.0.1:" + std::to_string(port); };
    test::TempDir dir;
    std::vector<std::string> args = {"--hl",      address(classic.Port()) + ",rcon=secret",
                                     "--hl",      address(modern.Port()),
                                     "--hl",      address(modernRcon.Port()) + ",rcon=secret",
                                     "--hl",      address(fresh.Port()),
                                     "--hltv",    tv.Address() + ",rcon=secret",
                                     "--hl",      modernTcp.Address() + ",rcon=secret",
                                     "--rcon",    modernTcp.Address() + "=cvarlist",
                                     "--limit",   "1000000",
                                     "--save",    (dir.path / "13.orv").string(),
                                     "--seconds", "13"};
    HeadlessProcess p(args);
    ASSERT_EQ(p.Wait(40s), 0) << p.Err();
    ASSERT_EQ(p.objects.size(), 6u);

    const Json m = p.Last(address(modern.Port()));
    EXPECT_EQ(std::tuple(m["state"], m["protocol"], m["serverName"], m["maxPlayers"], m["bots"], m["strays"],
                         m["playerNames"]),
              std::tuple(2, "a2s", "Orvane Test Server", 20, 1, 0, Json::array({"alpha", "beta"})));
    // Its queries: A2S_INFO asks for the challenge and goes again with it; then info and players carry it.
    const std::string info = Framed("TSource Engine Query"), ch = "\xDE\xC0\x17\x2A",
                      players = "\xFF\xFF\xFF\xFFU" + ch;
    EXPECT_EQ(modern.Base().Received(),
              (std::vector<std::string>{Framed("details"), info, info + ch, players, info + ch, players, info + ch}));
    const Json r = p.Last(address(modernRcon.Port()));
    EXPECT_EQ(std::tuple(r["state"], r["protocol"], r["rconTransport"]), std::tuple(3, "a2s", "udp"));
    EXPECT_EQ(CountStarting(modernRcon.Base().AcceptedCommands(), "status"), 3u);  // once on rcon, then per cycle
    const Json t = p.Last(tv.Address());
    EXPECT_EQ(std::tuple(t["state"], t["protocol"], t["icon"], t["serverName"]),
              std::tuple(3, "a2s", 153, "Orvane HLTV"));

    // A present-day server with its console over TCP: --rcon goes that way, its long output reaches the
    // console; nothing of the datagram rcon reaches the server.
    const Json x = p.Last(modernTcp.Address());
    EXPECT_EQ(std::tuple(x["state"], x["rconTransport"], x["playerNames"]), std::tuple(3, "tcp", Json::array()));
    EXPECT_EQ(CountStarting(modernTcp.TcpRcon()->Commands(), "cvarlist"), 1u);
    bool end = false;
    for (const Json& line : p.objects[modernTcp.Address()])
        for (const Json& text : line["console"]) end = end || text == "400 convars/concommands";
    EXPECT_TRUE(end);
    EXPECT_EQ(CountStarting(modernTcp.Base().Received(), "\xFF\xFF\xFF\xFFrcon") +
                  CountStarting(modernTcp.Base().Received(), "\xFF\xFF\xFF\xFF" "challenge"),
              0u);

    // A fresh challenge for every query: one retry per query and cycle, three info and two players cycles.
    const Json f = p.Last(address(fresh.Port()));
    EXPECT_EQ(std::tuple(f["state"], f["protocol"]), std::tuple(1, "a2s"));
    EXPECT_EQ(CountStarting(fresh.Base().Received(), Framed("TSource Engine Query")), 6u);
    EXPECT_EQ(CountStarting(fresh.Base().Received(), "\xFF\xFF\xFF\xFFU"), 4u);

    // A classic server: details with A2S_INFO once, then the classic cycle byte for byte.
    const Json c = p.Last(address(classic.Port()));
    EXPECT_EQ(std::tuple(c["state"], c["protocol"], c.contains("bots")), std::tuple(3, "classic", false));
    const auto rcon = [](const std::string& command) { return Framed("rcon 123456789 \"secret\" " + command); };
    const std::vector<std::string> cycle = {Framed("players"), rcon("nxn_match_report"), rcon("status"),
                                            rcon("sv_password"), Framed("details")};
    std::vector<std::string> expected = {Framed("details"), Framed("TSource Engine Query"), Framed("challenge rcon"),
                                         rcon("status")};
    for (int i = 0; i < 2; ++i) expected.insert(expected.end(), cycle.begin(), cycle.end());
    ASSERT_TRUE(classic.WaitForCount(expected.size(), 2s));
    EXPECT_EQ(classic.Received(), expected);

    // The layout file before any answer and after the run: byte for byte the same.
    args.back() = "0";
    args[args.size() - 3] = (dir.path / "0.orv").string();
    ASSERT_EQ(HeadlessProcess(args).Wait(10s), 0);
    const auto before = test::ReadFile(dir.path / "0.orv");
    ASSERT_TRUE(before);
    EXPECT_TRUE(test::ReadFile(dir.path / "13.orv") == before);
}

}  // namespace
}  // namespace orv

// The headless front end: the command line through its parser, one end-to-end run of the real
// orvane-headless with every kind against its loopback peer (a table of what each object's line must
// reach), present-day and classic Half-Life servers in one run, the exit codes with --open/--save, the
// status page it publishes to a loopback FTP server (and keeps when the template is missing), the needed rate.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "apps/headless.h"
#include "document/document.h"
#include "fakes.h"
#include "ftptestserver.h"
#include "headless_process.h"
#include "monitors/halflife/hltv.h"
#include "sim/a2speer.h"
#include "sim/gtvpeer.h"
#include "sim/hlpeer.h"
#include "sim/hltvpeer.h"
#include "sim/q3peer.h"
#include "testutil.h"

namespace orv {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using headless_test::HeadlessProcess;
using Json = nlohmann::json;
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

// The command line in this process: parsed, then run for the tick at second 0 when the parser accepts
// it (the kinds check their own settings as they make the objects). The exit code, standard output
// and standard error.
std::tuple<int, std::string, std::string> Parse(std::vector<std::string> args) {
    args.insert(args.begin(), "orvane-headless");
    std::vector<const char*> argv;
    for (auto& a : args) argv.push_back(a.c_str());
    std::ostringstream out, err;
    int code = -1;
    auto options = headless::ParseCommandLine(static_cast<int>(argv.size()), argv.data(), out, err, code);
    if (options) {
        options->seconds = 0;
        const volatile std::sig_atomic_t stop = 0;
        code = headless::CHeadlessRunner(*options, out, err).Run(stop);
    }
    return {code, out.str(), err.str()};
}

TEST(HeadlessCommandLine, BadOptionsExitWithTwoAndSayWhy) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> rows = {
        {{"--hl", "127.0.0.1:0"}, "--hl '127.0.0.1:0': the port must be a number from 1 to 65535"},
        {{"--gtv", "127.0.0.1:x"}, "the port must be a number from 1 to 65535"},
        {{"--hl", ":27015"}, "the address must begin with a host name"},
        {{"--q3", "bad host"}, "'bad host' is not a host name or a dotted IPv4 address"},
        {{"--q3", "127.0.0.1,ext=127.0.0.2:27960"},
         "--q3 '127.0.0.1,ext=127.0.0.2:27960': unknown setting 'ext' (accepted: rcon)"},
        {{"--hltv", "127.0.0.1,delay=3"}, "unknown setting 'delay' (accepted: rcon, proxypw, ext, export, autorecord)"},
        {{"--gtv", "127.0.0.1,proxypw=x"}, "unknown setting 'proxypw' (accepted: rcon, ext, export, autorecord)"},
        {{"--gtv", "127.0.0.1,rcon=a,rcon=b"}, "the setting 'rcon' is given twice"},
        {{"--hl", "127.0.0.1,rcon"}, "expected KEY=VALUE after a comma, found 'rcon'"},
        {{"--hl", "127.0.0.1,rcon=x\\"}, "ends in a lone backslash"},
        {{"--gtv", "127.0.0.1,ext=127.0.0.2"},
         "--gtv '127.0.0.1,ext=127.0.0.2': ext must be HOST:PORT with a host name or a dotted IPv4 address and a port "
         "from 1 to 65535"},
        {{"--hltv", "127.0.0.1,ext=:27020"}, "ext must be HOST:PORT"},
        {{"--hltv", "127.0.0.1,autorecord=yes"}, "autorecord must be 0 or 1"},
        {{"--gtv", "127.0.0.1,ext=127.0.0.2:65536"}, "ext must be HOST:PORT"},
        {{"--gtv", "127.0.0.1,export=yes"}, "--gtv '127.0.0.1,export=yes': export must be 0 or 1"},
        {{"--rcon", "status"}, "--rcon 'status': expected ADDRESS=COMMAND"},
        {{"--hl", "127.0.0.1:27015", "--rcon", "127.0.0.2:27015=status"},
         "--rcon '127.0.0.2:27015=status': no monitored object has the address 127.0.0.2:27015"},
        {{"--hl"}, "--hl"}, {{"--limit", "100"}, "--limit"}, {{"--seconds", "-1"}, "--seconds"},
        {{"--ftp-port", "0"}, "--ftp-port"}, {{"--bogus"}, "--bogus"}, {{"stray"}, "stray"}};
    for (auto& [args, message] : rows) {
        const auto [code, out, err] = Parse(args);
        EXPECT_EQ(code, headless::kExitUsage) << args[0] << " " << (args.size() > 1 ? args[1] : "");
        EXPECT_NE(err.find("orvane-headless: "), std::string::npos) << err;
        EXPECT_NE(err.find(message), std::string::npos) << args[0] << " " << message << "\n" << err;
        EXPECT_EQ(out.find("\"kind\""), std::string::npos) << out;  // refused before the first tick
    }
    // What the process cannot show: the values kept, escapes and default ports.
    std::string error;
    const auto spec =
        headless::ParseObjectSpec(*headless::FindKindByOption("--gtv"), "127.0.0.1,rcon=a\\,b\\\\c=d", error);
    ASSERT_TRUE(spec) << error;
    EXPECT_EQ(std::tuple(spec->host, spec->port, *spec->Find("rcon")), std::tuple("127.0.0.1", 27970u, "a,b\\c=d"));
    const auto rcon = headless::ParseRconRequest("10.0.0.5:27015=sv_password \"a=b\"", error);
    ASSERT_TRUE(rcon) << error;
    EXPECT_EQ(std::tuple(rcon->address, rcon->command), std::tuple("10.0.0.5:27015", "sv_password \"a=b\""));
    // Bytes from the wire become valid UTF-8: kept when valid, Latin-1 otherwise.
    EXPECT_EQ(std::tuple(headless::Utf8("Caf\xE9 \xFF\x01"), headless::Utf8("d\xC3\xA9p\xC3\xB4t")),
              std::tuple("Caf\xC3\xA9 \xC3\xBF\x01", "d\xC3\xA9p\xC3\xB4t"));
    // --help names every kind's option with its settings, default port and group, and the fields.
    const auto [code, help, err] = Parse({"--help"});
    EXPECT_EQ(code, 0);
    for (const char* word : {"--hl HOST[:PORT][,rcon=PASSWORD]", "default port 27015", "BITS_PER_SECOND",
                             "ADDRESS=COMMAND", "Ctrl+C", "group \"Local TV\"", "roomState"})
        EXPECT_NE(help.find(word), std::string::npos) << word;
}

// One run with every kind, each against its peer; the HLTV proxy relays the Half-Life server and the GTV
// room the Quake 3 server, both monitored too. Each row: the object's first line, the line that ends
// the wait for it, and the fields that line must hold.
TEST(HeadlessRun, EveryKindGoesFromOneToTwoToThreeAndReportsItsFields) {
    sim::CHLPeer hl;
    sim::CHLTVPeer tv;
    sim::CQ3Peer q3;
    sim::CGTVPeer gtv;
    const std::string hlAddress = "127.0.0.1:" + std::to_string(hl.Port());
    hl.SetRconPassword("pw");
    hl.SetMatchReport({"Alpha", "Beta", 2, 7, 0, 5, 0});
    hl.SetRconHook([](const std::string& c) -> std::optional<std::string> {
        return c == "echo once" ? std::optional<std::string>("only-once-line\n") : std::nullopt;
    });
    tv.SetConnectedTo(hlAddress);
    q3.SetPassword("^3join^7me");
    q3.SetScoreTime("12:31");
    q3.SetPlayers({{5, 50, "^2Alpha"}, {0, 999, "Bravo"}});
    gtv.SetChains("127.0.0.1:27971 ");
    gtv.SetGtvPassword("^1tv^7pass");
    sim::GTVPeerRoom room;
    room.hubNumber = 3;
    room.roomNumber = 1;
    room.description = "Grand ^2Final";
    room.parent = q3.Address();
    room.following = 4;
    room.players = {{0, "^1Alpha"}, {4, "Bravo"}};
    gtv.SetRooms({room});

    struct Row {
        std::string address, kind;
        // Rcon answers held until the line shows state 2; none for the Half-Life kinds, whose challenge
        // answer grants state 3 at once (and the proxy's peer answers through the hook).
        std::shared_ptr<std::atomic<bool>> held;
        std::function<bool(const Json&)> ready;
        std::string fields;  // JSON; $HL and $Q3 stand for the servers' addresses
    };
    const std::vector<Row> rows = {
        {hlAddress, "CHLServer", nullptr, [](const Json& j) { return j["matchRunning"] == 1; },
         R"({"icon":154,"serverName":"Orvane Test Server","map":"de_dust2",)"
         R"("gameDirectory":"cstrike","teamAName":"Alpha","teamBName":"Beta","matchState":2,"teamASet1":7,)"
         R"("teamBSet1":5})"},
        {tv.Address(), "CHLTV", nullptr, [](const Json& j) { return j["delay"] == 30.0 && !j["linked"].is_null(); },
         R"({"icon":153,"spectators":0,"slots":128,"bandwidth":15.0,"serverAddress":"$HL","linked":"$HL",)"
         R"("serverName":"Orvane HLTV","exportToWeb":0,"externalAddress":"127.0.0.9:27021","autoRecord":1})"},
        {q3.Address(), "CQ3Server", Hold(q3),
         [](const Json& j) { return j["matchRunning"] == 1 && j["password"] == "joinme"; },
         R"({"icon":159,"serverName":"Orvane Q3 Server","maxPlayers":16,"players":2,"playerNames":["Alpha","Bravo"],)"
         R"("rconPasswordSet":true})"},
        {gtv.Address(), "CGTV", Hold(gtv),
         [](const Json& j) {
             return j["password"] == "tvpass" && j["rooms"].size() == 1 && !j["rooms"][0]["linked"].is_null();
         },
         R"({"icon":161,"serverName":"Orvane GTV","clients":0,"slots":64,"chainList":"127.0.0.1:27971 ",)"
         R"("exportToWeb":1,"externalAddress":"127.0.0.1:27999","autoRecord":0,"roomCount":1,"selectedRoom":null,)"
         R"("players":0,"rooms":[{"hubNumber":3,"roomState":3,"roomNumber":1,"map":"q3dm17",)"
         R"("description":"Grand ^2Final","following":4,"followedPlayerName":"Bravo","recordingName":"",)"
         R"("players":["Alpha","Bravo"],"playerNumbers":[0,4],"linked":"$Q3","serverAddress":"$Q3"}]})"},
    };
    auto expected = [&](std::string text) {
        for (auto [mark, address] : {std::pair{"$HL", hlAddress}, {"$Q3", q3.Address()}})
            for (size_t at; (at = text.find(mark)) != std::string::npos;) text.replace(at, 3, address);
        return Json::parse(text);
    };
    HeadlessProcess p({"--hl", hlAddress + ",rcon=pw", "--rcon", hlAddress + "=echo once", "--hltv",
                       tv.Address() + ",rcon=secret,ext=127.0.0.9:27021,export=0,autorecord=1", "--q3",
                       q3.Address() + ",rcon=secret", "--gtv",
                       gtv.Address() + ",rcon=secret,ext=127.0.0.1:27999,export=1,autorecord=0"});
    ASSERT_TRUE(p.Started());
    std::map<std::string, std::vector<Json>> seen;
    std::map<std::string, Json> ready;
    auto line = p.WaitForObject(
        [&](const Json& j) {
            seen[j["address"].get<std::string>()].push_back(j);
            for (auto& r : rows) {
                if (r.address != j["address"]) continue;
                if (r.held && j["state"] == 2) *r.held = true;
                if (j["state"] == 3 && r.ready(j)) ready.emplace(r.address, j);
            }
            return ready.size() == rows.size();
        },
        25s);
    for (auto& r : rows)
        if (!ready.count(r.address)) ADD_FAILURE() << r.kind << " never ready: " << seen[r.address].back().dump();
    ASSERT_TRUE(line) << p.Err();
    ::kill(p.Pid(), SIGTERM);
    EXPECT_EQ(p.Wait(5s), 0);
    for (auto& r : rows) {
        const auto& lines = seen[r.address];
        EXPECT_EQ(std::tuple(lines.front()["tick"], lines.front()["state"], lines.front()["kind"]),
                  std::tuple(0, 1, r.kind));
        std::vector<int> states;
        for (auto& j : lines) states.push_back(j["state"]);
        EXPECT_TRUE(std::is_sorted(states.begin(), states.end()) && (!r.held || *r.held))
            << r.kind << testing::PrintToString(states);
        const Json want = expected(r.fields);
        for (auto& [key, value] : want.items()) EXPECT_EQ(ready[r.address][key], value) << r.kind << " " << key;
    }
    // Each console line is reported once, on the line after it came; the --rcon command went out once.
    int once = 0;
    for (auto& j : seen[hlAddress])
        for (auto& c : j["console"]) once += c == "only-once-line";
    EXPECT_EQ(once, 1);
    const auto accepted = hl.AcceptedCommands();
    EXPECT_EQ(std::count(accepted.begin(), accepted.end(), "echo once"), 1);
    EXPECT_NE(p.Err().find("sound: MatchStarted.wav\nsound: MatchStarted.wav\n"), std::string::npos) << p.Err();
}

TEST(HeadlessRun, SavedLayoutOpensAgainAndExitCodes) {
    test::TempDir dir{"orvane-headless"};
    const std::string path = (dir.path / "run.orv").string();
    {
        HeadlessProcess p({"--hl", "127.0.0.1:9,rcon=pw", "--hl", "127.0.0.1:9", "--hltv",
                           "127.0.0.1:8,proxypw=relay\\,pw", "--q3", "127.0.0.1:7", "--gtv", "127.0.0.1", "--limit",
                           "20480", "--no-sound", "--seconds", "0", "--save", path});
        EXPECT_EQ(p.Wait(10s), 0) << p.Err();
        EXPECT_NE(p.Err().find("This Object already exists\nGroup : Servers\nZone : LAN Local\n"), std::string::npos);
        ASSERT_EQ(p.lines.size(), 5u);
        const Json doc = Json::parse(p.lines[0]);
        EXPECT_EQ(std::tuple(doc["tick"], doc["limit"], doc["objects"], doc["sound"]), std::tuple(0, 20480, 4, false));
        EXPECT_GE(doc["queue"].get<int>() + doc["sent"].get<int>(), 2);  // the Half-Life kinds' details, by the tick
        for (size_t i = 1; i < 5; ++i)
            EXPECT_EQ(
                Json::parse(p.lines[i])["address"],
                (std::vector<std::string>{"", "127.0.0.1:9", "127.0.0.1:8", "127.0.0.1:7", "127.0.0.1:27970"}[i]));
    }
    test::TestPlatform tp;
    COrvaneDoc saved(tp.platform);
    ASSERT_TRUE(saved.Open(path));
    std::vector<std::string> groups;
    for (auto& o : saved.objects) groups.push_back(o->group ? o->group->name : "");
    EXPECT_EQ(groups, (std::vector<std::string>{"Servers", "Local TV", "Servers", "Internet TV"}));
    EXPECT_EQ(dynamic_cast<CHLTV&>(*saved.objects[1]).proxyPassword, "relay,pw");
    // The opened layout brings its objects and limit, a command-line object comes after them, --limit wins.
    for (auto [extra, objects, limit] :
         {std::tuple{std::vector<std::string>{"--hl", "127.0.0.1:6"}, 5, 20480}, {{"--limit", "40960"}, 4, 40960}}) {
        extra.insert(extra.end(), {"--open", path, "--seconds", "0"});
        HeadlessProcess p(extra);
        EXPECT_EQ(p.Wait(10s), 0) << p.Err();
        ASSERT_EQ(p.lines.size(), objects + 1u);
        EXPECT_EQ(std::tuple(Json::parse(p.lines[0])["objects"], Json::parse(p.lines[0])["limit"]),
                  std::tuple(objects, limit));
        if (objects == 5) {
            EXPECT_EQ(Json::parse(p.lines[5])["address"], "127.0.0.1:6");
        }
    }
    {
        test::WriteFile(dir.path / "bad.orv", "not a layout");
        HeadlessProcess p({"--open", (dir.path / "bad.orv").string(), "--seconds", "0"});
        EXPECT_EQ(p.Wait(10s), 1);
        EXPECT_NE(p.Err().find("Unexpected file format."), std::string::npos) << p.Err();
        EXPECT_TRUE(p.lines.empty());
    }
    // Ctrl+C ends the run between ticks with 0; a closed standard output at the next tick with 1, not by SIGPIPE.
    for (bool interrupt : {true, false}) {
        HeadlessProcess p({"--hl", "127.0.0.1:9"});
        ASSERT_TRUE(p.ReadLine(5s));  // the first tick's document line: the run is going
        const auto before = std::chrono::steady_clock::now();
        interrupt ? (void)::kill(p.Pid(), SIGINT) : p.CloseOutput();
        EXPECT_EQ(p.Wait(5s), interrupt ? 0 : 1);
        if (interrupt) {
            EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
        }
        EXPECT_EQ(p.Err().find("Sanitizer"), std::string::npos) << p.Err();
    }
}

// A layout opened with --open enables the status page toward a loopback FTP server (--ftp-port) and
// holds a GTV proxy; the program runs in the folder that holds web_template.html.
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
        CObjectValues values;
        values.host = "127.0.0.1";
        values.port = static_cast<std::uint32_t>(gtv.Port());
        values.group = doc.groups[2];
        values.externalHost = "gtv.example.org";
        values.externalPort = 27970;
        values.exportToWeb = 1;
        ASSERT_NE(doc.AddObjectOfKind(CObjectKind::GTV, values), nullptr);
        doc.vuzuVed.enabled = 1;
        doc.vuzuVed.interval = 2;
        doc.vuzuVed.server = "127.0.0.1";
        doc.vuzuVed.login = test::FtpServer::kUser;
        doc.vuzuVed.password = test::FtpServer::kPassword;
        doc.vuzuVed.remoteFilename = "/www/status.html";
        ASSERT_TRUE(doc.Save(layout.string()));
    }
    // The page itself is the status page module's (test_modules.cpp): here, that the proxy's values reach it.
    test::WriteFile(tmp.path / "web_template.html",
                    "[SECTION_GTV][SECTION_GTV_LOOP][#HOSTNAME]|[#IP]|[#NBSPEC]/[#NBSPECMAX][/SECTION_GTV_LOOP][/SECTION_GTV]");
    // Ticks 0 to 7: uploads on ticks 1, 3, 5 and 7; the proxy has answered its manager query well before the last.
    HeadlessProcess p({"--open", layout.string(), "--ftp-port", std::to_string(server.port), "--seconds", "7"},
                      tmp.path.string());
    ASSERT_EQ(p.Wait(30s), 0) << p.Err();
    EXPECT_EQ(p.Err(), "");
    EXPECT_EQ(server.Stores(), std::vector<std::string>(4, "/www/status.html"));
    const auto page = test::ReadFile(server.home / "www" / "status.html");
    EXPECT_EQ(page, "Orvane GTV|gtv.example.org:27970|7/64");
    // Without the template: told once, and the live page is kept at every interval.
    fs::remove(tmp.path / "web_template.html");
    HeadlessProcess again({"--open", layout.string(), "--ftp-port", std::to_string(server.port), "--seconds", "3"},
                          tmp.path.string());
    ASSERT_EQ(again.Wait(30s), 0) << again.Err();
    EXPECT_EQ(again.Err(),
              "Unable to open template file web_template.html. Please put it on same dir that this program\n");
    EXPECT_EQ(std::tuple(server.Stores().size(), test::ReadFile(server.home / "www" / "status.html")),
              std::tuple(4u, page));
}

// The document line's needed rate beside the limit, and one line on standard error while the limit is below it.
TEST(HeadlessRun, NeededRateBesideTheLimitAndOneWarningLine) {
    // Six silent servers with rcon: details, players and three rcon queries of 63, 53 and 58 bytes.
    std::vector<std::string> args{"--limit", "2048", "--seconds", "2", "--no-sound"};
    for (int port = 1; port <= 6; ++port)
        args.insert(args.end(), {"--hl", "127.0.0.1:" + std::to_string(port) + ",rcon=pw"});
    HeadlessProcess p(args);
    ASSERT_EQ(p.Wait(20s), 0);
    EXPECT_EQ(Json::parse(p.lines.at(0)).at("needed"), 6 * 258 / 6 * 8);
    EXPECT_EQ(p.Err(),
              "orvane-headless: UDP output limit 2000 bits per second is below the 2064 this layout needs: "
              "servers are polled less often; set the limit to 3 kbps (3072 bits per second) or more\n");
}

std::string Framed(const std::string& text) {
    return std::string(4, '\xFF') + text + '\0';
}
size_t CountStarting(const std::vector<std::string>& received, const std::string& head) {
    return static_cast<size_t>(
        std::count_if(received.begin(), received.end(), [&](auto& d) { return d.starts_with(head); }));
}

// Present-day servers and a classic one in one run: each object finds its dialect by itself, and a classic
// server sees exactly the bytes of old.
TEST(HeadlessRun, EachHalfLifeObjectFindsItsDialectAndClassicBytesStayTheSame) {
    sim::CHLPeer classic;
    sim::CA2SPeer modern, modernRcon, fresh;
    sim::CHLTVPeer tvBase;
    sim::CA2SPeer tv(tvBase.Base());
    modern.Base().SetPlayers({"alpha", "beta"});
    modern.Base().SetMaxPlayers(20);
    modern.SetSettings({.bots = 1});
    fresh.SetSettings({.freshChallengeEveryQuery = true});
    tv.SetSettings({.serverType = 'p'});
    const auto address = [](int port) { return "127.0.0.1:" + std::to_string(port); };
    const std::vector<std::string> objects = {"--hl",   address(classic.Port()) + ",rcon=secret",
                                              "--hl",   address(modern.Port()),
                                              "--hl",   address(modernRcon.Port()) + ",rcon=secret",
                                              "--hl",   address(fresh.Port()),
                                              "--hltv", tv.Address() + ",rcon=secret"};
    test::TempDir dir;
    const auto run = [&](std::vector<std::string> args, const std::string& seconds, const std::string& save) {
        args.insert(args.end(), {"--limit", "1000000", "--seconds", seconds, "--save", (dir.path / save).string()});
        return std::make_unique<HeadlessProcess>(args);
    };
    auto process = run(objects, "13", "13.orv");
    HeadlessProcess& p = *process;
    ASSERT_EQ(p.Wait(40s), 0) << p.Err();
    std::map<std::string, Json> last;  // the last line of each object
    for (auto& line : p.lines)
        if (Json j = Json::parse(line); j.contains("kind")) last[j.at("address")] = j;
    ASSERT_EQ(last.size(), 5u);

    const Json& m = last[address(modern.Port())];
    EXPECT_EQ(std::tuple(m["state"], m["protocol"], m["serverName"], m["maxPlayers"], m["bots"], m["strays"],
                         m["playerNames"]),
              std::tuple(2, "a2s", "Orvane Test Server", 20, 1, 0, Json::array({"alpha", "beta"})));
    // Its queries: A2S_INFO asks for the challenge and goes again with it; then info and players carry it.
    const std::string info = Framed("TSource Engine Query"), ch = "\xDE\xC0\x17\x2A",
                      players = "\xFF\xFF\xFF\xFFU" + ch;
    EXPECT_EQ(modern.Base().Received(),
              (std::vector<std::string>{Framed("details"), info, info + ch, players, info + ch, players, info + ch}));
    const Json& r = last[address(modernRcon.Port())];
    EXPECT_EQ(std::tuple(r["state"], r["protocol"]), std::tuple(3, "a2s"));
    EXPECT_EQ(CountStarting(modernRcon.Base().AcceptedCommands(), "status"), 3u);  // once on rcon, then per cycle
    const Json& t = last[tv.Address()];
    EXPECT_EQ(std::tuple(t["state"], t["protocol"], t["icon"], t["serverName"]),
              std::tuple(3, "a2s", 153, "Orvane HLTV"));

    // A fresh challenge for every query: one retry per query and cycle, three info and two players cycles.
    const Json& f = last[address(fresh.Port())];
    EXPECT_EQ(std::tuple(f["state"], f["protocol"]), std::tuple(1, "a2s"));
    EXPECT_EQ(CountStarting(fresh.Base().Received(), Framed("TSource Engine Query")), 6u);
    EXPECT_EQ(CountStarting(fresh.Base().Received(), "\xFF\xFF\xFF\xFFU"), 4u);

    // A classic server: details with A2S_INFO once, then the classic cycle byte for byte.
    const Json& c = last[address(classic.Port())];
    EXPECT_EQ(std::tuple(c["state"], c["protocol"], c.contains("bots")), std::tuple(3, "classic", false));
    const auto rcon = [](const std::string& command) { return Framed("rcon 123456789 \"secret\" " + command); };
    const std::vector<std::string> cycle = {Framed("players"), rcon("nxn_match_report"), rcon("status"),
                                            rcon("sv_password"), Framed("details")};
    std::vector<std::string> expected = {Framed("details"), Framed("TSource Engine Query"), Framed("challenge rcon"),
                                         rcon("status")};
    for (int i = 0; i < 2; ++i) expected.insert(expected.end(), cycle.begin(), cycle.end());
    ASSERT_TRUE(classic.WaitForCount(expected.size(), 2s));
    EXPECT_EQ(classic.Received(), expected);

    // The layout file before any answer, after the run and loaded again: byte for byte the same.
    ASSERT_EQ(run(objects, "0", "0.orv")->Wait(10s), 0);
    ASSERT_EQ(run({"--open", (dir.path / "13.orv").string()}, "0", "reloaded.orv")->Wait(10s), 0);
    const auto before = test::ReadFile(dir.path / "0.orv");
    ASSERT_TRUE(before);
    EXPECT_EQ(test::ReadFile(dir.path / "13.orv"), before);
    EXPECT_EQ(test::ReadFile(dir.path / "reloaded.orv"), before);
}

}  // namespace
}  // namespace orv

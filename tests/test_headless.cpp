// The headless front end, end to end: the real orvane-headless executable as a child process against
// loopback Half-Life peers, read line by line from its standard output with deadlines.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "apps/headless.h"
#include "headless_process.h"
#include "sim/hlpeer.h"

namespace orv {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;
using SteadyClock = std::chrono::steady_clock;

using headless_test::HeadlessProcess;

std::string Address(const sim::CHLPeer& peer) {
    return "127.0.0.1:" + std::to_string(peer.Port());
}

// The out-of-band datagram of a text, as it arrives at the peer.
std::string OutOfBand(const std::string& text) {
    return std::string("\xFF\xFF\xFF\xFF", 4) + text + std::string(1, '\0');
}

bool Has(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

std::vector<std::string> Console(const Json& line) {
    return line.at("console").get<std::vector<std::string>>();
}

// ---- Command line ----

TEST(HeadlessCommandLine, HelpDocumentsEveryOptionAndTheOutput) {
    HeadlessProcess p({"--help"});
    ASSERT_TRUE(p.Started());
    EXPECT_EQ(p.Wait(10s), 0);
    std::string text;
    for (auto& l : p.lines) text += l + "\n";
    for (const char* word :
         {"--hl HOST[:PORT][,rcon=PASSWORD]", "--limit", "BITS_PER_SECOND", "--seconds", "--rcon", "ADDRESS=COMMAND",
          "--no-sound", "default port 27015", "serverName", "gameDirectory", "matchRunning", "console", "Ctrl+C"})
        EXPECT_NE(text.find(word), std::string::npos) << word;
}

TEST(HeadlessCommandLine, BadOptionsExitWithTwoAndSayWhy) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--hl", "127.0.0.1:0"}, "--hl '127.0.0.1:0': the port must be a number from 1 to 65535"},
        {{"--hl", "127.0.0.1:70000"}, "the port must be a number from 1 to 65535"},
        {{"--hl", "127.0.0.1:27x"}, "the port must be a number from 1 to 65535"},
        {{"--hl", ":27015"}, "the address must begin with a host name"},
        {{"--hl", "bad host:27015"}, "'bad host' is not a host name or a dotted IPv4 address"},
        {{"--hl", "127.0.0.1,password=x"}, "unknown setting 'password' (accepted: rcon)"},
        {{"--hl", "127.0.0.1,rcon=a,rcon=b"}, "the setting 'rcon' is given twice"},
        {{"--hl", "127.0.0.1,rcon"}, "expected KEY=VALUE after a comma, found 'rcon'"},
        {{"--hl", "127.0.0.1,"}, "expected KEY=VALUE after a comma"},
        {{"--hl", "127.0.0.1,rcon=x\\"}, "ends in a lone backslash"},
        {{"--hl"}, "--hl"},
        {{"--limit", "100"}, "--limit"},
        {{"--limit", "lots"}, "--limit"},
        {{"--seconds", "-1"}, "--seconds"},
        {{"--rcon", "status"}, "--rcon 'status': expected ADDRESS=COMMAND"},
        {{"--rcon", "127.0.0.1:27015="}, "expected ADDRESS=COMMAND"},
        {{"--bogus"}, "--bogus"},
        {{"stray"}, "stray"},
        {{"--hl", "127.0.0.1:27015", "--rcon", "127.0.0.2:27015=status", "--seconds", "0"},
         "no monitored object has the address 127.0.0.2:27015"},
    };
    for (auto& [args, message] : cases) {
        std::string joined;
        for (auto& a : args) joined += a + " ";
        HeadlessProcess p(args);
        ASSERT_TRUE(p.Started());
        EXPECT_EQ(p.Wait(10s), 2) << joined;
        EXPECT_NE(p.Err().find("orvane-headless: "), std::string::npos) << joined << p.Err();
        EXPECT_NE(p.Err().find(message), std::string::npos) << joined << "\n" << p.Err();
        EXPECT_EQ(p.Err().find("AddressSanitizer"), std::string::npos) << p.Err();
        EXPECT_TRUE(p.lines.empty()) << joined;
    }
}

// The parser itself, for what the process cannot show: the values it keeps.
TEST(HeadlessCommandLine, ObjectSpecsKeepEscapedValuesAndDefaultPort) {
    const auto* hl = headless::FindKindByOption("--hl");
    ASSERT_NE(hl, nullptr);
    EXPECT_EQ(hl->className, "CHLServer");
    EXPECT_EQ(hl->group, "Servers");
    std::string error;
    auto spec = headless::ParseObjectSpec(*hl, "game.example:27016,rcon=a\\,b\\\\c=d", error);
    ASSERT_TRUE(spec) << error;
    EXPECT_EQ(spec->host, "game.example");
    EXPECT_EQ(spec->port, 27016u);
    ASSERT_NE(spec->Find("rcon"), nullptr);
    EXPECT_EQ(*spec->Find("rcon"), "a,b\\c=d");
    spec = headless::ParseObjectSpec(*hl, "10.0.0.5", error);
    ASSERT_TRUE(spec) << error;
    EXPECT_EQ(spec->port, 27015u);
    EXPECT_EQ(spec->Find("rcon"), nullptr);
    auto rcon = headless::ParseRconRequest("10.0.0.5:27015=sv_password \"a=b\"", error);
    ASSERT_TRUE(rcon) << error;
    EXPECT_EQ(rcon->address, "10.0.0.5:27015");
    EXPECT_EQ(rcon->command, "sv_password \"a=b\"");
}

// ---- Runs ----

TEST(HeadlessRun, TickZeroLinesThenSecondsStopsWithZero) {
    HeadlessProcess p({"--hl", "127.0.0.1:9", "--hl", "127.0.0.1:7", "--limit", "20480", "--seconds", "0"});
    ASSERT_TRUE(p.Started());
    EXPECT_EQ(p.Wait(10s), 0);
    ASSERT_EQ(p.lines.size(), 3u);
    const Json doc = Json::parse(p.lines[0]);
    EXPECT_EQ(doc.at("tick"), 0);
    EXPECT_EQ(doc.at("limit"), 20480);
    EXPECT_EQ(doc.at("objects"), 2);
    // Both details queries and A2S_INFO queries, queued by the tick (the output worker may have sent them already).
    EXPECT_EQ(doc.at("queue").get<int>() + doc.at("sent").get<int>(), 4);
    EXPECT_EQ(doc.at("sound"), true);
    // Objects in command-line order.
    const Json first = Json::parse(p.lines[1]);
    EXPECT_EQ(first.at("address"), "127.0.0.1:9");
    EXPECT_EQ(Json::parse(p.lines[2]).at("address"), "127.0.0.1:7");
    EXPECT_EQ(first.at("kind"), "CHLServer");
    EXPECT_EQ(first.at("state"), 1);
    EXPECT_EQ(first.at("host"), "127.0.0.1");
    EXPECT_EQ(first.at("port"), 9);
    EXPECT_EQ(first.at("icon"), 160);
    EXPECT_EQ(first.at("teamAName"), "?");
    EXPECT_EQ(first.at("challenge"), 0);
    EXPECT_EQ(first.at("matchRunning"), 0);
    EXPECT_TRUE(first.at("playerNames").empty());
    EXPECT_TRUE(first.at("console").empty());
}

TEST(HeadlessRun, DuplicateObjectIsRefusedWithTheDocumentsMessage) {
    HeadlessProcess p({"--hl", "127.0.0.1:9", "--hl", "127.0.0.1:9", "--seconds", "0"});
    ASSERT_TRUE(p.Started());
    EXPECT_EQ(p.Wait(10s), 0);
    EXPECT_NE(p.Err().find("This Object already exists\nGroup : Servers\nZone : LAN Local\n"), std::string::npos)
        << p.Err();
    ASSERT_EQ(p.lines.size(), 2u);
    EXPECT_EQ(Json::parse(p.lines[0]).at("objects"), 1);
}

TEST(HeadlessRun, SilentServerStaysInOneAndItsFirstDetailsAnswerMovesItToTwo) {
    sim::CHLPeer peer;
    ASSERT_TRUE(peer.Ok());
    peer.SetSilent(true);
    peer.SetServerName("My Server");
    HeadlessProcess p({"--hl", Address(peer)});
    ASSERT_TRUE(p.Started());

    auto line = p.WaitForObject([](const Json& j) { return j.at("tick") == 1; }, 5s);
    ASSERT_TRUE(line);
    EXPECT_EQ(line->at("state"), 1);
    EXPECT_EQ(line->at("serverName"), "");
    ASSERT_TRUE(peer.WaitForCount(1, 2s));
    EXPECT_EQ(peer.Received().front(), OutOfBand("details"));  // sent by the tick at start

    ASSERT_TRUE(peer.SendToClient(peer.DetailsAnswer()));
    line = p.WaitForObject([](const Json& j) { return j.at("state") != 1; }, 5s);
    ASSERT_TRUE(line);
    EXPECT_EQ(line->at("state"), 2);  // no rcon password: stays in 2
    EXPECT_EQ(line->at("host"), "127.0.0.1");
    EXPECT_EQ(line->at("port"), peer.Port());
    EXPECT_EQ(line->at("address"), Address(peer));
    EXPECT_EQ(line->at("serverName"), "My Server");
    EXPECT_EQ(line->at("map"), "de_dust2");
    EXPECT_EQ(line->at("gameDirectory"), "cstrike");
    EXPECT_EQ(line->at("icon"), 154);
    EXPECT_EQ(line->at("strays"), 0);
    EXPECT_FALSE(Has(peer.Received(), OutOfBand("challenge rcon")));

    ::kill(p.Pid(), SIGINT);
    EXPECT_EQ(p.Wait(5s), 0);
}

// With an rcon password: details, challenge, state 3, the status query, the --rcon command once and
// the six-second cycle's match report, status and server password, all carrying the challenge; then
// --seconds ends the run with 0 after the tick four seconds in.
TEST(HeadlessRun, RconCycleCarriesTheChallengeAndSecondsStopsIt) {
    sim::CHLPeer peer;
    ASSERT_TRUE(peer.Ok());
    peer.SetRconPassword("pw");
    peer.SetChallenge(123);
    peer.SetPassword("joinme");
    sim::HLMatchReportFields report;
    report.teamA = "Alpha";
    report.teamB = "Beta";
    report.state = 2;
    report.teamASet1 = 7;
    report.teamBSet1 = 5;
    peer.SetMatchReport(report);
    peer.SetRconHook([](const std::string& command) -> std::optional<std::string> {
        if (command == "echo once") return "only-once-line\n";
        return std::nullopt;
    });
    const std::string address = Address(peer);
    HeadlessProcess p({"--hl", address + ",rcon=pw", "--rcon", address + "=echo once", "--seconds", "4"});
    ASSERT_TRUE(p.Started());

    auto line = p.WaitForObject([](const Json& j) { return j.at("state") == 3; }, 5s);
    ASSERT_TRUE(line);
    EXPECT_EQ(line->at("challenge"), 123);
    EXPECT_EQ(p.Wait(8s), 0);  // ticks 0 to 4, then out
    ASSERT_EQ(p.lines.size(), 10u);
    EXPECT_EQ(Json::parse(p.lines[p.lines.size() - 2]).at("tick"), 4);

    const auto received = peer.Received();
    const std::string details = OutOfBand("details");
    const std::string challenge = OutOfBand("challenge rcon");
    const std::string status = OutOfBand("rcon 123 \"pw\" status");
    ASSERT_GE(received.size(), 5u);
    EXPECT_EQ(received[0], details);
    EXPECT_EQ(received[1], OutOfBand("TSource Engine Query"));  // until the details answer tells the dialect
    EXPECT_EQ(received[2], challenge);  // entering 2 with a password
    // The challenge answer asks for the status at once; the operator's command, sent on reaching state 3,
    // may go ahead of it.
    EXPECT_NE(std::find(received.begin() + 3, received.begin() + 5, status), received.begin() + 5);
    EXPECT_EQ(std::count(received.begin(), received.end(), OutOfBand("rcon 123 \"pw\" echo once")), 1);
    // Phase 3 of the cycle, at the tick three seconds in.
    const auto report3 = std::find(received.begin(), received.end(), OutOfBand("rcon 123 \"pw\" nxn_match_report"));
    ASSERT_NE(report3, received.end());
    ASSERT_LT(report3 + 2, received.end());
    EXPECT_EQ(report3[1], status);
    EXPECT_EQ(report3[2], OutOfBand("rcon 123 \"pw\" sv_password"));
    EXPECT_TRUE(peer.RefusedCommands().empty());

    // Fields from the console answers; each console line reported once, on the line after it came.
    Json last;
    int onceSeen = 0;
    bool statusSeen = false;
    for (auto& text : p.lines) {
        const Json j = Json::parse(text);
        if (!j.contains("kind")) continue;
        last = j;
        for (auto& c : Console(j)) {
            onceSeen += c == "only-once-line";
            statusSeen |= c.rfind("hostname:  ", 0) == 0;
        }
    }
    EXPECT_EQ(onceSeen, 1);
    EXPECT_TRUE(statusSeen);
    EXPECT_EQ(last.at("state"), 3);
    EXPECT_EQ(last.at("teamAName"), "Alpha");
    EXPECT_EQ(last.at("teamBName"), "Beta");
    EXPECT_EQ(last.at("matchState"), 2);
    EXPECT_EQ(last.at("teamASet1"), 7);
    EXPECT_EQ(last.at("teamBSet1"), 5);
    EXPECT_EQ(last.at("matchRunning"), 1);
    EXPECT_NE(p.Err().find("sound: MatchStarted.wav\n"), std::string::npos) << p.Err();
}

TEST(HeadlessRun, ChallengesBeyondSignedRangeAreEchoedUnsigned) {
    for (const auto& [text, echoed] :
         std::vector<std::pair<std::string, std::string>>{{"3000000000", "3000000000"}, {"-5", "4294967291"}}) {
        sim::CHLPeer peer;
        ASSERT_TRUE(peer.Ok());
        peer.SetRconPassword("pw");
        peer.SetChallenge(text);
        HeadlessProcess p({"--hl", Address(peer) + ",rcon=pw"});
        ASSERT_TRUE(p.Started());
        const std::string status = OutOfBand("rcon " + echoed + " \"pw\" status");
        EXPECT_TRUE(peer.WaitFor([&](const std::vector<std::string>& r) { return Has(r, status); }, 5s)) << text;
        auto line = p.WaitForObject([](const Json& j) { return j.at("state") == 3; }, 5s);
        ASSERT_TRUE(line) << text;
        EXPECT_EQ(std::to_string(line->at("challenge").get<std::uint32_t>()), echoed);
        EXPECT_TRUE(peer.RefusedCommands().empty()) << text;
    }
}

TEST(HeadlessRun, BadRconPasswordIsReportedAndSoundGoesToStandardErrorUnlessDisabled) {
    for (bool sound : {true, false}) {
        sim::CHLPeer peer;
        ASSERT_TRUE(peer.Ok());
        peer.SetRconPassword("right");
        std::vector<std::string> args{"--hl", Address(peer) + ",rcon=wrong"};
        if (!sound) args.push_back("--no-sound");
        HeadlessProcess p(args);
        ASSERT_TRUE(p.Started());
        std::vector<std::string> console;
        auto line = p.WaitForObject(
            [&](const Json& j) {
                for (auto& c : Console(j)) console.push_back(c);
                return Has(console, "Orvane : Please re-enter the good rcon_password");
            },
            5s);
        ASSERT_TRUE(line);
        EXPECT_TRUE(Has(console, "Bad rcon_password."));
        EXPECT_TRUE(Has(console,
                        "Orvane : Bad rcon_password detected. Internal rcon has been disabled to prevent "
                        "being banned."));
        EXPECT_EQ(line->at("state"), 2);
        ::kill(p.Pid(), SIGTERM);
        EXPECT_EQ(p.Wait(5s), 0);
        EXPECT_EQ(p.Err().find("sound: badrcon.wav\n") != std::string::npos, sound) << p.Err();
        EXPECT_EQ(Json::parse(p.lines.front()).at("sound"), sound);
    }
}

TEST(HeadlessRun, StrangeBytesFromTheWireAreWrittenAsUtf8) {
    sim::CHLPeer peer;
    ASSERT_TRUE(peer.Ok());
    peer.SetServerName("Caf\xE9 \xFF\x01");  // Latin-1, not UTF-8, and a control byte
    peer.SetMap("d\xC3\xA9p\xC3\xB4t");      // valid UTF-8 is kept
    HeadlessProcess p({"--hl", Address(peer)});
    ASSERT_TRUE(p.Started());
    auto line = p.WaitForObject([](const Json& j) { return j.at("state") == 2; }, 5s);  // parse would throw
    ASSERT_TRUE(line);
    EXPECT_EQ(line->at("serverName"), "Caf\xC3\xA9 \xC3\xBF\x01");
    EXPECT_EQ(line->at("map"), "d\xC3\xA9p\xC3\xB4t");
    // A datagram without the out-of-band prefix is counted.
    ASSERT_TRUE(peer.SendToClient("\xFF\xFF\xFF\xFE junk"));
    EXPECT_TRUE(p.WaitForObject([](const Json& j) { return j.at("strays") == 1; }, 5s));
}

TEST(HeadlessRun, SigintEndsTheRunCleanlyBetweenTicks) {
    HeadlessProcess p({"--hl", "127.0.0.1:9"});
    ASSERT_TRUE(p.Started());
    ASSERT_TRUE(p.ReadLine(5s));  // the document line of the first tick: the run is going
    const auto before = SteadyClock::now();
    ::kill(p.Pid(), SIGINT);
    EXPECT_EQ(p.Wait(5s), 0);
    EXPECT_LT(SteadyClock::now() - before, 1s);  // not only at the next tick
    EXPECT_EQ(p.Err().find("AddressSanitizer"), std::string::npos) << p.Err();
    EXPECT_EQ(p.Err().find("LeakSanitizer"), std::string::npos) << p.Err();
}

TEST(HeadlessRun, ClosedStandardOutputEndsTheRunWithOne) {
    HeadlessProcess p({"--hl", "127.0.0.1:9"});
    ASSERT_TRUE(p.Started());
    ASSERT_TRUE(p.ReadLine(5s));
    p.CloseOutput();
    EXPECT_EQ(p.Wait(5s), 1);  // at the next tick, not killed by SIGPIPE
    EXPECT_EQ(p.Err().find("AddressSanitizer"), std::string::npos) << p.Err();
}

TEST(HeadlessLayout, SavesTheLayoutItRanAndOpensItAgain) {
    char tmpl[] = "/tmp/orvane-headless-XXXXXX";
    const std::string dir = ::mkdtemp(tmpl);
    const std::string path = dir + "/run.orv";
    {
        HeadlessProcess p({"--hl", "127.0.0.1:9,rcon=pw", "--limit", "20480", "--seconds", "0", "--save", path});
        ASSERT_TRUE(p.Started());
        EXPECT_EQ(p.Wait(10s), 0) << p.Err();
    }
    {
        // The opened layout brings its object and its limit; a command-line object is added to it.
        HeadlessProcess p({"--open", path, "--hl", "127.0.0.1:7", "--seconds", "0"});
        ASSERT_TRUE(p.Started());
        EXPECT_EQ(p.Wait(10s), 0) << p.Err();
        ASSERT_EQ(p.lines.size(), 3u);
        const Json doc = Json::parse(p.lines[0]);
        EXPECT_EQ(doc.at("objects"), 2);
        EXPECT_EQ(doc.at("limit"), 20480);
        EXPECT_EQ(Json::parse(p.lines[1]).at("address"), "127.0.0.1:9");
        EXPECT_EQ(Json::parse(p.lines[2]).at("address"), "127.0.0.1:7");
    }
    {
        // --limit given with --open wins over the file's.
        HeadlessProcess p({"--open", path, "--limit", "40960", "--seconds", "0"});
        EXPECT_EQ(p.Wait(10s), 0);
        ASSERT_FALSE(p.lines.empty());
        EXPECT_EQ(Json::parse(p.lines[0]).at("limit"), 40960);
    }
    {
        // A file that is not a layout: the message, exit code 1, nothing monitored.
        std::ofstream(dir + "/bad.orv") << "not a layout";
        HeadlessProcess p({"--open", dir + "/bad.orv", "--seconds", "0"});
        EXPECT_EQ(p.Wait(10s), 1);
        EXPECT_NE(p.Err().find("Unexpected file format."), std::string::npos) << p.Err();
        EXPECT_TRUE(p.lines.empty());
    }
    std::system(("rm -rf " + dir).c_str());
}

}  // namespace
}  // namespace orv

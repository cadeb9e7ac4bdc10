// The headless front end with HLTV proxies: the real orvane-headless executable as a child process
// against a loopback HLTV proxy that relays a loopback Half-Life server, read line by line from its
// standard output with deadlines.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "apps/headless.h"
#include "headless_process.h"
#include "sim/hlpeer.h"
#include "sim/hltvpeer.h"

namespace orv {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;
using SteadyClock = std::chrono::steady_clock;

using headless_test::HeadlessProcess;

std::string OutOfBand(const std::string& text) {
    return std::string("\xFF\xFF\xFF\xFF", 4) + text + std::string(1, '\0');
}

bool IsProxy(const Json& j) {
    return j.at("kind") == "CHLTV";
}

// ---- Command line ----

TEST(HeadlessHLTV, HelpListsTheProxyOption) {
    HeadlessProcess p({"--help"});
    ASSERT_TRUE(p.Started());
    EXPECT_EQ(p.Wait(10s), 0);
    std::string text;
    for (auto& l : p.lines) text += l + "\n";
    for (const char* word :
         {"--hltv HOST[:PORT][,rcon=PASSWORD][,proxypw=PASSWORD][,ext=HOST:PORT][,export=0|1][,autorecord=0|1]",
          "Monitor an HLTV proxy", "default port 27020", "group \"Local TV\""})
        EXPECT_NE(text.find(word), std::string::npos) << word;
}

TEST(HeadlessHLTV, BadProxySettingsExitWithTwoAndSayWhy) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--hltv", "127.0.0.1,ext=127.0.0.2"},
         "--hltv '127.0.0.1,ext=127.0.0.2': ext must be HOST:PORT with a port from 1 to 65535"},
        {{"--hltv", "127.0.0.1,ext=:27020"}, "ext must be HOST:PORT"},
        {{"--hltv", "127.0.0.1,ext=127.0.0.2:0"}, "ext must be HOST:PORT"},
        {{"--hltv", "127.0.0.1,ext=127.0.0.2:99999"}, "ext must be HOST:PORT"},
        {{"--hltv", "127.0.0.1,export=2"}, "export must be 0 or 1"},
        {{"--hltv", "127.0.0.1,autorecord=yes"}, "autorecord must be 0 or 1"},
        {{"--hltv", "127.0.0.1,delay=3"}, "unknown setting 'delay' (accepted: rcon, proxypw, ext, export, autorecord)"},
        {{"--hltv", "127.0.0.1:0"}, "the port must be a number from 1 to 65535"},
    };
    for (auto& [args, message] : cases) {
        HeadlessProcess p(args);
        ASSERT_TRUE(p.Started());
        EXPECT_EQ(p.Wait(10s), 2) << args[1];
        EXPECT_NE(p.Err().find(message), std::string::npos) << args[1] << "\n" << p.Err();
        EXPECT_TRUE(p.lines.empty()) << args[1];
    }
}

TEST(HeadlessHLTV, SpecValuesAndDefaultPort) {
    const auto* kind = headless::FindKindByOption("--hltv");
    ASSERT_NE(kind, nullptr);
    EXPECT_EQ(kind->className, "CHLTV");
    EXPECT_EQ(kind->group, "Local TV");
    EXPECT_EQ(kind->defaultPort, 27020u);
    EXPECT_EQ(headless::FindKindByClass("CHLTV"), kind);
}

// ---- A run ----

// The proxy relays the game server and records its match: the proxy's line reports the status block,
// the link the document resolves on its sixth tick, and the recording that the match starts.
TEST(HeadlessHLTV, ProxyLineReportsStatusLinkAndAutomaticRecording) {
    sim::CHLPeer game;
    game.SetRconPassword("secret");
    game.SetMatchReport({"Alpha", "Beta", 2, 0, 0, 0, 0});
    sim::CHLTVPeer tv;
    ASSERT_TRUE(game.Ok() && tv.Ok());
    const std::string gameAddress = "127.0.0.1:" + std::to_string(game.Port());
    tv.SetConnectedTo(gameAddress);
    tv.SetSlots(64);
    tv.SetSpectators(5);
    tv.SetProxies(1);
    tv.SetBandwidth(2.0f, 22.5f);
    tv.SetDelay(20.0f);

    HeadlessProcess p({"--hl", gameAddress + ",rcon=secret", "--hltv",
                       tv.Address() + ",rcon=secret,proxypw=relay\\,pw,ext=127.0.0.9:27021,export=0,autorecord=1",
                       "--seconds", "40"});
    ASSERT_TRUE(p.Started());

    // Tick 0: the proxy's own fields before any answer.
    auto first = p.WaitForObject(IsProxy, 10s);
    ASSERT_TRUE(first) << p.Err();
    EXPECT_EQ(first->at("tick"), 0);
    EXPECT_EQ(first->at("address"), tv.Address());
    EXPECT_EQ(first->at("port"), tv.Port());
    EXPECT_EQ(first->at("delay"), -1.0);
    EXPECT_EQ(first->at("bandwidth"), -1.0);
    EXPECT_TRUE(first->at("linked").is_null());
    EXPECT_EQ(first->at("exportToWeb"), 0);
    EXPECT_EQ(first->at("externalAddress"), "127.0.0.9:27021");
    EXPECT_EQ(first->at("autoRecord"), 1);
    EXPECT_EQ(first->at("recordingFile"), "");
    EXPECT_EQ(first->at("stopPending"), false);
    EXPECT_EQ(first->at("icon"), 153);

    // The status block and the delay answer.
    auto status =
        p.WaitForObject([](const Json& j) { return IsProxy(j) && j.at("state") == 3 && j.at("delay") == 20.0; }, 15s);
    ASSERT_TRUE(status) << p.Err();
    EXPECT_EQ(status->at("spectators"), 6);
    EXPECT_EQ(status->at("slots"), 64);
    EXPECT_EQ(status->at("bandwidth"), 22.5);
    EXPECT_EQ(status->at("serverAddress"), gameAddress);
    EXPECT_EQ(status->at("serverName"), "Orvane HLTV");

    // The link, on the sixth tick at the latest.
    auto linked = p.WaitForObject([](const Json& j) { return IsProxy(j) && !j.at("linked").is_null(); }, 15s);
    ASSERT_TRUE(linked) << p.Err();
    EXPECT_EQ(linked->at("linked"), gameAddress);
    EXPECT_LE(linked->at("tick").get<int>(), 6);

    // The match runs: the proxy is told to record, and its next status reports the file.
    auto recording = p.WaitForObject([](const Json& j) { return IsProxy(j) && j.at("recordingFile") != ""; }, 25s);
    ASSERT_TRUE(recording) << p.Err();
    const std::string file = recording->at("recordingFile");
    ASSERT_EQ(tv.Recordings().size(), 1u);
    EXPECT_EQ(file, tv.Recordings()[0] + ".dem");
    EXPECT_TRUE(file.ends_with("_de_dust2_Alpha_Beta.dem")) << file;
    const std::string record =
        "rcon " + std::to_string(tv.Base().ExpectedChallenge()) + " \"secret\" record " + tv.Recordings()[0];
    const auto received = tv.Received();
    EXPECT_EQ(std::count(received.begin(), received.end(), OutOfBand(record)), 1);
    EXPECT_EQ(p.Err().find("Internal error"), std::string::npos) << p.Err();
}

}  // namespace
}  // namespace orv

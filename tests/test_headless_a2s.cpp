// The headless front end against present-day servers and a classic one, all in one run of the real
// executable: each object finds its dialect by itself, and a classic server sees exactly the bytes of old.
#include <gtest/gtest.h>

#include <map>

#include "headless_process.h"
#include "sim/a2speer.h"
#include "sim/hltvpeer.h"
#include "testutil.h"

namespace orv {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using headless_test::HeadlessProcess;
using headless_test::Json;

std::string Framed(const std::string& text) {
    return std::string(4, '\xFF') + text + '\0';
}
size_t CountStarting(const std::vector<std::string>& received, const std::string& head) {
    return static_cast<size_t>(
        std::count_if(received.begin(), received.end(), [&](auto& d) { return d.starts_with(head); }));
}

TEST(HeadlessA2S, EachObjectFindsItsDialectAndClassicBytesStayTheSame) {
    sim::CHLPeer classic;
    sim::CA2SPeer modern, modernRcon, both, fresh;
    sim::CHLTVPeer tvBase;
    sim::CA2SPeer tv(tvBase.Base());
    modern.Base().SetPlayers({"alpha", "beta"});
    modern.Base().SetMaxPlayers(20);
    modern.SetSettings({.bots = 1});
    both.SetSettings({.obsoleteReplyToo = true});
    fresh.SetSettings({.freshChallengeEveryQuery = true});
    tv.SetSettings({.serverType = 'p'});
    const auto address = [](int port) { return "127.0.0.1:" + std::to_string(port); };
    const std::vector<std::string> objects = {"--hl",   address(classic.Port()) + ",rcon=secret",
                                              "--hl",   address(modern.Port()),
                                              "--hl",   address(modernRcon.Port()) + ",rcon=secret",
                                              "--hl",   address(both.Port()),
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
    ASSERT_EQ(last.size(), 6u);

    const Json& m = last[address(modern.Port())];
    EXPECT_EQ(std::tuple(m["state"], m["protocol"], m["serverName"], m["map"], m["players"], m["maxPlayers"]),
              std::tuple(2, "a2s", "Orvane Test Server", "de_dust2", 2, 20));
    EXPECT_EQ(std::tuple(m["infoPlayers"], m["bots"], m["vac"], m["strays"]), std::tuple(2, 1, true, 0));
    EXPECT_EQ(m["playerNames"], Json::array({"alpha", "beta"}));
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

    // Both 'm' and 'I' to each info query: one reply taken per query, nothing counted astray.
    const Json& b = last[address(both.Port())];
    EXPECT_EQ(std::tuple(b["state"], b["protocol"], b["maxPlayers"], b["strays"]), std::tuple(2, "a2s", 16, 0));
    EXPECT_EQ(CountStarting(both.Base().Received(), Framed("TSource Engine Query")), 4u);  // 1 + its retry, 1, 1

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

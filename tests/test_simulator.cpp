// The simulator: scenario files read or refused with a message naming the place, and the broadcast it
// plays on loopback peers as time goes on (matches, clocks, silences, relays, chains, the log).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "sim/simulator/scenario.h"
#include "sim/simulator/simulator.h"
#include "sim/udppeer.h"
#include "tests/monitor_fixture.h"

namespace orv::sim {
namespace {

using namespace std::chrono_literals;

// Refused when read or checked, or by the simulator itself; {taken} stands for a port that is in use.
TEST(Scenario, BadScenariosAreRefusedWithTheirPlace) {
    CUdpPeer taken;
    for (auto& row : test::Rows("headless_sim_bad.txt")) {
        for (auto* text : {&row["json"], &row["error"]})
            for (size_t at; (at = text->find("{taken}")) != std::string::npos;)
                text->replace(at, 7, std::to_string(taken.Port()));
        Scenario s;
        std::string error;
        if (ParseScenario(row["json"], s, error) && CheckScenario(s, error)) {
            CSimulator sim(s);
            EXPECT_FALSE(sim.Ok()) << row["json"];
            error = sim.Error();
        }
        EXPECT_EQ(error, row["error"]) << row["json"];
    }
}

// The scenario of tests/data/headless_sim_play.json played as headless_sim_play.txt says.
TEST(Simulator, PlaysMatchesClocksSilencesRelaysAndChainsAsTimeGoesOn) {
    Scenario s;
    std::string error;
    // The shipped demo is sound too; the last one read is played.
    for (auto path : {std::string(ORVANE_SOURCE_DIR) + "/demo/demo.json", test::DataPath("headless_sim_play.json")})
        ASSERT_TRUE(ParseScenario(test::ReadFile(path).value_or(""), s = {}, error) && CheckScenario(s, error))
            << path << ": " << error;
    CSimulator sim(s);
    ASSERT_TRUE(sim.Ok()) << sim.Error();
    std::map<std::string, std::string> address;
    for (auto& p : sim.List()) address[p.name] = p.address;
    CUdpPeer client;
    for (auto& row : test::Rows("headless_sim_play.txt")) {
        if (row.count("at")) sim.Step(std::stoi(row["at"]));
        const std::string &to = address[row["to"]], ask = OutOfBand(row["ask"]) + std::string(1, '\0');
        client.SendTo(std::stoi(to.substr(to.find(':') + 1)), ask);
        if (row.count("silent")) {  // logged by the peer, unanswered: the next answer would show it
            ASSERT_TRUE(test::WaitFor([&] {
                bool seen = false;
                sim.Drain([&](auto&, const std::string& name, int, auto& bytes) {
                    seen |= name == row["to"] && bytes == ask;
                });
                return seen;
            }));
            continue;
        }
        std::string has = row["has"];
        for (auto& [name, at] : address)
            for (size_t i; (i = has.find("{" + name + "}")) != std::string::npos;) has.replace(i, name.size() + 2, at);
        const auto answer = client.Receive(5000ms);
        EXPECT_NE(answer ? answer->bytes.find(has) : std::string::npos, std::string::npos) << row["ask"] << ": " << has;
    }
}

// The log holds the rcon passwords received: a new one is its owner's alone, an existing one keeps its mode.
TEST(Simulator, LogIsTheOwnersAlone) {
    test::TempDir dir{"orvane-sim"};
    const mode_t umask = ::umask(0);
    for (auto [before, after] : {std::pair(0, 0600), std::pair(0644, 0644)}) {
        const auto path = dir.path / ("log" + std::to_string(before));
        if (before) {
            test::WriteFile(path, "old\n");
            std::filesystem::permissions(path, std::filesystem::perms(before));
        }
        std::ofstream log;
        ASSERT_TRUE(OpenLog(path.string(), log));
        log << "new\n";
        log.close();
        EXPECT_EQ(std::tuple(static_cast<int>(std::filesystem::status(path).permissions()), test::ReadFile(path)),
                  std::tuple(after, std::string(before ? "old\nnew\n" : "new\n")));
    }
    ::umask(umask);
}

}  // namespace
}  // namespace orv::sim

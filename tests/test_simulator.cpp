// The simulator: scenario files read or refused with a message naming the place, and the broadcast it
// plays on loopback peers as time goes on (matches, clocks, silences, relays, chains, the log).
#include <gtest/gtest.h>

#include "sim/simulator/scenario.h"
#include "sim/simulator/simulator.h"
#include "sim/udppeer.h"
#include "tests/testutil.h"

namespace orv::sim {
namespace {

using namespace std::chrono_literals;

TEST(Scenario, BadScenariosAreRefusedWithTheirPlace) {
    const std::pair<const char*, const char*> rows[] = {
        {"{", "not a JSON document"},
        {R"({"servers": []})", "servers: unknown key"},
        {R"({"peers": [{"name": "x"}]})", "peer 1: kind is missing"},
        {R"({"peers": [{"kind": "ut"}]})", "peer 1.kind: unknown kind \"ut\" (hl, a2s, hltv, q3 or gtv)"},
        {R"({"peers": [{"kind": "hl", "port": 70000}]})", "peer 1.port: must lie between 0 and 65535"},
        {R"({"peers": [{"kind": "hl", "count": 2, "port": 65535}]})", "peer 1: the ports run past 65535"},
        // Read, then refused as a whole.
        {R"({"peers": [{"kind": "hltv", "name": "tv", "relays": "q"}, {"kind": "q3", "name": "q"}]})",
         "tv: relays \"q\", which is no other Half-Life server or HLTV proxy"},
        {R"({"peers": [{"kind": "hl", "port": 27015}, {"kind": "q3", "port": 27015}]})",
         "the port 27015 is given twice"},
    };
    for (const auto& [json, message] : rows) {
        Scenario s;
        std::string error;
        EXPECT_FALSE(ParseScenario(json, s, error) && CheckScenario(s, error)) << json;
        EXPECT_EQ(error, message) << json;
    }
}

TEST(Scenario, TheShippedDemoIsSound) {
    Scenario s;
    std::string error;
    const auto demo = test::ReadFile(std::string(ORVANE_SOURCE_DIR) + "/demo/demo.json");
    ASSERT_TRUE(demo && ParseScenario(*demo, s, error)) << error;
    EXPECT_TRUE(CheckScenario(s, error)) << error;
}

// A client on loopback: one datagram out, the answer back.
std::string Ask(CUdpPeer& client, const std::string& address, const std::string& text) {
    client.SendTo(std::stoi(address.substr(address.find(':') + 1)), OutOfBand(text) + std::string(1, '\0'));
    const auto d = client.Receive(5000ms);
    return d ? d->bytes : std::string();
}

TEST(Simulator, PlaysMatchesClocksSilencesRelaysAndChainsAsTimeGoesOn) {
    Scenario s;
    std::string error;
    ASSERT_TRUE(ParseScenario(R"({"peers": [
        {"kind": "hl", "name": "cs", "players": ["a", "b", "c"], "churn": 5,
         "match": {"start": 10, "length": 40, "teams": ["Red", "Blue"]}, "silent": {"start": 100, "length": 5}},
        {"kind": "hltv", "name": "tv", "relays": "cs", "spectators": 10},
        {"kind": "q3", "name": "q", "match": {"start": 10, "length": 600}},
        {"kind": "gtv", "name": "g1", "chains": ["g2"], "rooms": [{"relays": "q", "description": "Final"}]},
        {"kind": "gtv", "name": "g2"}, {"kind": "a2s", "name": "new"}]})",
                              s, error));
    CSimulator sim(s);
    ASSERT_TRUE(sim.Ok()) << sim.Error();
    const auto peers = sim.List();
    ASSERT_EQ(peers.size(), 6u);
    const std::string cs = peers[0].address, tv = peers[1].address, q = peers[2].address, g1 = peers[3].address;
    CUdpPeer client;
    EXPECT_EQ(Ask(client, peers[5].address, std::string("T") + "Source Engine Query" + std::string(1, '\0')).substr(4, 1), "A");
    const std::string report = "rcon 123456789 \"secret\" nxn_match_report";

    EXPECT_NE(Ask(client, cs, report).find("nxn_match_report = \"Red;Blue;"), std::string::npos);
    sim.Step(16);  // the first set, six seconds in; a player away
    EXPECT_NE(Ask(client, cs, report).find(";2;1;0;0;0\""), std::string::npos);
    EXPECT_EQ(Ask(client, cs, "players")[5], 2);
    sim.Step(55);
    EXPECT_NE(Ask(client, cs, report).find(";5;4;2;2;4\""), std::string::npos);  // finished, final scores
    EXPECT_NE(Ask(client, q, "rcon \"secret\" score_time").find("\"Score_Time\" is:\"9:15^7\""), std::string::npos);
    EXPECT_NE(Ask(client, tv, "rcon 123456789 \"secret\" status").find("HLTV proxy connected to " + cs), std::string::npos);
    const std::string manager = Ask(client, g1, "getManagerInfo");
    EXPECT_NE(manager.find("\\chains\\" + peers[4].address + "\\"), std::string::npos);
    EXPECT_NE(Ask(client, g1, "gethubinfo 1").find("\\desc\\Final\\parent\\" + q), std::string::npos);

    // Silent: the details query gets no answer, the ping sent once it is back does.
    sim.Step(101);
    client.SendTo(std::stoi(cs.substr(10)), OutOfBand("details") + std::string(1, '\0'));
    ASSERT_TRUE(test::WaitFor([&] {
        bool seen = false;
        sim.Drain([&](const std::string&, const std::string& name, int, const std::string& bytes) {
            seen = seen || (name == "cs" && bytes == OutOfBand("details") + std::string(1, '\0'));
        });
        return seen;
    }));
    sim.Step(106);
    EXPECT_EQ(Ask(client, cs, "ping"), OutOfBand(std::string("j\0", 2)));
}

TEST(Simulator, APortThatIsTakenIsNamed) {
    CUdpPeer taken;
    Scenario s;
    SimPeerSpec busy;
    busy.kind = "q3";
    busy.name = "busy";
    busy.port = taken.Port();
    s.peers.push_back(busy);
    CSimulator sim(s);
    EXPECT_FALSE(sim.Ok());
    EXPECT_EQ(sim.Error(), "cannot bind 127.0.0.1:" + std::to_string(taken.Port()) + " for busy (is the port taken?)");
}

}  // namespace
}  // namespace orv::sim

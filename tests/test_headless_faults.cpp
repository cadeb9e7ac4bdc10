// orvane-headless under faults from its peers: a server that goes silent and comes back, one that answers
// garbage, datagrams from the wrong port, datagrams of 0, 4, 2047, 2048 and 65,507 bytes and a flood of
// one socket at line rate. The ticks stay once a second, every other object keeps its state and the
// layout file comes out as it went in.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "sim/hlpeer.h"
#include "sim/q3peer.h"
#include "tests/headless_process.h"
#include "tests/testutil.h"

namespace orv {
namespace {

using namespace std::chrono_literals;
using headless_test::HeadlessProcess;
using Json = nlohmann::json;
using Clock = std::chrono::steady_clock;

// The local port of the process's UDP socket connected to 127.0.0.1:remotePort, from /proc/net/udp.
int LocalPortConnectedTo(int remotePort) {
    std::ifstream in("/proc/net/udp");
    std::string line;
    std::getline(in, line);
    char remote[16];
    std::snprintf(remote, sizeof remote, "0100007F:%04X", remotePort);
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string slot, local, rem;
        fields >> slot >> local >> rem;
        if (rem == remote) return std::stoi(local.substr(local.find(':') + 1), nullptr, 16);
    }
    return 0;
}

TEST(HeadlessFaults, TicksStateAndLayoutHoldUnderBadPeers) {
    sim::CHLPeer steady, silent, garbage, odd;
    sim::CQ3Peer q3;
    // Every answer of this one is garbage: random bytes behind the prefix and a type nobody uses, or no prefix.
    std::atomic<unsigned> seed{12345};
    garbage.SetPacketHook([&](const std::string&) -> std::optional<std::string> {
        std::string bytes = seed % 2 ? sim::OutOfBand("x") : std::string("\x01\x02");
        for (int i = 0; i < 40; ++i) bytes.push_back(static_cast<char>((seed = seed * 1103515245u + 12345u) >> 16));
        return bytes;
    });
    auto address = [](int port) { return "127.0.0.1:" + std::to_string(port); };
    test::TempDir dir;
    const std::string in = (dir.path / "in.orv").string(), out = (dir.path / "out.orv").string();
    ASSERT_EQ(HeadlessProcess({"--hl", address(steady.Port()) + ",rcon=secret", "--hl", address(silent.Port()) + ",rcon=secret",
                               "--hl", address(garbage.Port()), "--hl", address(odd.Port()) + ",rcon=secret", "--q3",
                               q3.Address() + ",rcon=secret", "--seconds", "0", "--save", in})
                  .Wait(20s),
              0);
    constexpr int kSeconds = 40;
    HeadlessProcess program({"--open", in, "--save", out, "--seconds", std::to_string(kSeconds)});
    ASSERT_TRUE(program.Started());

    std::vector<Clock::time_point> tickAt;
    std::map<std::string, std::vector<int>> states;  // per address, the state at every tick
    std::map<std::string, Json> last;
    int objects = -1;
    size_t handled = 0;
    auto take = [&] {
        for (; handled < program.lines.size(); ++handled) {
            const Json j = Json::parse(program.lines[handled]);
            if (!j.contains("kind")) {
                tickAt.push_back(Clock::now());
                objects = j["objects"].get<int>();
                continue;
            }
            const std::string at = j["address"];
            states[at].push_back(j["state"].get<int>());
            last[at] = j;
        }
    };
    auto pump = [&](std::chrono::milliseconds limit) {
        for (auto wait = limit; program.ReadLine(wait); wait = 0ms) continue;
        take();
    };
    auto stateOf = [&](int port) { return last.count(address(port)) ? last[address(port)]["state"].get<int>() : 0; };
    auto waitUntil = [&](const std::function<bool()>& cond, std::chrono::seconds limit) {
        const auto end = Clock::now() + limit;
        while (!cond() && Clock::now() < end) pump(100ms);
        return cond();
    };
    ASSERT_TRUE(waitUntil([&] { return std::ranges::all_of(std::array{steady.Port(), odd.Port(), q3.Port(), silent.Port()},
                                                           [&](int port) { return stateOf(port) == 3; }); },
                          15s));
    const size_t settled = tickAt.size();
    const std::int64_t oddStrays = last[address(odd.Port())]["strays"];

    // Falls silent; datagrams of every awkward size; an impostor on the wrong port; then the flood.
    silent.SetSilent(true);
    for (size_t size : {0, 4, 2047, 2048, 65507}) {
        std::string bytes = size >= 5 ? sim::OutOfBand("j") : std::string();
        bytes.resize(size, size == 4 ? '\xFF' : 'z');
        ASSERT_TRUE(odd.SendToClient(bytes)) << size;
    }
    sim::CUdpPeer impostor;
    for (int port : {steady.Port(), q3.Port()}) {
        const int local = LocalPortConnectedTo(port);
        ASSERT_NE(local, 0);
        static const char details[] = "m127.0.0.1:1\0Impostor\0de_aztec\0valve\0X";
        impostor.SendTo(local, sim::OutOfBand(std::string(details, sizeof details)));
        impostor.SendTo(local, sim::OutOfBand("statusResponse\n\\sv_hostname\\Impostor\n"));
    }
    std::atomic<bool> flooding{true};
    size_t flooded = 0;
    std::thread flood([&] {
        const std::string junk(64, 'f');
        const auto end = Clock::now() + 3s;
        while (flooded < 2'000'000 && Clock::now() < end) flooded += odd.SendToClient(junk);
        flooding = false;
    });
    while (flooding) pump(50ms);
    flood.join();
    ASSERT_TRUE(waitUntil([&] { return stateOf(silent.Port()) == 1; }, 15s));
    silent.SetSilent(false);
    ASSERT_TRUE(waitUntil([&] { return stateOf(silent.Port()) == 3; }, 15s));
    while (tickAt.size() < static_cast<size_t>(kSeconds + 1) && program.Wait(0ms) == std::nullopt) pump(100ms);
    const auto exitCode = program.Wait(10s);
    take();
    ASSERT_EQ(exitCode, 0) << program.Err();

    // Ticks once a second: against the earliest tick, none more than a quarter second late.
    ASSERT_EQ(tickAt.size(), static_cast<size_t>(kSeconds + 1));
    std::vector<Clock::time_point> due;
    for (size_t k = 0; k < tickAt.size(); ++k) due.push_back(tickAt[k] - std::chrono::seconds(static_cast<std::int64_t>(k)));
    const auto worst = std::chrono::duration_cast<std::chrono::milliseconds>(*std::max_element(due.begin(), due.end()) -
                                                                             *std::min_element(due.begin(), due.end()));
    EXPECT_LT(worst, 250ms) << "worst tick lateness, after a flood of " << flooded << " datagrams";

    // The others kept their state from the moment they settled; the flooded one kept answering.
    for (int port : {steady.Port(), q3.Port(), odd.Port()}) {
        const auto& s = states[address(port)];
        EXPECT_TRUE(std::all_of(s.begin() + static_cast<std::ptrdiff_t>(settled), s.end(), [](int v) { return v == 3; }))
            << address(port);
    }
    // The kernel kept the impostor out.
    EXPECT_EQ(std::tuple(last[address(steady.Port())]["serverName"], last[address(q3.Port())]["serverName"],
                         last[address(steady.Port())]["strays"]),
              std::tuple("Orvane Test Server", "Orvane Q3 Server", 0));
    // 0 and 4 bytes are strays, the two 'j' answers are ignored, 65,507 bytes are too long for any answer;
    // every flood datagram that arrived is a stray.
    EXPECT_GE(last[address(odd.Port())]["strays"].get<std::int64_t>(), oddStrays + 2);
    EXPECT_EQ(std::tuple(last[address(garbage.Port())]["state"], objects), std::tuple(1, 5));
    EXPECT_GT(last[address(garbage.Port())]["strays"].get<std::int64_t>(), 10);
    EXPECT_EQ(test::ReadFile(out), test::ReadFile(in)) << "the layout changed";
}

}  // namespace
}  // namespace orv

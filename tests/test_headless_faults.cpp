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

namespace orv {
namespace {

using namespace std::chrono_literals;
using headless_test::Clock;
using headless_test::HeadlessProcess;
using headless_test::Json;

// The local port of the process's UDP socket connected to 127.0.0.1:remotePort, from /proc/net/udp.
int LocalPortConnectedTo(int remotePort) {
    std::ifstream in("/proc/net/udp");
    char remote[16];
    std::snprintf(remote, sizeof remote, "0100007F:%04X", remotePort);
    for (std::string slot, local, rem, rest; in >> slot >> local >> rem && std::getline(in, rest);)
        if (rem == remote) return std::stoi(local.substr(local.find(':') + 1), nullptr, 16);
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
    constexpr int kSeconds = 40;
    HeadlessProcess program(headless_test::WithLayout(
        dir.path,
        {"--hl", address(steady.Port()) + ",rcon=secret", "--hl", address(silent.Port()) + ",rcon=secret", "--hl",
         address(garbage.Port()), "--hl", address(odd.Port()) + ",rcon=secret", "--q3", q3.Address() + ",rcon=secret"},
        {"--seconds", std::to_string(kSeconds)}));
    auto inState = [&](int state, std::vector<int> ports) {
        return [&, state, ports] {
            return std::ranges::all_of(ports, [&](int port) { return program.StateOf(address(port)) == state; });
        };
    };
    ASSERT_TRUE(program.Until(inState(3, {steady.Port(), odd.Port(), q3.Port(), silent.Port()}), 15s));
    const size_t settled = program.ticks.size();
    const std::int64_t oddStrays = program.Last(address(odd.Port()))["strays"];

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
    while (flooding) program.ReadLine(50ms);
    flood.join();
    ASSERT_TRUE(program.Until(inState(1, {silent.Port()}), 15s));
    silent.SetSilent(false);
    ASSERT_TRUE(program.Until(inState(3, {silent.Port()}), 15s));
    ASSERT_TRUE(program.Until([&] { return program.ticks.size() > kSeconds; }, 60s));
    ASSERT_EQ(program.Wait(10s), 0) << program.Err();

    // Ticks once a second: against the earliest tick, none more than a quarter second late.
    const auto& tickAt = program.tickAt;
    ASSERT_EQ(tickAt.size(), static_cast<size_t>(kSeconds + 1));
    std::vector<Clock::time_point> due;
    for (size_t k = 0; k < tickAt.size(); ++k) due.push_back(tickAt[k] - std::chrono::seconds(k));
    const auto worst = std::chrono::duration_cast<std::chrono::milliseconds>(*std::max_element(due.begin(), due.end()) -
                                                                             *std::min_element(due.begin(), due.end()));
    EXPECT_LT(worst, 250ms) << "worst tick lateness, after a flood of " << flooded << " datagrams";

    // The others kept their state from the moment they settled; the flooded one kept answering.
    for (int port : {steady.Port(), q3.Port(), odd.Port()}) {
        const auto& lines = program.objects[address(port)];
        EXPECT_TRUE(std::all_of(lines.begin() + static_cast<std::ptrdiff_t>(settled), lines.end(), [](const Json& j) {
            return j["state"] == 3;
        })) << address(port);
    }
    // The kernel kept the impostor out.
    auto last = [&](int port) { return program.Last(address(port)); };
    EXPECT_EQ(
        std::tuple(last(steady.Port())["serverName"], last(q3.Port())["serverName"], last(steady.Port())["strays"]),
        std::tuple("Orvane Test Server", "Orvane Q3 Server", 0));
    // 0 and 4 bytes are strays, the two 'j' answers are ignored, 65,507 bytes are too long for any answer;
    // every flood datagram that arrived is a stray.
    EXPECT_GE(last(odd.Port())["strays"].get<std::int64_t>(), oddStrays + 2);
    EXPECT_EQ(std::tuple(last(garbage.Port())["state"], program.ticks.back()["objects"]), std::tuple(1, 5));
    EXPECT_GT(last(garbage.Port())["strays"].get<std::int64_t>(), 10);
    headless_test::ExpectLayoutKept(dir.path);
}

}  // namespace
}  // namespace orv

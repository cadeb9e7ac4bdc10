// A layout that needs about four times the default UDP output limit: 100 answering Half-Life servers
// with rcon passwords, ticked for two minutes while the real output worker paces the queue. Each tick
// waits for the worker's ten windows of that second, so the fake clock and the worker keep step.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <vector>

#include "document/document.h"
#include "fakes.h"
#include "monitors/halflife/hlserver.h"
#include "sim/hlpeer.h"

namespace orv {
namespace {

using namespace std::chrono_literals;

TEST(Overload, HundredServersAtTheDefaultLimitStayPolledAndTheOperatorGetsThrough) {
    constexpr int kServers = 100;
    constexpr int kTicks = 120;
    test::TestPlatform tp;
    COrvaneDoc doc{tp.platform};
    doc.New();
    std::vector<std::unique_ptr<sim::CHLPeer>> peers;
    std::vector<CHLServer*> servers;
    for (int i = 0; i < kServers; ++i) {
        peers.push_back(std::make_unique<sim::CHLPeer>());
        CObjectValues v;
        v.host = "127.0.0.1";
        v.port = static_cast<std::uint32_t>(peers.back()->Port());
        v.group = doc.groups[0];
        v.rconPassword = "secret";
        servers.push_back(dynamic_cast<CHLServer*>(doc.AddObjectOfKind(CObjectKind::HLServer, v)));
        ASSERT_NE(servers.back(), nullptr);
    }
    ASSERT_EQ(doc.output.GetLimit(), 10240);
    EXPECT_GT(doc.NeededRate(), 3 * doc.output.GetLimit());
    EXPECT_NE(doc.OutputRateWarning().find("set the limit to"), std::string::npos);

    const auto started = std::chrono::steady_clock::now();
    const std::uint64_t firstWindow = doc.output.WindowsRun();
    int largestQueue = 0;
    CHLServer* typedTo = nullptr;
    sim::CHLPeer* typedPeer = nullptr;
    for (int tick = 0; tick < kTicks; ++tick) {
        doc.Tick();
        const std::uint64_t until = doc.output.WindowsRun() + 10;
        ASSERT_TRUE(tp.loop.RunUntil([&] { return doc.output.WindowsRun() >= until; }, 10s)) << tick;
        largestQueue = std::max(largestQueue, doc.output.Count());
        // The operator types a command while the queue is full of polls.
        if (!typedTo && tick >= 30 && doc.output.Count() >= kServers) {
            for (int i = 0; i < kServers && !typedTo; ++i) {
                if (servers[i]->state != CCommonObject::kStateRcon || servers[i]->challenge == 0) continue;
                typedTo = servers[i];
                typedPeer = peers[i].get();
                typedTo->SendRcon("say typed by the operator");
            }
        }
        tp.clock.Advance(1);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const std::uint64_t windows = doc.output.WindowsRun() - firstWindow;

    // Bounded: about what the limit sends in one cycle, and one query per server.
    EXPECT_LT(largestQueue, 3 * kServers);
    // At or below the limit: the bytes that reached the peers, 30 of overhead each.
    std::uint64_t bytes = 0;
    for (auto& p : peers)
        for (auto& d : p->Received()) bytes += d.size() + COutputSocketControl::kOverhead;
    EXPECT_LE(bytes, windows * static_cast<std::uint64_t>(doc.output.WindowBudget()));
    EXPECT_LE(static_cast<double>(bytes) * 8.0, doc.output.GetLimit() * seconds);
    // Polled less often, but polled: nearly every server is still seen answering.
    const auto answering = std::count_if(servers.begin(), servers.end(),
                                         [](const CHLServer* s) { return s->state >= CCommonObject::kStateMonitor; });
    EXPECT_GE(answering, kServers * 9 / 10);
    // The operator's command went out and the server took it.
    ASSERT_NE(typedTo, nullptr);
    const auto accepted = typedPeer->AcceptedCommands();
    EXPECT_NE(std::find(accepted.begin(), accepted.end(), "say typed by the operator"), accepted.end());
}

}  // namespace
}  // namespace orv

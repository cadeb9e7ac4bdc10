// The output queue under overload: polls merged, capped per socket and dropped when stale, actions
// first and in order, sockets served in turn; and the time-out that does not count the queue's wait.
#include <gtest/gtest.h>

#include <chrono>

#include "fakes.h"
#include "monitors/halflife/hlserver.h"
#include "net/outputcontrol.h"
#include "sim/udppeer.h"

namespace orv {
namespace {

using namespace std::chrono_literals;

struct QueueRig {
    sim::CUdpPeer peer;
    COutputSocketControl out;  // not started: the test runs the windows
    std::int64_t ms = 0;
    QueueRig() {
        out.SetLimit(1'000'000);
        out.SetClock([this] { return ms; });
    }
    void Connect(CUdpSocket& s) { ASSERT_TRUE(s.Create() && s.Connect("127.0.0.1", static_cast<std::uint32_t>(peer.Port()))); }
    void Put(CUdpSocket& s, const std::string& text, CPacketKind kind) {
        out.Queue(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), &s, kind);
    }
    // Runs windows until the queue is empty; the texts that reached the peer, in order.
    std::vector<std::string> Drain(size_t expected) {
        while (out.Count() > 0) out.RunWindow();
        std::vector<std::string> got;
        while (got.size() < expected)
            if (auto d = peer.Receive(2s)) got.push_back(d->bytes);
            else break;
        return got;
    }
};

TEST(OutputQueue, PollsMergeAndGiveWayActionsGoFirstAndSocketsTakeTurns) {
    QueueRig rig;
    rig.out.SetLimit(10240);  // 128 bytes a window: 7680 bytes leave in a cycle
    CUdpSocket a, b;
    rig.Connect(a);
    rig.Connect(b);
    const auto poll = CPacketKind::Poll;
    const std::string pad(2000, '.');  // four polls of this size are more than a cycle carries
    rig.Put(a, "a1" + pad, poll);
    rig.Put(a, "a1" + pad, poll);  // identical and still waiting: merged
    for (const char* t : {"a2", "a3", "a4"}) rig.Put(a, t + pad, poll);  // a1, the oldest, gives way
    rig.Put(b, "b1" + pad, poll);  // b had nothing waiting: it gets in
    rig.Put(b, "b2" + pad, poll);  // and b1 gives way
    rig.Put(b, "x1", CPacketKind::Action);
    rig.Put(a, "x2", CPacketKind::Action);
    EXPECT_EQ(rig.out.Count(), 6);
    EXPECT_EQ(rig.out.PollsMerged(), 1u);
    EXPECT_EQ(rig.out.PollsDropped(), 2u);
    std::vector<std::string> heads;
    for (auto& d : rig.Drain(6)) heads.push_back(d.substr(0, 2));
    EXPECT_EQ(heads, (std::vector<std::string>{"x1", "x2", "a2", "b2", "a3", "a4"}));
    rig.out.SetLimit(1'000'000);

    // A poll that waited longer than a cycle is dropped unsent; an action never is.
    rig.Put(a, "stale", poll);
    rig.Put(b, "kept", CPacketKind::Action);
    rig.ms += COutputSocketControl::kPollLifetimeMilliseconds + 1;
    rig.Put(b, "fresh", poll);
    EXPECT_EQ(rig.Drain(2), (std::vector<std::string>{"kept", "fresh"}));
    EXPECT_EQ(rig.out.PollsDropped(), 3u);

    // A cancelled socket's polls go with it.
    rig.Put(a, "gone", poll);
    rig.out.CancelSocket(&a);
    EXPECT_EQ(rig.out.Count(), 0);
}

TEST(OutputQueue, AQueryWaitingInTheQueueIsNotTheServersSilence) {
    test::TestPlatform tp;
    QueueRig rig;
    CHLServer server(tp.platform);
    server.host = "127.0.0.1";
    server.port = static_cast<std::uint32_t>(rig.peer.Port());
    server.output = &rig.out;
    server.CreateSocket();
    server.state = CCommonObject::kStateMonitor;
    server.MarkAnswered();
    const Time answered = tp.clock.now;
    server.pollPhase = 0;
    server.Tick();  // details, held in the queue
    tp.clock.now = answered + 30;
    server.Tick();
    EXPECT_EQ(server.state, 2);
    ASSERT_EQ(rig.Drain(1).size(), 1u);  // it leaves now; the peer never answers
    tp.clock.now = answered + 40;
    server.Tick();
    EXPECT_EQ(server.state, 2);  // ten seconds since it left
    tp.clock.now = answered + 41;
    server.Tick();
    EXPECT_EQ(server.state, 1);
}

}  // namespace
}  // namespace orv

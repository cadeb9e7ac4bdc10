// The output queue under overload: polls merged, giving way and dropped when stale, actions first and in
// order, sockets served in turn.
#include <gtest/gtest.h>

#include "net/outputcontrol.h"
#include "sim/udppeer.h"

namespace orv {
namespace {

using namespace std::chrono_literals;

struct QueueTest : ::testing::Test {
    sim::CUdpPeer peer;
    COutputSocketControl out;  // not started: the test runs the windows
    std::int64_t ms = 0;
    CUdpSocket a, b;
    void SetUp() override {
        out.SetClock([this] { return ms; });
        for (CUdpSocket* s : {&a, &b}) ASSERT_TRUE(s->Create() && s->Connect("127.0.0.1", peer.Port()));
    }
    void Put(CUdpSocket& s, const std::string& text, CPacketKind kind = CPacketKind::Poll) {
        out.Queue(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), &s, kind);
    }
    // Sends everything; the first two bytes of what reached the peer, in order.
    std::vector<std::string> Drain(size_t expected) {
        while (out.Count() > 0) out.RunWindow();
        std::vector<std::string> got;
        while (got.size() < expected)
            if (auto d = peer.Receive(2s)) got.push_back(d->bytes.substr(0, 2));
            else break;
        return got;
    }
};

TEST_F(QueueTest, PollsMergeGiveWayAndGoStaleActionsGoFirstSocketsTakeTurns) {
    const std::string pad(2000, '.');  // at the default limit a cycle carries 7680 bytes: four of these do not fit
    for (const char* t : {"a1", "a1", "a2", "a3", "a4"}) Put(a, t + pad);  // a1 merged, then giving way to a4
    Put(b, "b1" + pad);  // b had nothing waiting: it gets in, then gives way to b2
    Put(b, "b2" + pad);
    Put(b, "x1", CPacketKind::Action);
    Put(a, "x2", CPacketKind::Action);
    EXPECT_EQ(out.PollsMerged(), 1u);
    EXPECT_EQ(out.PollsDropped(), 2u);
    EXPECT_EQ(Drain(6), (std::vector<std::string>{"x1", "x2", "a2", "b2", "a3", "a4"}));

    Put(a, "s1");
    Put(b, "k1", CPacketKind::Action);
    ms += COutputSocketControl::kPollLifetimeMilliseconds + 1;
    Put(b, "f1");
    EXPECT_EQ(Drain(2), (std::vector<std::string>{"k1", "f1"}));  // the stale poll never left
}

}  // namespace
}  // namespace orv

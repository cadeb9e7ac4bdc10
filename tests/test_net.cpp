// The UDP output queue and the monitored object's socket, on real loopback sockets; the queue's stress
// test runs under ThreadSanitizer too.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <random>
#include <thread>

#include "core/commonobject.h"
#include "fakes.h"
#include "net/outputcontrol.h"
#include "sim/udppeer.h"

namespace orv {
namespace {

using namespace std::chrono_literals;

// A socket connected to a loopback peer.
struct Link {
    sim::CUdpPeer peer;
    CUdpSocket socket;
    Link() { EXPECT_TRUE(socket.Create() && socket.Connect("127.0.0.1", static_cast<std::uint32_t>(peer.Port()))); }
    // The first bytes of each datagram the peer receives, until none comes for a while.
    std::string Firsts(std::chrono::milliseconds first = 100ms) {
        std::string s;
        for (auto limit = first; auto d = peer.Receive(limit); limit = 100ms) s += d->bytes.substr(0, 1);
        return s;
    }
};
void QueueBytes(COutputSocketControl& q, size_t n, CUdpSocket* s, char fill = 'x') {
    const std::string d(n, fill);
    q.Queue(reinterpret_cast<const std::uint8_t*>(d.data()), d.size(), s);
}

TEST(OutputQueue, LimitUnitsAreBitsPerSecondOverEighty) {
    COutputSocketControl q;
    EXPECT_EQ(std::tuple(q.GetLimit(), q.WindowBudget()), std::tuple(10240, 128));
    for (auto [set, limit] : {std::pair{10319, 10240}, {79, 0}, {3 * 1024, 3040}}) {  // multiples of 80 below the value
        q.SetLimit(set);
        EXPECT_EQ(q.GetLimit(), limit) << set;
    }
    q.SetLimit(2048);
    EXPECT_EQ(q.WindowBudget(), 25);
}

TEST(OutputQueue, WindowsSendWhatFitsTheBudgetInQueueOrder) {
    Link link;
    COutputSocketControl q;  // not started: the test runs the windows itself
    for (char c : {'a', 'b', 'c'}) QueueBytes(q, 40, &link.socket, c);
    // 40 + 0 + 30 = 70 < 128, then 40 + 70 + 30 = 140 >= 128: one a window.
    EXPECT_EQ(q.Count(), 3);
    for (int sent : {1, 1, 1, 0}) EXPECT_EQ(q.RunWindow(), sent);
    EXPECT_EQ(link.Firsts(), "abc");
    QueueBytes(q, 97, &link.socket, 'd');  // 97 + 30 = 127 < 128
    QueueBytes(q, 10, &link.socket, 'e');  // 10 + 127 + 30 >= 128: the next window
    QueueBytes(q, 98, &link.socket, 'f');  // 98 + 30 = 128: never fits, goes alone without blocking the queue
    QueueBytes(q, 10, &link.socket, 'g');
    for (const char* sent : {"d", "e", "f", "g"}) {
        EXPECT_EQ(q.RunWindow(), 1);
        EXPECT_EQ(link.Firsts(), sent);
    }
    q.SetLimit(2 * 1024);  // the smallest accepted limit: every datagram is oversized, one per window
    QueueBytes(q, 5, &link.socket);
    QueueBytes(q, 5, &link.socket);
    EXPECT_EQ(std::tuple(q.RunWindow(), q.RunWindow()), std::tuple(1, 1));
}

TEST(OutputQueue, CancelClearAndStopDropWhatIsQueued) {
    Link a, b;
    COutputSocketControl q;
    QueueBytes(q, 10, &a.socket, 'a');
    QueueBytes(q, 10, &b.socket, 'b');
    QueueBytes(q, 10, &a.socket, 'a');
    q.CancelSocket(&a.socket);
    EXPECT_EQ(q.Count(), 3);  // still queued, but harmless
    EXPECT_EQ(q.RunWindow(), 1);
    EXPECT_EQ(std::tuple(q.Count(), a.Firsts(), b.Firsts()), std::tuple(0, "", "b"));
    QueueBytes(q, 10, &a.socket);
    q.Clear();
    EXPECT_EQ(q.Count(), 0);
    QueueBytes(q, 10, &a.socket);
    q.Stop();
    EXPECT_EQ(std::tuple(q.Count(), a.Firsts()), std::tuple(0, ""));
    // Started, the worker sends every queued datagram in order (all within one window).
    q.SetLimit(1000000);
    q.Start();
    for (int i = 0; i < 20; ++i) QueueBytes(q, 40, &b.socket, static_cast<char>('a' + i));
    EXPECT_EQ(b.Firsts(2s), "abcdefghijklmnopqrst");
    q.Stop();
}

// Under overload polls are merged, give way and go stale; actions go first and in order; sockets take turns.
TEST(OutputQueue, PollsMergeGiveWayAndGoStaleActionsGoFirstSocketsTakeTurns) {
    Link a;
    CUdpSocket b;  // to the same peer, so that the order across sockets shows
    ASSERT_TRUE(b.Create() && b.Connect("127.0.0.1", static_cast<std::uint32_t>(a.peer.Port())));
    COutputSocketControl q;  // at the default limit a cycle carries 7680 bytes: four of 2000 do not fit
    std::int64_t ms = 0;
    q.SetClock([&] { return ms; });
    auto put = [&](CUdpSocket& s, char first, CPacketKind kind = CPacketKind::Poll) {
        const std::string d = first + std::string(kind == CPacketKind::Poll ? 2000 : 1, '.');
        q.Queue(reinterpret_cast<const std::uint8_t*>(d.data()), d.size(), &s, kind);
    };
    auto drain = [&] {
        while (q.Count() > 0) q.RunWindow();
        return a.Firsts();
    };
    for (char c : {'1', '1', '2', '3', '4'}) put(a.socket, c);  // 1 merged, then giving way to 4
    put(b, '5');  // b had nothing waiting: it gets in, then gives way to 6
    put(b, '6');
    put(b, 'x', CPacketKind::Action);
    put(a.socket, 'y', CPacketKind::Action);
    EXPECT_EQ(std::tuple(q.PollsMerged(), q.PollsDropped()), std::tuple(1u, 2u));
    EXPECT_EQ(drain(), "xy2634");
    put(a.socket, 's');
    put(b, 'k', CPacketKind::Action);
    ms += COutputSocketControl::kPollLifetimeMilliseconds + 1;
    put(b, 'f');
    EXPECT_EQ(drain(), "kf");  // the stale poll never left
}

// Sockets created and destroyed while the worker sends: after CancelSocket returns, no send may touch
// the socket (run under ThreadSanitizer and AddressSanitizer).
TEST(OutputQueueStress, SocketsDestroyedWhileTheWorkerSends) {
    sim::CUdpPeer sink;
    COutputSocketControl q;
    q.SetLimit(100000 * 1024);
    q.Start();
    std::mt19937 rng(42);
    std::vector<std::unique_ptr<CUdpSocket>> sockets;
    const std::string payload(60, 'p');
    const auto until = std::chrono::steady_clock::now() + 1500ms;  // several of the worker's windows
    for (int round = 0; std::chrono::steady_clock::now() < until || q.WindowsRun() < 10; ++round) {
        if (sockets.size() < 16 || rng() % 3 == 0) {
            auto s = std::make_unique<CUdpSocket>();
            ASSERT_TRUE(s->Create() && s->Connect("127.0.0.1", static_cast<std::uint32_t>(sink.Port())));
            sockets.push_back(std::move(s));
        }
        for (int k = 0; k < 4; ++k)
            q.Queue(reinterpret_cast<const std::uint8_t*>(payload.data()), payload.size(),
                    sockets[rng() % sockets.size()].get());
        if (rng() % 2 == 0 || sockets.size() > 64) {  // the descriptor count stays bounded
            const size_t victim = sockets.size() > 64 ? 0 : rng() % sockets.size();
            q.CancelSocket(sockets[victim].get());
            sockets.erase(sockets.begin() + static_cast<std::ptrdiff_t>(victim));
        }
        while (sink.Receive(0ms)) {
        }
        if (round % 64 == 0) std::this_thread::yield();
    }
    for (auto& s : sockets) q.CancelSocket(s.get());
    sockets.clear();
    q.Stop();
    EXPECT_GT(q.DatagramsSent(), 0u);
}

// A minimal monitored object that records what reaches its packet handler.
class ProbeObject : public CCommonObject {
public:
    using CCommonObject::CCommonObject;
    const char* ClassName() const override { return "CProbe"; }
    std::uint16_t Schema() const override { return 1; }
    void OnPacket(std::span<const std::uint8_t> datagram) override {
        packets.emplace_back(reinterpret_cast<const char*>(datagram.data()), datagram.size());
        zeroBehind = zeroBehind && datagram.data()[datagram.size()] == 0;
    }
    std::vector<std::string> packets;
    bool zeroBehind = true;
};

struct ObjectTest : ::testing::Test {
    test::TestPlatform tp;
    COutputSocketControl output;
    sim::CUdpPeer peer;
    std::unique_ptr<ProbeObject> Make(const std::string& host, std::uint32_t port) {
        auto o = std::make_unique<ProbeObject>(tp.platform);
        o->host = host;
        o->port = port;
        o->output = &output;
        o->CreateSocket();
        return o;
    }
    std::uint32_t PeerPort() const { return static_cast<std::uint32_t>(peer.Port()); }
};

TEST_F(ObjectTest, DatagramsBothWays) {
    auto o = Make("127.0.0.1", PeerPort());
    EXPECT_EQ(std::tuple(o->resolvedAddress, o->AddressString()),
              std::tuple("127.0.0.1", "127.0.0.1:" + std::to_string(peer.Port())));
    o->SendOutOfBand("status");
    EXPECT_EQ(output.RunWindow(), 1);
    auto d = peer.Receive(1s);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->bytes, std::string("\xFF\xFF\xFF\xFF\x73\x74\x61\x74\x75\x73\x00", 11));
    // Prefixed replies reach the handler whole, with a zero behind them; others are strays; 2048 bytes
    // pass, 2049 are dropped without being counted or parsed.
    const std::string big = std::string(4, '\xFF') + std::string(2044, 'b');
    for (const std::string& bytes : {std::string(4, '\xFF'), std::string("\xFF\xFF\xFF\xFEmx", 6), std::string("ab"),
                                     big, big + "c", std::string(4, '\xFF') + "m"})
        ASSERT_TRUE(peer.SendTo(o->Socket()->LocalPort(), bytes));
    tp.loop.RunUntil([&] { return o->packets.size() >= 3; }, 2s);
    tp.loop.RunOnce(50ms);
    EXPECT_EQ(o->packets, (std::vector<std::string>{std::string(4, '\xFF'), big, std::string(4, '\xFF') + "m"}));
    EXPECT_EQ(std::tuple(o->strayDatagrams, o->zeroBehind), std::tuple(2u, true));
    EXPECT_EQ(AnswerType({reinterpret_cast<const std::uint8_t*>(o->packets[0].data()), 4}), 0);
}

TEST_F(ObjectTest, AddressesAndFailedSockets) {
    // A name is looked up in the background, never on this thread: until its answer is delivered here the
    // object has no address and sends nothing.
    auto byName = Make("localhost", 27015);
    EXPECT_EQ(std::tuple(byName->LookupPending(), byName->AddressString()), std::tuple(true, ":27015"));
    byName->SendOutOfBand("details");
    EXPECT_EQ(output.Count(), 0);
    ASSERT_TRUE(tp.loop.RunUntil([&] { return !byName->LookupPending(); }, 2s));
    EXPECT_EQ(
        std::tuple(byName->AddressString(), byName->Matches("127.0.0.1:27015"), byName->Matches("localhost:27015")),
        std::tuple("127.0.0.1:27015", true, false));
    EXPECT_EQ(
        std::tuple(CUdpSocket::IsLoopbackName("LocalHost."), CUdpSocket::IsLoopbackName("tv.localhost"),
                   CUdpSocket::IsLoopbackName("notlocalhost"), CUdpSocket::IsLoopbackName("localhost.example.org")),
        std::tuple(true, true, false, false));
    // A host that cannot be resolved, or a bad port: reported once (a dotted address at once, needing no
    // lookup), the object stays silent in state 1.
    auto bad = Make("no such host", 27015);
    Make("127.0.0.1", 70000);
    EXPECT_EQ(tp.prompter.messages, std::vector<std::string>{"Connect failed for 127.0.0.1:70000"});
    ASSERT_TRUE(tp.loop.RunUntil([&] { return !bad->LookupPending(); }, 2s));
    bad->SendOutOfBand("details");
    output.RunWindow();
    EXPECT_EQ(tp.prompter.messages, (std::vector<std::string>{"Connect failed for 127.0.0.1:70000",
                                                              "Connect failed for no such host:27015"}));
    EXPECT_EQ(std::tuple(bad->state, bad->resolvedAddress), std::tuple(1, ""));
    // No descriptor left for a socket: "Create failed", and the connect is still tried.
    auto o = std::make_unique<ProbeObject>(tp.platform);
    o->host = "127.0.0.1";
    o->port = PeerPort();
    o->output = &output;
    tp.prompter.messages.clear();
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit low = saved;
    low.rlim_cur = 256;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<int> filler;
    for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) filler.push_back(fd);
    o->CreateSocket();
    for (int fd : filler) ::close(fd);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
    EXPECT_EQ(tp.prompter.messages, (std::vector<std::string>{"Create failed", "Connect failed for 127.0.0.1:" +
                                                                                   std::to_string(peer.Port())}));
    EXPECT_EQ(std::tuple(o->state, o->resolvedAddress), std::tuple(1, ""));
}

TEST_F(ObjectTest, DeletedOrRecreatedSocketsDropTheirQueuedDatagramsUnsent) {
    auto keep = Make("127.0.0.1", PeerPort());
    auto gone = Make("127.0.0.1", PeerPort());
    gone->SendOutOfBand("gone");
    keep->SendOutOfBand("old");
    keep->CreateSocket();
    keep->SendOutOfBand("kept");
    gone.reset();
    EXPECT_EQ(output.Count(), 3);
    output.RunWindow();
    auto d = peer.Receive(1s);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->bytes, std::string("\xFF\xFF\xFF\xFFkept\0", 9));
    EXPECT_FALSE(peer.Receive(100ms));
    EXPECT_EQ(tp.loop.WatchedCount(), 1u);  // the deleted object's socket is no longer watched
}

}  // namespace
}  // namespace orv

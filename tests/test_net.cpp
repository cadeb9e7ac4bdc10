// The UDP output queue and the monitored object's socket, on real loopback sockets.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
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
    Link() {
        EXPECT_TRUE(socket.Create());
        EXPECT_TRUE(socket.Connect("127.0.0.1", static_cast<std::uint32_t>(peer.Port())));
    }
};

void QueueBytes(COutputSocketControl& q, size_t n, CUdpSocket* s, char fill = 'x') {
    const std::string d(n, fill);
    q.Queue(reinterpret_cast<const std::uint8_t*>(d.data()), d.size(), s);
}

TEST(OutputQueue, LimitUnitsAreBitsPerSecondOverEighty) {
    COutputSocketControl q;
    EXPECT_EQ(q.GetLimit(), 10240);
    EXPECT_EQ(q.WindowBudget(), 128);
    q.SetLimit(10240);
    EXPECT_EQ(q.GetLimit(), 10240);
    q.SetLimit(10319);  // largest multiple of 80 not above the value
    EXPECT_EQ(q.GetLimit(), 10240);
    q.SetLimit(79);
    EXPECT_EQ(q.GetLimit(), 0);
    q.SetLimit(2048);
    EXPECT_EQ(q.WindowBudget(), 25);
    q.SetLimit(3 * 1024);
    EXPECT_EQ(q.GetLimit(), 3040);
}

TEST(OutputQueue, ThreeFortyByteDatagramsLeaveInThreeWindows) {
    Link link;
    COutputSocketControl q;  // not started: the test runs the windows itself
    for (char c : {'a', 'b', 'c'}) QueueBytes(q, 40, &link.socket, c);
    EXPECT_EQ(q.Count(), 3);
    EXPECT_EQ(q.RunWindow(), 1);  // 40 + 0 + 30 = 70 < 128, then 40 + 70 + 30 = 140 >= 128
    EXPECT_EQ(q.Count(), 2);
    EXPECT_EQ(q.RunWindow(), 1);
    EXPECT_EQ(q.RunWindow(), 1);
    EXPECT_EQ(q.RunWindow(), 0);
    for (char c : {'a', 'b', 'c'}) {
        auto d = link.peer.Receive(1s);
        ASSERT_TRUE(d);
        EXPECT_EQ(d->bytes, std::string(40, c));  // in queue order
    }
}

TEST(OutputQueue, BudgetBoundaryAtTenKbps) {
    Link link;
    COutputSocketControl q;
    QueueBytes(q, 97, &link.socket);  // 97 + 30 = 127 < 128
    QueueBytes(q, 10, &link.socket);  // 10 + 127 + 30 >= 128: next window
    EXPECT_EQ(q.RunWindow(), 1);
    EXPECT_EQ(q.RunWindow(), 1);
    ASSERT_TRUE(link.peer.Receive(1s));
    ASSERT_TRUE(link.peer.Receive(1s));
}

TEST(OutputQueue, OversizedDatagramGoesAloneAndDoesNotBlockTheQueue) {
    Link link;
    COutputSocketControl q;
    QueueBytes(q, 10, &link.socket, 'a');
    QueueBytes(q, 98, &link.socket, 'b');  // 98 + 30 = 128: never fits a 128-byte window
    QueueBytes(q, 10, &link.socket, 'c');
    EXPECT_EQ(q.RunWindow(), 1);  // 'a'; 'b' waits for an empty window
    EXPECT_EQ(q.RunWindow(), 1);  // 'b' alone
    EXPECT_EQ(q.RunWindow(), 1);  // 'c'
    for (char c : {'a', 'b', 'c'}) {
        auto d = link.peer.Receive(1s);
        ASSERT_TRUE(d);
        EXPECT_EQ(d->bytes[0], c);
    }
    // At the smallest accepted limit (budget 25) every datagram is oversized: one per window.
    q.SetLimit(2 * 1024);
    QueueBytes(q, 5, &link.socket);
    QueueBytes(q, 5, &link.socket);
    EXPECT_EQ(q.RunWindow(), 1);
    EXPECT_EQ(q.RunWindow(), 1);
}

TEST(OutputQueue, CancelledDatagramsAreDroppedUnsent) {
    Link a, b;
    COutputSocketControl q;
    QueueBytes(q, 10, &a.socket, 'a');
    QueueBytes(q, 10, &b.socket, 'b');
    QueueBytes(q, 10, &a.socket, 'a');
    q.CancelSocket(&a.socket);
    EXPECT_EQ(q.Count(), 3);  // still queued, but harmless
    EXPECT_EQ(q.RunWindow(), 1);
    EXPECT_EQ(q.Count(), 0);
    EXPECT_FALSE(a.peer.Receive(100ms));
    auto d = b.peer.Receive(1s);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->bytes, std::string(10, 'b'));
}

TEST(OutputQueue, ClearAndStopDiscardWhatIsQueued) {
    Link link;
    COutputSocketControl q;
    QueueBytes(q, 10, &link.socket);
    QueueBytes(q, 10, &link.socket);
    q.Clear();
    EXPECT_EQ(q.Count(), 0);
    QueueBytes(q, 10, &link.socket);
    q.Stop();
    EXPECT_EQ(q.Count(), 0);
    EXPECT_FALSE(link.peer.Receive(50ms));
}

TEST(OutputQueue, WorkerSendsEveryQueuedDatagram) {
    Link link;
    COutputSocketControl q;
    q.SetLimit(100000);
    q.Start();
    for (int i = 0; i < 20; ++i) QueueBytes(q, 40, &link.socket, static_cast<char>('a' + i));
    for (int i = 0; i < 20; ++i) {
        auto d = link.peer.Receive(2s);
        ASSERT_TRUE(d) << i;
        EXPECT_EQ(d->bytes[0], static_cast<char>('a' + i));
    }
    q.Stop();
}

// Objects whose sockets are created and destroyed while the worker sends: after CancelSocket returns,
// no send may touch the socket (run under ThreadSanitizer and AddressSanitizer).
TEST(OutputQueueStress, SocketsDestroyedWhileTheWorkerSends) {
    sim::CUdpPeer sink;
    COutputSocketControl q;
    q.SetLimit(100000 * 1024);
    q.Start();
    std::mt19937 rng(42);
    std::vector<std::unique_ptr<CUdpSocket>> sockets;
    const std::string payload(60, 'p');
    // Churn through several of the worker's windows, so that sends and cancellations overlap.
    const auto until = std::chrono::steady_clock::now() + 1500ms;
    for (int round = 0; std::chrono::steady_clock::now() < until || q.WindowsRun() < 10; ++round) {
        if (sockets.size() < 16 || rng() % 3 == 0) {
            auto s = std::make_unique<CUdpSocket>();
            ASSERT_TRUE(s->Create());
            ASSERT_TRUE(s->Connect("127.0.0.1", static_cast<std::uint32_t>(sink.Port())));
            sockets.push_back(std::move(s));
        }
        for (int k = 0; k < 4; ++k) {
            auto& s = sockets[rng() % sockets.size()];
            q.Queue(reinterpret_cast<const std::uint8_t*>(payload.data()), payload.size(), s.get());
        }
        if (rng() % 2 == 0) {
            const size_t victim = rng() % sockets.size();
            q.CancelSocket(sockets[victim].get());
            sockets.erase(sockets.begin() + static_cast<std::ptrdiff_t>(victim));
        }
        while (sink.Receive(0ms)) {
        }
        if (sockets.size() > 64) {  // keep the descriptor count bounded
            q.CancelSocket(sockets.front().get());
            sockets.erase(sockets.begin());
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
        terminatedByZero.push_back(datagram.data()[datagram.size()] == 0);
    }
    std::vector<std::string> packets;
    std::vector<bool> terminatedByZero;
};

struct ObjectFixture : ::testing::Test {
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
    // Sends bytes from the peer to the object and lets the loop deliver them.
    void Deliver(ProbeObject& o, const std::string& bytes, size_t expectPackets, std::uint32_t expectStrays) {
        ASSERT_TRUE(peer.SendTo(o.Socket()->LocalPort(), bytes));
        tp.loop.RunUntil([&] { return o.packets.size() >= expectPackets && o.strayDatagrams >= expectStrays; }, 2s);
    }
};

TEST_F(ObjectFixture, OutOfBandStatusLeavesAsElevenBytes) {
    auto o = Make("127.0.0.1", static_cast<std::uint32_t>(peer.Port()));
    EXPECT_EQ(o->resolvedAddress, "127.0.0.1");
    EXPECT_EQ(o->AddressString(), "127.0.0.1:" + std::to_string(peer.Port()));
    o->SendOutOfBand("status");
    EXPECT_EQ(output.Count(), 1);
    output.RunWindow();
    auto d = peer.Receive(1s);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->bytes, std::string("\xFF\xFF\xFF\xFF\x73\x74\x61\x74\x75\x73\x00", 11));
}

TEST_F(ObjectFixture, PrefixedRepliesReachThePacketHandlerAndOthersAreStrays) {
    auto o = Make("127.0.0.1", static_cast<std::uint32_t>(peer.Port()));
    Deliver(*o, std::string(4, '\xFF'), 1, 0);
    ASSERT_EQ(o->packets.size(), 1u);
    EXPECT_EQ(o->packets[0], std::string(4, '\xFF'));  // whole, prefix included
    EXPECT_TRUE(o->terminatedByZero[0]);               // byte 4 is the zero put behind it
    EXPECT_EQ(AnswerType({reinterpret_cast<const std::uint8_t*>(o->packets[0].data()), 4}), 0);

    Deliver(*o, std::string("\xFF\xFF\xFF\xFEmx", 6), 1, 1);
    EXPECT_EQ(o->strayDatagrams, 1u);
    Deliver(*o, "ab", 1, 2);
    EXPECT_EQ(o->strayDatagrams, 2u);
    EXPECT_EQ(o->packets.size(), 1u);

    // 2048 bytes pass, 2049 are dropped without being counted or parsed.
    const std::string big = std::string(4, '\xFF') + std::string(2044, 'b');
    Deliver(*o, big, 2, 2);
    ASSERT_EQ(o->packets.size(), 2u);
    EXPECT_EQ(o->packets[1].size(), 2048u);
    ASSERT_TRUE(peer.SendTo(o->Socket()->LocalPort(), big + "c"));
    Deliver(*o, std::string(4, '\xFF') + "m", 3, 2);
    ASSERT_EQ(o->packets.size(), 3u);
    EXPECT_EQ(o->packets[2], std::string(4, '\xFF') + "m");
    EXPECT_EQ(o->strayDatagrams, 2u);
}

TEST_F(ObjectFixture, UnresolvableHostIsReportedOnceAndStaysSilent) {
    auto o = Make("no such host", 27015);
    EXPECT_TRUE(tp.prompter.messages.empty());  // looked up in the background, answered on this thread
    tp.loop.RunUntil([&] { return !o->LookupPending(); }, 2s);
    ASSERT_EQ(tp.prompter.messages.size(), 1u);
    EXPECT_EQ(tp.prompter.messages[0], "Connect failed for no such host:27015");
    EXPECT_EQ(o->state, 1);
    EXPECT_EQ(o->resolvedAddress, "");
    o->SendOutOfBand("details");  // queued but goes nowhere useful
    output.RunWindow();
    EXPECT_EQ(tp.prompter.messages.size(), 1u);
    auto bad = Make("127.0.0.1", 70000);
    EXPECT_EQ(tp.prompter.messages.back(), "Connect failed for 127.0.0.1:70000");
}

TEST_F(ObjectFixture, SocketCreationRefusedIsReportedAndTheConnectStillTried) {
    auto o = std::make_unique<ProbeObject>(tp.platform);
    o->host = "127.0.0.1";
    o->port = static_cast<std::uint32_t>(peer.Port());
    o->output = &output;
    // The sanitizer's type checks open files of their own on the first call through a base class:
    // make that call while descriptors are still free.
    tp.platform.prompter.Message("");
    tp.prompter.messages.clear();
    // Use up every descriptor the process may open, so that a new socket cannot be created.
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
    // The object stays, silent, in state 1; the connect on the socket that does not exist fails too.
    EXPECT_EQ(tp.prompter.messages, (std::vector<std::string>{
                                        "Create failed", "Connect failed for 127.0.0.1:" + std::to_string(peer.Port())}));
    EXPECT_EQ(o->state, 1);
    EXPECT_EQ(o->resolvedAddress, "");
}

TEST_F(ObjectFixture, HostNameAndDottedAddressGiveTheSameAddressString) {
    auto byName = Make("localhost", 27015);
    auto byAddress = Make("127.0.0.1", 27015);
    // A dotted address needs no lookup; a name is never looked up on this thread: until its answer is
    // delivered here, the object has no address and sends nothing.
    EXPECT_EQ(byAddress->AddressString(), "127.0.0.1:27015");
    EXPECT_TRUE(byName->LookupPending());
    EXPECT_EQ(byName->AddressString(), ":27015");
    byName->SendOutOfBand("details");
    EXPECT_EQ(output.Count(), 0);
    ASSERT_TRUE(tp.loop.RunUntil([&] { return !byName->LookupPending(); }, 2s));
    EXPECT_EQ(byName->AddressString(), "127.0.0.1:27015");
    EXPECT_EQ(byName->AddressString(), byAddress->AddressString());
    EXPECT_TRUE(byName->Matches("127.0.0.1:27015"));
    EXPECT_FALSE(byName->Matches("localhost:27015"));
    // localhost is this machine without asking a name server, whatever the system's host files say.
    EXPECT_TRUE(CUdpSocket::IsLoopbackName("LocalHost."));
    EXPECT_TRUE(CUdpSocket::IsLoopbackName("tv.localhost"));
    EXPECT_FALSE(CUdpSocket::IsLoopbackName("notlocalhost"));
    EXPECT_FALSE(CUdpSocket::IsLoopbackName("localhost.example.org"));
}

TEST_F(ObjectFixture, DeletingAnObjectDropsItsQueuedDatagramsUnsent) {
    auto keep = Make("127.0.0.1", static_cast<std::uint32_t>(peer.Port()));
    auto gone = Make("127.0.0.1", static_cast<std::uint32_t>(peer.Port()));
    gone->SendOutOfBand("gone");
    keep->SendOutOfBand("kept");
    gone.reset();
    EXPECT_EQ(output.Count(), 2);
    output.RunWindow();
    auto d = peer.Receive(1s);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->bytes, std::string("\xFF\xFF\xFF\xFFkept\0", 9));
    EXPECT_FALSE(peer.Receive(100ms));
    EXPECT_EQ(tp.loop.WatchedCount(), 1u);  // the deleted object's socket is no longer watched
}

TEST_F(ObjectFixture, RecreatingTheSocketCancelsWhatTheOldOneHadQueued) {
    auto o = Make("127.0.0.1", static_cast<std::uint32_t>(peer.Port()));
    o->SendOutOfBand("old");
    o->CreateSocket();
    o->SendOutOfBand("new");
    output.RunWindow();
    auto d = peer.Receive(1s);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->bytes, std::string("\xFF\xFF\xFF\xFFnew\0", 8));
    EXPECT_FALSE(peer.Receive(100ms));
}

}  // namespace
}  // namespace orv

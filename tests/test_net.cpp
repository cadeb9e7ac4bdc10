// The UDP output queue and the monitored object's socket, on real loopback sockets; the queue's stress
// test runs under ThreadSanitizer too.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <random>
#include <thread>

#include "core/commonobject.h"
#include "monitors/halflife/hlserver.h"
#include "net/namelookup.h"
#include "monitor_fixture.h"
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
    // The first bytes of the next n datagrams the peer receives.
    std::string Firsts(int n) {
        std::string s;
        for (; n > 0; --n)
            if (auto d = peer.Receive(2s)) s += d->bytes.substr(0, 1);
        return s;
    }
};

TEST(OutputQueue, LimitUnitsAreBitsPerSecondOverEighty) {
    COutputSocketControl q;  // multiples of 80 below the value
    for (auto [set, limit, budget] :
         {std::tuple{10319, 10240, 128}, {79, 0, 0}, {3 * 1024, 3040, 38}, {2048, 2000, 25}}) {
        q.SetLimit(set);
        EXPECT_EQ(std::tuple(q.GetLimit(), q.WindowBudget()), std::tuple(limit, budget)) << set;
    }
}

// The rows of tests/data/net_windows.txt: what each window sends, polls merged, giving way and going stale
// behind the actions, sockets taking turns, cancellation.
TEST(OutputQueue, WindowsSendWhatFitsTheBudgetInQueueOrder) {
    Link link;
    CUdpSocket second;
    ASSERT_TRUE(second.Create() && second.Connect("127.0.0.1", static_cast<std::uint32_t>(link.peer.Port())));
    for (auto& row : test::Rows("net_windows.txt")) {
        COutputSocketControl q;  // not started: the test runs the windows itself
        std::int64_t ms = 0;
        q.SetClock([&] { return ms; });
        for (const std::string& op : test::Split(row["queue"], ' ')) {
            CUdpSocket* socket = op.ends_with("@2") ? &second : &link.socket;
            const std::string word = op.substr(0, op.find('@'));
            if (word == "cancel")
                q.CancelSocket(socket);
            else if (word == "clear")
                q.Clear();
            else if (word == "stop")
                q.Stop();
            else if (word.starts_with("wait"))
                ms += std::stoi(word.substr(4));
            else if (word.starts_with("limit"))
                q.SetLimit(std::stoi(word.substr(5)));
            else {
                const std::string d = word[0] + std::string(std::stoul(word.substr(1)) - 1, '.');
                const size_t automatic = word.find('a', 1);
                const CPacketKind kind = automatic != std::string::npos ? CPacketKind::Automatic
                                         : word.ends_with('p')         ? CPacketKind::Poll
                                                                       : CPacketKind::Action;
                q.Queue(test::Bytes(d).data(), d.size(), socket, kind,
                        automatic != std::string::npos ? std::stoul(word.substr(automatic + 1)) : 0);
            }
        }
        EXPECT_EQ(std::to_string(q.Count()), row.count("count") ? row["count"] : std::to_string(q.Count()))
            << row["queue"];
        std::string sent;
        for (int window = 0; window < 20 && q.Count() > 0; ++window)
            sent += (window ? " " : "") + link.Firsts(q.RunWindow());
        EXPECT_EQ(sent, row["sent"]) << row["queue"];
        const std::string polls =
            std::to_string(q.PollsMerged()) + " merged, " + std::to_string(q.PollsDropped()) + " dropped";
        EXPECT_EQ(polls, row.count("polls") ? row["polls"] : polls) << row["queue"];
        EXPECT_FALSE(link.peer.Receive(0ms)) << row["queue"];  // nothing sent beyond what the windows told
    }
}

TEST(OutputQueue, TheWorkerSendsEveryQueuedDatagramInOrder) {
    Link link;
    COutputSocketControl q;
    q.SetLimit(1000000);
    q.Start();
    for (int i = 0; i < 20; ++i) {
        const std::string d(40, static_cast<char>('a' + i));
        q.Queue(test::Bytes(d).data(), d.size(), &link.socket);
    }
    EXPECT_EQ(link.Firsts(20), "abcdefghijklmnopqrst");
}

// A queued datagram is kept in its slot up to 64 bytes and beside it beyond: both leave byte for byte, an
// identical poll is merged whatever its length, one that differs in its last byte is not, and a slot that
// held a long datagram carries a short one exactly.
TEST(OutputQueue, DatagramsLeaveByteForByteAcrossTheSlotsInlineSize) {
    Link link;
    COutputSocketControl q;
    q.SetLimit(1000000);
    const std::string a(64, 'a'), b(65, 'b'), c = std::string(64, 'b') + 'c', d(300, 'd'), e("e\0\xFF", 3);
    const auto queue = [&](const std::string& s, CPacketKind kind) {
        q.Queue(reinterpret_cast<const std::uint8_t*>(s.data()), s.size(), &link.socket, kind);
    };
    for (const std::string* s : {&a, &b, &c, &b}) queue(*s, CPacketKind::Poll);
    queue(d, CPacketKind::Action);
    EXPECT_EQ(std::tuple(q.Count(), q.PollsMerged()), std::tuple(4, 1u));
    EXPECT_EQ(q.RunWindow(), 4);
    for (const std::string* s : {&d, &a, &b, &c}) {
        const auto got = link.peer.Receive(2s);
        ASSERT_TRUE(got);
        EXPECT_EQ(got->bytes, *s);
    }
    queue(e, CPacketKind::Poll);
    EXPECT_EQ(q.RunWindow(), 1);
    const auto got = link.peer.Receive(2s);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->bytes, e);
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
    const auto lastLine = [](const CCommonObject& o) {
        return o.consoleLog.count > 0 ? o.consoleLog.text[static_cast<size_t>(o.consoleLog.count) - 1] : "";
    };
    // A name is looked up in the background, never on this thread: until its answer is delivered here the
    // object has no address and sends nothing; a command says why it did not leave.
    auto byName = Make("localhost", 27015);
    EXPECT_EQ(std::tuple(byName->LookupPending(), byName->AddressString()), std::tuple(true, ":27015"));
    byName->SendOutOfBand("details");
    EXPECT_EQ(std::tuple(output.Count(), lastLine(*byName)),
              std::tuple(0, "Orvane : Command not sent: localhost is still being looked up"));
    ASSERT_TRUE(tp.loop.RunUntil([&] { return !byName->LookupPending(); }, 2s));
    EXPECT_EQ(
        std::tuple(byName->AddressString(), byName->Matches("127.0.0.1:27015"), byName->Matches("localhost:27015")),
        std::tuple("127.0.0.1:27015", true, false));
    EXPECT_EQ(
        std::tuple(CUdpSocket::IsLoopbackName("LocalHost."), CUdpSocket::IsLoopbackName("tv.localhost"),
                   CUdpSocket::IsLoopbackName("notlocalhost"), CUdpSocket::IsLoopbackName("localhost.example.org")),
        std::tuple(true, true, false, false));
    // A host that cannot be resolved, a lookup thread that cannot start, a connect that the system refuses
    // (broadcast): each reported once, the object silent in state 1, a command refused on its console.
    CNameLookup::FailThreadStartsForTest(1);
    for (const std::string host : {"no such host", "example.invalid", "255.255.255.255"}) {
        tp.prompter.messages.clear();
        auto bad = Make(host, 27015);
        ASSERT_TRUE(tp.loop.RunUntil([&] { return !bad->LookupPending(); }, 5s));
        bad->SendOutOfBand("details");
        bad->SendQuery("players");
        EXPECT_EQ(std::tuple(tp.prompter.messages, bad->state, bad->resolvedAddress, output.Count(), lastLine(*bad)),
                  std::tuple(std::vector<std::string>{"Connect failed for " + host + ":27015"}, 1, "", 0,
                             "Orvane : Command not sent: Connect failed for " + host + ":27015"));
    }
    CNameLookup::FailThreadStartsForTest(0);
    // A send the system refuses is not counted as sent.
    CUdpSocket unconnected;
    ASSERT_TRUE(unconnected.Create());
    EXPECT_EQ(std::tuple(unconnected.Send(reinterpret_cast<const std::uint8_t*>("x"), 1) < 0, unconnected.SendCount()),
              std::tuple(true, 0u));
    // No descriptor left for sockets: "Create failed" once for any number of objects, no connect tried; the
    // start raises the soft limit to the hard one.
    tp.prompter.messages.clear();
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    const rlimit low{256, saved.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<std::unique_ptr<ProbeObject>> starved;
    for (const char* host : {"127.0.0.1", "127.0.0.1", "127.0.0.1", "example.invalid"}) {
        starved.push_back(std::make_unique<ProbeObject>(tp.platform));
        std::tie(starved.back()->host, starved.back()->port) = std::tuple(host, 27015);
    }
    std::vector<int> filler;
    for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) filler.push_back(fd);
    for (size_t i = 0; i < 3; ++i) starved[i]->CreateSocket();
    // One descriptor free: the socket takes it, the name's lookup gets none and fails without a lookup.
    ::close(filler.back());
    filler.pop_back();
    starved[3]->CreateSocket();
    for (int fd : filler) ::close(fd);
    EXPECT_EQ(std::tuple(CUdpSocket::RaiseDescriptorLimit(), starved[3]->LookupPending()),
              std::tuple(static_cast<std::uint64_t>(saved.rlim_max), false));
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
    EXPECT_EQ(tp.prompter.messages,
              (std::vector<std::string>{"Create failed", "Connect failed for example.invalid:27015"}));
    EXPECT_EQ(std::tuple(starved[2]->state, starved[2]->resolvedAddress), std::tuple(1, ""));
}

// Datagrams from another port than the server's change nothing: before the socket is connected (the name
// still being looked up), after it, and on a socket whose name did not resolve. They are strays.
TEST_F(ObjectTest, ForgedAnswersChangeNothing) {
    sim::CUdpPeer forger;
    using namespace std::string_literals;
    const std::string details = "\xFF\xFF\xFF\xFFm6.6.6.6:666\0forged\0map\0dir\0desc\0\x01\x02"s;
    const std::string refusal = "\xFF\xFF\xFF\xFFlBad rcon_password.\n\0"s;
    const auto make = [&](const std::string& host) {
        auto o = std::make_unique<CHLServer>(tp.platform);
        std::tie(o->host, o->port, o->rconPassword, o->output) = std::tuple(host, PeerPort(), "pw", &output);
        o->CreateSocket();
        return o;
    };
    auto failed = make("no such host");
    auto pending = make("localhost");
    for (auto* o : {failed.get(), pending.get()})
        for (auto* bytes : {&details, &refusal}) ASSERT_TRUE(forger.SendTo(o->Socket()->LocalPort(), *bytes));
    ASSERT_TRUE(tp.loop.RunUntil([&] { return !failed->LookupPending() && !pending->LookupPending(); }, 5s));
    for (auto* bytes : {&details, &refusal}) ASSERT_TRUE(forger.SendTo(pending->Socket()->LocalPort(), *bytes));
    // The server itself is heard: its name is taken.
    ASSERT_TRUE(peer.SendTo(pending->Socket()->LocalPort(),
                            "\xFF\xFF\xFF\xFFm127.0.0.1:"s + std::to_string(PeerPort()) + "\0real\0map\0dir\0desc\0"s));
    ASSERT_TRUE(tp.loop.RunUntil([&] { return !pending->serverName.empty(); }, 2s));
    tp.loop.RunOnce(50ms);
    const auto seen = [](const CHLServer& o) {
        return std::tuple(o.serverName, o.host, o.port, o.rconPassword, o.strayDatagrams);
    };
    EXPECT_EQ(seen(*failed), std::tuple("", "no such host", PeerPort(), "pw", 2u));
    EXPECT_EQ(seen(*pending), std::tuple("real", "127.0.0.1", PeerPort(), "pw", 2u));
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

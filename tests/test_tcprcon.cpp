// The TCP remote console of present-day Half-Life servers: the packet framing (golden bytes, a stream
// cut at every byte, refused packets as rows), the present-day "status" output, and a server object
// against the present-day loopback peer: control over TCP, a long output whole and in order, a refused
// password sent once, a reconnection, and the datagram rcon kept (today's bytes) where no TCP console
// answers, refused at once or silent until the connect time-out.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "monitor_fixture.h"
#include "monitors/halflife/hlserver.h"
#include "sim/a2speer.h"

namespace orv {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using test::Console;
using test::Has;

std::span<const std::uint8_t> Span(const std::string& s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

TEST(RconFrame, GoldenBytesAndAStreamCutAtEveryByte) {
    EXPECT_EQ(EncodeRconPacket(7, 3, "secret"), "\x10\0\0\0\x07\0\0\0\x03\0\0\0secret\0\0"s);
    EXPECT_EQ(EncodeRconPacket(-1, 2, ""), "\x0A\0\0\0\xFF\xFF\xFF\xFF\x02\0\0\0\0\0"s);
    const std::string stream = EncodeRconPacket(1, 0, std::string(4096, 'x')) + EncodeRconPacket(2, 0, "tail\n") +
                               EncodeRconPacket(2, 0, "\0\0\0\x01"s);
    for (size_t cut = 0; cut <= stream.size(); ++cut) {
        const RconFrames a = DecodeRconPackets(Span(stream.substr(0, cut)));
        const RconFrames b = DecodeRconPackets(Span(stream.substr(a.consumed)));
        std::string bodies;
        for (const auto* f : {&a, &b})
            for (const RconPacket& p : f->packets) bodies += std::to_string(p.id) + ":" + p.body.substr(0, 5) + "|";
        ASSERT_EQ(bodies, "1:xxxxx|2:tail\n|2:|") << cut;
        ASSERT_FALSE(a.bad || b.bad);
    }
}

TEST(RconFrame, BadPacketsStopTheStreamWithAReason) {
    const std::string good = EncodeRconPacket(1, 0, "ok");
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"\x09\0\0\0\1\0\0\0\0\0\0\0\0"s, "packet size 9 outside 10..4106"},
        {"\x0B\x10\0\0"s, "packet size 4107 outside 10..4106"},
        {"\xFF\xFF\xFF\xFF"s, "packet size -1 outside 10..4106"},
        {"\x0C\0\0\0\1\0\0\0\0\0\0\0abcd"s, "packet body without its NULs"},
        {"\x0C\0\0\0\1\0\0\0\0\0\0\0abc\0"s, "packet body without its NULs"},
    };
    for (const auto& [bytes, error] : rows) {
        const RconFrames f = DecodeRconPackets(Span(good + bytes));
        EXPECT_EQ(std::tuple(f.packets.size(), f.consumed, f.bad, f.error), std::tuple(1u, good.size(), true, error));
    }
}

TEST(ModernStatus, PlayersUserIdsAndCounts) {
    const HLModernStatus s = ParseModernStatus(
        "hostname: x\nplayers : 2 humans, 1 bots (20/0 max) (not hibernating)\n\n"
        "# userid name uniqueid connected ping loss state rate adr\n"
        "#  2 \"Alpha One\" STEAM_1:0:1 05:12 35 0 active 786432 127.0.0.1:27005\r\n"
        "#17 \"Say \"hi\"\" STEAM_1:0:2 01:00 20 0 active 786432 127.0.0.1:27006\n"
        "#  4 \"BOT 1\" BOT active 64\n#x \"no id\"\n# 5 unquoted\n#end");
    std::string players;
    for (const auto& p : s.players) players += std::to_string(p.userId) + "=" + p.name + "|";
    EXPECT_EQ(std::tuple(s.header, players, s.humans, s.bots, s.maxPlayers),
              std::tuple(true, "2=Alpha One|17=Say \"hi\"|4=BOT 1|"s, 2, 1, 20));
    EXPECT_FALSE(ParseModernStatus("#  2 \"Alpha\" STEAM\n").header);  // classic output has another header
}

// A present-day server object on the document of the fake platform, against a present-day peer.
struct TcpRcon : test::DocFixture {
    sim::CA2SPeer peer;
    CHLServer* o = nullptr;

    void Start(const std::string& rcon) {
        peer.Base().SetPlayers({"viewer1", "viewer2"});
        o = Add<CHLServer>("127.0.0.1", peer.Port(), "Servers", rcon);
    }
    // The queue flushed and the loop run until cond holds; false after the limit.
    bool Pump(const std::function<bool()>& cond, std::chrono::milliseconds limit = 3000ms) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        for (;;) {
            while (doc.output.Count() > 0) doc.output.RunWindow();
            if (cond()) return true;
            if (std::chrono::steady_clock::now() > deadline) return false;
            tp.loop.RunOnce(5ms);
        }
    }
    bool Tick(
        const std::function<bool()>& until = [] { return false; }, std::chrono::milliseconds limit = 20ms) {
        tp.clock.Advance(1);
        o->Tick();
        return Pump(until, limit);
    }
    // The rcon datagrams that reached the peer's UDP side, as texts.
    std::vector<std::string> UdpRcon() const {
        std::vector<std::string> out;
        for (const std::string& t : Sent(peer.Base(), true))
            if (BeginsWith(t, "rcon ") || t == "challenge rcon") out.push_back(t);
        return out;
    }
};

TEST_F(TcpRcon, ControlOverTcpStatusKickByIdAndAReconnection) {
    ASSERT_TRUE(peer.EnableTcpRcon());
    Start("secret");
    ASSERT_TRUE(Tick([&] { return o->state == 3 && o->playerNameCount == 2; }, 5000ms));
    EXPECT_EQ(std::tuple(std::string(o->RconTransport()), o->playerNames[1], o->maxPlayers, o->bots),
              std::tuple("tcp"s, "viewer2"s, 16, 0));
    EXPECT_TRUE(Has(Console(*o), "players : 2 humans, 0 bots (16/0 max) (not hibernating)"));
    o->Kick("viewer2");
    o->Kick("nobody");
    ASSERT_TRUE(Pump([&] { return peer.TcpRcon()->Commands().size() >= 3; }));
    EXPECT_EQ(peer.TcpRcon()->Commands(), (std::vector<std::string>{"status", "say Kicking viewer2", "kickid 3"}));
    EXPECT_TRUE(Has(Console(*o), "Orvane : no user id known for nobody, kick not sent"));
    EXPECT_EQ(UdpRcon(), std::vector<std::string>{});  // nothing of the datagram rcon

    // The server closes the connection: state 2, then a new connection a second later, state 3 again.
    peer.TcpRcon()->DropClients();
    ASSERT_TRUE(Pump([&] { return o->state == 2; }));
    EXPECT_TRUE(Has(Console(*o), "Orvane : rcon connection ended (closed by the server)"));
    ASSERT_TRUE(Tick([&] { return o->state == 3; }, 3000ms));
    EXPECT_EQ(std::tuple(peer.TcpRcon()->Connections(), peer.TcpRcon()->Passwords()),
              std::tuple(2, std::vector<std::string>{"secret", "secret"}));

    // A command beyond what may wait unwritten ends the connection at its first packet: state 2, the
    // reason on the console, nothing more sent on the closed connection.
    o->SendRcon(std::string(CTcpSession::kMaxPending + 1, 'x'));
    ASSERT_TRUE(Pump([&] { return o->state == 2; }));
    EXPECT_TRUE(Has(Console(*o), "Orvane : rcon connection ended (the server reads nothing of what is sent)"));
}

TEST_F(TcpRcon, ARefusedPasswordIsSentOnceInTwoMinutes) {
    ASSERT_TRUE(peer.EnableTcpRcon());
    Start("wrong");
    ASSERT_TRUE(Tick([&] { return o->rconPassword.empty(); }, 5000ms));
    for (int second = 0; second < 120; ++second) Tick();
    EXPECT_EQ(peer.TcpRcon()->Passwords(), std::vector<std::string>{"wrong"});
    EXPECT_EQ(std::tuple(o->state, o->rconPassword, tp.sound.played),
              std::tuple(2, ""s, std::vector<std::string>{"badrcon.wav"}));
    EXPECT_TRUE(Has(Console(*o), CCommonObject::kBadRconLine1) && Has(Console(*o), CCommonObject::kBadRconLine2));
    EXPECT_EQ(UdpRcon(), std::vector<std::string>{});
    // A new password starts a new connection at once.
    peer.Base().SetRconPassword("right");
    o->rconPassword = "right";
    o->RestartRcon();
    ASSERT_TRUE(Pump([&] { return o->state == 3; }));
    EXPECT_EQ(peer.TcpRcon()->Passwords(), (std::vector<std::string>{"wrong", "right"}));
}

// Where nobody takes the connection at once, or a listener lets it hang (its backlog full) until the
// time-out, the object keeps the datagram rcon: challenge, then the commands with it, today's bytes.
struct TcpRconFallback : TcpRcon, ::testing::WithParamInterface<bool> {};

TEST_P(TcpRconFallback, NoTcpConsoleKeepsTheDatagramRconByteForByte) {
    const bool silent = GetParam();
    int listener = -1, filler = -1;
    if (silent) {
        listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(peer.Port()));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        ASSERT_EQ(::listen(listener, 0), 0);
        filler = ::socket(AF_INET, SOCK_STREAM, 0);  // fills the backlog: later connects hang
        ASSERT_EQ(::connect(filler, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    }
    Start("secret");
    int ticks = 0;
    while (UdpRcon().empty() && ticks < 10) {
        ++ticks;
        Tick([&] { return !UdpRcon().empty(); }, 300ms);
    }
    // Refused: learnt within the first tick; silent: the connect started then gives up after 3 s.
    EXPECT_EQ(ticks, silent ? CHLRconTcp::kConnectTimeout + 2 : 1);
    ASSERT_TRUE(Pump([&] { return o->state == 3 && UdpRcon().size() >= 2; }));
    const std::string challenge = std::to_string(peer.Base().ExpectedChallenge());
    EXPECT_EQ(UdpRcon(), (std::vector<std::string>{"challenge rcon", "rcon " + challenge + " \"secret\" status"}));
    EXPECT_TRUE(Has(peer.Base().Received(), test::Framed("rcon " + challenge + " \"secret\" status")));
    EXPECT_EQ(std::string(o->RconTransport()), "udp");
    if (silent) ::close(filler), ::close(listener);
}

INSTANTIATE_TEST_SUITE_P(RefusedOrSilent, TcpRconFallback, ::testing::Bool());

// A command's long output (over 10 KB, several packets) reaches the owner whole and in order; output
// that never ends is cut after a cycle; a stream that breaks the framing is closed with a console line.
TEST(TcpRconSession, LongOutputWholeAndInOrderEndlessOutputCutAndABadPacketClosing) {
    test::TestPlatform tp;
    sim::CTcpRconPeer peer(
        0, {[] { return "pw"s; },
            [](const std::string& c) { return c == "cvarlist" ? sim::CA2SPeer::LongOutput() : "one\n"s; }});
    std::vector<std::string> seen;
    CHLRconTcp::Owner owner;
    owner.password = [] { return "pw"s; };
    owner.authenticated = [&] { seen.push_back("authenticated"); };
    owner.output = [&](const std::string& c, const std::string& out) { seen.push_back(c + "=" + out); };
    owner.refused = owner.lost = [&] { seen.push_back("lost"); };
    owner.udp = [&](auto) { seen.push_back("udp"); };
    owner.console = [&](const std::string& line) { seen.push_back(line); };
    std::uint64_t packets = 0;
    owner.sent = [&](std::uint64_t n) { packets += n; };
    CHLRconTcp rcon(tp.platform, owner);
    rcon.Probe("127.0.0.1", static_cast<std::uint32_t>(peer.Port()));
    rcon.Command("cvarlist", false);
    rcon.Command("echo", false);
    ASSERT_TRUE(tp.loop.RunUntil([&] { return seen.size() == 3; }, 5000ms));
    ASSERT_GT(sim::CA2SPeer::LongOutput().size(), 10'000u);
    EXPECT_EQ(seen,
              (std::vector<std::string>{"authenticated", "cvarlist=" + sim::CA2SPeer::LongOutput(), "echo=one\n"}));
    EXPECT_EQ(packets, 5u);  // the password, then each command with its end marker

    // A server of our own: the password accepted, a command's output that never ends (cut a cycle later,
    // as it is), then a packet of size 5 (closed, said, tried again later).
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) | ::listen(listener, 1) |
                  ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len),
              0);
    seen.clear();
    CHLRconTcp bad(tp.platform, owner);
    bad.Probe("127.0.0.1", ntohs(a.sin_port));
    ASSERT_TRUE(tp.loop.RunUntil([&] { return bad.UsesTcp(); }, 3000ms));
    const int server = ::accept(listener, nullptr, nullptr);
    const auto send = [&](const std::string& bytes) {
        ASSERT_EQ(::send(server, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
    };
    send(EncodeRconPacket(1, 0, "") + EncodeRconPacket(1, 2, ""));  // the password's id: accepted
    bad.Command("wait", false);                                     // ids 2 and 3 (its end marker)
    send(EncodeRconPacket(2, 0, "partial\n"));
    tp.loop.RunUntil([] { return false; }, 200ms);
    bad.CutUnfinished();  // not yet a cycle old
    tp.clock.Advance(CHLRconTcp::kCutAfter);
    bad.CutUnfinished();
    send("\x05\0\0\0\1\0\0\0\0"s);
    ASSERT_TRUE(tp.loop.RunUntil([&] { return seen.size() == 4; }, 3000ms));
    EXPECT_EQ(seen,
              (std::vector<std::string>{"authenticated", "wait=partial\n",
                                        "Orvane : rcon connection closed: packet size 5 outside 10..4106", "lost"}));
    EXPECT_EQ(std::tuple(bad.SessionState(), bad.RetryDelay()), std::tuple(CTcpSession::State::Closed, 2));
    ::close(server);

    // A server that accepts and then reads nothing: what waits unwritten stays bounded, the connection goes.
    std::string why;
    CTcpSession deaf(tp.platform.sockets, tp.clock, {{}, {}, [&](bool, const std::string& w) { why = w; }});
    ASSERT_TRUE(deaf.Connect("127.0.0.1", ntohs(a.sin_port)));
    ASSERT_TRUE(tp.loop.RunUntil([&] { return deaf.GetState() == CTcpSession::State::Open; }, 3000ms));
    const std::string chunk(64 * 1024, 'x');
    for (int i = 0; i < 4096 && why.empty(); ++i) {
        deaf.Send(chunk);
        EXPECT_LE(deaf.Pending(), CTcpSession::kMaxPending);
    }
    EXPECT_EQ(std::tuple(why, deaf.GetState()),
              std::tuple("the server reads nothing of what is sent"s, CTcpSession::State::Closed));
    ::close(listener);
}

}  // namespace
}  // namespace orv

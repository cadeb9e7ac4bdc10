// Present-day Half-Life servers: the A2S query bytes and reply parsing, and a server object against the
// present-day loopback peer (real sockets, fake clock): challenge, retries, one reply per query, dialect.
#include <gtest/gtest.h>

#include "document/document.h"
#include "fakes.h"
#include "monitors/halflife/a2s.h"
#include "monitors/halflife/hltv.h"
#include "sim/a2speer.h"
#include "sim/hltvpeer.h"

namespace orv {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;

const std::string kOob(4, '\xFF');
const std::string kDetails = kOob + "details\0"s;
std::string Info(const std::string& challenge = "") { return kOob + "TSource Engine Query\0"s + challenge; }
std::string Le(std::uint32_t v) { return {char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; }
std::span<const std::uint8_t> Bytes(const std::string& s) { return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()}; }

const std::string kReplyHead = kOob + "I\x30Orvane A2S\0de_inferno\0cstrike\0Counter-Strike\0"s + "\x0A\0\x05\x10\x02pl\x01\x01"s;
const std::string kReplyVersion = "1.1.2.7/Stdio\0"s;
const std::string kReply = kReplyHead + kReplyVersion + "\xB1\x87\x69" + Le(1) + Le(2) + "a,b\0"s + Le(10) + Le(0);

TEST(A2SParse, QueriesAndRepliesByteForByte) {
    EXPECT_EQ(A2SInfoQuery(std::nullopt), Info());
    EXPECT_EQ(A2SInfoQuery(0x11223344), Info("\x44\x33\x22\x11"));
    EXPECT_EQ(A2SPlayerQuery(std::nullopt), kOob + "U\xFF\xFF\xFF\xFF");
    EXPECT_EQ(A2SPlayerQuery(0x01020304), kOob + "U\x04\x03\x02\x01");
    EXPECT_EQ(ParseA2SChallenge(Bytes(kOob + "A\x44\x33\x22\x11")), 0x11223344u);
    EXPECT_EQ(ParseA2SChallenge(Bytes(kOob + "A\x44\x33\x22")), std::nullopt);

    const A2SInfo i = ParseA2SInfo(Bytes(kReply));
    EXPECT_FALSE(i.truncated);
    EXPECT_EQ(std::tie(i.protocol, i.name, i.map, i.folder, i.game, i.appId), std::tuple(0x30, "Orvane A2S"s, "de_inferno"s, "cstrike"s, "Counter-Strike"s, 10));
    EXPECT_EQ(std::tie(i.players, i.maxPlayers, i.bots, i.serverType, i.environment, i.visibility, i.vac), std::tuple(5, 16, 2, 'p', 'l', 1, 1));
    EXPECT_EQ(i.version, "1.1.2.7/Stdio");
    EXPECT_EQ(std::tie(i.gamePort, i.steamId, i.keywords, i.gameId), std::tuple(27015, (2ull << 32) | 1, "a,b"s, 10ull));
    EXPECT_EQ(i.tvPort, std::nullopt);
    // Cut anywhere, the reply is read without a byte beyond it; only a cut inside
    // or right behind the version (the last string, which the end of the datagram may close) is whole.
    for (size_t n = 0; n < kReply.size(); ++n) {
        const std::vector<std::uint8_t> cut(kReply.begin(), kReply.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_EQ(ParseA2SInfo(cut).truncated, n <= kReplyHead.size() || n > kReplyHead.size() + kReplyVersion.size()) << n;
    }
}

struct A2SServer : ::testing::Test {
    test::TestPlatform tp;
    COutputSocketControl output;  // not started: Settle runs its windows
    sim::CA2SPeer peer;
    std::unique_ptr<CHLServer> server = Make<CHLServer>(peer.Port());

    template <class T>
    std::unique_ptr<T> Make(int port) {
        output.SetLimit(80'000'000);
        auto o = std::make_unique<T>(tp.platform);
        o->host = "127.0.0.1";
        o->port = static_cast<std::uint32_t>(port);
        o->output = &output;
        o->CreateSocket();
        return o;
    }
    // One tick; what reached the peer once every answer, and the queries answers cause, went through.
    std::vector<std::string> Tick() {
        peer.Base().ClearReceived();
        tp.clock.Advance(1);
        server->Tick();
        for (int marker = 0; output.Count() > 0 && marker < 20; ++marker) {
            server->SendOutOfBand("mark" + std::to_string(marker));
            const size_t expected = peer.Base().ReceivedCount() + static_cast<size_t>(output.Count());
            while (output.Count() > 0) output.RunWindow();
            EXPECT_TRUE(peer.Base().WaitForCount(expected, 2s));
            while (tp.loop.RunOnce(0ms) > 0) {
            }
        }
        std::vector<std::string> sent;
        for (auto& d : peer.Base().Received())
            if (!d.starts_with(kOob + "mark")) sent.push_back(d);
        return sent;
    }
};

TEST_F(A2SServer, ChallengeThenInfoAndPlayersOnTheWire) {
    peer.Base().SetPlayers({"alpha", "beta"});
    peer.Base().SetMaxPlayers(20);
    peer.SetSettings({.bots = 1});
    const std::string c = Le(peer.Challenge());
    EXPECT_EQ(Tick(), (std::vector<std::string>{kDetails, Info(), Info(c)}));
    EXPECT_EQ(std::tuple(server->Dialect(), server->state, server->serverName, server->map, server->icon),
              std::tuple(CHLDialect::A2S, 2, "Orvane Test Server"s, "de_dust2"s, 154u));
    EXPECT_EQ(std::tuple(server->maxPlayers, server->infoPlayers, server->bots, server->vac), std::tuple(20, 2, 1, 1));
    EXPECT_TRUE(Tick().empty());
    EXPECT_EQ(Tick(), std::vector<std::string>{kOob + "U" + c});
    EXPECT_EQ(server->playerNameCount, 2);
    EXPECT_EQ(server->playerNames[1], "beta");
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(Tick().empty());
    // The server changed its challenge: the query goes once more with the new one.
    peer.SetChallenge(7);
    EXPECT_EQ(Tick(), (std::vector<std::string>{Info(c), Info(Le(7))}));
    EXPECT_EQ(server->lastAnswerTime, tp.clock.now);
}

TEST_F(A2SServer, AFreshChallengeForEveryQueryCostsOneDatagramMorePerQueryAndCycle) {
    peer.SetSettings({.freshChallengeEveryQuery = true});
    std::vector<std::string> sent;
    for (int i = 0; i < 12; ++i)
        for (auto& d : Tick()) sent.push_back(d.substr(0, 5));
    EXPECT_EQ(sent, (std::vector<std::string>{kDetails.substr(0, 5), Info().substr(0, 5), Info().substr(0, 5), kOob + "U",
                                              kOob + "U", Info().substr(0, 5), Info().substr(0, 5), kOob + "U", kOob + "U"}));
    EXPECT_EQ(server->state, 1);
}

TEST_F(A2SServer, OneReplyPerInfoQueryAndAClassicAnswerKeepsTheClassicCycle) {
    peer.Base().SetSilent(true);
    server->Tick();
    server->OnPacket(Bytes(kOob + "A" + Le(5)));  // decides: A2S
    server->OnPacket(Bytes(kOob + "mOld:1\0Obsolete\0"s));
    server->OnPacket(Bytes(kReply));
    EXPECT_EQ(std::tuple(server->serverName, server->host, server->maxPlayers), std::tuple("Obsolete"s, "Old"s, 0));
    // Next query: the server is known to send 'I', so its 'm' is dropped and its 'I' taken, once.
    server->pollPhase = 0;
    server->Tick();
    for (const std::string& reply : {kOob + "mNew:2\0Obsolete\0"s, kReply, kOob + "m\0Late\0"s}) server->OnPacket(Bytes(reply));
    EXPECT_EQ(std::tuple(server->serverName, server->host, server->maxPlayers), std::tuple("Orvane A2S"s, "Old"s, 16));

    auto classic = Make<CHLServer>(peer.Port());
    classic->OnPacket(Bytes(kOob + "m127.0.0.1:1\0Classic\0"s));
    for (const std::string& reply : {kReply, kOob + "A" + Le(5)}) classic->OnPacket(Bytes(reply));
    EXPECT_EQ(std::tuple(classic->Dialect(), classic->serverName, classic->strayDatagrams), std::tuple(CHLDialect::Classic, "Classic"s, 0u));
    output.Clear();
    classic->Tick();
    EXPECT_EQ(output.Count(), 1);  // details alone
}

TEST_F(A2SServer, SplitRepliesAreDroppedAndCounted) {
    Tick();
    ASSERT_TRUE(peer.Base().SendToClient("\xFE\xFF\xFF\xFF\x01\0\0\0\x02\x00"s + kReply));
    ASSERT_TRUE(tp.loop.RunUntil([&] { return server->strayDatagrams == 1; }, 2s));
    EXPECT_EQ(server->serverName, "Orvane Test Server");
}

// What present-day servers report is learnt, never saved: the layout file stays byte for byte the same.
TEST(A2SDocument, LayoutFileUnchangedByWhatA2SServersAndProxiesReport) {
    test::TestPlatform tp;
    COrvaneDoc doc{tp.platform};
    doc.New();
    sim::CA2SPeer game;
    sim::CHLTVPeer tvBase;
    sim::CA2SPeer tv(tvBase.Base());
    tv.SetSettings({.serverType = 'p'});
    std::unique_ptr<CCommonObject> objects[] = {std::make_unique<CHLServer>(tp.platform), std::make_unique<CHLTV>(tp.platform)};
    for (auto& o : objects) {
        o->host = "127.0.0.1";
        o->port = static_cast<std::uint32_t>(o->IsGameServer() ? game.Port() : tvBase.Port());
        o->rconPassword = "secret";
        doc.AddObject(std::move(o), doc.groups[0]);
    }
    const std::string before = doc.SaveToBytes();
    doc.Tick();
    const auto learnt = [&](size_t i) {
        auto* hl = dynamic_cast<CHLServer*>(doc.objects[i]);
        return hl->Dialect() == CHLDialect::A2S && hl->state == 3 && !hl->serverName.empty();
    };
    ASSERT_TRUE(tp.loop.RunUntil([&] { return learnt(0) && learnt(1); }, 5s));
    EXPECT_EQ(doc.objects[1]->icon, CHLTV::kIcon);
    EXPECT_EQ(doc.SaveToBytes(), before);
    ASSERT_TRUE(doc.LoadFromBytes(Bytes(before)));
    EXPECT_EQ(doc.SaveToBytes(), before);
}

}  // namespace
}  // namespace orv

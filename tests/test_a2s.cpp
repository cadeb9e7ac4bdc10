// Present-day Half-Life servers: the A2S info reply with its extra data, and how a server object takes
// replies that come twice or in the other dialect. The exchange on the wire is tested end to end
// (test_headless.cpp).
#include "monitor_fixture.h"
#include "monitors/halflife/a2s.h"
#include "monitors/halflife/hlserver.h"

namespace orv {
namespace {

using namespace std::string_literals;
using test::Bytes;
using test::kOob;

std::string Le(std::uint32_t v) {
    return {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}

// An 'I' reply with every extra-data field but the TV ones (port, steam id, keywords, game id).
const std::string kReply = kOob + "I\x30Orvane A2S\0de_inferno\0cstrike\0Counter-Strike\0"s +
                           "\x0A\0\x05\x10\x02pl\x01\x01"s + "1.1.2.7/Stdio\0\xB1\x87\x69"s + Le(1) + Le(2) + "a,b\0"s +
                           Le(10) + Le(0);

TEST(A2SParse, InfoReplyWithExtraDataAndThePlayerQueryThatAsksForAChallenge) {
    EXPECT_EQ(A2SPlayerQuery(std::nullopt), kOob + "U\xFF\xFF\xFF\xFF");
    const A2SInfo i = ParseA2SInfo(Bytes(kReply));
    EXPECT_EQ(std::tie(i.truncated, i.protocol, i.name, i.map, i.folder, i.game, i.appId),
              std::tuple(false, 0x30, "Orvane A2S"s, "de_inferno"s, "cstrike"s, "Counter-Strike"s, 10));
    EXPECT_EQ(std::tie(i.players, i.maxPlayers, i.bots, i.serverType, i.environment, i.visibility, i.vac, i.version),
              std::tuple(5, 16, 2, 'p', 'l', 1, 1, "1.1.2.7/Stdio"s));
    EXPECT_EQ(std::tie(i.gamePort, i.steamId, i.tvPort, i.keywords, i.gameId),
              std::tuple(27015, (2ull << 32) | 1, std::nullopt, "a,b"s, 10ull));
    EXPECT_TRUE(ParseA2SInfo(Bytes(kReply.substr(0, kReply.size() - 1))).truncated);
}

// One reply per info query, the first until the server has been seen to send 'I', its 'I' from then on;
// an object that speaks classic ignores A2S replies without counting them astray.
TEST(A2SServer, OneReplyPerInfoQueryAndAClassicObjectIgnoresA2SReplies) {
    test::TestPlatform tp;
    CHLServer server(tp.platform), classic(tp.platform);
    server.Tick();                               // details and A2S_INFO (nowhere: no socket)
    server.OnPacket(Bytes(kOob + "A" + Le(5)));  // decides: A2S, and repeats the query
    for (const std::string& reply : {kOob + "mOld:1\0Obsolete\0"s, kReply}) server.OnPacket(Bytes(reply));
    EXPECT_EQ(std::tuple(server.Dialect(), server.serverName, server.host, server.maxPlayers),
              std::tuple(CHLDialect::A2S, "Obsolete"s, "Old"s, 0));
    server.pollPhase = 0;
    server.Tick();
    for (const std::string& reply : {kOob + "mNew:2\0Obsolete\0"s, kReply, kOob + "m\0Late\0"s})
        server.OnPacket(Bytes(reply));
    EXPECT_EQ(std::tuple(server.serverName, server.host, server.maxPlayers, server.bots, server.vac),
              std::tuple("Orvane A2S"s, "Old"s, 16, 2, 1));

    for (const std::string& reply : {kOob + "m127.0.0.1:1\0Classic\0"s, kReply, kOob + "A" + Le(5)})
        classic.OnPacket(Bytes(reply));
    EXPECT_EQ(std::tuple(classic.Dialect(), classic.serverName, classic.strayDatagrams),
              std::tuple(CHLDialect::Classic, "Classic"s, 0u));
}

}  // namespace
}  // namespace orv

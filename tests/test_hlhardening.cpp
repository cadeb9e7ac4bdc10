// Half-Life rcon after a new password or a stale challenge, and reads of cut or hostile answers.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>

#include "document/document.h"
#include "fakes.h"
#include "monitors/halflife/hlparse.h"
#include "monitors/halflife/hlserver.h"
#include "sim/hlpeer.h"

namespace orv {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;

std::vector<std::string> Console(const CCommonObject& o) {
    return {o.consoleLog.text.begin(), o.consoleLog.text.begin() + o.consoleLog.count};
}

size_t CountOf(const std::vector<std::string>& v, const std::string& s) {
    return static_cast<size_t>(std::count(v.begin(), v.end(), s));
}

TEST(HLRcon, NewPasswordAndStaleChallengeBothGetAFreshChallenge) {
    test::TestPlatform tp;
    COrvaneDoc doc{tp.platform};
    doc.New();
    doc.output.Stop();  // the test runs the windows
    doc.output.SetLimit(1'000'000);
    sim::CHLPeer peer;
    peer.SetRconPassword("old");
    CObjectValues v;
    v.host = "127.0.0.1";
    v.port = static_cast<std::uint32_t>(peer.Port());
    v.group = doc.groups[0];
    v.rconPassword = "old";
    auto* server = dynamic_cast<CHLServer*>(doc.AddObjectOfKind(CObjectKind::HLServer, v));
    ASSERT_NE(server, nullptr);
    auto runUntil = [&](const std::function<bool()>& done) {
        return tp.loop.RunUntil([&] {
            while (doc.output.Count() > 0) doc.output.RunWindow();
            return done();
        }, 3s);
    };
    auto accepted = [&](const std::string& c) { return CountOf(peer.AcceptedCommands(), c) == 1; };
    server->SetState(CCommonObject::kStateMonitor);
    ASSERT_TRUE(runUntil([&] { return server->state == 3 && accepted("status"); }));

    // Properties with a new password, in state 3: back to state 2 and a challenge at once. The refusal
    // of a command that left with the old password does not clear the new one.
    server->SendRcon("say old");
    peer.SetRconPassword("new");
    doc.selectedObject = server;
    v.rconPassword = "new";
    doc.ApplyObjectProperties(v);
    EXPECT_EQ(server->state, 2);
    EXPECT_EQ(server->challenge, 0u);
    ASSERT_TRUE(runUntil([&] { return server->state == 3 && server->challenge == peer.ExpectedChallenge(); }));
    EXPECT_EQ(peer.RefusedCommands(), std::vector<std::string>{"say old"});
    EXPECT_EQ(Console(*server).back(), "Bad rcon_password.");
    server->SendRcon("say one");
    ASSERT_TRUE(runUntil([&] { return accepted("say one"); }));

    // The server's challenge changes: the "Bad challenge." answers ask for one fresh challenge a cycle.
    peer.SetChallenge(4242);
    peer.ClearReceived();
    server->SendRcon("say two");
    server->SendRcon("say three");
    ASSERT_TRUE(runUntil([&] { return server->challenge == 4242u; }));
    tp.loop.RunUntil([] { return false; }, 100ms);  // let the second refusal arrive too
    EXPECT_EQ(CountOf(peer.Received(), "\xFF\xFF\xFF\xFF" "challenge rcon\0"s), 1u);
    EXPECT_EQ(server->rconPassword, "new");
    server->SendRcon("say two");
    ASSERT_TRUE(runUntil([&] { return accepted("say two"); }));
}

TEST(HLParse, CutPlayerRecordsReadNoLeftoverBytesAndScoresStayInRange) {
    // The second record's score bytes are cut: the third name is not read from them.
    const std::string d = "\xFF\xFF\xFF\xFF" "D\x03\x01" "Ann\0" "\x05\0\0\0\0\0\0\0\x02" "Bo\0" "Sco"s;
    const HLPlayerList list = ParseHLPlayers({reinterpret_cast<const std::uint8_t*>(d.data()), d.size()});
    ASSERT_EQ(list.count, 3);
    EXPECT_EQ(list.names[0], "Ann");
    EXPECT_EQ(list.names[1], "Bo");
    EXPECT_EQ(list.names[2], "");

    test::TestPlatform tp;
    CHLServer server(tp.platform);
    server.teamASet1 = INT32_MAX;
    server.teamASet2 = 5;
    server.teamBSet1 = INT32_MIN;
    server.teamBSet2 = -5;
    EXPECT_EQ(server.TeamAScore(), INT32_MAX);
    EXPECT_EQ(server.TeamBScore(), INT32_MIN);
}

}  // namespace
}  // namespace orv

// Half-Life rcon after a new password or a stale challenge, and reads of cut or hostile answers.
#include <gtest/gtest.h>

#include <climits>

#include "document/document.h"
#include "fakes.h"
#include "monitors/halflife/hlparse.h"
#include "monitors/halflife/hlserver.h"

namespace orv {
namespace {

using namespace std::string_literals;

std::span<const std::uint8_t> Bytes(const std::string& s) { return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()}; }

TEST(HLRcon, NewPasswordAsksForAFreshChallengeOldRefusalsAndStaleChallengesDoNotLoop) {
    test::TestPlatform tp;
    COrvaneDoc doc{tp.platform};
    doc.New();
    doc.output.Stop();
    CObjectValues v;
    v.host = "127.0.0.1";
    v.port = 9;
    v.group = doc.groups[0];
    v.rconPassword = "old";
    auto* server = dynamic_cast<CHLServer*>(doc.AddObjectOfKind(CObjectKind::HLServer, v));
    ASSERT_NE(server, nullptr);
    auto answer = [&](const std::string& bytes) { server->OnPacket(Bytes("\xFF\xFF\xFF\xFF" + bytes)); };
    server->state = 3;
    server->challenge = 77;
    doc.selectedObject = server;
    doc.ApplyObjectProperties(v);  // the same password: nothing restarts
    EXPECT_EQ(server->challenge, 77u);
    v.rconPassword = "new";
    doc.ApplyObjectProperties(v);  // in state 3: back to 2, a challenge asked for at once
    EXPECT_EQ(server->state, 2);
    EXPECT_EQ(server->challenge, 0u);
    EXPECT_EQ(doc.output.Count(), 1);
    answer("lBad rcon_password.\n");  // a command that left with the old password
    EXPECT_EQ(server->rconPassword, "new");
    EXPECT_EQ(server->state, 2);
    answer("challenge rcon 4242\n");
    EXPECT_EQ(server->state, 3);
    // A stale challenge: one fresh request a cycle, however many "Bad challenge." answers come.
    doc.output.Clear();
    answer("lBad challenge.\n");
    answer("lBad challenge.\n");
    EXPECT_EQ(doc.output.Count(), 1);
    answer("lBad rcon_password.\n");  // the protection is armed again
    EXPECT_EQ(server->rconPassword, "");
}

TEST(HLParse, CutPlayerRecordsReadNoLeftoverBytesAndScoresStayInRange) {
    // The second record's score bytes are cut: the third name is not read from them.
    const std::string d = "\xFF\xFF\xFF\xFF" "D\x03\x01" "Ann\0" "\x05\0\0\0\0\0\0\0\x02" "Bo\0" "Sco"s;
    const HLPlayerList list = ParseHLPlayers({reinterpret_cast<const std::uint8_t*>(d.data()), d.size()});
    EXPECT_EQ(std::vector<std::string>(list.names.begin(), list.names.begin() + list.count),
              (std::vector<std::string>{"Ann", "Bo", ""}));
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

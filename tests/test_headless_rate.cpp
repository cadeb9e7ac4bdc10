// The document line's needed rate, and the one line on standard error while the limit is below it.
#include <gtest/gtest.h>

#include "headless_process.h"

namespace orv::headless_test {
namespace {

TEST(HeadlessRate, NeededRateBesideTheLimitAndOneWarningLine) {
    // Six silent servers with rcon: details, players and three rcon queries of 63, 53 and 58 bytes.
    std::vector<std::string> args{"--limit", "2048", "--seconds", "2", "--no-sound"};
    for (int port = 1; port <= 6; ++port) args.insert(args.end(), {"--hl", "127.0.0.1:" + std::to_string(port) + ",rcon=pw"});
    HeadlessProcess p(args);
    ASSERT_EQ(p.Wait(20s), 0);
    EXPECT_EQ(Json::parse(p.lines.at(0)).at("needed"), 6 * 258 / 6 * 8);
    EXPECT_EQ(p.Err(), "orvane-headless: UDP output limit 2000 bits per second is below the 2064 this layout needs: "
                       "servers are polled less often; set the limit to 3 kbps (3072 bits per second) or more\n");
}

}  // namespace
}  // namespace orv::headless_test

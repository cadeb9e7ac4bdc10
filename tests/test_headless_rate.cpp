// The headless front end reports the rate its layout needs beside the limit, and says once on standard
// error when the limit is below it.
#include <gtest/gtest.h>

#include "headless_process.h"

namespace orv::headless_test {
namespace {

size_t Occurrences(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

TEST(HeadlessRate, NeededRateBesideTheLimitAndOneWarningWhileTheLimitIsBelowIt) {
    for (const std::string limit : {"10240", "102400"}) {
        // Sixty servers with rcon passwords on ports where nobody answers: about 24 kbps of queries.
        std::vector<std::string> args{"--limit", limit, "--seconds", "2", "--no-sound"};
        for (int i = 0; i < 60; ++i) {
            args.push_back("--hl");
            args.push_back("127.0.0.1:" + std::to_string(1 + i) + ",rcon=secret");
        }
        HeadlessProcess p(args);
        ASSERT_EQ(p.Wait(20s), 0) << limit;
        const Json doc = Json::parse(p.lines.at(0));
        EXPECT_EQ(doc.at("limit"), std::stoi(limit));
        const std::int64_t needed = doc.at("needed");
        EXPECT_GT(needed, 20 * 1024);
        EXPECT_LT(needed, 30 * 1024);
        const size_t warnings = Occurrences(p.Err(), "orvane-headless: UDP output limit 10 kbps is below the ");
        if (limit == "10240") {
            EXPECT_EQ(warnings, 1u) << p.Err();
            const std::string kbps = std::to_string((needed + 1023) / 1024);
            EXPECT_NE(p.Err().find("set the limit to " + kbps + " kbps (" + std::to_string(std::stoi(kbps) * 1024) +
                                   " bits per second) or more\n"),
                      std::string::npos)
                << p.Err();
        } else {
            EXPECT_EQ(p.Err(), "");
        }
    }
}

}  // namespace
}  // namespace orv::headless_test

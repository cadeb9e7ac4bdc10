// The headless front end publishes the VuzuVed status page: a layout opened with --open enables the
// module toward a loopback FTP server (reached through --ftp-port) and holds a GTV proxy played by a
// loopback peer; the real orvane-headless runs in a folder that holds web_template.html, and the page
// it leaves on the server is checked.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/document/document.h"
#include "fakes.h"
#include "ftptestserver.h"
#include "headless_process.h"
#include "sim/gtvpeer.h"

#ifndef ORVANE_HEADLESS_PATH
#error "ORVANE_HEADLESS_PATH must name the orvane-headless executable"
#endif

namespace orv {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::FtpServer;

std::optional<std::string> ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const fs::path& p, const std::string& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << bytes;
}

struct TempDir {
    fs::path path;
    TempDir() {
        std::string tmpl = (fs::temp_directory_path() / "orvane-headless-page-XXXXXX").string();
        path = ::mkdtemp(tmpl.data());
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

struct RunResult {
    int exitCode = -1;  // -1: did not end in time (killed)
    std::string err;
};

// Runs orvane-headless in folder with the arguments until it ends (killed after the limit).
RunResult RunHeadless(const fs::path& folder, const std::vector<std::string>& args, std::chrono::seconds limit) {
    headless_test::HeadlessProcess p(args, folder.string());
    RunResult r;
    r.exitCode = p.Wait(limit).value_or(-1);
    r.err = p.Err();
    return r;
}

struct HeadlessPageTest : ::testing::Test {
    TempDir tmp;
    fs::path work = tmp.path / "work";
    FtpServer server{tmp.path / "ftp"};
    fs::path layout = tmp.path / "work" / "page.orv";

    void SetUp() override {
        ASSERT_GT(server.port, 0) << "the test FTP server did not start";
        fs::create_directories(work);
        fs::create_directories(server.home / "www");
    }

    // A layout with the status page enabled toward the test server, and the GTV proxy when given.
    void WriteLayout(std::int32_t interval, const sim::CGTVPeer* gtv) {
        test::TestPlatform tp;
        COrvaneDoc doc(tp.platform);
        doc.New();
        if (gtv) {
            CObjectValues values;
            values.host = "127.0.0.1";
            values.port = static_cast<std::uint32_t>(gtv->Port());
            values.group = doc.groups[2];
            values.externalHost = "gtv.example.org";
            values.externalPort = 27970;
            values.exportToWeb = 1;
            ASSERT_NE(doc.AddObjectOfKind(CObjectKind::GTV, values), nullptr);
        }
        doc.vuzuVed.enabled = 1;
        doc.vuzuVed.interval = interval;
        doc.vuzuVed.server = "127.0.0.1";
        doc.vuzuVed.login = FtpServer::kUser;
        doc.vuzuVed.password = FtpServer::kPassword;
        doc.vuzuVed.remoteFilename = "/www/status.html";
        ASSERT_TRUE(doc.Save(layout.string()));
    }
};

TEST_F(HeadlessPageTest, OpenedLayoutPublishesThePageOnItsSchedule) {
    sim::CGTVPeer gtv;
    ASSERT_TRUE(gtv.Ok());
    gtv.SetClients(7, 64);
    sim::GTVPeerRoom room;
    room.hubNumber = 1;
    room.roomState = 3;
    room.description = "Grand final";
    room.following = 2;
    room.players = {{2, "^1Al^7pha"}, {5, "Bravo"}};
    gtv.SetRooms({room});
    WriteLayout(2, &gtv);
    WriteFile(work / "web_template.html",
              "<html>\n[SECTION_ALWAYS]<h1>Live</h1>[/SECTION_ALWAYS]\n"
              "[SECTION_GTV]<ul>[SECTION_GTV_LOOP]\n<li>[#HOSTNAME]|[#IP]|[#NBSPEC]/[#NBSPECMAX]|[#INFO]</li>\n"
              "[/SECTION_GTV_LOOP]</ul>[/SECTION_GTV]\n"
              "[SECTION_STATS]<p>[#TOTAL_GTV_SLOTS]/[#TOTAL_GTV_SLOTS_MAX] peak [#TOTAL_GTV_SLOTS_PEAK]</p>"
              "[/SECTION_STATS]\n[SECTION_ALWAYS]<small>[#SIGN]</small>[/SECTION_ALWAYS]\n</html>\n");

    // Ticks 0 to 7, one a second: uploads on ticks 1, 3, 5 and 7. The GTV proxy has answered its manager
    // and hub queries well before the last one (five-tick cycle).
    const RunResult run =
        RunHeadless(work, {"--open", layout.string(), "--ftp-port", std::to_string(server.port), "--seconds", "7"}, 30s);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(server.Stores(), std::vector<std::string>(4, "/www/status.html"));

    const auto page = ReadFile(server.home / "www" / "status.html");
    ASSERT_TRUE(page.has_value());
    const std::regex expected(
        "<h1>Live</h1><ul><li>127\\.0\\.0\\.1\\|gtv\\.example\\.org:27970\\|7/64\\|Room #1 : Grand final, POV : "
        "Alpha<br></li></ul><p>7/64 peak 7</p><small>Auto-Generated by <a "
        "href='https://www\\.example\\.org/orvane/'>Orvane</a> \\(VuzuVed module\\) on "
        "(Monday|Tuesday|Wednesday|Thursday|Friday|Saturday|Sunday), [A-Z][a-z]+ [0-9]{2}, [0-9]{4} at "
        "[0-9]{2}:[0-9]{2}:[0-9]{2}<br>Made by Dalvek, Gfx by Muro\\.</small>");
    EXPECT_TRUE(std::regex_match(*page, expected)) << *page;
    // The page has no line breaks of the template's own.
    EXPECT_EQ(page->find('\n'), std::string::npos);
}

TEST_F(HeadlessPageTest, MissingTemplateIsReportedAndAnEmptyPageUploaded) {
    WriteLayout(30, nullptr);
    WriteFile(server.home / "www" / "status.html", "yesterday's page");
    const RunResult run =
        RunHeadless(work, {"--open", layout.string(), "--ftp-port", std::to_string(server.port), "--seconds", "1"}, 30s);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "Unable to open template file web_template.html. Please put it on same dir that this program\n");
    EXPECT_EQ(server.Stores(), std::vector<std::string>{"/www/status.html"});
    EXPECT_EQ(ReadFile(server.home / "www" / "status.html"), "");
}

TEST(HeadlessPageOptions, FtpPortMustBeAPortNumber) {
    TempDir tmp;
    for (const char* bad : {"0", "65536", "x"}) {
        const RunResult run = RunHeadless(tmp.path, {"--ftp-port", bad, "--seconds", "0"}, 30s);
        EXPECT_EQ(run.exitCode, 2) << bad;
        EXPECT_NE(run.err.find("--ftp-port"), std::string::npos) << run.err;
    }
}

}  // namespace
}  // namespace orv

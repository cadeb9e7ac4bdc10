// The metrics text: label values escaped as rows, the whole text of a document with every kind as a golden
// file, and the HTTP endpoint's answers over a real loopback connection.
#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include "document/metrics.h"
#include "monitor_fixture.h"
#include "monitors/halflife/hltv.h"
#include "monitors/quake3/gtv.h"
#include "monitors/quake3/q3server.h"
#include "net/metricsserver.h"

namespace orv::test {
namespace {

TEST(MetricsText, LabelValuesAreUtf8WithBackslashQuoteAndLineFeedEscaped) {
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"Final #1", "Final #1"},
        {"a\\b", "a\\\\b"},
        {"say \"gg\"", "say \\\"gg\\\""},
        {"two\nlines\n", "two\\nlines\\n"},
        {"cr\rtab\t", "cr\rtab\t"},              // only the three are escaped
        {"Caf\xE9 \\\"\n", "Caf\xC3\xA9 \\\\\\\"\\n"},  // Latin-1 read as such, then escaped
        {"d\xC3\xA9p\xC3\xB4t", "d\xC3\xA9p\xC3\xB4t"},  // valid UTF-8 kept
        {"", ""},
    };
    for (const auto& [in, want] : rows) {
        std::string out = "x";
        AppendLabelValue(out, in);
        EXPECT_EQ(out, "x" + want) << in;
    }
}

struct MetricsDoc : DocFixture {};

// Every family with its samples: a Half-Life server under rcon with a match and a hostile name, its HLTV
// proxy recording, a Quake 3 server in state 1 (no round trip shown though one was measured), a GTV proxy
// with two rooms, one recording. Families without a sample are left out.
TEST_F(MetricsDoc, TheWholeTextOfADocumentWithEveryKind) {
    auto* hl = Add<CHLServer>("127.0.0.1", 27015, "Servers");
    hl->serverName = "Final \"A\\B\"\nday 2";
    hl->state = CCommonObject::kStateRcon;
    hl->playerNameCount = 10;
    hl->maxPlayers = 12;
    hl->matchRunning = 1;
    hl->rttMicros = 151250;
    hl->rttSmoothedMicros = 149000;
    hl->answersReceived = 42;
    hl->timeoutsEntered = 1;
    auto* tv = Add<CHLTV>("127.0.0.1", 27020, "Local TV");
    tv->serverName = "TV";
    tv->state = CCommonObject::kStateRcon;
    tv->linkedServer = hl;
    tv->spectators = 250;
    tv->recordingFile = "final.dem";
    auto* q3 = Add<CQ3Server>("127.0.0.1", 27960, "Servers");
    q3->rttMicros = q3->rttSmoothedMicros = 5000;
    auto* gtv = Add<CGTV>("127.0.0.1", 27970, "Internet TV");
    gtv->state = CCommonObject::kStateMonitor;
    gtv->clients = 31;
    gtv->roomCount = 2;
    gtv->rooms[0].linkedServer = q3;
    gtv->rooms[1].recordingName = "demo";
    q3->matchRunning = 1;

    std::string text = BuildMetricsText(doc, 123456);
    const std::string version = "version=\"" ORVANE_VERSION "\"";
    text.replace(text.find(version), version.size(), "version=\"V\"");
    ExpectGolden("metrics_document.txt", text);
}

// One request over a real connection; the whole answer.
std::string Request(std::uint16_t port, const std::string& request) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string answer;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
        char buf[4096];
        for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, 0)) > 0;) answer.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return answer;
}

TEST(MetricsServer, AnswersTheLatestTextAndRefusesTheRest) {
    CMetricsServer server;
    std::string error;
    ASSERT_TRUE(server.Start(*ParseListenAddress("0", error), kMetricsContentType, error)) << error;
    const auto get = [&](const std::string& line) {
        return Request(server.Port(), line + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    };
    const auto status = [&](const std::string& line) { return get(line).substr(0, 12); };
    EXPECT_EQ(status("GET /metrics"), "HTTP/1.1 503");
    server.Publish(std::make_shared<const std::string>("old 1\n"));
    server.Publish(std::make_shared<const std::string>("orvane_x 2\n"));
    const std::string ok = get("GET /metrics");
    EXPECT_EQ(ok.substr(0, 12), "HTTP/1.1 200");
    EXPECT_NE(ok.find("Content-Type: text/plain; version=0.0.4; charset=utf-8\r\n"), std::string::npos) << ok;
    EXPECT_TRUE(ok.ends_with("\r\n\r\norvane_x 2\n")) << ok;
    EXPECT_EQ(std::tuple(status("GET /"), status("POST /metrics")), std::tuple("HTTP/1.1 404", "HTTP/1.1 405"));
    // A second server on the same port is refused with the reason.
    CMetricsServer second;
    EXPECT_FALSE(second.Start(*ParseListenAddress(std::to_string(server.Port()), error), kMetricsContentType, error));
    EXPECT_NE(error.find("cannot listen on 127.0.0.1:"), std::string::npos) << error;
    server.Stop();
    EXPECT_EQ(Request(server.Port(), "GET /metrics HTTP/1.1\r\n\r\n"), "");
}

TEST(MetricsServer, ListenAddressesAndTheirRefusals) {
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"9815", "127.0.0.1:9815"},
        {"0.0.0.0:9815", "0.0.0.0:9815"},
        {"localhost:1", "127.0.0.1:1"},
        {"host.example:9815", "the address must be a dotted IPv4 address or localhost"},
        {"127.0.0.1:65536", "the port must be a number from 0 to 65535"},
        {"127.0.0.1:", "the port must be"},
        {"127.0.0.1:-1", "the port must be"},
        {"", "the port must be"},
        {"[::1]:80", "the address must be"},
    };
    for (const auto& [text, want] : rows) {
        std::string error;
        const auto a = ParseListenAddress(text, error);
        EXPECT_EQ(a ? a->host + ":" + std::to_string(a->port) : error.substr(error.find(": ") + 2, want.size()), want);
    }
}

}  // namespace
}  // namespace orv::test

// The FTP engine against a real FTP server on loopback (tests/ftpserver.py, pyftpdlib) and against
// loopback servers that misbehave: a closed port, one that never answers, one played from a script.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>

#include <future>
#include <optional>
#include <thread>

#include "ftp/ftpengine.h"
#include "ftptestserver.h"
#include "monitor_fixture.h"

namespace orv {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::ReadFile;
using test::WaitFor;
using test::WriteFile;

std::string AllByteValues(std::size_t size) {
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
    return s;
}
FtpJob Job(int port, const std::string& remotePath, const std::string& content, int kind = 0) {
    return {"127.0.0.1", port, content, remotePath, test::FtpServer::kUser, test::FtpServer::kPassword, kind};
}
const FtpTimeouts kQuick{.connectMilliseconds = 700, .responseSeconds = 1, .lowSpeedBytes = 100, .lowSpeedSeconds = 1};

// A TCP socket on 127.0.0.1, listening (connections complete in the kernel and wait) or, once closed, a
// port where connections are refused.
struct Listener {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int port = 0;
    Listener() {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd, 8);
        socklen_t len = sizeof a;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ~Listener() { Close(); }
    void Close() {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
};

// A FIFO the test holds open: a kind-1 job reading it stays in transfer until the test writes and closes it.
struct Gate {
    fs::path path;
    int fd = -1;
    explicit Gate(const fs::path& p) : path(p) {
        ::mkfifo(p.c_str(), 0600);
        fd = ::open(p.c_str(), O_RDWR | O_CLOEXEC);  // read-write: neither side blocks in open
    }
    ~Gate() { Release(""); }
    void Release(const std::string& bytes) {
        if (fd < 0) return;
        EXPECT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        ::close(fd);
        fd = -1;
    }
};

// A control connection played from a data row: the greeting, then for each command the reply under the
// command's name, else "other" (nothing for an empty reply). Serves one connection, until the client
// closes it.
class ScriptedPeer {
public:
    explicit ScriptedPeer(test::Row script) : m_thread([this, script]() mutable { Serve(script); }) {}
    ~ScriptedPeer() {
        ::shutdown(m_listener.fd, SHUT_RDWR);  // when nobody connected: accept gives up
        m_thread.join();
    }
    int port() const { return m_listener.port; }

private:
    void Serve(test::Row& script) {
        const int c = ::accept4(m_listener.fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0) return;
        auto say = [&](const std::string& s) { (void)!::write(c, (s + "\r\n").data(), s.empty() ? 0 : s.size() + 2); };
        say(script.count("greeting") ? script["greeting"] : "220 hello");
        std::string in;
        char buf[512];
        for (ssize_t n; (n = ::read(c, buf, sizeof buf)) > 0;) {
            in.append(buf, static_cast<size_t>(n));
            for (size_t eol; (eol = in.find("\r\n")) != std::string::npos; in.erase(0, eol + 2)) {
                const std::string name = in.substr(0, std::min(eol, in.find(' ')));
                say(script.count(name) ? script[name] : script["other"]);
            }
        }
        ::close(c);
    }
    Listener m_listener;
    std::thread m_thread;
};

struct FtpTest : ::testing::Test {
    test::TempDir tmp{"orvane-ftp"};
    test::FtpServer server{tmp.path, true};  // anonymous may log in too
    test::RecordingPrompter prompter;
    void SetUp() override { ASSERT_GT(server.port, 0) << "the test FTP server did not start"; }
    std::unique_ptr<FtpJob> Make(const std::string& path, const std::string& content, int kind = 0) {
        return std::make_unique<FtpJob>(Job(server.port, path, content, kind));
    }
};

TEST(FtpUrl, RemoteNameIsEncodedWholeAndServerMustBeAHost) {
    for (auto& row : test::Rows("ftp_urls.txt")) {
        const FtpJob job{row["host"], std::atoi(row["port"].c_str()), "", row["path"], "", "", 0};
        EXPECT_EQ(CFtpEngine::JobUrl(job), row["url"]) << row["host"];
    }
}

// Proxy settings in the environment are ignored, and an empty user logs in as anonymous.
TEST_F(FtpTest, ContentAndLocalFilesAreStoredByteForByteInBinaryPassiveMode) {
    Listener trap;
    const std::string proxy = "http://127.0.0.1:" + std::to_string(trap.port);
    for (const char* v : {"ftp_proxy", "FTP_PROXY", "all_proxy", "ALL_PROXY"}) ::setenv(v, proxy.c_str(), 1);
    CFtpEngine engine(prompter);
    fs::create_directories(server.home / "www");
    WriteFile(server.home / "page.html", "yesterday's page");
    const std::string bytes =
        std::string("head\0\r\n\xFF\r\nmid\n\r\xFE", 15) + AllByteValues(3 * CFtpEngine::kFileBlock + 17);
    const fs::path local = tmp.path / "local page.bin";
    WriteFile(local, bytes);
    EXPECT_TRUE(engine.ProcessJob(*Make("/www/page.bin", bytes)));
    EXPECT_TRUE(engine.ProcessJob(*Make("copy.bin", local.string(), 1)));
    EXPECT_TRUE(engine.ProcessJob(*Make("/page.html", "")));  // replaced by an empty file
    for (int kind : {2, -1}) EXPECT_TRUE(engine.ProcessJob(*Make("k" + std::to_string(kind), local.string(), kind)));
    auto anonymous = Make("anon.txt", "hello");
    anonymous->user = anonymous->password = "";
    EXPECT_TRUE(engine.ProcessJob(*anonymous));
    for (const char* v : {"ftp_proxy", "FTP_PROXY", "all_proxy", "ALL_PROXY"}) ::unsetenv(v);
    EXPECT_EQ(
        std::tuple(ReadFile(server.home / "www" / "page.bin"), ReadFile(server.home / "copy.bin"), ReadFile(local),
                   ReadFile(server.home / "page.html"), ReadFile(server.home / "k2"), ReadFile(server.home / "k-1")),
        std::tuple(bytes, bytes, bytes, "", local.string(), local.string()));  // other kinds send the content
    EXPECT_EQ(ReadFile(server.home / "anon.txt"), "hello");
    EXPECT_TRUE(prompter.Messages().empty());
    const auto cmds = server.Commands();
    ASSERT_GE(cmds.size(), 5u);
    EXPECT_EQ(std::tuple(cmds[0], cmds[1]), std::tuple("USER orvane", "PASS ***"));
    for (auto c : {"PASV", "TYPE I", "STOR /www/page.bin", "USER anonymous"})
        EXPECT_NE(std::find(cmds.begin(), cmds.end(), c), cmds.end()) << c;
    for (auto& c : cmds)
        for (auto never : {"PORT", "EPRT", "CWD"}) EXPECT_NE(c.rfind(never, 0), 0u) << c;
    pollfd p{trap.fd, POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 0), 0);  // nobody connected to the proxy
}

// The worker counts the job in transfer and takes the jobs added meanwhile in the same wake-up. Stop waits
// for the transfer and uploads the queued jobs first; a job added once the worker has ended is dropped
// unsent; the destructor lets the queued jobs leave while the server answers (a trickling one: FtpTrickle).
TEST_F(FtpTest, WorkerQueueStopAndTheDestructor) {
    auto engine = std::make_unique<CFtpEngine>(prompter);
    engine->Start();
    Gate gate(tmp.path / "gate"), gate2(tmp.path / "gate2");
    engine->AddJob(Make("first.bin", gate.path.string(), 1));
    ASSERT_TRUE(WaitFor([&] { return server.Stores().size() == 1; }));  // STOR sent, the local file being read
    EXPECT_EQ(engine->PendingCount(), 1);
    EXPECT_EQ(engine->AddJob(Make("second.bin", "two")), 1);
    EXPECT_EQ(engine->AddJob(Make("third.bin", "three")), 1);
    EXPECT_EQ(engine->PendingCount(), 3);
    const std::string first = std::string("\0\r\n\xFF", 4) + AllByteValues(10000);
    gate.Release(first);
    ASSERT_TRUE(WaitFor([&] { return engine->PendingCount() == 0; }));
    EXPECT_EQ(std::tuple(ReadFile(server.home / "first.bin"), ReadFile(server.home / "third.bin"), engine->WakeUps()),
              std::tuple(first, "three", 1u));
    engine->AddJob(Make("fourth.bin", gate2.path.string(), 1));  // idle again: a new wake-up
    ASSERT_TRUE(WaitFor([&] { return server.Stores().size() == 4; }));
    engine->AddJob(Make("fifth.bin", "five"));
    auto stopped = std::async(std::launch::async, [&] { engine->Stop(); });
    EXPECT_EQ(stopped.wait_for(50ms), std::future_status::timeout);  // the transfer is still held
    gate2.Release("4");
    ASSERT_EQ(stopped.wait_for(20s), std::future_status::ready);
    EXPECT_EQ(std::tuple(ReadFile(server.home / "fifth.bin"), engine->PendingCount(), engine->WakeUps()),
              std::tuple("five", 0, 2u));
    EXPECT_EQ(engine->AddJob(Make("late.txt", "late")), 1);
    engine->Stop();
    EXPECT_EQ(engine->PendingCount(), 0);
    engine = std::make_unique<CFtpEngine>(prompter);
    engine->Start();
    for (int i = 0; i < 3; ++i) engine->AddJob(Make("d" + std::to_string(i), std::to_string(i)));
    EXPECT_EQ(engine->AddJob(nullptr), 0);  // refused, not queued
    engine.reset();
    EXPECT_EQ(server.Stores(), (std::vector<std::string>{"first.bin", "second.bin", "third.bin", "fourth.bin",
                                                         "fifth.bin", "d0", "d1", "d2"}));
    EXPECT_TRUE(prompter.Messages().empty());
}

// A server that takes uploads at 100 bytes a second: a transfer is given up at its deadline, and an engine
// destroyed during one (the program closing) returns within seconds of its grace, drops the waiting jobs and
// says nothing.
TEST(FtpTrickle, TransferDeadlineAndClosingDuringATransfer) {
    test::TempDir tmp{"orvane-ftp"};
    test::FtpServer server{tmp.path, false, true};
    ASSERT_GT(server.port, 0);
    test::RecordingPrompter prompter;
    const std::string big(16 << 20, 'x');  // more than the socket buffers hold
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(CFtpEngine(prompter, {.transferSeconds = 2}).ProcessJob(Job(server.port, "slow.bin", big)));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    ASSERT_EQ(prompter.Messages().size(), 1u);
    EXPECT_NE(prompter.Messages()[0].find("(writting remote file):\nOperation timed out"), std::string::npos)
        << prompter.Messages()[0];
    auto engine = std::make_unique<CFtpEngine>(prompter);
    engine->Start();
    engine->AddJob(std::make_unique<FtpJob>(Job(server.port, "closing.bin", big)));
    engine->AddJob(std::make_unique<FtpJob>(Job(server.port, "after.txt", "after")));
    ASSERT_TRUE(WaitFor([&] { return server.Stores().size() == 2; }));
    start = std::chrono::steady_clock::now();
    engine.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, CFtpEngine::kShutdownGrace + 5s);
    EXPECT_EQ(std::tuple(server.Stores().size(), prompter.Messages().size()), std::tuple(2u, 1u));
}

// Keeps the worker inside Message until the test lets it go, as a modal box would.
struct HoldingPrompter : test::RecordingPrompter {
    std::promise<void> shown, closed;
    std::shared_future<void> closing = closed.get_future().share();
    void Message(const std::string& text) override {
        RecordingPrompter::Message(text);
        shown.set_value();
        closing.wait();
    }
};

TEST_F(FtpTest, WorkerWaitsWhileAMessageIsShownAndJobsKeepQueueing) {
    HoldingPrompter holding;
    CFtpEngine engine(holding);
    engine.Start();
    Listener closed;
    closed.Close();
    auto shown = holding.shown.get_future();
    engine.AddJob(std::make_unique<FtpJob>(Job(closed.port, "never.txt", "x")));
    ASSERT_EQ(shown.wait_for(10s), std::future_status::ready);
    engine.AddJob(Make("after.txt", "after"));
    EXPECT_EQ(std::tuple(engine.PendingCount(), server.Stores().size()), std::tuple(2, 0u));  // counted until closed
    holding.closed.set_value();
    ASSERT_TRUE(WaitFor([&] { return engine.PendingCount() == 0; }));
    EXPECT_EQ(std::tuple(ReadFile(server.home / "after.txt"), holding.Messages().size()), std::tuple("after", 1u));
}

// One row of tests/data/ftp_failures.txt a job: the stage's prefix, the message's own text, both time-outs.
TEST_F(FtpTest, FailuresAreShownWithThePrefixOfTheStageThatFailed) {
    WriteFile(server.home / "kept.html", "the last good page");
    CFtpEngine engine(prompter), quick(prompter, kQuick);
    size_t shown = 0;
    for (auto& row : test::Rows("ftp_failures.txt")) {
        for (auto& [key, value] : row)
            for (size_t at; (at = value.find("$tmp")) != std::string::npos;) value.replace(at, 4, tmp.path.string());
        auto get = [&](const std::string& key, const std::string& fallback) {
            return row.count(key) ? row[key] : fallback;
        };
        Listener closed;
        closed.Close();
        std::optional<ScriptedPeer> peer;
        if (row["server"] == "script") peer.emplace(row);
        const int port = row["server"] == "ftp" ? server.port : peer ? peer->port() : closed.port;
        FtpJob job = Job(port, get("path", "page.html"), get("content", "x"), std::atoi(get("kind", "0").c_str()));
        job.server = get("host", job.server);
        job.user = get("user", job.user);
        job.password = get("password", job.password);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ((peer ? quick : engine).ProcessJob(job), row["returns"] == "true") << row["case"];
        EXPECT_LT(std::chrono::steady_clock::now() - start, 5s) << row["case"];
        const auto messages = prompter.Messages();
        ASSERT_EQ(messages.size(), ++shown) << row["case"];
        const std::string where = "FTP Engine error with Job on server " + job.server + ":" + std::to_string(port);
        const std::string prefix = row["stage"] == "write"   ? where + " (writting remote file):\n"
                                   : row["stage"] == "login" ? where + " :\n"
                                                             : "";
        ASSERT_EQ(messages.back().rfind(prefix, 0), 0u) << row["case"] << ": " << messages.back();
        const std::string text = messages.back().substr(prefix.size());
        EXPECT_EQ(text, get("text", text)) << row["case"];
        EXPECT_NE(text.find(get("has", "")), std::string::npos) << row["case"] << ": " << text;
        EXPECT_NE(text, "") << row["case"];
    }
    EXPECT_EQ(std::tuple(ReadFile(server.home / "kept.html"), server.Stores()),
              std::tuple("the last good page", std::vector<std::string>{"/no such folder/page.html"}));
}

}  // namespace
}  // namespace orv

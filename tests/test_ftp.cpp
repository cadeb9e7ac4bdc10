// The FTP engine against a real FTP server on loopback (tests/ftpserver.py, pyftpdlib) and against
// loopback servers that misbehave: a closed port, one that never answers, one played from a script.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <thread>

#include "fakes.h"
#include "ftp/ftpengine.h"
#include "ftptestserver.h"
#include "testutil.h"

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
std::string Prefix(int port, bool writing, const std::string& host = "127.0.0.1") {
    return "FTP Engine error with Job on server " + host + ":" + std::to_string(port) +
           (writing ? " (writting remote file):\n" : " :\n");
}
// The message begins with the prefix and has the error's own text after it.
void ExpectPrefixed(const std::string& message, const std::string& prefix) {
    EXPECT_EQ(message.rfind(prefix, 0), 0u) << message;
    EXPECT_GT(message.size(), prefix.size()) << "no error text";
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

// A control connection played from a script: the greeting, then one reply per command (nothing for an
// empty reply). Serves one connection.
class ScriptedPeer {
public:
    explicit ScriptedPeer(std::function<std::string(const std::string&)> reply)
        : m_thread([this, reply = std::move(reply)] { Serve(reply); }) {}
    ~ScriptedPeer() {
        m_done = true;
        m_thread.join();
    }
    int port() const { return m_listener.port; }

private:
    void Serve(const std::function<std::string(const std::string&)>& reply) {
        pollfd p{m_listener.fd, POLLIN, 0};
        if (::poll(&p, 1, 10000) <= 0) return;
        const int c = ::accept4(m_listener.fd, nullptr, nullptr, SOCK_CLOEXEC);
        auto say = [&](const std::string& s) { (void)!::write(c, s.data(), s.size()); };
        say("220 hello\r\n");
        std::string in;
        while (!m_done) {
            pollfd q{c, POLLIN, 0};
            if (::poll(&q, 1, 50) <= 0) continue;
            char buf[512];
            const ssize_t n = ::read(c, buf, sizeof buf);
            if (n <= 0) break;
            in.append(buf, static_cast<size_t>(n));
            for (size_t eol; (eol = in.find("\r\n")) != std::string::npos; in.erase(0, eol + 2))
                say(reply(in.substr(0, eol)));
        }
        ::close(c);
    }
    Listener m_listener;
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};

struct FtpTest : ::testing::Test {
    test::TempDir tmp{"orvane-ftp"};
    test::FtpServer server{tmp.path};
    test::RecordingPrompter prompter;
    void SetUp() override { ASSERT_GT(server.port, 0) << "the test FTP server did not start"; }
    std::unique_ptr<FtpJob> Make(const std::string& path, const std::string& content, int kind = 0) {
        return std::make_unique<FtpJob>(Job(server.port, path, content, kind));
    }
};

TEST(FtpUrl, RemoteNameIsEncodedWholeAndServerMustBeAHost) {
    FtpJob job;
    const std::vector<std::tuple<std::string, int, std::string, std::string>> rows = {
        {"ftp.example.org", 21, "/somepath/Orvane.html", "ftp://ftp.example.org:21/%2Fsomepath%2FOrvane.html"},
        {"ftp.example.org", 21, "a b#c?d%e@f;type=a", "ftp://ftp.example.org:21/a%20b%23c%3Fd%25e%40f%3Btype%3Da"},
        {"10.0.0.7", 0, "page.html", "ftp://10.0.0.7:21/page.html"},  // no port: the FTP port
        {"10.0.0.7", 65536 + 2121, "p", "ftp://10.0.0.7:2121/p"},     // a 16-bit port number
        {"::1", 2121, "p", "ftp://[::1]:2121/p"},
        {"[::1]", 2121, "p", "ftp://[::1]:2121/p"},
    };
    for (auto& [host, port, path, url] : rows) {
        job.server = host;
        job.port = port;
        job.remotePath = path;
        EXPECT_EQ(CFtpEngine::JobUrl(job), url);
    }
    for (const char* bad : {"", "user@evil.example", "host/path", "host:2121", "a b", "host?x", "-x", "h\r\n"}) {
        job.server = bad;
        EXPECT_EQ(CFtpEngine::JobUrl(job), "") << bad;
    }
}

TEST_F(FtpTest, ContentAndLocalFilesAreStoredByteForByteInBinaryPassiveMode) {
    CFtpEngine engine(prompter);
    fs::create_directories(server.home / "www");
    WriteFile(server.home / "page.html", "yesterday's page");
    const std::string bytes =
        std::string("head\0\r\n\xFF\r\nmid\n\r\xFE", 15) + AllByteValues(3 * CFtpEngine::kFileBlock + 17);
    const fs::path local = tmp.path / "local page.bin";
    WriteFile(local, bytes);
    ASSERT_TRUE(engine.ProcessJob(*Make("/www/page.bin", bytes)));
    ASSERT_TRUE(engine.ProcessJob(*Make("copy.bin", local.string(), 1)));
    ASSERT_TRUE(engine.ProcessJob(*Make("/page.html", "")));  // replaced by an empty file
    for (int kind : {2, -1}) ASSERT_TRUE(engine.ProcessJob(*Make("k" + std::to_string(kind), local.string(), kind)));
    EXPECT_EQ(
        std::tuple(ReadFile(server.home / "www" / "page.bin"), ReadFile(server.home / "copy.bin"), ReadFile(local),
                   ReadFile(server.home / "page.html"), ReadFile(server.home / "k2"), ReadFile(server.home / "k-1")),
        std::tuple(bytes, bytes, bytes, "", local.string(), local.string()));  // other kinds send the content
    EXPECT_TRUE(prompter.Messages().empty());
    const auto cmds = server.Commands();
    ASSERT_GE(cmds.size(), 5u);
    EXPECT_EQ(std::tuple(cmds[0], cmds[1]), std::tuple("USER orvane", "PASS ***"));
    for (auto c : {"PASV", "TYPE I", "STOR /www/page.bin"})
        EXPECT_NE(std::find(cmds.begin(), cmds.end(), c), cmds.end()) << c;
    for (auto& c : cmds)
        for (auto never : {"PORT", "EPRT", "CWD"}) EXPECT_NE(c.rfind(never, 0), 0u) << c;
}

TEST_F(FtpTest, EmptyUserLogsInAsAnonymousAndProxySettingsAreIgnored) {
    test::TempDir anonRoot{"orvane-ftp"};
    test::FtpServer anon(anonRoot.path, true);
    ASSERT_GT(anon.port, 0);
    Listener trap;
    const std::string proxy = "http://127.0.0.1:" + std::to_string(trap.port);
    for (const char* v : {"ftp_proxy", "FTP_PROXY", "all_proxy", "ALL_PROXY"}) ::setenv(v, proxy.c_str(), 1);
    CFtpEngine engine(prompter, kQuick);
    auto job = Job(anon.port, "anon.txt", "hello");
    job.user.clear();
    job.password.clear();
    const bool ok = engine.ProcessJob(job);
    for (const char* v : {"ftp_proxy", "FTP_PROXY", "all_proxy", "ALL_PROXY"}) ::unsetenv(v);
    EXPECT_TRUE(ok);
    EXPECT_EQ(ReadFile(anon.home / "anon.txt"), "hello");
    EXPECT_EQ(anon.Commands().at(0), "USER anonymous");
    pollfd p{trap.fd, POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 0), 0);  // nobody connected to the proxy
}

TEST_F(FtpTest, WorkerCountsTheJobInTransferAndFoldsLaterJobsIntoOneWakeUp) {
    CFtpEngine engine(prompter);
    engine.Start();
    Gate gate(tmp.path / "gate");
    engine.AddJob(Make("first.bin", gate.path.string(), 1));
    ASSERT_TRUE(WaitFor([&] { return server.Stores().size() == 1; }));  // STOR sent, the local file being read
    EXPECT_EQ(engine.PendingCount(), 1);
    EXPECT_EQ(engine.AddJob(Make("second.bin", "two")), 1);
    EXPECT_EQ(engine.AddJob(Make("third.bin", "three")), 1);
    EXPECT_EQ(engine.PendingCount(), 3);
    const std::string first = std::string("\0\r\n\xFF", 4) + AllByteValues(10000);
    gate.Release(first);
    ASSERT_TRUE(WaitFor([&] { return engine.PendingCount() == 0; }));
    EXPECT_EQ(server.Stores(), (std::vector<std::string>{"first.bin", "second.bin", "third.bin"}));
    EXPECT_EQ(std::tuple(ReadFile(server.home / "first.bin"), ReadFile(server.home / "third.bin"), engine.WakeUps()),
              std::tuple(first, "three", 1u));
    engine.AddJob(Make("fourth.bin", "four"));  // idle again: a new wake-up
    ASSERT_TRUE(WaitFor([&] { return server.Stores().size() == 4 && engine.PendingCount() == 0; }));
    EXPECT_EQ(engine.WakeUps(), 2u);
    EXPECT_TRUE(prompter.Messages().empty());
}

TEST_F(FtpTest, StopAndTheDestructorUploadTheQueuedJobsFirstAndDropLaterOnes) {
    {
        CFtpEngine engine(prompter);
        engine.Start();
        Gate gate(tmp.path / "gate");
        engine.AddJob(Make("a.txt", gate.path.string(), 1));
        ASSERT_TRUE(WaitFor([&] { return server.Stores().size() == 1; }));
        engine.AddJob(Make("b.txt", "b"));
        engine.AddJob(Make("c.txt", "c"));
        auto stopped = std::async(std::launch::async, [&] { engine.Stop(); });
        EXPECT_EQ(stopped.wait_for(50ms), std::future_status::timeout);  // the transfer is still held
        gate.Release("a");
        ASSERT_EQ(stopped.wait_for(20s), std::future_status::ready);
        EXPECT_EQ(std::tuple(server.Stores().size(), ReadFile(server.home / "c.txt"), engine.PendingCount()),
                  std::tuple(3u, "c", 0));
        // The worker has ended: a later job waits, and is deleted without upload by the next Stop.
        EXPECT_EQ(engine.AddJob(Make("late.txt", "late")), 1);
        engine.Stop();
        EXPECT_EQ(std::tuple(engine.PendingCount(), fs::exists(server.home / "late.txt")), std::tuple(0, false));
    }
    {
        CFtpEngine engine(prompter);
        engine.Start();
        for (int i = 0; i < 3; ++i) engine.AddJob(Make("d" + std::to_string(i), std::to_string(i)));
        EXPECT_EQ(engine.AddJob(nullptr), 0);  // refused, not queued
    }
    EXPECT_EQ(server.Stores(), (std::vector<std::string>{"a.txt", "b.txt", "c.txt", "d0", "d1", "d2"}));
}

// Keeps the worker inside Message until the test lets it go, as a modal box would.
class HoldingPrompter : public test::RecordingPrompter {
public:
    void Message(const std::string& text) override {
        RecordingPrompter::Message(text);
        std::unique_lock lk(m_lock);
        ++m_shown;
        m_cv.notify_all();
        m_cv.wait(lk, [&] { return m_closed; });
    }
    bool WaitShown() {
        std::unique_lock lk(m_lock);
        return m_cv.wait_for(lk, 10s, [&] { return m_shown > 0; });
    }
    void Close() {
        std::lock_guard lk(m_lock);
        m_closed = true;
        m_cv.notify_all();
    }

private:
    std::mutex m_lock;
    std::condition_variable m_cv;
    int m_shown = 0;
    bool m_closed = false;
};

TEST_F(FtpTest, WorkerWaitsWhileAMessageIsShownAndJobsKeepQueueing) {
    HoldingPrompter holding;
    CFtpEngine engine(holding);
    engine.Start();
    Listener closed;
    closed.Close();
    engine.AddJob(std::make_unique<FtpJob>(Job(closed.port, "never.txt", "x")));
    ASSERT_TRUE(holding.WaitShown());
    engine.AddJob(Make("after.txt", "after"));
    EXPECT_EQ(std::tuple(engine.PendingCount(), server.Stores().size()), std::tuple(2, 0u));  // counted until closed
    holding.Close();
    ASSERT_TRUE(WaitFor([&] { return engine.PendingCount() == 0; }));
    EXPECT_EQ(std::tuple(ReadFile(server.home / "after.txt"), holding.Messages().size()), std::tuple("after", 1u));
}

TEST_F(FtpTest, FailuresAreShownWithThePrefixOfTheStageThatFailed) {
    CFtpEngine engine(prompter);
    WriteFile(server.home / "kept.html", "the last good page");
    auto wrong = Make("w.txt", "w");
    wrong->password = "wrong";
    Listener closed;
    closed.Close();
    EXPECT_FALSE(engine.ProcessJob(*wrong));
    EXPECT_FALSE(engine.ProcessJob(Job(closed.port, "r.txt", "r")));
    EXPECT_TRUE(engine.ProcessJob(*Make("/no such folder/page.html", "x")));  // logged in, then refused
    EXPECT_TRUE(engine.ProcessJob(*Make("", "x")));                           // no file name
    // Line breaks never reach the server.
    EXPECT_FALSE(engine.ProcessJob(*Make("x.txt\r\nDELE kept.html", "x")));
    auto user = Make("y.txt", "y");
    user->user = "orvane\r\nDELE kept.html";
    EXPECT_FALSE(engine.ProcessJob(*user));
    auto host = Make("z.txt", "z");
    host->server = "127.0.0.1/evil";
    EXPECT_FALSE(engine.ProcessJob(*host));
    const auto msgs = prompter.Messages();
    const std::vector<std::string> prefixes = {Prefix(server.port, false), Prefix(closed.port, false),
                                               Prefix(server.port, true),  Prefix(server.port, true),
                                               Prefix(server.port, true),  Prefix(server.port, false),
                                               Prefix(server.port, false, "127.0.0.1/evil")};
    ASSERT_EQ(msgs.size(), prefixes.size());
    for (size_t i = 0; i < msgs.size(); ++i) ExpectPrefixed(msgs[i], prefixes[i]);
    EXPECT_NE(msgs[0].find("\n530 "), std::string::npos) << "the server's refusal is quoted: " << msgs[0];
    EXPECT_NE(msgs[2].find("\n550 "), std::string::npos) << msgs[2];
    EXPECT_EQ(server.Stores(), std::vector<std::string>{"/no such folder/page.html"});
    // A missing local file (or a folder) is reported before anything is sent; the remote file stays.
    const std::string missing = (tmp.path / "gone.html").string();
    EXPECT_FALSE(engine.ProcessJob(*Make("kept.html", missing, 1)));
    EXPECT_FALSE(engine.ProcessJob(*Make("kept.html", tmp.path.string(), 1)));
    const auto all = prompter.Messages();
    EXPECT_EQ(std::vector<std::string>(all.begin() + 7, all.end()),
              (std::vector<std::string>{"Unable to open file " + missing + ". FTP Upload canceled.",
                                        "Unable to open file " + tmp.path.string() + ". FTP Upload canceled."}));
    EXPECT_EQ(std::tuple(ReadFile(server.home / "kept.html"), server.Stores().size()),
              std::tuple("the last good page", 1u));
}

TEST(FtpEngineTimeouts, ServerThatAcceptsButNeverAnswersIsGivenUp) {
    Listener silent;  // the kernel completes the connection; nobody ever greets
    test::RecordingPrompter prompter;
    CFtpEngine engine(prompter, kQuick);
    engine.Start();
    const auto start = std::chrono::steady_clock::now();
    engine.AddJob(std::make_unique<FtpJob>(Job(silent.port, "page.html", "")));
    ASSERT_TRUE(WaitFor([&] { return !prompter.Messages().empty(); }, 10s));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_TRUE(WaitFor([&] { return engine.PendingCount() == 0; }, 5s));
    ExpectPrefixed(prompter.Messages().at(0), Prefix(silent.port, false));
}

// The prefix tells the stage that failed: the login is over once the server accepts USER or PASS with any
// 2xx reply (202 "superfluous" is a valid answer to PASS), and not when they are refused. A server that
// stops answering after the login is given up.
TEST(FtpEngineLogin, PrefixFollowsTheServersAnswerToTheLoginCommands) {
    const std::vector<std::tuple<std::string, std::string, std::string, bool>> rows = {
        {"331 password please\r\n", "202 no password needed here\r\n", "502 not here\r\n", true},
        {"232 logged in\r\n", "", "502 not here\r\n", true},
        {"331 password please\r\n", "530 wrong\r\n", "502 not here\r\n", false},
        {"331 password please\r\n", "230 logged in\r\n", "", true},  // silence after the login
    };
    test::RecordingPrompter prompter;
    CFtpEngine engine(prompter, kQuick);
    for (auto& [user, pass, other, loggedIn] : rows) {
        ScriptedPeer peer([&](const std::string& cmd) -> std::string {
            if (cmd.rfind("USER", 0) == 0) return user;
            if (cmd.rfind("PASS", 0) == 0) return pass;
            if (cmd.rfind("PWD", 0) == 0) return "257 \"/\"\r\n";
            return other;
        });
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(engine.ProcessJob(Job(peer.port(), "page.html", "")), loggedIn) << user << pass;
        EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
        ASSERT_FALSE(prompter.Messages().empty());
        ExpectPrefixed(prompter.Messages().back(), Prefix(peer.port(), loggedIn));
    }
    EXPECT_EQ(prompter.Messages().size(), rows.size());
}

}  // namespace
}  // namespace orv

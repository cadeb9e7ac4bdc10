// The FTP engine against a real FTP server on loopback (tests/ftpserver.py, pyftpdlib), and against
// loopback servers that misbehave: a closed port, one that never answers, one that stops after login.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "fakes.h"
#include "testutil.h"
#include "ftptestserver.h"
#include "ftp/ftpengine.h"


namespace orv {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;
using test::WaitFor;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;




std::string AllByteValues(std::size_t size) {
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
    return s;
}


// The test FTP server, with the jobs and message prefixes of these tests.
class FtpServer : public test::FtpServer {
public:
    using test::FtpServer::FtpServer;

    std::unique_ptr<FtpJob> Job(const std::string& remotePath, const std::string& content, int kind = 0) const {
        auto job = std::make_unique<FtpJob>();
        job->server = "127.0.0.1";
        job->port = port;
        job->content = content;
        job->remotePath = remotePath;
        job->user = kUser;
        job->password = kPassword;
        job->kind = kind;
        return job;
    }
    std::string ConnectPrefix() const {
        return "FTP Engine error with Job on server 127.0.0.1:" + std::to_string(port) + " :\n";
    }
    std::string WritePrefix() const {
        return "FTP Engine error with Job on server 127.0.0.1:" + std::to_string(port) + " (writting remote file):\n";
    }
};

// A TCP socket on 127.0.0.1 with a free port, listening (connections complete in the kernel and wait)
// or, once closed, a port where connections are refused.
struct Listener {
    int fd = -1;
    int port = 0;
    Listener() {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
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
    bool HasPendingConnection() const {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, 0) > 0;
    }
};

// A FIFO the test holds open for writing: a kind-1 job reading it stays in transfer until the test
// writes its bytes and closes it. The test side is opened read-write, so neither side ever blocks in open.
class Gate {
public:
    explicit Gate(const fs::path& p) : path(p) {
        ::mkfifo(p.c_str(), 0600);
        m_fd = ::open(p.c_str(), O_RDWR | O_CLOEXEC);
    }
    ~Gate() { Release(""); }
    void Release(const std::string& bytes) {
        if (m_fd < 0) return;
        if (!bytes.empty()) {
            EXPECT_EQ(::write(m_fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        }
        ::close(m_fd);
        m_fd = -1;
    }
    fs::path path;

private:
    int m_fd = -1;
};

// Time-outs short enough for a test.
FtpTimeouts QuickTimeouts() {
    FtpTimeouts t;
    t.connectMilliseconds = 700;
    t.responseSeconds = 1;
    t.lowSpeedSeconds = 1;
    return t;
}

class FtpEngineTest : public ::testing::Test {
protected:
    test::TempDir tmp{"orvane-ftp"};
    FtpServer server{tmp.path};
    test::RecordingPrompter prompter;

    void SetUp() override { ASSERT_GT(server.port, 0) << "the test FTP server did not start"; }
};

TEST(FtpUrl, RemoteNameIsEncodedWholeAndServerMustBeAHost) {
    FtpJob job;
    job.server = "ftp.example.org";
    job.port = 21;
    job.remotePath = "/somepath/Orvane.html";
    EXPECT_EQ(CFtpEngine::JobUrl(job), "ftp://ftp.example.org:21/%2Fsomepath%2FOrvane.html");
    job.remotePath = "a b#c?d%e@f;type=a";
    EXPECT_EQ(CFtpEngine::JobUrl(job), "ftp://ftp.example.org:21/a%20b%23c%3Fd%25e%40f%3Btype%3Da");
    job.remotePath = "page.html";
    job.server = "10.0.0.7";
    job.port = 0;  // no port: the FTP port
    EXPECT_EQ(CFtpEngine::JobUrl(job), "ftp://10.0.0.7:21/page.html");
    job.port = 65536 + 2121;  // handed over as a 16-bit port number
    EXPECT_EQ(CFtpEngine::JobUrl(job), "ftp://10.0.0.7:2121/page.html");
    job.server = "::1";
    EXPECT_EQ(CFtpEngine::JobUrl(job), "ftp://[::1]:2121/page.html");
    job.server = "[::1]";
    EXPECT_EQ(CFtpEngine::JobUrl(job), "ftp://[::1]:2121/page.html");
    for (const char* bad : {"", "user@evil.example", "host/path", "host:2121", "a b", "host?x", "-x", "h\r\n"}) {
        job.server = bad;
        EXPECT_EQ(CFtpEngine::JobUrl(job), "") << bad;
    }
}

TEST_F(FtpEngineTest, ContentIsStoredByteForByteInBinaryPassiveMode) {
    CFtpEngine engine(prompter);
    fs::create_directories(server.home / "www");
    const std::string bytes = std::string("head\0\r\n\xFF\r\nmid\n\r\xFE", 15) + AllByteValues(70000);
    ASSERT_TRUE(engine.ProcessJob(*server.Job("/www/page.bin", bytes)));
    EXPECT_EQ(ReadFile(server.home / "www" / "page.bin"), bytes);
    EXPECT_TRUE(prompter.Messages().empty());

    const auto cmds = server.Commands();
    ASSERT_GE(cmds.size(), 5u);
    EXPECT_EQ(cmds[0], "USER orvane");
    EXPECT_EQ(cmds[1], "PASS ***");
    auto has = [&](const std::string& c) { return std::find(cmds.begin(), cmds.end(), c) != cmds.end(); };
    EXPECT_TRUE(has("PASV"));
    EXPECT_TRUE(has("TYPE I"));
    EXPECT_TRUE(has("STOR /www/page.bin"));  // the remote name as given, in one command
    for (auto& c : cmds) {
        EXPECT_NE(c.rfind("PORT", 0), 0u) << c;
        EXPECT_NE(c.rfind("EPRT", 0), 0u) << c;
        EXPECT_NE(c.rfind("CWD", 0), 0u) << c;
    }
}

TEST_F(FtpEngineTest, LocalFileIsStoredByteForByteAndLeftInPlace) {
    CFtpEngine engine(prompter);
    const std::string bytes = std::string("\0\r\n\xFF", 4) + AllByteValues(3 * CFtpEngine::kFileBlock + 17);
    const fs::path local = tmp.path / "local page.bin";
    WriteFile(local, bytes);
    ASSERT_TRUE(engine.ProcessJob(*server.Job("copy.bin", local.string(), 1)));
    EXPECT_EQ(ReadFile(server.home / "copy.bin"), bytes);
    EXPECT_EQ(ReadFile(local), bytes);
    EXPECT_TRUE(prompter.Messages().empty());
}

TEST_F(FtpEngineTest, EmptyContentReplacesTheRemoteFileWithAnEmptyOne) {
    CFtpEngine engine(prompter);
    WriteFile(server.home / "page.html", "yesterday's page");
    ASSERT_TRUE(engine.ProcessJob(*server.Job("/page.html", "")));
    EXPECT_EQ(ReadFile(server.home / "page.html"), "");
    EXPECT_TRUE(prompter.Messages().empty());
}

TEST_F(FtpEngineTest, KindsOtherThanOneUploadTheContentItself) {
    CFtpEngine engine(prompter);
    const fs::path local = tmp.path / "exists.txt";
    WriteFile(local, "file bytes");
    // The content names an existing file, to tell "read as bytes" from "read as a path".
    ASSERT_TRUE(engine.ProcessJob(*server.Job("k2.bin", local.string(), 2)));
    ASSERT_TRUE(engine.ProcessJob(*server.Job("kneg.bin", local.string(), -1)));
    EXPECT_EQ(ReadFile(server.home / "k2.bin"), local.string());
    EXPECT_EQ(ReadFile(server.home / "kneg.bin"), local.string());
}

TEST_F(FtpEngineTest, EmptyUserLogsInAsAnonymous) {
    test::TempDir anonRoot{"orvane-ftp"};
    FtpServer anon(anonRoot.path, true);
    ASSERT_GT(anon.port, 0);
    CFtpEngine engine(prompter);
    auto job = anon.Job("anon.txt", "hello");
    job->user.clear();
    job->password.clear();
    ASSERT_TRUE(engine.ProcessJob(*job));
    EXPECT_EQ(ReadFile(anon.home / "anon.txt"), "hello");
    const auto cmds = anon.Commands();
    ASSERT_FALSE(cmds.empty());
    EXPECT_EQ(cmds[0], "USER anonymous");
}

TEST_F(FtpEngineTest, ProxySettingsOfTheEnvironmentAreIgnored) {
    Listener trap;
    const std::string proxy = "http://127.0.0.1:" + std::to_string(trap.port);
    for (const char* v : {"ftp_proxy", "FTP_PROXY", "all_proxy", "ALL_PROXY"}) ::setenv(v, proxy.c_str(), 1);
    CFtpEngine engine(prompter, QuickTimeouts());
    const bool ok = engine.ProcessJob(*server.Job("direct.txt", "direct"));
    for (const char* v : {"ftp_proxy", "FTP_PROXY", "all_proxy", "ALL_PROXY"}) ::unsetenv(v);
    EXPECT_TRUE(ok);
    EXPECT_EQ(ReadFile(server.home / "direct.txt"), "direct");
    EXPECT_FALSE(trap.HasPendingConnection());
}

TEST_F(FtpEngineTest, WorkerCountsTheJobInTransferAndFoldsLaterJobsIntoOneWakeUp) {
    CFtpEngine engine(prompter);
    engine.Start();
    EXPECT_EQ(engine.PendingCount(), 0);

    Gate gate(tmp.path / "gate");
    engine.AddJob(server.Job("first.bin", gate.path.string(), 1));
    // The worker has sent STOR and is reading the local file: the transfer is in progress.
    ASSERT_TRUE(WaitFor([&] { return server.Stores().size() == 1; }));
    EXPECT_EQ(engine.PendingCount(), 1);
    EXPECT_EQ(engine.AddJob(server.Job("second.bin", "two")), 1);
    EXPECT_EQ(engine.AddJob(server.Job("third.bin", "three")), 1);
    EXPECT_EQ(engine.PendingCount(), 3);

    const std::string first = std::string("\0\r\n\xFF", 4) + AllByteValues(10000);
    gate.Release(first);
    ASSERT_TRUE(WaitFor([&] { return engine.PendingCount() == 0; }));
    EXPECT_EQ(server.Stores(), (std::vector<std::string>{"first.bin", "second.bin", "third.bin"}));
    EXPECT_EQ(ReadFile(server.home / "first.bin"), first);
    EXPECT_EQ(ReadFile(server.home / "second.bin"), "two");
    EXPECT_EQ(ReadFile(server.home / "third.bin"), "three");
    EXPECT_EQ(engine.WakeUps(), 1u);
    EXPECT_TRUE(prompter.Messages().empty());

    // Idle again: the next job is a new wake-up.
    engine.AddJob(server.Job("fourth.bin", "four"));
    ASSERT_TRUE(WaitFor([&] { return server.Stores().size() == 4 && engine.PendingCount() == 0; }));
    EXPECT_EQ(engine.WakeUps(), 2u);
}

TEST_F(FtpEngineTest, StopUploadsTheQueuedJobsFirstAndDropsLaterOnes) {
    CFtpEngine engine(prompter);
    engine.Start();
    Gate gate(tmp.path / "gate");
    engine.AddJob(server.Job("a.txt", gate.path.string(), 1));
    ASSERT_TRUE(WaitFor([&] { return server.Stores().size() == 1; }));
    engine.AddJob(server.Job("b.txt", "b"));
    engine.AddJob(server.Job("c.txt", "c"));

    auto stopped = std::async(std::launch::async, [&] { engine.Stop(); });
    EXPECT_EQ(stopped.wait_for(50ms), std::future_status::timeout);  // the transfer is still held
    gate.Release("a");
    ASSERT_EQ(stopped.wait_for(20s), std::future_status::ready);
    EXPECT_EQ(server.Stores(), (std::vector<std::string>{"a.txt", "b.txt", "c.txt"}));
    EXPECT_EQ(ReadFile(server.home / "c.txt"), "c");
    EXPECT_EQ(engine.PendingCount(), 0);

    // The worker has ended: a later job waits, and is deleted without upload by the next Stop.
    EXPECT_EQ(engine.AddJob(server.Job("late.txt", "late")), 1);
    EXPECT_EQ(engine.PendingCount(), 1);
    engine.Stop();
    EXPECT_EQ(engine.PendingCount(), 0);
    EXPECT_EQ(server.Stores().size(), 3u);
    EXPECT_FALSE(fs::exists(server.home / "late.txt"));
}

TEST_F(FtpEngineTest, DestructorDrainsTheQueue) {
    {
        CFtpEngine engine(prompter);
        engine.Start();
        for (int i = 0; i < 5; ++i) engine.AddJob(server.Job("d" + std::to_string(i), std::to_string(i)));
        EXPECT_EQ(engine.AddJob(nullptr), 0);  // refused, not queued
    }
    EXPECT_EQ(server.Stores(), (std::vector<std::string>{"d0", "d1", "d2", "d3", "d4"}));
    EXPECT_EQ(ReadFile(server.home / "d4"), "4");
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
    bool WaitShown(int n) {
        std::unique_lock lk(m_lock);
        return m_cv.wait_for(lk, 10s, [&] { return m_shown >= n; });
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

TEST_F(FtpEngineTest, WorkerWaitsWhileAMessageIsShownAndJobsKeepQueueing) {
    HoldingPrompter holding;
    CFtpEngine engine(holding);
    engine.Start();
    Listener closed;
    closed.Close();
    auto bad = server.Job("never.txt", "x");
    bad->port = closed.port;
    engine.AddJob(std::move(bad));
    ASSERT_TRUE(holding.WaitShown(1));
    engine.AddJob(server.Job("after.txt", "after"));
    EXPECT_EQ(engine.PendingCount(), 2);  // the failed job counts until the message is closed
    EXPECT_TRUE(server.Stores().empty());
    holding.Close();
    ASSERT_TRUE(WaitFor([&] { return engine.PendingCount() == 0; }));
    EXPECT_EQ(ReadFile(server.home / "after.txt"), "after");
    ASSERT_EQ(holding.Messages().size(), 1u);
}

TEST_F(FtpEngineTest, ConnectionFailuresAreShownWithTheConnectionPrefix) {
    CFtpEngine engine(prompter);
    auto wrong = server.Job("w.txt", "w");
    wrong->password = "wrong";
    EXPECT_FALSE(engine.ProcessJob(*wrong));

    Listener closed;
    closed.Close();
    auto refused = server.Job("r.txt", "r");
    refused->port = closed.port;
    EXPECT_FALSE(engine.ProcessJob(*refused));

    const auto msgs = prompter.Messages();
    ASSERT_EQ(msgs.size(), 2u);
    const std::string loginPrefix = server.ConnectPrefix();
    EXPECT_EQ(msgs[0].rfind(loginPrefix, 0), 0u) << msgs[0];
    EXPECT_GT(msgs[0].size(), loginPrefix.size()) << "no error text";
    EXPECT_NE(msgs[0].find("\n530 "), std::string::npos) << "the server's refusal is quoted: " << msgs[0];
    const std::string refusedPrefix = "FTP Engine error with Job on server 127.0.0.1:" + std::to_string(closed.port) + " :\n";
    EXPECT_EQ(msgs[1].rfind(refusedPrefix, 0), 0u) << msgs[1];
    EXPECT_GT(msgs[1].size(), refusedPrefix.size()) << "no error text";
    EXPECT_TRUE(server.Stores().empty());
    EXPECT_FALSE(fs::exists(server.home / "w.txt"));
}

TEST_F(FtpEngineTest, RemoteFileFailuresAreShownWithTheWritingPrefix) {
    CFtpEngine engine(prompter);
    EXPECT_TRUE(engine.ProcessJob(*server.Job("/no such folder/page.html", "x")));  // logged in, then refused
    EXPECT_TRUE(engine.ProcessJob(*server.Job("", "x")));                           // no file name
    const auto msgs = prompter.Messages();
    ASSERT_EQ(msgs.size(), 2u);
    for (auto& m : msgs) {
        EXPECT_EQ(m.rfind(server.WritePrefix(), 0), 0u) << m;
        EXPECT_GT(m.size(), server.WritePrefix().size()) << "no error text";
    }
    EXPECT_NE(msgs[0].find("\n550 "), std::string::npos) << "the server's refusal is quoted: " << msgs[0];
    EXPECT_EQ(server.Stores(), std::vector<std::string>{"/no such folder/page.html"});
}

TEST_F(FtpEngineTest, MissingLocalFileIsReportedAndTheRemoteFileIsLeftAlone) {
    CFtpEngine engine(prompter);
    WriteFile(server.home / "kept.html", "the last good page");
    const std::string missing = (tmp.path / "gone.html").string();
    EXPECT_FALSE(engine.ProcessJob(*server.Job("kept.html", missing, 1)));
    EXPECT_FALSE(engine.ProcessJob(*server.Job("kept.html", tmp.path.string(), 1)));  // a folder is no file
    EXPECT_EQ(prompter.Messages(),
              (std::vector<std::string>{"Unable to open file " + missing + ". FTP Upload canceled.",
                                        "Unable to open file " + tmp.path.string() + ". FTP Upload canceled."}));
    EXPECT_EQ(ReadFile(server.home / "kept.html"), "the last good page");
    EXPECT_TRUE(server.Commands().empty());  // nothing was sent
}

TEST_F(FtpEngineTest, LineBreaksInNamesNeverReachTheServer) {
    CFtpEngine engine(prompter);
    WriteFile(server.home / "victim.txt", "keep");
    EXPECT_FALSE(engine.ProcessJob(*server.Job("x.txt\r\nDELE victim.txt", "x")));
    auto user = server.Job("y.txt", "y");
    user->user = "orvane\r\nDELE victim.txt";
    EXPECT_FALSE(engine.ProcessJob(*user));
    auto pass = server.Job("y.txt", "y");
    pass->password = "s3cret\nDELE victim.txt";
    EXPECT_FALSE(engine.ProcessJob(*pass));
    auto host = server.Job("z.txt", "z");
    host->server = "127.0.0.1/evil";
    EXPECT_FALSE(engine.ProcessJob(*host));

    const auto msgs = prompter.Messages();
    ASSERT_EQ(msgs.size(), 4u);
    EXPECT_EQ(msgs[0].rfind(server.WritePrefix(), 0), 0u) << msgs[0];
    EXPECT_EQ(msgs[1].rfind(server.ConnectPrefix(), 0), 0u) << msgs[1];
    EXPECT_EQ(msgs[2].rfind(server.ConnectPrefix(), 0), 0u) << msgs[2];
    EXPECT_EQ(msgs[3].rfind("FTP Engine error with Job on server 127.0.0.1/evil:" + std::to_string(server.port) + " :\n", 0),
              0u)
        << msgs[3];
    EXPECT_TRUE(server.Commands().empty());
    EXPECT_EQ(ReadFile(server.home / "victim.txt"), "keep");
}

TEST(FtpEngineTimeouts, ServerThatAcceptsButNeverAnswersIsGivenUp) {
    Listener silent;  // the kernel completes the connection; nobody ever greets
    test::RecordingPrompter prompter;
    CFtpEngine engine(prompter, QuickTimeouts());
    engine.Start();
    auto job = std::make_unique<FtpJob>();
    job->server = "127.0.0.1";
    job->port = silent.port;
    job->remotePath = "page.html";
    job->user = "u";
    job->password = "p";
    const auto start = Clock::now();
    engine.AddJob(std::move(job));
    ASSERT_TRUE(WaitFor([&] { return !prompter.Messages().empty(); }, 10s));
    EXPECT_LT(Clock::now() - start, 5s);
    EXPECT_TRUE(WaitFor([&] { return engine.PendingCount() == 0; }, 5s));
    const std::string prefix = "FTP Engine error with Job on server 127.0.0.1:" + std::to_string(silent.port) + " :\n";
    const auto msg = prompter.Messages().at(0);
    EXPECT_EQ(msg.rfind(prefix, 0), 0u) << msg;
    EXPECT_GT(msg.size(), prefix.size());
}

// Answers the login, then never answers the next command.
TEST(FtpEngineTimeouts, ServerThatStopsAnsweringAfterLoginIsGivenUp) {
    Listener listener;
    std::atomic<bool> done{false};
    std::thread peer([&] {
        pollfd p{listener.fd, POLLIN, 0};
        if (::poll(&p, 1, 10000) <= 0) return;
        const int c = ::accept4(listener.fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0) return;
        auto say = [&](const char* s) { (void)!::write(c, s, std::strlen(s)); };
        say("220 hello\r\n");
        std::string in;
        bool stalled = false;
        while (!done) {
            pollfd q{c, POLLIN, 0};
            if (::poll(&q, 1, 50) <= 0) continue;
            char buf[512];
            const ssize_t n = ::read(c, buf, sizeof buf);
            if (n <= 0) break;
            in.append(buf, static_cast<size_t>(n));
            for (size_t eol; (eol = in.find("\r\n")) != std::string::npos; in.erase(0, eol + 2)) {
                const std::string cmd = in.substr(0, eol);
                if (stalled) continue;
                if (cmd.rfind("USER", 0) == 0) say("331 password please\r\n");
                else if (cmd.rfind("PASS", 0) == 0) say("230 logged in\r\n");
                else if (cmd.rfind("PWD", 0) == 0) say("257 \"/\"\r\n");
                else stalled = true;  // silence from here on
            }
        }
        ::close(c);
    });
    test::RecordingPrompter prompter;
    CFtpEngine engine(prompter, QuickTimeouts());
    FtpJob job;
    job.server = "127.0.0.1";
    job.port = listener.port;
    job.remotePath = "page.html";
    job.user = "u";
    job.password = "p";
    const auto start = Clock::now();
    EXPECT_TRUE(engine.ProcessJob(job));
    EXPECT_LT(Clock::now() - start, 5s);
    done = true;
    peer.join();
    const std::string prefix =
        "FTP Engine error with Job on server 127.0.0.1:" + std::to_string(listener.port) + " (writting remote file):\n";
    const auto msgs = prompter.Messages();
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(msgs[0].rfind(prefix, 0), 0u) << msgs[0];
    EXPECT_GT(msgs[0].size(), prefix.size());
}

// A control connection played from a script: the greeting, then one reply per command (nothing for an
// empty reply). Serves one connection, then leaves.
class ScriptedPeer {
public:
    ScriptedPeer(std::string greeting, std::function<std::string(const std::string&)> reply)
        : m_thread([this, greeting = std::move(greeting), reply = std::move(reply)] { Serve(greeting, reply); }) {}
    ~ScriptedPeer() {
        m_done = true;
        m_thread.join();
    }
    int port() const { return m_listener.port; }

private:
    void Serve(const std::string& greeting, const std::function<std::string(const std::string&)>& reply) {
        pollfd p{m_listener.fd, POLLIN, 0};
        if (::poll(&p, 1, 10000) <= 0) return;
        const int c = ::accept4(m_listener.fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0) return;
        auto say = [&](const std::string& s) { (void)!::write(c, s.data(), s.size()); };
        say(greeting);
        std::string in;
        while (!m_done) {
            pollfd q{c, POLLIN, 0};
            if (::poll(&q, 1, 50) <= 0) continue;
            char buf[512];
            const ssize_t n = ::read(c, buf, sizeof buf);
            if (n <= 0) break;
            in.append(buf, static_cast<size_t>(n));
            for (size_t eol; (eol = in.find("\r\n")) != std::string::npos; in.erase(0, eol + 2)) {
                const std::string r = reply(in.substr(0, eol));
                if (!r.empty()) say(r);
            }
        }
        ::close(c);
    }
    Listener m_listener;
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};

// The prefix tells the stage that failed: the login is over once the server accepts USER or PASS with
// any 2xx reply (202 "superfluous" is a valid answer to PASS), and not when they are refused.
TEST(FtpEngineLogin, PrefixFollowsTheServersAnswerToTheLoginCommands) {
    auto job = [](int port) {
        FtpJob j;
        j.server = "127.0.0.1";
        j.port = port;
        j.remotePath = "page.html";
        j.user = "u";
        j.password = "p";
        return j;
    };
    auto prefix = [](int port, bool writing) {
        return "FTP Engine error with Job on server 127.0.0.1:" + std::to_string(port) +
               (writing ? " (writting remote file):\n" : " :\n");
    };
    test::RecordingPrompter prompter;
    CFtpEngine engine(prompter, QuickTimeouts());

    // PASS answered 202, then no passive data connection: the remote file could not be opened.
    {
        ScriptedPeer peer("220 hello\r\n", [](const std::string& cmd) -> std::string {
            if (cmd.rfind("USER", 0) == 0) return "331 password please\r\n";
            if (cmd.rfind("PASS", 0) == 0) return "202 no password needed here\r\n";
            if (cmd.rfind("PWD", 0) == 0) return "257 \"/\"\r\n";
            return "502 not here\r\n";
        });
        EXPECT_TRUE(engine.ProcessJob(job(peer.port())));
        ASSERT_EQ(prompter.Messages().size(), 1u);
        EXPECT_EQ(prompter.Messages()[0].rfind(prefix(peer.port(), true), 0), 0u) << prompter.Messages()[0];
    }
    // USER accepted at once with 232: logged in without a password.
    {
        ScriptedPeer peer("220 hello\r\n", [](const std::string& cmd) -> std::string {
            if (cmd.rfind("USER", 0) == 0) return "232 logged in\r\n";
            if (cmd.rfind("PWD", 0) == 0) return "257 \"/\"\r\n";
            return "502 not here\r\n";
        });
        EXPECT_TRUE(engine.ProcessJob(job(peer.port())));
        ASSERT_EQ(prompter.Messages().size(), 2u);
        EXPECT_EQ(prompter.Messages()[1].rfind(prefix(peer.port(), true), 0), 0u) << prompter.Messages()[1];
    }
    // PASS refused with 530: the connection failed.
    {
        ScriptedPeer peer("220 hello\r\n", [](const std::string& cmd) -> std::string {
            if (cmd.rfind("USER", 0) == 0) return "331 password please\r\n";
            if (cmd.rfind("PASS", 0) == 0) return "530 wrong\r\n";
            return "502 not here\r\n";
        });
        EXPECT_FALSE(engine.ProcessJob(job(peer.port())));
        ASSERT_EQ(prompter.Messages().size(), 3u);
        EXPECT_EQ(prompter.Messages()[2].rfind(prefix(peer.port(), false), 0), 0u) << prompter.Messages()[2];
    }
}

}  // namespace
}  // namespace orv

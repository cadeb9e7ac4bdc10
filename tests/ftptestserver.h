// tests/ftpserver.py for one test: a throw-away FTP server on 127.0.0.1 (pyftpdlib) with one user
// ("orvane", password "s3cret"), its home folder and the log of the commands it received.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#ifndef ORVANE_SOURCE_DIR
#error "ORVANE_SOURCE_DIR must name the source tree (for tests/ftpserver.py)"
#endif

extern char** environ;

namespace orv::test {

class FtpServer {
public:
    static constexpr const char* kUser = "orvane";
    static constexpr const char* kPassword = "s3cret";

    explicit FtpServer(const std::filesystem::path& root, bool anonymous = false)
        : home(root / "home"), log(root / "commands.log") {
        std::filesystem::create_directories(home);
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) return;
        const std::string script = std::string(ORVANE_SOURCE_DIR) + "/tests/ftpserver.py";
        const std::string errFile = (root / "server.err").string();
        std::vector<std::string> args = {"/usr/bin/python3", script,   "--user",      kUser,   "--password",
                                         kPassword,          "--home", home.string(), "--log", log.string(),
                                         "--limit",          "60"};
        if (anonymous) args.push_back("--anonymous");
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, in[0], 0);
        posix_spawn_file_actions_adddup2(&fa, out[1], 1);
        posix_spawn_file_actions_addopen(&fa, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int rc = ::posix_spawn(&m_pid, argv[0], &fa, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&fa);
        ::close(in[0]);
        ::close(out[1]);
        m_stdin = in[1];
        if (rc != 0) {
            m_pid = -1;
            ::close(out[0]);
            return;
        }
        // The port, once it listens; nothing if it fails to start (it leaves by itself within its limit).
        FILE* f = ::fdopen(out[0], "r");
        char line[32] = "";
        port = std::fgets(line, sizeof line, f) ? std::atoi(line) : 0;
        std::fclose(f);
    }
    ~FtpServer() {
        if (m_stdin >= 0) ::close(m_stdin);  // the server leaves when its input closes
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    // The commands the server received, in order.
    std::vector<std::string> Commands() const {
        std::vector<std::string> out;
        std::ifstream in(log);
        for (std::string l; std::getline(in, l);) out.push_back(l);
        return out;
    }
    std::vector<std::string> Stores() const {
        std::vector<std::string> out;
        for (auto& c : Commands())
            if (c.rfind("STOR ", 0) == 0) out.push_back(c.substr(5));
        return out;
    }

    std::filesystem::path home, log;
    int port = 0;

private:
    pid_t m_pid = -1;
    int m_stdin = -1;
};

}  // namespace orv::test

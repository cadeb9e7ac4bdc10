// tests/ftpserver.py for one test: a throw-away FTP server on 127.0.0.1 (pyftpdlib) with one user
// ("orvane", password "s3cret"), its home folder and the log of the commands it received.
#pragma once

#include <signal.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#ifndef ORVANE_SOURCE_DIR
#error "ORVANE_SOURCE_DIR must name the source tree (for tests/ftpserver.py)"
#endif

namespace orv::test {

class FtpServer {
public:
    static constexpr const char* kUser = "orvane";
    static constexpr const char* kPassword = "s3cret";

    // port stays 0 when the server does not start (its errors go to root/server.err).
    // trickle: uploads are taken at 100 bytes a second.
    explicit FtpServer(const std::filesystem::path& root, bool anonymous = false, bool trickle = false)
        : home(root / "home"), log(root / "commands.log") {
        std::filesystem::create_directories(home);
        auto quoted = [](const std::filesystem::path& p) { return " '" + p.string() + "'"; };
        const std::string command = "exec /usr/bin/python3" + quoted(ORVANE_SOURCE_DIR "/tests/ftpserver.py") +
                                    quoted(home) + quoted(log) + " " + kUser + " " + kPassword +
                                    (anonymous ? " anonymous" : "") + (trickle ? " trickle" : "") + " 2>" +
                                    quoted(root / "server.err");
        m_out = ::popen(command.c_str(), "re");  // exec: the server is this process's child
        if (m_out && std::fscanf(m_out, "%d %d", &port, &m_pid) != 2) port = 0;
    }
    ~FtpServer() {
        if (m_pid > 0) ::kill(m_pid, SIGKILL);
        if (m_out) ::pclose(m_out);
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
    std::FILE* m_out = nullptr;
    int m_pid = 0;
};

}  // namespace orv::test

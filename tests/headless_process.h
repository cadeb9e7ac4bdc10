// The real orvane-headless executable as a child process: its standard output read line by line as it
// comes, with deadlines, and its standard error kept.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#ifndef ORVANE_HEADLESS_PATH
#error "ORVANE_HEADLESS_PATH must name the orvane-headless executable"
#endif

namespace orv::headless_test {

using namespace std::chrono_literals;
using ms = std::chrono::milliseconds;

class HeadlessProcess {
public:
    // Started in folder when one is given (the program reads its template from its current folder).
    explicit HeadlessProcess(const std::vector<std::string>& args, const std::string& folder = {}) {
        int out[2], err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return;
        std::vector<std::string> all{ORVANE_HEADLESS_PATH};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        m_pid = ::fork();
        if (m_pid == 0) {
            if (!folder.empty() && ::chdir(folder.c_str()) != 0) ::_exit(126);
            ::dup2(out[1], 1);
            ::dup2(err[1], 2);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        ::close(err[1]);
        m_fd[0] = out[0];
        m_fd[1] = err[0];
    }
    ~HeadlessProcess() {
        if (m_pid > 0 && !m_exitCode) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        for (int fd : m_fd)
            if (fd >= 0) ::close(fd);
    }
    bool Started() const { return m_pid > 0 && m_fd[0] >= 0; }
    pid_t Pid() const { return m_pid; }

    // The next line of standard output, or nothing when none is complete before the limit.
    std::optional<std::string> ReadLine(ms limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        size_t nl;
        while ((nl = m_text[0].find('\n')) == std::string::npos) {
            const auto left = std::chrono::duration_cast<ms>(deadline - std::chrono::steady_clock::now());
            if (m_fd[0] < 0 || left.count() <= 0) return std::nullopt;
            Pump(left);
        }
        lines.push_back(m_text[0].substr(0, nl));
        m_text[0].erase(0, nl + 1);
        return lines.back();
    }
    // Reads lines until an object line (one with a kind) satisfies pred; that line, or nothing.
    std::optional<nlohmann::json> WaitForObject(const std::function<bool(const nlohmann::json&)>& pred, ms limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (auto line = ReadLine(std::chrono::duration_cast<ms>(deadline - std::chrono::steady_clock::now()))) {
            auto j = nlohmann::json::parse(*line);  // throws, failing the test, on anything but one JSON value
            if (j.contains("kind") && pred(j)) return j;
        }
        return std::nullopt;
    }
    // Waits for the process to end, reading everything it writes; its exit code, or nothing.
    std::optional<int> Wait(ms limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!m_exitCode) {
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                break;
            }
            if (std::chrono::steady_clock::now() > deadline) return std::nullopt;
            Pump(20ms);
        }
        while (m_fd[0] >= 0 || m_fd[1] >= 0) Pump(100ms);  // what is left in the pipes
        while (ReadLine(0ms)) continue;
        return m_exitCode;
    }
    void CloseOutput() { CloseFd(0); }  // the program's next write fails
    std::string Err() {
        Pump(0ms);
        return m_text[1];
    }
    std::vector<std::string> lines;  // every standard-output line read so far

private:
    void CloseFd(int i) {
        ::close(m_fd[i]);
        m_fd[i] = -1;
    }
    void Pump(ms limit) {
        pollfd fds[2] = {{m_fd[0], POLLIN, 0}, {m_fd[1], POLLIN, 0}};
        if (::poll(fds, 2, static_cast<int>(limit.count())) <= 0) return;
        for (int i = 0; i < 2; ++i) {
            if (m_fd[i] < 0 || !fds[i].revents) continue;
            char buffer[65536];
            const ssize_t n = ::read(m_fd[i], buffer, sizeof buffer);
            if (n > 0) m_text[i].append(buffer, static_cast<size_t>(n));
            if (n <= 0) CloseFd(i);
        }
    }
    pid_t m_pid = -1;
    int m_fd[2] = {-1, -1};  // standard output and error
    std::string m_text[2];
    std::optional<int> m_exitCode;
};

}  // namespace orv::headless_test

// The real orvane-headless executable as a child process, for the headless front end's tests: its
// standard output is read line by line as it comes, with deadlines, and its standard error is kept.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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
using Json = nlohmann::json;
using SteadyClock = std::chrono::steady_clock;

// orvane-headless started with the given arguments; its output is read as it comes.
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
        m_out = out[0];
        m_err = err[0];
    }
    ~HeadlessProcess() {
        if (m_pid > 0 && !m_exitCode) {
            ::kill(m_pid, SIGKILL);
            int status = 0;
            ::waitpid(m_pid, &status, 0);
        }
        if (m_out >= 0) ::close(m_out);
        if (m_err >= 0) ::close(m_err);
    }

    bool Started() const { return m_pid > 0 && m_out >= 0; }
    pid_t Pid() const { return m_pid; }

    // The next line of standard output, or nothing when none is complete before the limit.
    std::optional<std::string> ReadLine(std::chrono::milliseconds limit) {
        const auto deadline = SteadyClock::now() + limit;
        for (;;) {
            const size_t nl = m_outText.find('\n');
            if (nl != std::string::npos) {
                std::string line = m_outText.substr(0, nl);
                m_outText.erase(0, nl + 1);
                lines.push_back(line);
                return line;
            }
            if (m_outClosed) return std::nullopt;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
            if (left.count() <= 0) return std::nullopt;
            Pump(left);
        }
    }

    // Reads lines until an object line (one with a kind) satisfies pred; that line, or nothing.
    std::optional<Json> WaitForObject(const std::function<bool(const Json&)>& pred, std::chrono::milliseconds limit) {
        const auto deadline = SteadyClock::now() + limit;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
            if (left.count() <= 0) return std::nullopt;
            auto line = ReadLine(left);
            if (!line) return std::nullopt;
            Json j = Json::parse(*line);  // throws, failing the test, on anything but one JSON value
            objectLines += j.contains("kind") ? 1 : 0;
            if (j.contains("kind") && pred(j)) return j;
        }
    }

    // Waits for the process to end (reading everything it writes); its exit code, or nothing.
    std::optional<int> Wait(std::chrono::milliseconds limit) {
        const auto deadline = SteadyClock::now() + limit;
        while (!m_exitCode) {
            int status = 0;
            const pid_t r = ::waitpid(m_pid, &status, WNOHANG);
            if (r == m_pid) {
                m_exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                break;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
            if (left.count() <= 0) return std::nullopt;
            Pump(std::min(left, std::chrono::milliseconds(20)));
        }
        while (!m_outClosed || !m_errClosed) Pump(100ms);  // what is left in the pipes
        while (ReadLine(0ms)) {
        }
        return m_exitCode;
    }

    // Stops reading standard output: the next write fails.
    void CloseOutput() {
        ::close(m_out);
        m_out = -1;
        m_outClosed = true;
    }

    // Standard error so far.
    std::string Err() {
        Pump(0ms);
        return m_errText;
    }

    std::vector<std::string> lines;  // every standard-output line read so far
    int objectLines = 0;

private:
    void Pump(std::chrono::milliseconds limit) {
        pollfd fds[2] = {{m_outClosed ? -1 : m_out, POLLIN, 0}, {m_errClosed ? -1 : m_err, POLLIN, 0}};
        if (m_outClosed && m_errClosed) return;
        if (::poll(fds, 2, static_cast<int>(limit.count())) <= 0) return;
        char buffer[65536];
        if (fds[0].revents) {
            const ssize_t n = ::read(m_out, buffer, sizeof buffer);
            if (n > 0)
                m_outText.append(buffer, static_cast<size_t>(n));
            else
                m_outClosed = true;
        }
        if (fds[1].revents) {
            const ssize_t n = ::read(m_err, buffer, sizeof buffer);
            if (n > 0)
                m_errText.append(buffer, static_cast<size_t>(n));
            else
                m_errClosed = true;
        }
    }

    pid_t m_pid = -1;
    int m_out = -1, m_err = -1;
    bool m_outClosed = false, m_errClosed = false;
    std::string m_outText, m_errText;
    std::optional<int> m_exitCode;
};

}  // namespace orv::headless_test

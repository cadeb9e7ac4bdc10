// The real orvane-headless executable as a child process: its standard output read line by line as it
// comes, with deadlines, each line filed as a tick's document line or an object's line, and its standard
// error kept. WithLayout starts a run from a layout file that the run saves again at its end.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "tests/testutil.h"

#ifndef ORVANE_HEADLESS_PATH
#error "ORVANE_HEADLESS_PATH must name the orvane-headless executable"
#endif

namespace orv::headless_test {

using namespace std::chrono_literals;
using ms = std::chrono::milliseconds;
using Json = nlohmann::json;
using Clock = std::chrono::steady_clock;

class HeadlessProcess {
public:
    // Started in folder when one is given (the program reads its template from its current folder).
    explicit HeadlessProcess(std::vector<std::string> args, const std::string& folder = {}) {
        int out[2], err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return;
        args.insert(args.begin(), ORVANE_HEADLESS_PATH);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
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
    pid_t Pid() const { return m_pid; }

    // The next line of standard output, or nothing when none is complete before the limit. Every line is
    // one JSON value (anything else throws, failing the test): a tick's document line, or one with a kind.
    std::optional<std::string> ReadLine(ms limit) {
        const auto deadline = Clock::now() + limit;
        size_t nl;
        while ((nl = m_text[0].find('\n')) == std::string::npos) {
            const auto left = std::chrono::duration_cast<ms>(deadline - Clock::now());
            if (m_fd[0] < 0 || left.count() <= 0) return std::nullopt;
            Pump(left);
        }
        lines.push_back(m_text[0].substr(0, nl));
        m_text[0].erase(0, nl + 1);
        Json j = Json::parse(lines.back());
        if (j.contains("kind")) {
            objects[j["address"].get<std::string>()].push_back(std::move(j));
        } else {
            ticks.push_back(std::move(j));
            tickAt.push_back(Clock::now());
        }
        return lines.back();
    }
    // Reads lines until cond holds (checked after each) or the limit passes; whether it holds.
    bool Until(const std::function<bool()>& cond, ms limit) {
        const auto deadline = Clock::now() + limit;
        while (!cond())
            if (!ReadLine(std::chrono::duration_cast<ms>(deadline - Clock::now()))) return cond();
        return true;
    }
    // The last line of the object at address ({} before its first), and the state it shows (0 then).
    Json Last(const std::string& address) const {
        return objects.count(address) ? objects.at(address).back() : Json::object();
    }
    int StateOf(const std::string& address) const { return Last(address).value("state", 0); }
    // Waits for the process to end, reading everything it writes; its exit code, or nothing.
    std::optional<int> Wait(ms limit) {
        if (m_pid <= 0) return std::nullopt;  // never started
        const auto deadline = Clock::now() + limit;
        while (!m_exitCode) {
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                break;
            }
            if (Clock::now() > deadline) return std::nullopt;
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
    std::vector<std::string> lines;                    // every standard-output line read so far
    std::vector<Json> ticks;                           // the document line of each tick
    std::vector<Clock::time_point> tickAt;             // when each was read
    std::map<std::string, std::vector<Json>> objects;  // each object's lines, by address

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

// The arguments of a run from a layout: objects (command-line options) saved to folder/in.orv by a run of no
// seconds, then opened by this run, which saves them to folder/out.orv at its end (see ExpectLayoutKept).
inline std::vector<std::string> WithLayout(const std::filesystem::path& folder, std::vector<std::string> objects,
                                           std::vector<std::string> run) {
    objects.insert(objects.end(), {"--seconds", "0", "--save", (folder / "in.orv").string()});
    EXPECT_EQ(HeadlessProcess(objects).Wait(30s), 0) << "saving the layout";
    run.insert(run.end(), {"--open", (folder / "in.orv").string(), "--save", (folder / "out.orv").string()});
    return run;
}
// The layout file came out of the run byte for byte as it went in.
inline void ExpectLayoutKept(const std::filesystem::path& folder) {
    const auto in = test::ReadFile(folder / "in.orv");
    ASSERT_TRUE(in);
    EXPECT_TRUE(test::ReadFile(folder / "out.orv") == in) << "the layout changed";
}

}  // namespace orv::headless_test

#include "base/pollloop.h"

#include <poll.h>

#include <ctime>
#include <vector>

namespace orv {

void CPollLoop::Watch(int fd, std::function<void()> onReadable) {
    Entry& e = m_watched[fd];
    e.callback = std::move(onReadable);
    e.generation = ++m_generation;
}

void CPollLoop::Unwatch(int fd) { m_watched.erase(fd); }

void CPollLoop::WatchWritable(int fd, std::function<void()> onWritable) {
    Entry& e = m_watched[fd];
    if (!e.callback && !e.onWritable) e.generation = ++m_generation;
    e.onWritable = std::move(onWritable);
}

void CPollLoop::UnwatchWritable(int fd) {
    const auto it = m_watched.find(fd);
    if (it == m_watched.end()) return;
    it->second.onWritable = nullptr;
    if (!it->second.callback) m_watched.erase(it);
}

int CPollLoop::RunOnce(std::chrono::milliseconds timeout) {
    std::vector<pollfd> fds;
    std::vector<std::uint64_t> generations;
    fds.reserve(m_watched.size());
    for (auto& [fd, e] : m_watched) {
        const short events = static_cast<short>((e.callback ? POLLIN : 0) | (e.onWritable ? POLLOUT : 0));
        fds.push_back(pollfd{fd, events, 0});
        generations.push_back(e.generation);
    }
    const int n = ::poll(fds.data(), fds.size(), static_cast<int>(timeout.count()));
    if (n <= 0) return 0;
    int ran = 0;
    for (size_t i = 0; i < fds.size(); ++i) {
        const short ready = fds[i].revents;
        // Writable first: a connect that ended is learnt before the first read.
        for (const bool writable : {true, false}) {
            if (writable ? !(ready & (POLLOUT | POLLERR | POLLHUP)) : !(ready & (POLLIN | POLLERR | POLLHUP))) continue;
            // A callback may have unwatched this descriptor, or another object may have reused it.
            const auto it = m_watched.find(fds[i].fd);
            if (it == m_watched.end() || it->second.generation != generations[i]) continue;
            auto callback = writable ? it->second.onWritable : it->second.callback;  // it may unwatch itself
            if (!callback) continue;
            callback();
            ++ran;
        }
    }
    return ran;
}

bool CPollLoop::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return done();
        RunOnce(std::min(left, std::chrono::milliseconds(20)));
    }
    return true;
}

Time CSystemClock::Now() { return static_cast<Time>(std::time(nullptr)); }

std::tm CSystemClock::LocalTime(Time t) {
    const std::time_t tt = static_cast<std::time_t>(t);
    std::tm out{};
    ::localtime_r(&tt, &out);
    return out;
}

}  // namespace orv

// Socket readiness and time without a window system: a poll() loop on the calling thread, and the
// system clock. The headless front end runs on them, and so do tests that need real sockets.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>

#include "base/platform.h"

namespace orv {

class CPollLoop : public ISocketWatcher {
public:
    void Watch(int fd, std::function<void()> onReadable) override;
    void Unwatch(int fd) override;
    void WatchWritable(int fd, std::function<void()> onWritable) override;
    void UnwatchWritable(int fd) override;

    // Waits up to timeout for readable (or watched writable) sockets and runs their callbacks. Returns how many ran.
    int RunOnce(std::chrono::milliseconds timeout);
    // Runs until done() is true or the deadline passes; true when done() became true.
    bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);
    size_t WatchedCount() const { return m_watched.size(); }

private:
    struct Entry {
        std::function<void()> callback;  // readable; may be empty when only writability is watched
        std::function<void()> onWritable;
        std::uint64_t generation;
    };
    std::map<int, Entry> m_watched;
    std::uint64_t m_generation = 0;
};

class CSystemClock : public IClock {
public:
    Time Now() override;
    std::tm LocalTime(Time t) override;
};

}  // namespace orv

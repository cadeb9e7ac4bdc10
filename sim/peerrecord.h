// What a loopback peer was sent: every datagram, in order, exactly as it arrived, and the rcon commands
// it accepted and refused, with waits on a condition and a deadline. Thread-safe; the peer's thread
// records, tests and the simulator read.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace orv::sim {

class CPeerRecord {
public:
    // Records a datagram and wakes the waiters.
    void Record(const std::string& bytes);
    void Accept(const std::string& command);
    void Refuse(const std::string& command);

    std::vector<std::string> Received() const;
    size_t ReceivedCount() const;
    std::vector<std::string> AcceptedCommands() const;
    std::vector<std::string> RefusedCommands() const;
    void Clear();
    // The datagrams received since the last call, in order; forgets them and the command records.
    std::vector<std::string> Take();
    // Waits until pred(received datagrams) holds or the limit passes; true when it held.
    bool WaitFor(const std::function<bool(const std::vector<std::string>&)>& pred, std::chrono::milliseconds limit) const;
    bool WaitForCount(size_t count, std::chrono::milliseconds limit) const;

private:
    mutable std::mutex m_lock;
    mutable std::condition_variable m_changed;
    std::vector<std::string> m_received, m_accepted, m_refused;  // guarded by m_lock
};

}  // namespace orv::sim

// The one queue through which every UDP datagram leaves, paced by a worker in windows of 100 ms
// under a bandwidth budget that counts 30 bytes of overhead per datagram.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "net/udpsocket.h"

namespace orv {

class CArchive;

// What a datagram carries. A poll is a query (or challenge request) that the monitoring cycle sends
// again on its own: it may be merged with an identical one still waiting and dropped once it is stale.
// An action carries what the operator asked for (or a command such as record): it is never dropped or
// merged, and actions leave in the order they were queued, ahead of the polls. A handshake is a poll
// that opens the way for others (a challenge request): it never gives way to fresher polls.
enum class CPacketKind { Action, Poll, Handshake };

struct COutputPacket {
    std::vector<std::uint8_t> data;
    // The socket to send on; none once cancelled.
    CUdpSocket* socket = nullptr;
    CPacketKind kind = CPacketKind::Action;
    std::int64_t queuedAt = 0;  // milliseconds of the queue's clock
};

class COutputSocketControl {
public:
    static constexpr int kOverhead = 30;           // IP and UDP headers, counted per datagram
    static constexpr int kWindowMilliseconds = 100;
    static constexpr std::int32_t kDefaultLimit = 10240;
    // A poll that waited longer than one monitoring cycle is dropped unsent: a fresher one follows.
    static constexpr std::int64_t kPollLifetimeMilliseconds = 6000;
    // Milliseconds of a steady clock; tests may give their own.
    using MillisecondClock = std::function<std::int64_t()>;

    COutputSocketControl();
    ~COutputSocketControl();  // stops the worker, then frees what is left
    COutputSocketControl(const COutputSocketControl&) = delete;
    COutputSocketControl& operator=(const COutputSocketControl&) = delete;

    // Starts the worker. Called once.
    void Start();
    // Asks the worker to leave, waits for it, then clears the queue.
    void Stop();

    // Copies the datagram to the tail of the queue; returns at once. A poll identical to one of the same
    // socket that is still waiting is not queued again. When more polls wait than the limit sends in one
    // cycle, the socket's oldest poll gives way to the newer one (it would go stale before its turn).
    void Queue(const std::uint8_t* data, size_t length, CUdpSocket* socket, CPacketKind kind = CPacketKind::Action);
    // Makes every queued datagram of this socket harmless. When it returns, no datagram is being sent on
    // that socket and none ever will be: the worker sends under the queue lock.
    void CancelSocket(CUdpSocket* socket);
    void Clear();
    int Count() const;

    // Bits per second; the window budget is that divided by 80 (bytes per 100 ms).
    void SetLimit(std::int32_t bitsPerSecond);
    std::int32_t GetLimit() const;
    std::int32_t WindowBudget() const;
    // The bandwidth limit block of a layout file.
    void Serialize(CArchive& ar);

    // One window's work: sends while the budget allows, the actions first in their order, then the polls
    // one socket after the other, so that under overload every object still gets its queries out in
    // turn. Polls older than one cycle are dropped first. A datagram too large for any window is sent
    // alone in an otherwise empty window, so it never blocks the queue.
    // Returns the number of datagrams sent. The worker calls it every 100 ms; tests may call it directly.
    int RunWindow();

    // Figures since construction (DatagramsSent: those the system accepted).
    std::uint64_t WindowsRun() const { return m_windows.load(); }
    std::uint64_t DatagramsSent() const { return m_datagramsSent.load(); }
    // Packets that left outside the queue (the TCP remote console, which has its own flow control): not
    // shaped by the limit, but counted with what was sent.
    void CountSentOutside(std::uint64_t packets) { m_datagramsSent += packets; }
    // Polls dropped because they waited too long, and polls not queued because an identical one waited.
    std::uint64_t PollsDropped() const { return m_pollsDropped.load(); }
    std::uint64_t PollsMerged() const { return m_pollsMerged.load(); }

    void SetClock(MillisecondClock clock);

private:
    struct PollLane {
        CUdpSocket* socket = nullptr;
        std::deque<std::unique_ptr<COutputPacket>> packets;
    };
    void WorkerLoop();
    // What a datagram costs of a window's budget.
    static std::int64_t WireCost(const COutputPacket& p) { return static_cast<std::int64_t>(p.data.size()) + kOverhead; }
    // With the queue lock held.
    void DropStalePolls(std::int64_t now);
    void EraseLane(std::list<PollLane>::iterator lane);

    mutable std::mutex m_queueLock;
    std::deque<std::unique_ptr<COutputPacket>> m_queue;  // actions
    std::list<PollLane> m_lanes;                           // polls by socket; the front lane is served next
    std::unordered_map<CUdpSocket*, std::list<PollLane>::iterator> m_laneOf;
    std::int64_t m_pollBytes = 0;  // wire cost of the waiting polls
    MillisecondClock m_clock;
    mutable std::mutex m_limitLock;
    std::int32_t m_windowBudget = 0;

    std::mutex m_stopLock;
    std::condition_variable m_stopWake;
    bool m_stopRequested = false;
    std::thread m_worker;

    std::atomic<std::uint64_t> m_windows{0};
    std::atomic<std::uint64_t> m_datagramsSent{0};
    std::atomic<std::uint64_t> m_pollsDropped{0};
    std::atomic<std::uint64_t> m_pollsMerged{0};
};

}  // namespace orv

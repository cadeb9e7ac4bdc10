// The one queue through which every UDP datagram leaves, paced by a worker in windows of 100 ms
// under a bandwidth budget that counts 30 bytes of overhead per datagram.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "net/udpsocket.h"

namespace orv {

class CArchive;

// What a datagram carries. A poll is a query (or challenge request) that the monitoring cycle sends
// again on its own: it may be merged with an identical one still waiting and dropped once it is stale.
// A handshake is a poll that opens the way for others (a challenge request): it never gives way to
// fresher polls. An automatic command is one the program sends on its own (automatic record and stop):
// it waits among the polls of its socket, at most one of each purpose (a newer one takes the place of
// the one waiting), and is dropped when stale like a poll. An action carries what the operator asked
// for: it is never dropped or merged, and actions leave in the order they were queued, ahead of the rest.
enum class CPacketKind { Action, Poll, Handshake, Automatic };

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
    // socket that is still waiting is not queued again; an automatic command takes the place of the one
    // of the same purpose still waiting on its socket. When more polls wait than the limit sends in one
    // cycle, the socket with the most waiting polls gives its oldest one up (it would go stale before its
    // turn): whoever filled the backlog pays, not the socket that queues next. Polls of one socket queued
    // one after the other with the same non-zero purpose form a unit (a server's dialect probes): they
    // leave in one turn and are given up together, so that neither is the one lost every time.
    void Queue(const std::uint8_t* data, size_t length, CUdpSocket* socket, CPacketKind kind = CPacketKind::Action,
               std::uint32_t purpose = 0);
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
    static constexpr std::uint32_t kNone = 0xFFFFFFFF;
    // Queries and rcon commands of the cycle fit in the slot itself; a longer datagram spills into the
    // slot's own buffer, which a freed slot keeps. A queue in steady use allocates nothing per datagram.
    static constexpr size_t kInlineBytes = 64;  // a slot of two cache lines
    // A queued datagram in the packet pool.
    struct Packet {
        CUdpSocket* socket = nullptr;  // none once cancelled
        std::int64_t queuedAt = 0;     // milliseconds of the queue's clock
        std::uint32_t length = 0;
        std::uint32_t purpose = 0;   // of an automatic command; a poll's unit
        std::uint32_t next = kNone;  // the next in its list (the actions, a lane, or the free slots)
        std::uint32_t prev = kNone;  // the previous in its lane
        CPacketKind kind = CPacketKind::Action;
        std::uint8_t inlineBytes[kInlineBytes];
        std::vector<std::uint8_t> spill;
        const std::uint8_t* Data() const { return length <= kInlineBytes ? inlineBytes : spill.data(); }
    };
    // The polls, handshakes and automatic commands of one socket, oldest first. A lane stays assigned to
    // its socket while the socket lives (until CancelSocket); it takes part in the turns while it holds
    // something.
    struct Lane {
        CUdpSocket* socket = nullptr;
        std::uint32_t head = kNone, tail = kNone;
        std::uint32_t droppable = 0;  // packets that may give way (every kind but handshakes), a unit once
        std::uint32_t turnPrev = kNone, turnNext = kNone;  // the lanes taking turns
        std::uint32_t rankPrev = kNone, rankNext = kNone;  // the lanes with as many droppable packets
        bool inTurn = false;
    };
    void WorkerLoop();
    std::int64_t NowMilliseconds() const;  // with the queue lock held
    // One more on a figure that only changes under the queue lock: a plain store, no locked increment per
    // datagram; readers without the lock still see a whole value.
    static void CountUnderLock(std::atomic<std::uint64_t>& figure) {
        figure.store(figure.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    }
    static std::int64_t WireCost(const Packet& p) { return static_cast<std::int64_t>(p.length) + kOverhead; }
    // With the queue lock held.
    std::uint32_t NewSlot(const std::uint8_t* data, size_t length, CUdpSocket* socket, CPacketKind kind,
                          std::uint32_t purpose, std::int64_t now);
    void FreeSlot(std::uint32_t slot);
    // Two packets, a before b in one lane, that belong to one unit of polls.
    bool SameUnit(std::uint32_t a, std::uint32_t b) const;
    static size_t LaneHome(const CUdpSocket* socket, size_t mask);
    std::uint32_t LaneOf(CUdpSocket* socket, bool create);
    void ForgetLane(CUdpSocket* socket);
    void Append(std::uint32_t lane, std::uint32_t slot);
    void Unlink(std::uint32_t lane, std::uint32_t slot);  // and frees the slot
    // Moves the lane to the bucket of its new number of droppable packets.
    void Rerank(std::uint32_t lane, std::uint32_t droppable);
    void TurnRemove(std::uint32_t lane);
    void TurnAppend(std::uint32_t lane);
    void GiveWay();
    void DropStalePolls(std::int64_t now);
    void ClearLane(std::uint32_t lane);

    mutable std::mutex m_queueLock;
    std::vector<Packet> m_packets;  // the pool
    std::uint32_t m_freeSlot = kNone;
    std::uint32_t m_actionHead = kNone, m_actionTail = kNone;
    size_t m_actions = 0, m_laneWaiting = 0;
    std::vector<Lane> m_lanes;
    std::vector<std::uint32_t> m_freeLanes;
    std::uint32_t m_turnHead = kNone, m_turnTail = kNone;  // the head lane is served next
    // Lanes by their number of droppable packets (index), and the highest number with a lane.
    std::vector<std::uint32_t> m_rank;
    size_t m_topRank = 0;
    // Socket to lane: open addressing with linear probing, a power of two in size.
    std::vector<std::pair<CUdpSocket*, std::uint32_t>> m_laneTable;
    size_t m_laneTableUsed = 0;
    std::int64_t m_pollBytes = 0;  // wire cost of what waits in the lanes
    MillisecondClock m_clock;  // none: the coarse monotonic clock
    std::atomic<std::int32_t> m_windowBudget{0};

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

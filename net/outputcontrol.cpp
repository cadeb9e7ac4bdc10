#include "net/outputcontrol.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>

#include "base/archive.h"

namespace orv {

namespace {
// A coarse monotonic clock: a few milliseconds of resolution against a lifetime of seconds, and it costs a
// fraction of a precise read on every queued datagram.
std::int64_t CoarseMilliseconds() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}
}  // namespace

COutputSocketControl::COutputSocketControl() { SetLimit(kDefaultLimit); }

COutputSocketControl::~COutputSocketControl() { Stop(); }

void COutputSocketControl::Start() {
    if (m_worker.joinable()) return;
    {
        std::lock_guard lk(m_stopLock);
        m_stopRequested = false;
    }
    m_worker = std::thread([this] { WorkerLoop(); });
}

void COutputSocketControl::Stop() {
    if (m_worker.joinable()) {
        {
            std::lock_guard lk(m_stopLock);
            m_stopRequested = true;
        }
        m_stopWake.notify_all();
        m_worker.join();
    }
    Clear();
}

void COutputSocketControl::WorkerLoop() {
    std::unique_lock lk(m_stopLock);
    while (true) {
        if (m_stopWake.wait_for(lk, std::chrono::milliseconds(kWindowMilliseconds), [this] { return m_stopRequested; }))
            break;
        lk.unlock();
        RunWindow();
        lk.lock();
    }
}

int COutputSocketControl::RunWindow() {
    const std::int32_t budget = WindowBudget();
    std::int64_t sent = 0;
    int count = 0;
    ++m_windows;
    std::lock_guard lk(m_queueLock);
    DropStalePolls(NowMilliseconds());
    while (true) {
        while (m_actionHead != kNone && m_packets[m_actionHead].socket == nullptr) {  // cancelled
            const std::uint32_t next = m_packets[m_actionHead].next;
            FreeSlot(m_actionHead);
            m_actionHead = next;
            --m_actions;
        }
        if (m_actionHead == kNone) m_actionTail = kNone;
        const bool action = m_actionHead != kNone;
        if (!action && m_turnHead == kNone) break;
        const std::uint32_t lane = m_turnHead;
        const std::uint32_t slot = action ? m_actionHead : m_lanes[lane].head;
        Packet& head = m_packets[slot];
        const std::int64_t cost = WireCost(head);
        // The datagram waits for the next window, unless it could never fit in one and this window is empty.
        if (cost + sent >= budget && !(sent == 0 && cost >= budget)) break;
        // Sent under the queue lock: once CancelSocket has returned, the socket is never used again.
        // A datagram the system refused still spends the window; only accepted ones count as sent.
        if (head.socket->Send(head.Data(), head.length) >= 0) ++m_datagramsSent;
        sent += cost;
        ++count;
        if (action) {
            m_actionHead = head.next;
            if (m_actionHead == kNone) m_actionTail = kNone;
            --m_actions;
            FreeSlot(slot);
        } else {
            // This socket had its turn: the next one goes first, unless the rest of a unit follows.
            const std::uint32_t next = head.next;
            const bool unit = next != kNone && SameUnit(slot, next);
            Unlink(lane, slot);
            if (m_lanes[lane].inTurn && !unit) {
                TurnRemove(lane);
                TurnAppend(lane);
            }
        }
        if (cost >= budget) break;  // an oversized datagram has the window to itself
    }
    return count;
}

std::uint32_t COutputSocketControl::NewSlot(const std::uint8_t* data, size_t length, CUdpSocket* socket,
                                            CPacketKind kind, std::uint32_t purpose, std::int64_t now) {
    std::uint32_t slot = m_freeSlot;
    if (slot == kNone) {
        slot = static_cast<std::uint32_t>(m_packets.size());
        m_packets.emplace_back();
    } else {
        m_freeSlot = m_packets[slot].next;
    }
    Packet& p = m_packets[slot];
    p.length = static_cast<std::uint32_t>(length);
    if (length <= kInlineBytes) {
        if (length > 0) std::memcpy(p.inlineBytes, data, length);
    } else {
        p.spill.assign(data, data + length);  // the slot keeps the buffer: no allocation once it is large enough
    }
    p.socket = socket;
    p.kind = kind;
    p.purpose = purpose;
    p.queuedAt = now;
    p.next = p.prev = kNone;
    return slot;
}

bool COutputSocketControl::SameUnit(std::uint32_t a, std::uint32_t b) const {
    const Packet& p = m_packets[a];
    const Packet& q = m_packets[b];
    return p.purpose != 0 && p.kind == CPacketKind::Poll && q.purpose == p.purpose && q.kind == CPacketKind::Poll &&
           p.queuedAt == q.queuedAt;
}

void COutputSocketControl::FreeSlot(std::uint32_t slot) {
    m_packets[slot].next = m_freeSlot;
    m_freeSlot = slot;
}

// Where a socket's entry would be in the lane table of size mask + 1 (a power of two).
size_t COutputSocketControl::LaneHome(const CUdpSocket* socket, size_t mask) {
    const auto v = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(socket));
    return static_cast<size_t>((v * 0x9E3779B97F4A7C15ull) >> 32) & mask;
}

std::uint32_t COutputSocketControl::LaneOf(CUdpSocket* socket, bool create) {
    // The socket remembers its lane in this queue; the table stays the authority.
    const CUdpSocket::QueueLane cached = socket->queueLane;
    if (cached.queue == this && cached.lane < m_lanes.size() && m_lanes[cached.lane].socket == socket) return cached.lane;
    if (!m_laneTable.empty()) {
        const size_t mask = m_laneTable.size() - 1;
        for (size_t i = LaneHome(socket, mask);; i = (i + 1) & mask) {
            if (m_laneTable[i].first == socket) {
                socket->queueLane = {this, m_laneTable[i].second};
                return m_laneTable[i].second;
            }
            if (m_laneTable[i].first == nullptr) break;
        }
    }
    if (!create) return kNone;
    if ((m_laneTableUsed + 1) * 2 > m_laneTable.size()) {  // at most half full
        std::vector<std::pair<CUdpSocket*, std::uint32_t>> old(std::max<size_t>(64, m_laneTable.size() * 2));
        old.swap(m_laneTable);
        const size_t mask = m_laneTable.size() - 1;
        for (const auto& e : old) {
            if (!e.first) continue;
            size_t i = LaneHome(e.first, mask);
            while (m_laneTable[i].first) i = (i + 1) & mask;
            m_laneTable[i] = e;
        }
    }
    std::uint32_t lane;
    if (m_freeLanes.empty()) {
        lane = static_cast<std::uint32_t>(m_lanes.size());
        m_lanes.emplace_back();
    } else {
        lane = m_freeLanes.back();
        m_freeLanes.pop_back();
        m_lanes[lane] = Lane{};
    }
    m_lanes[lane].socket = socket;
    const size_t mask = m_laneTable.size() - 1;
    size_t i = LaneHome(socket, mask);
    while (m_laneTable[i].first) i = (i + 1) & mask;
    m_laneTable[i] = {socket, lane};
    ++m_laneTableUsed;
    socket->queueLane = {this, lane};
    return lane;
}

void COutputSocketControl::ForgetLane(CUdpSocket* socket) {
    if (m_laneTable.empty()) return;
    const size_t mask = m_laneTable.size() - 1;
    size_t i = LaneHome(socket, mask);
    while (m_laneTable[i].first != socket) {
        if (!m_laneTable[i].first) return;
        i = (i + 1) & mask;
    }
    const std::uint32_t lane = m_laneTable[i].second;
    ClearLane(lane);
    m_lanes[lane].socket = nullptr;
    m_freeLanes.push_back(lane);
    // Backward-shift deletion keeps every other entry reachable from its home.
    m_laneTable[i] = {nullptr, kNone};
    --m_laneTableUsed;
    for (size_t j = (i + 1) & mask; m_laneTable[j].first; j = (j + 1) & mask) {
        const size_t h = LaneHome(m_laneTable[j].first, mask);
        // The entry at j may move to the hole at i when its home is not in (i, j].
        if (((j - h) & mask) >= ((j - i) & mask)) {
            m_laneTable[i] = m_laneTable[j];
            m_laneTable[j] = {nullptr, kNone};
            i = j;
        }
    }
}

inline void COutputSocketControl::Rerank(std::uint32_t lane, std::uint32_t droppable) {
    Lane& l = m_lanes[lane];
    if (l.droppable != 0) {  // out of its bucket
        if (l.rankPrev != kNone) m_lanes[l.rankPrev].rankNext = l.rankNext;
        else m_rank[l.droppable] = l.rankNext;
        if (l.rankNext != kNone) m_lanes[l.rankNext].rankPrev = l.rankPrev;
        l.rankPrev = l.rankNext = kNone;
    }
    l.droppable = droppable;
    if (droppable == 0) return;
    if (m_rank.size() <= droppable) m_rank.resize(droppable + 1, kNone);
    l.rankNext = m_rank[droppable];  // at the head of its new bucket
    if (l.rankNext != kNone) m_lanes[l.rankNext].rankPrev = lane;
    m_rank[droppable] = lane;
    if (droppable > m_topRank) m_topRank = droppable;
}

void COutputSocketControl::TurnRemove(std::uint32_t lane) {
    Lane& l = m_lanes[lane];
    if (!l.inTurn) return;
    if (l.turnPrev != kNone) m_lanes[l.turnPrev].turnNext = l.turnNext;
    else m_turnHead = l.turnNext;
    if (l.turnNext != kNone) m_lanes[l.turnNext].turnPrev = l.turnPrev;
    else m_turnTail = l.turnPrev;
    l.turnPrev = l.turnNext = kNone;
    l.inTurn = false;
}

void COutputSocketControl::TurnAppend(std::uint32_t lane) {
    Lane& l = m_lanes[lane];
    l.inTurn = true;
    l.turnPrev = m_turnTail;
    l.turnNext = kNone;
    if (m_turnTail != kNone) m_lanes[m_turnTail].turnNext = lane;
    else m_turnHead = lane;
    m_turnTail = lane;
}

void COutputSocketControl::Append(std::uint32_t lane, std::uint32_t slot) {
    Lane& l = m_lanes[lane];
    Packet& p = m_packets[slot];
    p.prev = l.tail;
    p.next = kNone;
    if (l.tail != kNone) m_packets[l.tail].next = slot;
    else l.head = slot;
    l.tail = slot;
    ++m_laneWaiting;
    m_pollBytes += WireCost(p);
    // A unit counts once: the socket that gives way is the one with the most queries waiting.
    // (A packet without a purpose is in no unit: its neighbours are not even looked at.)
    if (p.kind != CPacketKind::Handshake && !(p.purpose != 0 && p.prev != kNone && SameUnit(p.prev, slot))) {
        Rerank(lane, l.droppable + 1);
    }
    if (!l.inTurn) TurnAppend(lane);
}

void COutputSocketControl::Unlink(std::uint32_t lane, std::uint32_t slot) {
    Lane& l = m_lanes[lane];
    Packet& p = m_packets[slot];
    // The first of a unit hands its count on to the next one of the unit.
    const bool counted = p.kind != CPacketKind::Handshake &&
                         !(p.purpose != 0 && ((p.prev != kNone && SameUnit(p.prev, slot)) ||
                                              (p.next != kNone && SameUnit(slot, p.next))));
    if (p.prev != kNone) m_packets[p.prev].next = p.next;
    else l.head = p.next;
    if (p.next != kNone) m_packets[p.next].prev = p.prev;
    else l.tail = p.prev;
    --m_laneWaiting;
    m_pollBytes -= WireCost(p);
    if (counted && l.droppable > 0) {
        Rerank(lane, l.droppable - 1);
    }
    FreeSlot(slot);
    if (l.head == kNone) TurnRemove(lane);  // it takes part in the turns again once it holds something
}

void COutputSocketControl::ClearLane(std::uint32_t lane) {
    while (m_lanes[lane].head != kNone) Unlink(lane, m_lanes[lane].head);
}

void COutputSocketControl::GiveWay() {
    while (m_topRank > 0 && (m_topRank >= m_rank.size() || m_rank[m_topRank] == kNone)) --m_topRank;
    if (m_topRank == 0) return;
    const std::uint32_t lane = m_rank[m_topRank];
    std::uint32_t oldest = m_lanes[lane].head;
    while (oldest != kNone && m_packets[oldest].kind == CPacketKind::Handshake) oldest = m_packets[oldest].next;
    if (oldest == kNone) return;
    // Its oldest poll, with the rest of its unit.
    std::uint32_t first = oldest;
    while (m_packets[first].prev != kNone && SameUnit(m_packets[first].prev, first)) first = m_packets[first].prev;
    for (std::uint32_t slot = first;;) {
        const std::uint32_t next = m_packets[slot].next;
        const bool more = next != kNone && SameUnit(slot, next);
        Unlink(lane, slot);
        CountUnderLock(m_pollsDropped);
        if (!more) break;
        slot = next;
    }
}

void COutputSocketControl::DropStalePolls(std::int64_t now) {
    for (std::uint32_t lane = m_turnHead; lane != kNone;) {
        const std::uint32_t nextLane = m_lanes[lane].turnNext;
        for (std::uint32_t slot = m_lanes[lane].head; slot != kNone;) {
            const std::uint32_t next = m_packets[slot].next;
            if (now - m_packets[slot].queuedAt > kPollLifetimeMilliseconds) {
                Unlink(lane, slot);
                CountUnderLock(m_pollsDropped);
            }
            slot = next;
        }
        lane = nextLane;
    }
}

void COutputSocketControl::Queue(const std::uint8_t* data, size_t length, CUdpSocket* socket, CPacketKind kind,
                                 std::uint32_t purpose) {
    if (!socket) kind = CPacketKind::Action;
    // What the limit sends in one cycle.
    const std::int64_t backlog = static_cast<std::int64_t>(WindowBudget()) * (kPollLifetimeMilliseconds / kWindowMilliseconds);
    std::lock_guard lk(m_queueLock);
    const std::int64_t now = NowMilliseconds();
    if (kind == CPacketKind::Action) {
        const std::uint32_t slot = NewSlot(data, length, socket, kind, purpose, now);
        if (m_actionTail != kNone) m_packets[m_actionTail].next = slot;
        else m_actionHead = slot;
        m_actionTail = slot;
        ++m_actions;
        return;
    }
    const std::uint32_t lane = LaneOf(socket, true);
    for (std::uint32_t slot = m_lanes[lane].head; slot != kNone; slot = m_packets[slot].next) {
        const Packet& waiting = m_packets[slot];
        if (kind == CPacketKind::Automatic) {
            if (waiting.kind != CPacketKind::Automatic || waiting.purpose != purpose) continue;
            Unlink(lane, slot);  // the newer command takes its place, at the tail
            CountUnderLock(m_pollsMerged);
            break;
        }
        if (waiting.length == length && (length == 0 || std::memcmp(waiting.Data(), data, length) == 0)) {
            CountUnderLock(m_pollsMerged);
            return;
        }
    }
    // More waiting than the limit sends in a cycle would go stale anyway: the socket with the most waiting
    // polls gives its oldest one up for this fresher one.
    if (m_pollBytes + static_cast<std::int64_t>(length) + kOverhead > backlog) GiveWay();
    Append(lane, NewSlot(data, length, socket, kind, purpose, now));
}

void COutputSocketControl::CancelSocket(CUdpSocket* socket) {
    std::lock_guard lk(m_queueLock);
    for (std::uint32_t slot = m_actionHead; slot != kNone; slot = m_packets[slot].next)
        if (m_packets[slot].socket == socket) m_packets[slot].socket = nullptr;
    ForgetLane(socket);
}

void COutputSocketControl::Clear() {
    std::lock_guard lk(m_queueLock);
    // The pool, the lanes and their sockets stay: only what waits is forgotten.
    for (std::uint32_t lane = m_turnHead; lane != kNone;) {
        Lane& l = m_lanes[lane];
        const std::uint32_t next = l.turnNext;
        l.head = l.tail = kNone;
        l.droppable = 0;
        l.inTurn = false;
        l.turnPrev = l.turnNext = l.rankPrev = l.rankNext = kNone;
        lane = next;
    }
    m_turnHead = m_turnTail = kNone;
    std::fill(m_rank.begin(), m_rank.end(), kNone);
    m_topRank = 0;
    m_freeSlot = kNone;
    for (std::uint32_t slot = static_cast<std::uint32_t>(m_packets.size()); slot-- > 0;) FreeSlot(slot);
    m_actionHead = m_actionTail = kNone;
    m_actions = m_laneWaiting = 0;
    m_pollBytes = 0;
}

int COutputSocketControl::Count() const {
    std::lock_guard lk(m_queueLock);
    return static_cast<int>(m_actions + m_laneWaiting);
}

std::int64_t COutputSocketControl::NowMilliseconds() const { return m_clock ? m_clock() : CoarseMilliseconds(); }

void COutputSocketControl::SetClock(MillisecondClock clock) {
    std::lock_guard lk(m_queueLock);
    m_clock = std::move(clock);
}

void COutputSocketControl::SetLimit(std::int32_t bitsPerSecond) {
    m_windowBudget = static_cast<std::int32_t>(static_cast<double>(bitsPerSecond) * 0.0125);
}

std::int32_t COutputSocketControl::GetLimit() const {
    return static_cast<std::int32_t>(static_cast<double>(m_windowBudget.load()) * 80.0);
}

std::int32_t COutputSocketControl::WindowBudget() const {
    return m_windowBudget.load(std::memory_order_relaxed);
}

void COutputSocketControl::Serialize(CArchive& ar) {
    std::int32_t limit = GetLimit();
    ar.Int32(limit);
    if (ar.IsLoading() && !ar.Failed()) SetLimit(limit);
}

}  // namespace orv

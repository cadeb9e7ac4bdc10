#include "net/outputcontrol.h"

#include <algorithm>
#include <chrono>

#include "base/archive.h"

namespace orv {

COutputSocketControl::COutputSocketControl()
    : m_clock([] {
          return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
              .count();
      }) {
    SetLimit(kDefaultLimit);
}

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
    DropStalePolls(m_clock());
    while (true) {
        while (!m_queue.empty() && m_queue.front()->socket == nullptr) m_queue.pop_front();  // cancelled
        COutputPacket* head = nullptr;
        if (!m_queue.empty()) head = m_queue.front().get();
        else if (!m_lanes.empty()) head = m_lanes.front().packets.front().get();
        if (!head) break;
        const std::int64_t cost = WireCost(*head);
        // The datagram waits for the next window, unless it could never fit in one and this window is empty.
        if (cost + sent >= budget && !(sent == 0 && cost >= budget)) break;
        // Sent under the queue lock: once CancelSocket has returned, the socket is never used again.
        // A datagram the system refused still spends the window; only accepted ones count as sent.
        if (head->socket->Send(head->data.data(), head->data.size()) >= 0) ++m_datagramsSent;
        sent += cost;
        ++count;
        if (head->kind == CPacketKind::Action) {  // polls and handshakes wait in their socket's lane
            m_queue.pop_front();
        } else {
            // This socket had its turn: the next one goes first.
            auto lane = m_lanes.begin();
            lane->packets.pop_front();
            m_pollBytes -= cost;
            if (lane->packets.empty()) EraseLane(lane);
            else m_lanes.splice(m_lanes.end(), m_lanes, lane);
        }
        if (cost >= budget) break;  // an oversized datagram has the window to itself
    }
    return count;
}

void COutputSocketControl::DropStalePolls(std::int64_t now) {
    for (auto lane = m_lanes.begin(); lane != m_lanes.end();) {
        auto& packets = lane->packets;
        const size_t before = packets.size();
        std::erase_if(packets, [&](const auto& p) {
            if (now - p->queuedAt <= kPollLifetimeMilliseconds) return false;
            m_pollBytes -= WireCost(*p);
            return true;
        });
        m_pollsDropped += before - packets.size();
        auto next = std::next(lane);
        if (packets.empty()) EraseLane(lane);
        lane = next;
    }
}

void COutputSocketControl::EraseLane(std::list<PollLane>::iterator lane) {
    for (const auto& p : lane->packets) m_pollBytes -= WireCost(*p);
    m_laneOf.erase(lane->socket);
    m_lanes.erase(lane);
}

void COutputSocketControl::Queue(const std::uint8_t* data, size_t length, CUdpSocket* socket, CPacketKind kind) {
    auto packet = std::make_unique<COutputPacket>();
    packet->data.assign(data, data + length);
    packet->socket = socket;
    packet->kind = socket ? kind : CPacketKind::Action;
    // What the limit sends in one cycle; read before the queue lock, which never waits for the limit lock.
    const std::int64_t backlog = static_cast<std::int64_t>(WindowBudget()) * (kPollLifetimeMilliseconds / kWindowMilliseconds);
    std::lock_guard lk(m_queueLock);
    packet->queuedAt = m_clock();
    if (packet->kind == CPacketKind::Action) {
        m_queue.push_back(std::move(packet));
        return;
    }
    auto found = m_laneOf.find(socket);
    if (found == m_laneOf.end()) {
        m_lanes.push_back(PollLane{socket, {}});
        found = m_laneOf.emplace(socket, std::prev(m_lanes.end())).first;
    }
    auto& packets = found->second->packets;
    for (const auto& waiting : packets) {
        if (waiting->data == packet->data) {
            ++m_pollsMerged;
            return;
        }
    }
    // More waiting than the limit sends in a cycle would go stale anyway: the socket's oldest poll makes
    // room for this fresher one. A socket with nothing waiting always gets its poll in.
    const std::int64_t cost = WireCost(*packet);
    if (m_pollBytes + cost > backlog) {
        const auto oldest = std::find_if(packets.begin(), packets.end(),
                                         [](const auto& p) { return p->kind != CPacketKind::Handshake; });
        if (oldest != packets.end()) {
            m_pollBytes -= WireCost(**oldest);
            packets.erase(oldest);
            ++m_pollsDropped;
        }
    }
    m_pollBytes += cost;
    packets.push_back(std::move(packet));
}

void COutputSocketControl::CancelSocket(CUdpSocket* socket) {
    std::lock_guard lk(m_queueLock);
    for (auto& p : m_queue)
        if (p->socket == socket) p->socket = nullptr;
    if (auto found = m_laneOf.find(socket); found != m_laneOf.end()) EraseLane(found->second);
}

void COutputSocketControl::Clear() {
    std::lock_guard lk(m_queueLock);
    m_queue.clear();
    m_lanes.clear();
    m_laneOf.clear();
    m_pollBytes = 0;
}

int COutputSocketControl::Count() const {
    std::lock_guard lk(m_queueLock);
    size_t count = m_queue.size();
    for (const auto& lane : m_lanes) count += lane.packets.size();
    return static_cast<int>(count);
}

void COutputSocketControl::SetClock(MillisecondClock clock) {
    std::lock_guard lk(m_queueLock);
    m_clock = std::move(clock);
}

void COutputSocketControl::SetLimit(std::int32_t bitsPerSecond) {
    std::lock_guard lk(m_limitLock);
    m_windowBudget = static_cast<std::int32_t>(static_cast<double>(bitsPerSecond) * 0.0125);
}

std::int32_t COutputSocketControl::GetLimit() const {
    std::lock_guard lk(m_limitLock);
    return static_cast<std::int32_t>(static_cast<double>(m_windowBudget) * 80.0);
}

std::int32_t COutputSocketControl::WindowBudget() const {
    std::lock_guard lk(m_limitLock);
    return m_windowBudget;
}

void COutputSocketControl::Serialize(CArchive& ar) {
    std::int32_t limit = GetLimit();
    ar.Int32(limit);
    if (ar.IsLoading() && !ar.Failed()) SetLimit(limit);
}

}  // namespace orv

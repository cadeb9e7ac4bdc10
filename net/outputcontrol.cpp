#include "net/outputcontrol.h"

#include <chrono>

#include "base/archive.h"

namespace orv {

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
    while (true) {
        std::lock_guard lk(m_queueLock);
        if (m_queue.empty()) break;
        COutputPacket& head = *m_queue.front();
        if (head.socket == nullptr) {
            m_queue.pop_front();
            continue;
        }
        const std::int64_t cost = static_cast<std::int64_t>(head.data.size()) + kOverhead;
        // The datagram waits for the next window, unless it could never fit in one and this window is empty.
        if (cost + sent >= budget && !(sent == 0 && cost >= budget)) break;
        head.socket->Send(head.data.data(), head.data.size());
        sent += cost;
        ++count;
        ++m_datagramsSent;
        m_queue.pop_front();
        if (cost >= budget) break;  // an oversized datagram has the window to itself
    }
    return count;
}

void COutputSocketControl::Queue(const std::uint8_t* data, size_t length, CUdpSocket* socket) {
    auto packet = std::make_unique<COutputPacket>();
    packet->data.assign(data, data + length);
    packet->socket = socket;
    std::lock_guard lk(m_queueLock);
    m_queue.push_back(std::move(packet));
}

void COutputSocketControl::CancelSocket(CUdpSocket* socket) {
    std::lock_guard lk(m_queueLock);
    for (auto& p : m_queue)
        if (p->socket == socket) p->socket = nullptr;
}

void COutputSocketControl::Clear() {
    std::lock_guard lk(m_queueLock);
    m_queue.clear();
}

int COutputSocketControl::Count() const {
    std::lock_guard lk(m_queueLock);
    return static_cast<int>(m_queue.size());
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

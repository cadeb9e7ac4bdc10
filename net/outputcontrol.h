// The one queue through which every UDP datagram leaves, paced by a worker in windows of 100 ms
// under a bandwidth budget that counts 30 bytes of overhead per datagram.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "net/udpsocket.h"

namespace orv {

class CArchive;

struct COutputPacket {
    std::vector<std::uint8_t> data;
    // The socket to send on; none once cancelled.
    CUdpSocket* socket = nullptr;
};

class COutputSocketControl {
public:
    static constexpr int kOverhead = 30;           // IP and UDP headers, counted per datagram
    static constexpr int kWindowMilliseconds = 100;
    static constexpr std::int32_t kDefaultLimit = 10240;

    COutputSocketControl();
    ~COutputSocketControl();  // stops the worker, then frees what is left
    COutputSocketControl(const COutputSocketControl&) = delete;
    COutputSocketControl& operator=(const COutputSocketControl&) = delete;

    // Starts the worker. Called once.
    void Start();
    // Asks the worker to leave, waits for it, then clears the queue.
    void Stop();

    // Copies the datagram to the tail of the queue; returns at once.
    void Queue(const std::uint8_t* data, size_t length, CUdpSocket* socket);
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

    // One window's work: sends from the head while the budget allows. A datagram too large for any
    // window is sent alone in an otherwise empty window, so it never blocks the queue.
    // Returns the number of datagrams sent. The worker calls it every 100 ms; tests may call it directly.
    int RunWindow();

    // Figures since construction.
    std::uint64_t WindowsRun() const { return m_windows.load(); }
    std::uint64_t DatagramsSent() const { return m_datagramsSent.load(); }

private:
    void WorkerLoop();

    mutable std::mutex m_queueLock;
    std::deque<std::unique_ptr<COutputPacket>> m_queue;
    mutable std::mutex m_limitLock;
    std::int32_t m_windowBudget = 0;

    std::mutex m_stopLock;
    std::condition_variable m_stopWake;
    bool m_stopRequested = false;
    std::thread m_worker;

    std::atomic<std::uint64_t> m_windows{0};
    std::atomic<std::uint64_t> m_datagramsSent{0};
};

}  // namespace orv

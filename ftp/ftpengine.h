// The background FTP uploader: a queue of upload jobs served one after the other by one worker thread,
// so that the window and the monitoring tick never wait for a transfer. Failures are shown through the
// prompter, from the worker thread, which waits until the message has been closed.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "base/platform.h"

namespace orv {

// One upload. Created by the client, handed to the engine by AddJob, deleted by the engine.
struct FtpJob {
    std::string server;          // host name or address
    std::int32_t port = 21;      // used as a 16-bit port number; 0 means 21
    std::string content;         // kind 0: the bytes to store; kind 1: path of a local file
    std::string remotePath;      // remote file name, as the server expects it (e.g. "/www/page.html")
    std::string user;            // empty: anonymous login
    std::string password;
    std::int32_t kind = 0;       // 1: upload the local file named by content; anything else: content itself
};

// How long a transfer may hang before it is given up. The worker serves one job at a time, so a server
// that stops answering must not hold the queue for ever.
struct FtpTimeouts {
    // TCP connection, server greeting and login, together.
    long connectMilliseconds = 20000;
    // Each later control reply (the answers to PASV, TYPE, STOR and the final transfer report).
    long responseSeconds = 30;
    // Data connection: given up when fewer than lowSpeedBytes per second go through for lowSpeedSeconds.
    long lowSpeedBytes = 100;
    long lowSpeedSeconds = 60;
    // The whole job, connection to last reply: a server that trickles just above the low-speed rule
    // would otherwise hold the single worker for hours.
    long transferSeconds = 300;
};

class CFtpEngine {
public:
    static constexpr std::size_t kFileBlock = 4096;  // local files are read in blocks of this size

    explicit CFtpEngine(IPrompter& prompter, FtpTimeouts timeouts = {});
    // Shutdown(): the program is closing, a transfer must not hold it.
    virtual ~CFtpEngine();
    CFtpEngine(const CFtpEngine&) = delete;
    CFtpEngine& operator=(const CFtpEngine&) = delete;

    // Starts the worker; called once, right after construction. A second call while it runs does nothing.
    void Start();
    // Appends the job at the tail of the queue and wakes the worker; the engine owns it from here on.
    // Returns 1; a null job is refused with 0.
    int AddJob(std::unique_ptr<FtpJob> job);
    // The same, except that a job still waiting (not yet begun) for the same server, port and remote file
    // is replaced by this newer one, in its place: a dead server does not pile up jobs.
    int AddOrReplaceJob(std::unique_ptr<FtpJob> job);
    // Jobs waiting, plus 1 while the worker is processing one.
    std::int32_t PendingCount() const;
    // Asks the worker to leave and waits for it: it first uploads every job already queued and ends the
    // transfer in progress. Jobs still queued afterwards (added once the worker has ended) are deleted
    // without upload.
    void Stop();
    // Ends the engine within a few seconds: the worker goes on with its jobs for at most kShutdownGrace
    // (the last page of a closing program still leaves when its server answers), then the transfer in
    // progress is given up within about a second, without a message, and the waiting jobs are dropped
    // unsent. Then as Stop. Start clears it.
    void Shutdown();
    static constexpr std::chrono::milliseconds kShutdownGrace{2000};

    // Uploads one job on the calling thread and shows its failure, if any. Returns whether the server
    // accepted the login. The worker calls it for every job; tests may call it directly.
    bool ProcessJob(const FtpJob& job);

    // The ftp:// address of a job's remote file ("" when the server name is not a host name or address).
    // The remote path is percent-encoded whole, so that it reaches the server as one name, unchanged.
    static std::string JobUrl(const FtpJob& job);

    // How many times the worker has woken up to find work. Jobs added while it drains the queue are
    // taken in the same wake-up.
    std::uint64_t WakeUps() const;

private:
    void WorkerLoop();
    // AddJob and AddOrReplaceJob.
    int Enqueue(std::unique_ptr<FtpJob> job, bool replaceWaiting);
    void Show(const std::string& text);

    IPrompter& m_prompter;
    const FtpTimeouts m_timeouts;

    mutable std::mutex m_lock;  // guards the queue, busy, the stop request, the running flag and the wake-ups
    std::condition_variable m_wake;
    std::deque<std::unique_ptr<FtpJob>> m_queue;
    bool m_busy = false;
    bool m_stopRequested = false;
    bool m_workerRunning = false;  // from Start until the worker leaves its loop
    std::uint64_t m_wakeUps = 0;
    std::atomic<bool> m_shutdown{false};  // read by the transfer's progress callback, without the lock
    std::thread m_worker;
};

}  // namespace orv

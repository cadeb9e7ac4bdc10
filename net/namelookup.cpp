#include "net/namelookup.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <deque>
#include <thread>
#include <tuple>
#include <utility>

#include "net/udpsocket.h"

namespace orv {

namespace {

// A layout of many names, or a dead name server, must not start a thread per name: this many look up
// at a time and the others wait their turn.
constexpr int kMaxLookupThreads = 8;

struct LookupQueue {
    std::mutex lock;
    std::deque<std::pair<std::shared_ptr<CNameLookup>, std::string>> waiting;
    int threads = 0;
};

// Never freed: a lookup thread still waiting on a name server at exit may use it.
LookupQueue& Lookups() {
    static auto* queue = new LookupQueue;
    return *queue;
}

// The next this many lookup threads fail to start, as they would without resources (tests).
std::atomic<int> g_failThreadStarts{0};

}  // namespace

bool CNameLookup::StartThread() {
    if (g_failThreadStarts > 0) {
        --g_failThreadStarts;
        return false;
    }
    try {
        std::thread([] {
            LookupQueue& shared = Lookups();
            while (true) {
                std::shared_ptr<CNameLookup> next;
                std::string name;
                {
                    std::lock_guard lk(shared.lock);
                    if (shared.waiting.empty()) {
                        --shared.threads;
                        return;
                    }
                    std::tie(next, name) = std::move(shared.waiting.front());
                    shared.waiting.pop_front();
                }
                // Nobody waits for this answer any more: the name server is not asked.
                if (next.use_count() > 1) next->Finish(CUdpSocket::ResolveHost(name));
            }
        }).detach();
    } catch (...) {
        return false;
    }
    return true;
}

void CNameLookup::FailThreadStartsForTest(int count) { g_failThreadStarts = count; }

CNameLookup::CNameLookup() : m_fd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

CNameLookup::~CNameLookup() {
    if (m_fd >= 0) ::close(m_fd);
}

std::shared_ptr<CNameLookup> CNameLookup::Start(const std::string& host) {
    std::shared_ptr<CNameLookup> lookup(new CNameLookup());
    // What needs no name server is answered at once; the answer is still picked up through the descriptor.
    if (!CUdpSocket::NeedsNameServer(host)) {
        lookup->Finish(CUdpSocket::ResolveHost(host));
        return lookup;
    }
    // Without a descriptor to signal the end there is no lookup in the background, and the name server is
    // never asked on the calling thread: the name fails as one that does not resolve.
    if (lookup->m_fd < 0) {
        lookup->Finish({});
        return lookup;
    }
    // The queue keeps the lookup alive: whoever asked may give up on it (an object deleted meanwhile).
    LookupQueue& queue = Lookups();
    {
        std::lock_guard lk(queue.lock);
        queue.waiting.emplace_back(lookup, host);
        if (queue.threads >= kMaxLookupThreads) return lookup;  // a running thread takes it in turn
        ++queue.threads;
    }
    if (!StartThread()) {
        // No thread: a running one takes it in turn; with none running the name fails like one that does
        // not resolve.
        bool failed = false;
        {
            std::lock_guard lk(queue.lock);
            --queue.threads;
            if (queue.threads == 0)
                failed = std::erase_if(queue.waiting, [&](const auto& w) { return w.first == lookup; }) > 0;
        }
        if (failed) lookup->Finish({});
    }
    return lookup;
}

void CNameLookup::Finish(std::string address) {
    {
        std::lock_guard lk(m_lock);
        m_result = std::move(address);
    }
    if (m_fd >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_fd, &one, sizeof one);
    }
}

std::optional<std::string> CNameLookup::Result() const {
    std::lock_guard lk(m_lock);
    return m_result;
}

}  // namespace orv

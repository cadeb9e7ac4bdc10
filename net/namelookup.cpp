#include "net/namelookup.h"

#include <sys/eventfd.h>
#include <unistd.h>

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

}  // namespace

CNameLookup::CNameLookup() : m_fd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

CNameLookup::~CNameLookup() {
    if (m_fd >= 0) ::close(m_fd);
}

std::shared_ptr<CNameLookup> CNameLookup::Start(const std::string& host) {
    std::shared_ptr<CNameLookup> lookup(new CNameLookup());
    // What needs no name server is answered at once; the answer is still picked up through the descriptor.
    if (lookup->m_fd < 0 || !CUdpSocket::NeedsNameServer(host)) {
        lookup->Finish(CUdpSocket::ResolveHost(host));
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
        std::lock_guard lk(queue.lock);
        --queue.threads;
        throw;
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

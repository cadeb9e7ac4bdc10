// One host-name lookup on a lookup thread, so that a slow or dead name server never holds up the
// thread that asked. The result is picked up through a descriptor that becomes readable when it is there.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace orv {

class CNameLookup {
public:
    // Starts resolving host (IPv4) on a lookup thread: a few run at a time, the others wait their turn,
    // and a lookup that nobody holds any more when its turn comes is dropped unasked. Dotted addresses,
    // names under "localhost" and names that are not valid host names (they do not resolve) are answered
    // at once, without a thread. A lookup that cannot run in the background (no descriptor, no thread)
    // ends at once unresolved: the name server is never asked on the calling thread. Never throws.
    static std::shared_ptr<CNameLookup> Start(const std::string& host);
    ~CNameLookup();
    CNameLookup(const CNameLookup&) = delete;
    CNameLookup& operator=(const CNameLookup&) = delete;

    // Readable once the lookup has ended; -1 when no descriptor could be made (the result is then ready
    // at once).
    int Fd() const { return m_fd; }
    // Once ended: the dotted address, or an empty string when the name did not resolve. Nothing before.
    std::optional<std::string> Result() const;

    // The next count lookup threads fail to start, as without resources; for tests.
    static void FailThreadStartsForTest(int count);

private:
    CNameLookup();
    // Starts one lookup thread, which takes waiting lookups until none is left. False when it cannot.
    static bool StartThread();
    void Finish(std::string address);

    int m_fd = -1;
    mutable std::mutex m_lock;
    std::optional<std::string> m_result;
};

}  // namespace orv

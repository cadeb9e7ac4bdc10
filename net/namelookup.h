// One host-name lookup on a thread of its own, so that a slow or dead name server never holds up the
// thread that asked. The result is picked up through a descriptor that becomes readable when it is there.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace orv {

class CNameLookup {
public:
    // Starts resolving host (IPv4). Dotted addresses and names under "localhost" are answered without
    // asking anyone, and so is a name that is not a valid host name (it does not resolve).
    static std::shared_ptr<CNameLookup> Start(const std::string& host);
    ~CNameLookup();
    CNameLookup(const CNameLookup&) = delete;
    CNameLookup& operator=(const CNameLookup&) = delete;

    // Readable once the lookup has ended; -1 when no descriptor could be made (the result is then ready
    // at once: the lookup ran on the calling thread).
    int Fd() const { return m_fd; }
    // Once ended: the dotted address, or an empty string when the name did not resolve. Nothing before.
    std::optional<std::string> Result() const;

private:
    CNameLookup();
    void Finish(std::string address);

    int m_fd = -1;
    mutable std::mutex m_lock;
    std::optional<std::string> m_result;
};

}  // namespace orv

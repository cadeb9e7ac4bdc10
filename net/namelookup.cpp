#include "net/namelookup.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <thread>

#include "net/udpsocket.h"

namespace orv {

CNameLookup::CNameLookup() : m_fd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

CNameLookup::~CNameLookup() {
    if (m_fd >= 0) ::close(m_fd);
}

std::shared_ptr<CNameLookup> CNameLookup::Start(const std::string& host) {
    std::shared_ptr<CNameLookup> lookup(new CNameLookup());
    if (lookup->m_fd < 0) {
        lookup->Finish(CUdpSocket::ResolveHost(host));
        return lookup;
    }
    // The thread keeps the lookup alive: whoever asked may give up on it (an object deleted meanwhile).
    std::thread([lookup, host] { lookup->Finish(CUdpSocket::ResolveHost(host)); }).detach();
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

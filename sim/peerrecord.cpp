#include "sim/peerrecord.h"

namespace orv::sim {

void CPeerRecord::Record(const std::string& bytes) {
    {
        std::lock_guard lk(m_lock);
        m_received.push_back(bytes);
    }
    m_changed.notify_all();
}

void CPeerRecord::Accept(const std::string& command) {
    std::lock_guard lk(m_lock);
    m_accepted.push_back(command);
}

void CPeerRecord::Refuse(const std::string& command) {
    std::lock_guard lk(m_lock);
    m_refused.push_back(command);
}

std::vector<std::string> CPeerRecord::Received() const {
    std::lock_guard lk(m_lock);
    return m_received;
}

size_t CPeerRecord::ReceivedCount() const {
    std::lock_guard lk(m_lock);
    return m_received.size();
}

std::vector<std::string> CPeerRecord::AcceptedCommands() const {
    std::lock_guard lk(m_lock);
    return m_accepted;
}

std::vector<std::string> CPeerRecord::RefusedCommands() const {
    std::lock_guard lk(m_lock);
    return m_refused;
}

void CPeerRecord::Clear() {
    std::lock_guard lk(m_lock);
    m_received.clear();
    m_accepted.clear();
    m_refused.clear();
}

std::vector<std::string> CPeerRecord::Take() {
    std::lock_guard lk(m_lock);
    std::vector<std::string> taken;
    taken.swap(m_received);
    m_accepted.clear();
    m_refused.clear();
    return taken;
}

bool CPeerRecord::WaitFor(const std::function<bool(const std::vector<std::string>&)>& pred,
                          std::chrono::milliseconds limit) const {
    std::unique_lock lk(m_lock);
    return m_changed.wait_for(lk, limit, [&] { return pred(m_received); });
}

bool CPeerRecord::WaitForCount(size_t count, std::chrono::milliseconds limit) const {
    return WaitFor([count](const std::vector<std::string>& r) { return r.size() >= count; }, limit);
}

}  // namespace orv::sim

#include "net/tcpsession.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

namespace orv {

CTcpSession::CTcpSession(ISocketWatcher& watcher, IClock& clock, Events events)
    : m_watcher(watcher), m_clock(clock), m_events(std::move(events)) {}

CTcpSession::~CTcpSession() {
    Close();
}

bool CTcpSession::Connect(const std::string& dottedAddress, std::uint32_t port) {
    Close();
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    if (port == 0 || port > 65535 || ::inet_pton(AF_INET, dottedAddress.c_str(), &to.sin_addr) != 1) return false;
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_fd < 0) return false;
    const int one = 1;
    ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    m_state = State::Connecting;
    m_connectStarted = m_clock.Now();
    m_refusedAtOnce = false;
    const int rc = ::connect(m_fd, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    if (rc != 0 && errno != EINPROGRESS) m_refusedAtOnce = true;  // reported from the watcher, not from here
    // Writable tells the end of the connect, whichever way it went (and at once when it already ended).
    m_watchingWrite = true;
    m_watcher.WatchWritable(m_fd, [this] { OnWritable(); });
    return true;
}

void CTcpSession::Close() {
    if (m_fd >= 0) {
        m_watcher.Unwatch(m_fd);
        ::close(m_fd);
    }
    m_fd = -1;
    m_state = State::Closed;
    m_watchingWrite = false;
    m_outbox.clear();
}

void CTcpSession::Fail(bool refused, const std::string& why) {
    if (m_state == State::Closed) return;
    Close();
    if (m_events.closed) m_events.closed(refused, why);
}

void CTcpSession::CheckConnectTimeout(Time limit) {
    if (m_state == State::Connecting && m_clock.Now() - m_connectStarted > limit) Fail(true, "time-out");
}

void CTcpSession::OnWritable() {
    if (m_state == State::Connecting) {
        int error = 0;
        socklen_t len = sizeof error;
        if (::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0) error = errno;
        if (error == 0 && m_refusedAtOnce) error = ECONNREFUSED;
        if (error != 0) {
            Fail(true, std::strerror(error));
            return;
        }
        m_state = State::Open;
        m_watcher.Watch(m_fd, [this] { OnReadable(); });
        if (m_events.connected) m_events.connected();
        if (m_state != State::Open) return;
    }
    Flush();
}

void CTcpSession::Send(std::string_view bytes) {
    if (m_state != State::Open) return;
    if (m_outbox.size() + bytes.size() > kMaxPending) {
        Fail(false, "the server reads nothing of what is sent");
        return;
    }
    m_outbox.append(bytes);
    Flush();
}

void CTcpSession::Flush() {
    while (!m_outbox.empty() && m_state == State::Open) {
        const ssize_t n = ::send(m_fd, m_outbox.data(), m_outbox.size(), MSG_NOSIGNAL);
        if (n > 0) {
            m_bytesSent += static_cast<std::uint64_t>(n);
            m_outbox.erase(0, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        if (n < 0 && errno == EINTR) continue;
        Fail(false, std::strerror(errno));
        return;
    }
    if (m_state != State::Open) return;
    const bool want = !m_outbox.empty();
    if (want == m_watchingWrite) return;
    m_watchingWrite = want;
    if (want)
        m_watcher.WatchWritable(m_fd, [this] { OnWritable(); });
    else
        m_watcher.UnwatchWritable(m_fd);
}

void CTcpSession::OnReadable() {
    std::array<std::uint8_t, 8192> buffer;
    // A bounded number of reads per notification, so one talkative server cannot hold the main thread.
    for (int round = 0; round < 16 && m_state == State::Open; ++round) {
        const ssize_t n = ::recv(m_fd, buffer.data(), buffer.size(), 0);
        if (n > 0) {
            if (m_events.received)
                m_events.received(std::span<const std::uint8_t>(buffer.data(), static_cast<size_t>(n)));
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        if (n < 0 && errno == EINTR) continue;
        Fail(false, n == 0 ? "closed by the server" : std::strerror(errno));
        return;
    }
}

}  // namespace orv

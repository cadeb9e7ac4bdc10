#include "net/udpsocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace orv {

namespace {
std::atomic<bool> g_nameResolution{true};
std::atomic<std::uint64_t> g_bytesSent{0};
}  // namespace

void CUdpSocket::AllowNameResolution(bool allowed) { g_nameResolution = allowed; }

CUdpSocket::~CUdpSocket() { Close(); }

bool CUdpSocket::Create() {
    Close();
    m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_fd < 0) return false;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = 0;
    if (::bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        Close();
        return false;
    }
    return true;
}

bool CUdpSocket::IsValidHostName(const std::string& host) {
    if (host.empty() || host.size() > 253) return false;
    for (char c : host) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                        c == '_' || c == '.';
        if (!ok) return false;
    }
    return true;
}

bool CUdpSocket::IsLoopbackName(const std::string& host) {
    std::string lower;
    for (char c : host) lower += static_cast<char>((c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c);
    if (!lower.empty() && lower.back() == '.') lower.pop_back();
    return lower == "localhost" || (lower.size() > 10 && lower.compare(lower.size() - 10, 10, ".localhost") == 0);
}

bool CUdpSocket::IsDottedAddress(const std::string& host) {
    in_addr a{};
    return ::inet_pton(AF_INET, host.c_str(), &a) == 1;
}

bool CUdpSocket::NeedsNameServer(const std::string& host) {
    return !IsDottedAddress(host) && !IsLoopbackName(host) && IsValidHostName(host) && g_nameResolution;
}

std::string CUdpSocket::ResolveHost(const std::string& host) {
    if (IsDottedAddress(host)) return host;  // used as it is
    if (IsLoopbackName(host)) return "127.0.0.1";
    if (!NeedsNameServer(host)) return {};
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* res = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &res) != 0 || res == nullptr) return {};
    char buf[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr, buf, sizeof buf);
    ::freeaddrinfo(res);
    return buf;
}

bool CUdpSocket::Connect(const std::string& host, std::uint32_t port) {
    if (m_fd < 0 || port > 65535) return false;
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<std::uint16_t>(port));
    const std::string address = ResolveHost(host);
    if (address.empty() || ::inet_pton(AF_INET, address.c_str(), &peer.sin_addr) != 1) return false;
    if (::connect(m_fd, reinterpret_cast<sockaddr*>(&peer), sizeof peer) != 0) return false;
    m_connected = true;
    // The peer as the kernel holds it (0.0.0.0 becomes a local address): replies come from there.
    socklen_t peerLength = sizeof peer;
    ::getpeername(m_fd, reinterpret_cast<sockaddr*>(&peer), &peerLength);
    m_peerAddress = peer.sin_addr.s_addr;
    m_peerPort = peer.sin_port;
    return true;
}

std::string CUdpSocket::PeerAddress() const {
    if (m_fd < 0 || !m_connected) return {};
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    if (::getpeername(m_fd, reinterpret_cast<sockaddr*>(&peer), &len) != 0) return {};
    char buf[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &peer.sin_addr, buf, sizeof buf);
    return buf;
}

int CUdpSocket::LocalPort() const {
    if (m_fd < 0) return 0;
    sockaddr_in local{};
    socklen_t len = sizeof local;
    if (::getsockname(m_fd, reinterpret_cast<sockaddr*>(&local), &len) != 0) return 0;
    return ntohs(local.sin_port);
}

CUdpSocket::Recv CUdpSocket::Receive(std::uint8_t* buffer, size_t capacity, size_t& length) {
    length = 0;
    if (m_fd < 0) return Recv::Error;
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    const ssize_t n =
        ::recvfrom(m_fd, buffer, capacity, MSG_TRUNC | MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (n < 0) return (errno == EAGAIN || errno == EWOULDBLOCK) ? Recv::WouldBlock : Recv::Error;
    // What was queued before the connect is still read after it: the kernel filters only what comes later.
    if (!m_connected || fromLength < sizeof from || from.sin_family != AF_INET ||
        from.sin_addr.s_addr != m_peerAddress || from.sin_port != m_peerPort)
        return Recv::Unsolicited;
    if (static_cast<size_t>(n) > capacity) return Recv::Oversized;
    length = static_cast<size_t>(n);
    return Recv::Datagram;
}

long CUdpSocket::Send(const std::uint8_t* data, size_t length) {
    if (m_fd < 0) return -1;
    const std::int64_t now = SteadyMicros();
    const long sent = ::send(m_fd, data, length, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent < 0) return sent;
    m_sendCount.fetch_add(1, std::memory_order_relaxed);
    g_bytesSent.fetch_add(static_cast<std::uint64_t>(sent), std::memory_order_relaxed);
    m_lastSend.store(now, std::memory_order_release);
    std::int64_t none = 0;
    m_firstSend.compare_exchange_strong(none, now, std::memory_order_acq_rel);
    return sent;
}

std::uint64_t CUdpSocket::RaiseDescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
    if (limit.rlim_cur < limit.rlim_max) {
        rlimit raised{limit.rlim_max, limit.rlim_max};
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
    }
    return static_cast<std::uint64_t>(limit.rlim_cur);
}

std::uint64_t CUdpSocket::BytesSentTotal() { return g_bytesSent.load(std::memory_order_relaxed); }

std::int64_t CUdpSocket::SteadyMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void CUdpSocket::Shutdown() {
    if (m_fd >= 0) ::shutdown(m_fd, SHUT_RDWR);
}

void CUdpSocket::Close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    m_connected = false;
    m_peerAddress = 0;
    m_peerPort = 0;
}

}  // namespace orv

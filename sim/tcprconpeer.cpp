#include "sim/tcprconpeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

#include "net/rconframe.h"

namespace orv::sim {

struct CTcpRconPeer::Client {
    int fd = -1;
    bool authenticated = false;
    std::string inbox;
};

CTcpRconPeer::CTcpRconPeer(int port, Handler handler) : m_handler(std::move(handler)) {
    m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listen < 0) return;
    const int one = 1;
    ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(m_listen, 8) != 0 ||
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        ::close(m_listen);
        m_listen = -1;
        return;
    }
    m_port = ntohs(a.sin_port);
    m_thread = std::thread([this] { Run(); });
}

CTcpRconPeer::~CTcpRconPeer() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
    if (m_listen >= 0) ::close(m_listen);
}

void CTcpRconPeer::Run() {
    std::vector<std::unique_ptr<Client>> clients;
    while (!m_stop) {
        if (m_drop.exchange(false)) {
            for (auto& c : clients) ::close(c->fd);
            clients.clear();
        }
        std::vector<pollfd> fds{{m_listen, POLLIN, 0}};
        for (auto& c : clients) fds.push_back({c->fd, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), 20) <= 0) continue;
        if (fds[0].revents & POLLIN) {
            const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0 && clients.size() < 16) {
                clients.push_back(std::make_unique<Client>());
                clients.back()->fd = fd;
                std::lock_guard lk(m_lock);
                ++m_connections;
            } else if (fd >= 0) {
                ::close(fd);
            }
        }
        for (size_t i = 1; i < fds.size(); ++i) {
            if (!(fds[i].revents & (POLLIN | POLLERR | POLLHUP))) continue;
            auto it = std::find_if(clients.begin(), clients.end(), [&](auto& c) { return c->fd == fds[i].fd; });
            if (it == clients.end() || Serve(**it)) continue;
            ::close((*it)->fd);
            clients.erase(it);
        }
    }
    for (auto& c : clients) ::close(c->fd);
}

namespace {
void SendAll(int fd, const std::string& bytes) {
    size_t at = 0;
    while (at < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
        if (n <= 0) return;
        at += static_cast<size_t>(n);
    }
}
}  // namespace

bool CTcpRconPeer::Serve(Client& c) {
    char buffer[8192];
    const ssize_t n = ::recv(c.fd, buffer, sizeof buffer, 0);
    if (n <= 0) return false;
    c.inbox.append(buffer, static_cast<size_t>(n));
    const RconFrames frames =
        DecodeRconPackets(std::span(reinterpret_cast<const std::uint8_t*>(c.inbox.data()), c.inbox.size()));
    c.inbox.erase(0, frames.consumed);
    for (const RconPacket& p : frames.packets) {
        std::string reply;
        if (p.type == rconpacket::kAuth) {
            const bool good = p.body == m_handler.password();
            {
                std::lock_guard lk(m_lock);
                m_passwords.push_back(p.body);
            }
            c.authenticated = good;
            reply = EncodeRconPacket(p.id, rconpacket::kResponse, "") +
                    EncodeRconPacket(good ? p.id : rconpacket::kRefusedId, rconpacket::kAuthResponse, "");
        } else if (!c.authenticated) {
            return false;  // a command before a good password: the server hangs up
        } else if (p.type == rconpacket::kExec) {
            {
                std::lock_guard lk(m_lock);
                m_commands.push_back(p.body);
            }
            const std::string output = m_handler.execute(p.body);
            for (size_t at = 0; at < output.size(); at += 4096)
                reply += EncodeRconPacket(p.id, 0, output.substr(at, 4096));
            if (output.empty()) reply = EncodeRconPacket(p.id, 0, "");
        } else if (p.type == rconpacket::kResponse) {
            // The mirror: an empty response, then the odd packet real servers add after it.
            reply = EncodeRconPacket(p.id, 0, "") + EncodeRconPacket(p.id, 0, std::string("\0\0\0\x01\0\0\0\0", 8));
        }
        SendAll(c.fd, reply);
    }
    return !frames.bad;
}

std::vector<std::string> CTcpRconPeer::Passwords() const {
    std::lock_guard lk(m_lock);
    return m_passwords;
}

std::vector<std::string> CTcpRconPeer::Commands() const {
    std::lock_guard lk(m_lock);
    return m_commands;
}

int CTcpRconPeer::Connections() const {
    std::lock_guard lk(m_lock);
    return m_connections;
}

}  // namespace orv::sim

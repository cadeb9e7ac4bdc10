// The TCP remote console of a present-day server, on 127.0.0.1 and its own thread: answers the password
// packet (an empty response, then the verdict: the request's id, or -1 when refused), runs commands
// through the server it belongs to and sends their output in packets of at most 4,096 bytes, and echoes
// an empty response packet after everything before it, as real servers do. Records what it was sent.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orv::sim {

class CTcpRconPeer {
public:
    struct Handler {
        std::function<std::string()> password;
        std::function<std::string(const std::string& command)> execute;  // the console output
    };
    // Listens on 127.0.0.1:port (0: any free port).
    CTcpRconPeer(int port, Handler handler);
    ~CTcpRconPeer();  // stops and joins its thread, closing every connection
    CTcpRconPeer(const CTcpRconPeer&) = delete;
    CTcpRconPeer& operator=(const CTcpRconPeer&) = delete;

    bool Ok() const { return m_listen >= 0; }
    int Port() const { return m_port; }

    // Passwords received, in order; commands run (after a good password), in order; connections accepted.
    std::vector<std::string> Passwords() const;
    std::vector<std::string> Commands() const;
    int Connections() const;
    // Closes every open connection from the server's side.
    void DropClients() { m_drop = true; }

private:
    struct Client;
    void Run();
    // Handles what a client sent; false when its connection is to be closed.
    bool Serve(Client& c);

    Handler m_handler;
    int m_listen = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false}, m_drop{false};
    std::thread m_thread;
    mutable std::mutex m_lock;
    std::vector<std::string> m_passwords, m_commands;  // guarded by m_lock
    int m_connections = 0;
};

}  // namespace orv::sim

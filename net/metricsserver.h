// Serves GET /metrics over HTTP from a thread of its own (libmicrohttpd's). It never reads the
// document: the main thread publishes an immutable text after each tick, and each request is answered
// with the latest one, shared with the request until it is sent.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

struct MHD_Daemon;

namespace orv {

// Where to listen: "PORT", "HOST:PORT" (HOST a dotted IPv4 address or "localhost"). Port 0 takes any
// free one. Nullopt and a message for anything else.
struct CListenAddress {
    std::string host = "127.0.0.1";
    std::uint16_t port = 0;
};
std::optional<CListenAddress> ParseListenAddress(std::string_view text, std::string& error);

class CMetricsServer {
public:
    CMetricsServer() = default;
    ~CMetricsServer();  // stops
    CMetricsServer(const CMetricsServer&) = delete;
    CMetricsServer& operator=(const CMetricsServer&) = delete;

    // Starts listening; false and a message when the address cannot be bound. A running server is
    // stopped first. contentType goes with every snapshot.
    bool Start(const CListenAddress& address, std::string contentType, std::string& error);
    // Closes the socket and waits for the server's thread; requests in progress end.
    void Stop();
    bool Running() const { return m_daemon != nullptr; }
    // The bound port (the one chosen for port 0); 0 when not running.
    std::uint16_t Port() const { return m_port; }
    // What the next requests get. Before the first: 503 Service Unavailable.
    void Publish(std::shared_ptr<const std::string> text);
    std::shared_ptr<const std::string> Latest() const;
    const std::string& ContentType() const { return m_contentType; }

private:
    MHD_Daemon* m_daemon = nullptr;
    std::uint16_t m_port = 0;
    std::string m_contentType;
    mutable std::mutex m_lock;  // guards m_latest only
    std::shared_ptr<const std::string> m_latest;
};

}  // namespace orv

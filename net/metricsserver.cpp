#include "net/metricsserver.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>

#include <cstring>

#include "net/udpsocket.h"

namespace orv {

std::optional<CListenAddress> ParseListenAddress(std::string_view text, std::string& error) {
    CListenAddress a;
    const size_t colon = text.rfind(':');
    std::string_view portText = text;
    if (colon != std::string_view::npos) {
        const std::string host(text.substr(0, colon));
        portText = text.substr(colon + 1);
        a.host = CUdpSocket::IsLoopbackName(host) ? "127.0.0.1" : host;
        if (!CUdpSocket::IsDottedAddress(a.host)) {
            error = "'" + std::string(text) + "': the address must be a dotted IPv4 address or localhost (HOST:PORT)";
            return std::nullopt;
        }
    }
    unsigned value = 0;
    bool ok = !portText.empty() && portText.size() <= 5;
    for (char c : portText) {
        ok = ok && c >= '0' && c <= '9';
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (!ok || value > 65535) {
        error = "'" + std::string(text) + "': the port must be a number from 0 to 65535";
        return std::nullopt;
    }
    a.port = static_cast<std::uint16_t>(value);
    return a;
}

namespace {

MHD_Result Reply(MHD_Connection* connection, unsigned status, const char* text) {
    MHD_Response* r = MHD_create_response_from_buffer(std::strlen(text), const_cast<char*>(text), MHD_RESPMEM_PERSISTENT);
    MHD_add_response_header(r, MHD_HTTP_HEADER_CONTENT_TYPE, "text/plain; charset=utf-8");
    const MHD_Result result = MHD_queue_response(connection, status, r);
    MHD_destroy_response(r);
    return result;
}

// On the server's thread.
MHD_Result Handle(void* cls, MHD_Connection* connection, const char* url, const char* method, const char*,
                  const char*, size_t*, void**) {
    const auto* server = static_cast<const CMetricsServer*>(cls);
    if (std::strcmp(url, "/metrics") != 0) return Reply(connection, MHD_HTTP_NOT_FOUND, "Not found: try /metrics\n");
    if (std::strcmp(method, "GET") != 0 && std::strcmp(method, "HEAD") != 0)
        return Reply(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "Only GET\n");
    std::shared_ptr<const std::string> text = server->Latest();
    if (!text) return Reply(connection, MHD_HTTP_SERVICE_UNAVAILABLE, "No snapshot yet\n");
    // The response borrows the text and keeps it alive until it has been sent.
    auto* keep = new std::shared_ptr<const std::string>(std::move(text));
    MHD_Response* r = MHD_create_response_from_buffer_with_free_callback_cls(
        (*keep)->size(), const_cast<char*>((*keep)->data()), [](void* p) { delete static_cast<std::shared_ptr<const std::string>*>(p); },
        keep);
    if (!r) {
        delete keep;
        return MHD_NO;
    }
    MHD_add_response_header(r, MHD_HTTP_HEADER_CONTENT_TYPE, server->ContentType().c_str());
    const MHD_Result result = MHD_queue_response(connection, MHD_HTTP_OK, r);
    MHD_destroy_response(r);
    return result;
}

}  // namespace

CMetricsServer::~CMetricsServer() { Stop(); }

bool CMetricsServer::Start(const CListenAddress& address, std::string contentType, std::string& error) {
    Stop();
    m_contentType = std::move(contentType);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(address.port);
    if (::inet_pton(AF_INET, address.host.c_str(), &addr.sin_addr) != 1) {
        error = "metrics: '" + address.host + "' is not a dotted IPv4 address";
        return false;
    }
    // One thread polls every connection; a few scrapers at most, none kept waiting forever.
    m_daemon = MHD_start_daemon(MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_POLL, address.port, nullptr, nullptr,
                                &Handle, this, MHD_OPTION_SOCK_ADDR, &addr, MHD_OPTION_CONNECTION_LIMIT,
                                static_cast<unsigned>(32), MHD_OPTION_CONNECTION_TIMEOUT, static_cast<unsigned>(10),
                                MHD_OPTION_END);
    if (!m_daemon) {
        error = "metrics: cannot listen on " + address.host + ":" + std::to_string(address.port) + ": " +
                std::strerror(errno);
        return false;
    }
    const MHD_DaemonInfo* info = MHD_get_daemon_info(m_daemon, MHD_DAEMON_INFO_BIND_PORT);
    m_port = info ? info->port : address.port;
    return true;
}

void CMetricsServer::Stop() {
    if (m_daemon) MHD_stop_daemon(m_daemon);
    m_daemon = nullptr;
    m_port = 0;
}

void CMetricsServer::Publish(std::shared_ptr<const std::string> text) {
    std::lock_guard lk(m_lock);
    m_latest.swap(text);
    // The old text is released outside the lock, when text leaves scope here.
}

std::shared_ptr<const std::string> CMetricsServer::Latest() const {
    std::lock_guard lk(m_lock);
    return m_latest;
}

}  // namespace orv

// A TCP client connection that lives on the main thread like the UDP sockets: a non-blocking connect,
// readiness through the platform's socket watcher (writable until connected, then readable, writable
// again only while sent bytes wait for room), SO_ERROR to learn how the connect ended, and a connect
// time-out read from the clock by the owner's tick. Never a blocking call.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "base/platform.h"

namespace orv {

class CTcpSession {
public:
    enum class State { Closed, Connecting, Open };
    struct Events {
        std::function<void()> connected;
        // Bytes arrived, in order. The handler may close the session.
        std::function<void(std::span<const std::uint8_t>)> received;
        // The connect failed or the open connection ended (by the peer or an error); not called for Close().
        // refused: the connect itself failed (nobody listens there).
        std::function<void(bool refused, const std::string& why)> closed;
    };

    CTcpSession(ISocketWatcher& watcher, IClock& clock, Events events);
    ~CTcpSession();  // closes without calling back
    CTcpSession(const CTcpSession&) = delete;
    CTcpSession& operator=(const CTcpSession&) = delete;

    // Starts connecting to a dotted IPv4 address; false (nothing started) when no socket could be made
    // or the address is not dotted. A refusal known at once is reported through closed, later.
    bool Connect(const std::string& dottedAddress, std::uint32_t port);
    // What may wait unwritten: a server that stops reading would otherwise make it grow with every command.
    static constexpr size_t kMaxPending = 256 * 1024;

    // Appends to what is to be written and writes what the socket takes now; the rest goes when there
    // is room. Ignored unless open. Past kMaxPending waiting, the connection is given up: closed(false, ...).
    void Send(std::string_view bytes);
    void Close();
    // A connect that has taken longer than limit seconds is abandoned: closed(true, "time-out").
    void CheckConnectTimeout(Time limit);

    State GetState() const { return m_state; }
    std::uint64_t BytesSent() const { return m_bytesSent; }
    size_t Pending() const { return m_outbox.size(); }

private:
    void OnWritable();
    void OnReadable();
    void Flush();
    // Tears down and reports, unless reporting was already done.
    void Fail(bool refused, const std::string& why);

    ISocketWatcher& m_watcher;
    IClock& m_clock;
    Events m_events;
    int m_fd = -1;
    State m_state = State::Closed;
    Time m_connectStarted = 0;
    bool m_watchingWrite = false;
    bool m_refusedAtOnce = false;
    std::string m_outbox;
    std::uint64_t m_bytesSent = 0;
};

}  // namespace orv

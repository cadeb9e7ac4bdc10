// A non-blocking IPv4 datagram socket, bound to any local port and connected to one peer.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace orv {

class alignas(64) CUdpSocket {
public:
    CUdpSocket() = default;
    ~CUdpSocket();
    CUdpSocket(const CUdpSocket&) = delete;
    CUdpSocket& operator=(const CUdpSocket&) = delete;

    // Creates the socket on any local port. False on failure.
    bool Create();
    // Connects to host:port. A dotted address is used as it is; "localhost" and names under it are the
    // loopback address without asking anyone; any other host name is resolved (IPv4).
    // A host that is not a syntactically valid name is refused without asking the resolver.
    bool Connect(const std::string& host, std::uint32_t port);
    // The dotted IPv4 address of host, resolved as Connect does (this may ask a name server and wait);
    // empty when it does not resolve.
    static std::string ResolveHost(const std::string& host);
    // True for a dotted IPv4 address, which needs no lookup.
    static bool IsDottedAddress(const std::string& host);
    // Whether ResolveHost would ask a name server (not for dotted addresses, loopback names, invalid
    // names, nor while name resolution is off).
    static bool NeedsNameServer(const std::string& host);
    // Dotted address of the connected peer; empty when not connected.
    std::string PeerAddress() const;
    int LocalPort() const;
    int Fd() const { return m_fd; }
    bool IsOpen() const { return m_fd >= 0; }
    bool IsConnected() const { return m_fd >= 0 && m_connected; }

    // Datagram: one from the connected peer. Unsolicited: one that came while the socket was not connected
    // yet (or never got connected), or from another address or port than the peer's: consumed, never to be
    // read as an answer.
    enum class Recv { Datagram, Oversized, WouldBlock, Error, Unsolicited };
    // Receives one datagram of at most capacity bytes. A longer one is consumed and reported as Oversized.
    Recv Receive(std::uint8_t* buffer, size_t capacity, size_t& length);
    // Sends one datagram to the connected peer; the result is the system's.
    long Send(const std::uint8_t* data, size_t length);
    // How many datagrams the system accepted from Send (by the output worker); failed sends do not count.
    std::uint64_t SendCount() const { return m_sendCount.load(std::memory_order_relaxed); }
    // Raises this process's soft limit of open descriptors to its hard limit (every object holds one
    // socket). Returns the soft limit in force afterwards.
    static std::uint64_t RaiseDescriptorLimit();
    // Microseconds of the steady clock, stamped by Send as the datagram leaves (not when it was queued):
    // the latest send, and the first one since TakeFirstSend last took it (0: nothing left since).
    std::int64_t LastSendMicros() const { return m_lastSend.load(std::memory_order_acquire); }
    std::int64_t TakeFirstSendMicros() { return m_firstSend.exchange(0, std::memory_order_acq_rel); }
    // Payload bytes the system accepted on every socket of the process.
    static std::uint64_t BytesSentTotal();
    static std::int64_t SteadyMicros();
    void Shutdown();
    void Close();

    // Whether host names may be resolved at all (on by default). Fuzzers turn it off so that no input can
    // make the process ask a name server; dotted addresses still connect.
    static void AllowNameResolution(bool allowed);

    // "localhost", "LOCALHOST.", "a.localhost": names that always mean this machine.
    static bool IsLoopbackName(const std::string& host);

    // True for a name the resolver may be asked about: letters, digits, '-', '_' and '.', at most 253.
    static bool IsValidHostName(const std::string& host);

    // Where the output queue keeps this socket's polls: its own cache, read and written under its lock.
    struct QueueLane {
        const void* queue = nullptr;
        std::uint32_t lane = 0;
    };
    QueueLane queueLane;

private:
    int m_fd = -1;
    bool m_connected = false;
    std::uint32_t m_peerAddress = 0;  // network byte order, once connected
    std::uint16_t m_peerPort = 0;     // network byte order, once connected
    std::atomic<std::uint64_t> m_sendCount{0};
    std::atomic<std::int64_t> m_lastSend{0};
    std::atomic<std::int64_t> m_firstSend{0};
};

}  // namespace orv

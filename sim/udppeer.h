// A UDP endpoint bound to 127.0.0.1 on a port of its own: receives datagrams with a deadline and
// answers their sender. The base of every loopback peer.
#pragma once

#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace orv::sim {

struct Datagram {
    std::string bytes;
    sockaddr_in from{};
};

class CUdpPeer {
public:
    // Binds 127.0.0.1 on the given port, any free port for 0; Ok() is false when the port is taken.
    explicit CUdpPeer(int port = 0);
    ~CUdpPeer();
    CUdpPeer(const CUdpPeer&) = delete;
    CUdpPeer& operator=(const CUdpPeer&) = delete;

    bool Ok() const { return m_fd >= 0; }
    int Port() const { return m_port; }
    int Fd() const { return m_fd; }
    // The next datagram, or nothing when none arrives before the limit.
    std::optional<Datagram> Receive(std::chrono::milliseconds limit);
    // Sends to the given address (typically a received datagram's sender).
    bool SendTo(const sockaddr_in& to, const std::string& bytes);
    bool SendTo(int port, const std::string& bytes);  // to 127.0.0.1:port

private:
    int m_fd = -1;
    int m_port = 0;
};

// "\xFF\xFF\xFF\xFF" + text.
std::string OutOfBand(const std::string& text);

// Pieces of the peers' binary answers: little-endian integers and zero-terminated strings.
void PutU16(std::string& out, std::uint16_t v);
void PutU32(std::string& out, std::uint32_t v);
void PutCString(std::string& out, const std::string& s);

}  // namespace orv::sim

// A bounded cursor over received or loaded bytes. A read that would overrun sets the failure flag,
// which stays set, and yields zero or an empty string: parsers never read past their buffer.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <string>

namespace orv {

class CByteReader {
public:
    CByteReader() = default;
    explicit CByteReader(std::span<const std::uint8_t> data, size_t pos = 0) : m_data(data), m_pos(pos) {
        if (m_pos > m_data.size()) {
            m_pos = m_data.size();
            m_failed = true;
        }
    }

    bool Failed() const { return m_failed; }
    bool AtEnd() const { return m_pos >= m_data.size(); }
    size_t Position() const { return m_pos; }
    size_t Remaining() const { return m_data.size() - m_pos; }
    void Fail() { m_failed = true; }

    bool Skip(size_t n) {
        if (!Have(n)) return false;
        m_pos += n;
        return true;
    }
    std::uint8_t U8() {
        if (!Have(1)) return 0;
        return m_data[m_pos++];
    }
    std::uint16_t U16() {  // little-endian
        if (!Have(2)) return 0;
        const std::uint16_t v = static_cast<std::uint16_t>(m_data[m_pos] | (m_data[m_pos + 1] << 8));
        m_pos += 2;
        return v;
    }
    std::uint32_t U32() {  // little-endian
        if (!Have(4)) return 0;
        std::uint32_t v = 0;
        for (int i = 3; i >= 0; --i) v = (v << 8) | m_data[m_pos + static_cast<size_t>(i)];
        m_pos += 4;
        return v;
    }
    std::uint64_t U64() {
        const std::uint64_t lo = U32();
        const std::uint64_t hi = U32();
        return lo | (hi << 32);
    }
    std::int32_t I32() { return static_cast<std::int32_t>(U32()); }
    double F64() {
        const std::uint64_t bits = U64();
        double d;
        std::memcpy(&d, &bits, sizeof d);
        return d;
    }
    // n raw bytes; empty (and failed) when fewer remain.
    std::string Bytes(size_t n) {
        if (!Have(n)) return {};
        std::string s(reinterpret_cast<const char*>(m_data.data() + m_pos), n);
        m_pos += n;
        return s;
    }
    // A zero-terminated string. A string that runs to the end of the buffer without a zero ends there
    // (a received datagram is terminated just behind its last byte). At the end already, or after a
    // failed read: empty, failed.
    std::string CString() {
        if (m_failed || AtEnd()) {
            m_failed = true;
            return {};
        }
        const auto* begin = m_data.data() + m_pos;
        const auto* zero = static_cast<const std::uint8_t*>(std::memchr(begin, 0, Remaining()));
        const size_t len = zero ? static_cast<size_t>(zero - begin) : Remaining();
        std::string s(reinterpret_cast<const char*>(begin), len);
        m_pos += zero ? len + 1 : len;
        return s;
    }

private:
    bool Have(size_t n) {
        if (m_failed || n > Remaining()) {
            m_failed = true;
            return false;
        }
        return true;
    }

    std::span<const std::uint8_t> m_data;
    size_t m_pos = 0;
    bool m_failed = false;
};

}  // namespace orv

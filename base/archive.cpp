#include "base/archive.h"

#include <cstring>

namespace orv {

CArchive::CArchive() : m_storing(true) {}

CArchive::CArchive(std::span<const std::uint8_t> data) : m_storing(false), m_in(data) {}

void CArchive::Fail(const std::string& reason) {
    if (m_reason.empty()) m_reason = reason;
    m_failed = true;
}

void CArchive::WriteU16(std::uint16_t v) {
    WriteU8(static_cast<std::uint8_t>(v));
    WriteU8(static_cast<std::uint8_t>(v >> 8));
}
void CArchive::WriteU32(std::uint32_t v) {
    WriteU16(static_cast<std::uint16_t>(v));
    WriteU16(static_cast<std::uint16_t>(v >> 16));
}
void CArchive::WriteU64(std::uint64_t v) {
    WriteU32(static_cast<std::uint32_t>(v));
    WriteU32(static_cast<std::uint32_t>(v >> 32));
}

void CArchive::Int32(std::int32_t& v) {
    if (m_storing) {
        WriteU32(static_cast<std::uint32_t>(v));
    } else {
        v = m_in.I32();
        if (m_in.Failed()) Fail("the file ends early");
    }
}

void CArchive::UInt32(std::uint32_t& v) {
    if (m_storing) {
        WriteU32(v);
    } else {
        v = m_in.U32();
        if (m_in.Failed()) Fail("the file ends early");
    }
}

void CArchive::Double(double& v) {
    if (m_storing) {
        std::uint64_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        WriteU64(bits);
    } else {
        v = m_in.F64();
        if (m_in.Failed()) Fail("the file ends early");
    }
}

void CArchive::Float(float& v) {
    if (m_storing) {
        std::uint32_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        WriteU32(bits);
    } else {
        const std::uint32_t bits = m_in.U32();
        std::memcpy(&v, &bits, sizeof v);
        if (m_in.Failed()) Fail("the file ends early");
    }
}

void CArchive::String(std::string& v) {
    if (m_storing) {
        const std::uint64_t len = v.size();
        if (len < 0xFF) {
            WriteU8(static_cast<std::uint8_t>(len));
        } else {
            WriteU8(0xFF);
            if (len < 0xFFFE) {
                WriteU16(static_cast<std::uint16_t>(len));
            } else {
                WriteU16(0xFFFF);
                if (len < 0xFFFFFFFFu) {
                    WriteU32(static_cast<std::uint32_t>(len));
                } else {
                    WriteU32(0xFFFFFFFFu);
                    WriteU64(len);
                }
            }
        }
        m_out.append(v);
        return;
    }
    v.clear();
    if (Failed()) return;
    // Length prefix; the marker 0xFF 0xFFFE announces UTF-16 units.
    bool wide = false;
    std::uint64_t len = m_in.U8();
    if (len == 0xFF) {
        std::uint64_t w = m_in.U16();
        if (w == 0xFFFE) {
            wide = true;
            len = m_in.U8();
            if (len == 0xFF) w = m_in.U16();
        }
        if (len == 0xFF) {
            len = w;
            if (w == 0xFFFF) {
                len = m_in.U32();
                if (len == 0xFFFFFFFFu) len = m_in.U64();
            }
        }
    }
    if (m_in.Failed()) {
        Fail("the file ends early");
        return;
    }
    const std::uint64_t bytes = wide ? len * 2 : len;
    if (len > m_in.Remaining() || bytes > m_in.Remaining()) {
        Fail("the file ends early");
        return;
    }
    const std::string raw = m_in.Bytes(static_cast<size_t>(bytes));
    if (!wide) {
        v = raw;
        return;
    }
    // UTF-16 to the 8-bit code page: Latin-1 units as they are, anything else as '?'.
    v.reserve(static_cast<size_t>(len));
    for (size_t i = 0; i + 1 < raw.size(); i += 2) {
        const unsigned u = static_cast<unsigned char>(raw[i]) | (static_cast<unsigned char>(raw[i + 1]) << 8);
        v.push_back(u < 0x100 ? static_cast<char>(u) : '?');
    }
}

void CArchive::WriteCount(std::uint32_t n) {
    if (n < 0xFFFF) {
        WriteU16(static_cast<std::uint16_t>(n));
    } else {
        WriteU16(0xFFFF);
        WriteU32(n);
    }
}

std::uint32_t CArchive::ReadCount() {
    if (Failed()) return 0;
    std::uint32_t n = m_in.U16();
    if (n == 0xFFFF) n = m_in.U32();
    if (m_in.Failed()) {
        Fail("the file ends early");
        return 0;
    }
    if (n > m_in.Remaining()) {
        Fail("a list count is larger than the file");
        return 0;
    }
    return n;
}

void CArchive::WriteClassTag(const std::string& className, std::uint16_t schema) {
    const auto it = m_storedClasses.find(className);
    if (it == m_storedClasses.end()) {
        WriteU16(0xFFFF);
        WriteU16(schema);
        WriteU16(static_cast<std::uint16_t>(className.size()));
        m_out.append(className);
        m_storedClasses[className] = m_nextIndex++;
    } else if (it->second < 0x7FFF) {
        WriteU16(static_cast<std::uint16_t>(0x8000u | it->second));
    } else {
        WriteU16(0x7FFF);
        WriteU32(0x80000000u | it->second);
    }
    ++m_nextIndex;  // the object that follows
}

std::string CArchive::ReadClassTagWith(int (*schemaOf)(const std::string&, void*), void* ctx) {
    if (Failed()) return {};
    const std::uint16_t tag = m_in.U16();
    if (m_in.Failed()) {
        Fail("the file ends early");
        return {};
    }
    std::string name;
    if (tag == 0xFFFF) {
        const std::uint16_t schema = m_in.U16();
        const std::uint16_t len = m_in.U16();
        name = m_in.Bytes(len);
        if (m_in.Failed()) {
            Fail("the file ends early");
            return {};
        }
        const int expected = schemaOf(name, ctx);
        if (expected < 0) {
            Fail("unknown class " + name);
            return {};
        }
        if (expected != schema) {
            Fail("class " + name + " has schema " + std::to_string(schema) + ", expected " + std::to_string(expected));
            return {};
        }
        m_loadedClasses[m_nextIndex++] = name;
    } else {
        std::uint32_t index;
        if (tag == 0x7FFF) {
            index = m_in.U32();
            if (m_in.Failed()) {
                Fail("the file ends early");
                return {};
            }
            if (!(index & 0x80000000u)) {
                Fail("an object back reference");
                return {};
            }
            index &= 0x7FFFFFFFu;
        } else if (tag & 0x8000) {
            index = tag & 0x7FFFu;
        } else {
            Fail(tag == 0 ? "a null object" : "an object back reference");
            return {};
        }
        const auto it = m_loadedClasses.find(index);
        if (it == m_loadedClasses.end()) {
            Fail("a class reference to an unknown index");
            return {};
        }
        name = it->second;
    }
    ++m_nextIndex;  // the object that follows
    return name;
}

}  // namespace orv

// The object-archive byte format of layout files: little-endian primitives, length-prefixed strings,
// list counts and class tags with one index numbering shared by classes and objects.
// One CArchive either stores (into a byte string) or loads (from a byte span). Loading never throws and
// never reads past its input: the first problem sets a failure flag that stays set, with a reason.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "base/bytereader.h"

namespace orv {

class CArchive {
public:
    // Storing.
    CArchive();
    // Loading.
    explicit CArchive(std::span<const std::uint8_t> data);

    bool IsStoring() const { return m_storing; }
    bool IsLoading() const { return !m_storing; }

    // Loading: true once anything went wrong (truncated input, unknown class, wrong schema, bad tag).
    bool Failed() const { return m_failed || m_in.Failed(); }
    const std::string& Reason() const { return m_reason; }
    void Fail(const std::string& reason);
    // Loading: bytes not read yet (bounds counts and lengths).
    size_t Remaining() const { return m_in.Remaining(); }
    bool AtEnd() const { return m_in.AtEnd(); }

    // Storing: the bytes written so far.
    const std::string& Data() const { return m_out; }

    // Both directions: store the value, or load into it (on failure the value becomes 0 / empty).
    void Int32(std::int32_t& v);
    void UInt32(std::uint32_t& v);
    void Double(double& v);
    void String(std::string& v);
    void Float(float& v);

    // List counts: 2 bytes below 0xFFFF, otherwise 0xFFFF and 4 bytes.
    void WriteCount(std::uint32_t n);
    // A count that cannot be right (more elements than bytes left) fails the archive and gives 0.
    std::uint32_t ReadCount();

    // Class tags. Storing: a new-class record on first use, then back references; the object that
    // follows takes the next index. Loading: returns the class name of the tag (empty on failure),
    // checks the schema of a new-class record against expectedSchema(name), which returns -1 for a
    // class that is not known. The object that follows takes the next index.
    void WriteClassTag(const std::string& className, std::uint16_t schema);
    template <class SchemaOf>
    std::string ReadClassTag(SchemaOf expectedSchema) {
        return ReadClassTagImpl([&](const std::string& n) { return static_cast<int>(expectedSchema(n)); });
    }

    // Raw primitives.
    void WriteU8(std::uint8_t v) { m_out.push_back(static_cast<char>(v)); }
    void WriteU16(std::uint16_t v);
    void WriteU32(std::uint32_t v);
    void WriteU64(std::uint64_t v);
    CByteReader& In() { return m_in; }

private:
    template <class F>
    std::string ReadClassTagImpl(F schemaOf);
    std::string ReadClassTagWith(int (*schemaOf)(const std::string&, void*), void* ctx);

    bool m_storing;
    bool m_failed = false;
    std::string m_reason;
    std::string m_out;
    CByteReader m_in;
    // Index numbering, starting at 1.
    std::uint32_t m_nextIndex = 1;
    std::map<std::string, std::uint32_t> m_storedClasses;
    std::map<std::uint32_t, std::string> m_loadedClasses;
};

template <class F>
std::string CArchive::ReadClassTagImpl(F schemaOf) {
    return ReadClassTagWith(
        [](const std::string& name, void* ctx) { return (*static_cast<F*>(ctx))(name); }, &schemaOf);
}

}  // namespace orv

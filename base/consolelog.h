// The last 50 console lines of an object (or the control view's command history).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/platform.h"

namespace orv {

class CConsoleLog {
public:
    static constexpr int kCapacity = 50;

    explicit CConsoleLog(Time now = 0) : lastChange(now) {}

    // Stores at the tail; when full, the oldest entry is dropped first.
    void Append(std::int32_t kindOfLine, std::string_view line, Time now);
    void Clear() { count = 0; }

    std::int32_t count = 0;
    std::array<std::int32_t, kCapacity> kind{};
    std::array<std::string, kCapacity> text;
    Time lastChange = 0;
    // Lines appended since construction; lets a reader tell which entries are new.
    std::uint64_t appended = 0;
};

}  // namespace orv

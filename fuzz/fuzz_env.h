// What every fuzz target runs on: the platform seam with a settable clock (local time read as UTC) and
// a prompter, sound player and socket watcher that do nothing; and the cutting of an input into datagrams.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/module.h"
#include "base/platform.h"
#include "net/outputcontrol.h"

namespace orv::fuzz {

struct FuzzClock : IClock {
    Time Now() override { return now; }
    std::tm LocalTime(Time t) override {
        const std::time_t tt = static_cast<std::time_t>(t);
        std::tm out{};
        ::gmtime_r(&tt, &out);
        return out;
    }
    Time now = 1'000'000;
};
struct QuietPrompter : IPrompter {
    void Message(const std::string&) override {}
    bool AskYesNo(const std::string&) override { return false; }
    std::optional<std::string> InputText(const std::string&, const std::string&) override { return std::nullopt; }
};
struct QuietSound : ISoundPlayer {
    void Play(const std::string&) override {}
};
struct IdleWatcher : ISocketWatcher {
    void Watch(int, std::function<void()>) override {}
    void Unwatch(int) override {}
};

struct FuzzPlatform {
    FuzzClock clock;
    QuietPrompter prompter;
    QuietSound sound;
    IdleWatcher watcher;
    CPlatform platform{clock, prompter, sound, watcher};
};

// A platform with what the document gives every monitored object: an output queue that is never started
// (cleared by the target between runs) and a sound holder.
struct ObjectEnv : FuzzPlatform {
    COutputSocketControl output;
    CSoundHolder holder{sound};
};

// The datagrams of an input: each piece that starts at an FF FF FF FF prefix, up to the next one, each at
// most 2048 bytes, at most maxCount of them.
inline std::vector<std::vector<std::uint8_t>> SplitDatagrams(const std::uint8_t* data, size_t size,
                                                             size_t maxCount = 16) {
    static const std::uint8_t kPrefix[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    std::vector<std::vector<std::uint8_t>> out;
    const std::uint8_t* end = data + size;
    const std::uint8_t* start = data;
    while (start < end && out.size() < maxCount) {
        const std::uint8_t* next = std::search(start + 1, end, kPrefix, kPrefix + 4);
        const size_t n = std::min<size_t>(static_cast<size_t>(next - start), 2048);
        out.emplace_back(start, start + n);
        start = next;
    }
    return out;
}

}  // namespace orv::fuzz

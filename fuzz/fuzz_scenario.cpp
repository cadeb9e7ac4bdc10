// Feeds arbitrary text to the simulator's scenario reader and checker: whatever the text, a refusal says
// why, and an accepted scenario stays within the peers a file may make.
#include <cstdint>
#include <string>

#include "sim/simulator/scenario.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    orv::sim::Scenario scenario;
    std::string error;
    if (!orv::sim::ParseScenario(text, scenario, error) || !orv::sim::CheckScenario(scenario, error)) {
        if (error.empty()) __builtin_trap();
        return 0;
    }
    if (scenario.peers.size() > orv::sim::kMaxScenarioPeers) __builtin_trap();
    return 0;
}

// Feeds arbitrary datagrams to the Quake 3 server monitor's packet handler, then runs its tick and kick
// over whatever the answers left. The input is cut into datagrams at each FF FF FF FF prefix; each is
// handed over in a buffer of its own exact size, so any read past it is caught. The output queue is
// never started: what the monitor queues is dropped after each run.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "core/module.h"
#include "fuzz/fuzz_env.h"
#include "monitors/quake3/q3server.h"
#include "net/outputcontrol.h"

namespace {

using Env = orv::fuzz::ObjectEnv;

Env& Environment() {
    static Env* env = new Env;
    return *env;
}

using orv::fuzz::SplitDatagrams;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    Env& env = Environment();
    auto server = std::make_unique<orv::CQ3Server>(env.platform);
    server->host = "127.0.0.1";
    server->port = 9;
    server->rconPassword = (size & 1) ? "secret" : "";
    server->output = &env.output;
    server->sound = &env.holder;
    server->CreateSocket();
    for (const auto& d : SplitDatagrams(data, size)) {
        // A heap buffer of exactly the datagram's size.
        std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[std::max<size_t>(d.size(), 1)]);
        if (!d.empty()) std::memcpy(exact.get(), d.data(), d.size());
        server->OnPacket(std::span<const std::uint8_t>(exact.get(), d.size()));
    }
    if (server->playerNameCount < 0 || server->playerNameCount > orv::CCommonObject::kMaxPlayerNames) __builtin_trap();
    if (server->matchRunning != 0 && server->matchRunning != 1) __builtin_trap();
    for (int i = 0; i < 6; ++i) server->Tick();
    if (server->playerNameCount > 0) server->Kick(server->playerNames[0]);
    server.reset();
    env.output.Clear();
    return 0;
}

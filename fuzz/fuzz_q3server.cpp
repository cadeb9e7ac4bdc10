// Feeds arbitrary datagrams (cut at each FF FF FF FF prefix) to the Quake 3 server monitor's packet
// handler, then runs its tick and kick over whatever the answers left. The output queue is never
// started: what the monitor queues is dropped before the next run.
#include "fuzz/fuzz_env.h"
#include "monitors/quake3/q3server.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    auto& env = orv::fuzz::Fresh<orv::fuzz::ObjectEnv>();
    orv::CQ3Server server(env.platform);
    env.Wire(server, size & 1, true);
    orv::fuzz::ForEachDatagram(data, size, [&](auto datagram) { server.OnPacket(datagram); });
    if (server.playerNameCount < 0 || server.playerNameCount > orv::CCommonObject::kMaxPlayerNames) __builtin_trap();
    if (server.matchRunning != 0 && server.matchRunning != 1) __builtin_trap();
    for (int i = 0; i < 6; ++i) server.Tick();
    if (server.playerNameCount > 0) server.Kick(server.playerNames[0]);
    return 0;
}

// Feeds arbitrary datagrams (cut at each FF FF FF FF prefix) to the Quake 3 server monitor's packet
// handler, then runs its tick and kick over whatever the answers left. The output queue is never
// started: what the monitor queues is dropped after each run.
#include "fuzz/fuzz_env.h"
#include "monitors/quake3/q3server.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    static auto* env = new orv::fuzz::ObjectEnv;
    auto server = std::make_unique<orv::CQ3Server>(env->platform);
    server->host = "127.0.0.1";
    server->port = 9;
    server->rconPassword = (size & 1) ? "secret" : "";
    server->output = &env->output;
    server->sound = &env->holder;
    server->CreateSocket();
    orv::fuzz::ForEachDatagram(data, size, [&](auto datagram) { server->OnPacket(datagram); });
    if (server->playerNameCount < 0 || server->playerNameCount > orv::CCommonObject::kMaxPlayerNames) __builtin_trap();
    if (server->matchRunning != 0 && server->matchRunning != 1) __builtin_trap();
    for (int i = 0; i < 6; ++i) server->Tick();
    if (server->playerNameCount > 0) server->Kick(server->playerNames[0]);
    server.reset();
    env->output.Clear();
    return 0;
}

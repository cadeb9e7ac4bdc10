// Feeds arbitrary datagrams to a Half-Life server's packet handler, then runs its tick and its team-tag
// detection over what it parsed. The first input byte steers the run: bit 0 puts FF FF FF FF in front of
// each piece, bit 1 sets an rcon password, bit 2 starts in state 3, bit 3 disables the match sounds. The
// rest is cut into pieces at "\n--\n" (at most eight).
#include "fuzz/fuzz_env.h"
#include "monitors/halflife/hlserver.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    if (size == 0) return 0;
    auto& w = orv::fuzz::Fresh<orv::fuzz::ObjectEnv>();
    const std::uint8_t control = data[0];
    w.holder.sound.enabled = (control & 8) ? 0 : 1;
    orv::CHLServer server(w.platform);
    w.Wire(server, control & 2);
    if (control & 4) server.state = orv::CCommonObject::kStateRcon;
    orv::fuzz::ForEachPiece(data, size, (control & 1) ? std::string(4, '\xFF') : "",
                            [&](auto d) { server.OnPacket(d); });
    for (int i = 0; i < 6; ++i) server.Tick();
    server.DetectTeamTags();
    if (server.playerNameCount < 0 || server.playerNameCount > orv::CCommonObject::kMaxPlayerNames) __builtin_trap();
    if (server.matchRunning != 0 && server.matchRunning != 1) __builtin_trap();
    return 0;
}

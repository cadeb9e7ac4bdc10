// Feeds arbitrary datagrams to the A2S reply parsers and to a Half-Life server's (or proxy's) packet
// handler, with its cycle running in between, so the dialect choice, the challenge retries and the one
// reply per info query meet every order of replies. The first input byte steers the run: bit 0 makes the
// object an HLTV proxy, bit 1 sets an rcon password, bit 2 ticks the object before every datagram. The
// rest is cut into datagrams at each FF FF FF FF prefix (at most sixteen, each at most 2048 bytes).
#include "fuzz/fuzz_env.h"
#include "monitors/halflife/a2s.h"
#include "monitors/halflife/hltv.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    if (size == 0) return 0;
    auto& w = orv::fuzz::Fresh<orv::fuzz::ObjectEnv>();
    const std::uint8_t control = data[0];
    orv::CHLTV tv(w.platform);
    orv::CHLServer server(w.platform);
    orv::CHLServer& object = w.Wire((control & 1) ? tv : server, control & 2);
    orv::fuzz::ForEachDatagram(data + 1, size - 1, [&](std::span<const std::uint8_t> bytes) {
        const orv::A2SInfo info = orv::ParseA2SInfo(bytes);
        if (!info.truncated && info.tvPort.has_value() != ((info.extraFlags & 0x40) != 0)) __builtin_trap();
        orv::ParseA2SChallenge(bytes);
        if (control & 4) {
            w.clock.now += 1;
            object.Tick();
        }
        object.OnPacket(bytes);
    });
    for (int i = 0; i < 6; ++i) object.Tick();
    if (object.playerNameCount < 0 || object.playerNameCount > orv::CCommonObject::kMaxPlayerNames) __builtin_trap();
    if (object.maxPlayers < 0 || object.maxPlayers > 255 || object.bots < 0 || object.bots > 255) __builtin_trap();
    return 0;
}

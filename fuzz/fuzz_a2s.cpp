// Feeds arbitrary datagrams to the A2S reply parsers and to a Half-Life server's (or proxy's) packet
// handler, with its cycle running in between, so the dialect choice, the challenge retries and the one
// reply per info query meet every order of replies. The first input byte steers the run: bit 0 makes the
// object an HLTV proxy, bit 1 sets an rcon password, bit 2 ticks the object before every datagram. The
// rest is cut into datagrams at each FF FF FF FF prefix (at most sixteen, each at most 2048 bytes).
#include <cstddef>
#include <cstdint>
#include <memory>

#include "fuzz/fuzz_env.h"
#include "monitors/halflife/a2s.h"
#include "monitors/halflife/hltv.h"

namespace {

orv::fuzz::ObjectEnv& TheWorld() {
    static orv::fuzz::ObjectEnv w;
    return w;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    if (size == 0) return 0;
    auto& w = TheWorld();
    w.output.Clear();
    const std::uint8_t control = data[0];
    std::unique_ptr<orv::CHLServer> object;
    if (control & 1)
        object = std::make_unique<orv::CHLTV>(w.platform);
    else
        object = std::make_unique<orv::CHLServer>(w.platform);
    object->output = &w.output;
    object->sound = &w.holder;
    if (control & 2) object->rconPassword = "secret";

    for (const auto& datagram : orv::fuzz::SplitDatagrams(data + 1, size - 1)) {
        const std::span<const std::uint8_t> bytes(datagram.data(), datagram.size());
        const orv::A2SInfo info = orv::ParseA2SInfo(bytes);
        if (!info.truncated && info.tvPort.has_value() != ((info.extraFlags & 0x40) != 0)) __builtin_trap();
        orv::ParseA2SChallenge(bytes);
        if (control & 4) {
            w.clock.now += 1;
            object->Tick();
        }
        object->OnPacket(bytes);
    }
    for (int i = 0; i < 6; ++i) object->Tick();
    if (object->playerNameCount < 0 || object->playerNameCount > orv::CCommonObject::kMaxPlayerNames) __builtin_trap();
    if (object->maxPlayers < 0 || object->maxPlayers > 255 || object->bots < 0 || object->bots > 255) __builtin_trap();
    w.output.Clear();
    return 0;
}

// Feeds arbitrary datagrams to a Half-Life server's packet handler, then runs its tick and its team-tag
// detection over what it parsed. The first input byte steers the run: bit 0 puts FF FF FF FF in front of
// the rest (otherwise the rest is the whole datagram), bit 1 sets an rcon password, bit 2 starts in
// state 3, bit 3 disables the match sounds. The rest is cut into datagrams at "\n--\n" (at most eight).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_env.h"
#include "core/module.h"
#include "monitors/halflife/hlserver.h"
#include "net/outputcontrol.h"

namespace {

using World = orv::fuzz::ObjectEnv;

World& TheWorld() {
    static World w;
    return w;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    if (size == 0) return 0;
    World& w = TheWorld();
    w.output.Clear();
    const std::uint8_t control = data[0];
    w.holder.sound.enabled = (control & 8) ? 0 : 1;

    orv::CHLServer server(w.platform);
    server.output = &w.output;
    server.sound = &w.holder;
    if (control & 2) server.rconPassword = "secret";
    if (control & 4) server.state = orv::CCommonObject::kStateRcon;

    std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    for (int n = 0; n < 8; ++n) {
        const auto cut = rest.find("\n--\n");
        std::string_view piece = rest.substr(0, cut);
        std::vector<std::uint8_t> datagram;  // exactly the received bytes: the sanitizer sees any overread
        if (control & 1) datagram.assign(4, 0xFF);
        datagram.insert(datagram.end(), piece.begin(), piece.end());
        if (datagram.size() > orv::CObjectSocket::kMaxDatagram) datagram.resize(orv::CObjectSocket::kMaxDatagram);
        server.OnPacket(std::span<const std::uint8_t>(datagram.data(), datagram.size()));
        if (cut == std::string_view::npos) break;
        rest.remove_prefix(cut + 4);
    }
    for (int i = 0; i < 6; ++i) server.Tick();
    server.DetectTeamTags();
    if (server.playerNameCount < 0 || server.playerNameCount > orv::CCommonObject::kMaxPlayerNames) __builtin_trap();
    if (server.matchRunning != 0 && server.matchRunning != 1) __builtin_trap();
    w.output.Clear();
    return 0;
}

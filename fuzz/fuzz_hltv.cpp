// Feeds arbitrary datagrams to an HLTV proxy's packet handler, then runs its cycle (automatic recording
// included, over a relay chain steered by the input) and the view's figures over what it parsed. The
// first input byte steers the run: bit 0 puts FF FF FF FF in front of each piece, bit 1 sets an rcon
// password, bit 2 starts in state 3, bit 3 turns automatic recording on, bit 4 makes every piece console
// text of a print ('l') answer, bit 5 makes the relayed server's match run, bit 6 links the proxy into a
// cycle through a second proxy instead of to the server, bit 7 links the server's end to a Quake 3
// server. The rest is cut into pieces at "\n--\n" (at most eight).
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_env.h"
#include "core/module.h"
#include "monitors/halflife/hltv.h"
#include "monitors/quake3/q3server.h"
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

    orv::CHLTV tv(w.platform);
    orv::CHLTV relay(w.platform);
    orv::CHLServer server(w.platform);
    orv::CQ3Server q3(w.platform);
    tv.output = &w.output;
    tv.sound = &w.holder;
    if (control & 2) tv.rconPassword = "secret";
    if (control & 4) tv.state = orv::CCommonObject::kStateRcon;
    if (control & 8) tv.autoRecord = 1;
    server.matchRunning = (control & 32) ? 1 : 0;
    server.teamAName = "Alpha";
    server.teamBName = "Beta";
    if (control & 64) {
        tv.linkedServer = &relay;
        relay.linkedServer = &tv;
    } else {
        tv.linkedServer = &relay;
        relay.linkedServer = (control & 128) ? static_cast<orv::CCommonObject*>(&q3) : &server;
    }

    std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    for (int n = 0; n < 8; ++n) {
        const auto cut = rest.find("\n--\n");
        std::string_view piece = rest.substr(0, cut);
        std::vector<std::uint8_t> datagram;  // exactly the received bytes: the sanitizer sees any overread
        if ((control & 1) || (control & 16)) datagram.assign(4, 0xFF);
        if (control & 16) datagram.push_back('l');
        datagram.insert(datagram.end(), piece.begin(), piece.end());
        if (datagram.size() > orv::CObjectSocket::kMaxDatagram) datagram.resize(orv::CObjectSocket::kMaxDatagram);
        tv.OnPacket(std::span<const std::uint8_t>(datagram.data(), datagram.size()));
        if (cut == std::string_view::npos) break;
        rest.remove_prefix(cut + 4);
    }
    for (int i = 0; i < 12; ++i) {
        tv.Tick();
        w.clock.now += 7;
    }
    tv.state = orv::CCommonObject::kStateRcon;
    tv.LinkLine();
    tv.RecordingMark();
    const std::int32_t players = tv.PlayerGaugeFill(48);
    const std::int32_t watching = tv.SpectatorGaugeFill(48);
    const std::int32_t bandwidth = tv.BandwidthGaugeFill(48);
    if (players < 0 || players > 48 || watching < 0 || watching > 48 || bandwidth < 0 || bandwidth > 48)
        __builtin_trap();
    if (tv.icon != orv::CHLTV::kIcon) __builtin_trap();
    if (tv.playerNameCount < 0 || tv.playerNameCount > orv::CCommonObject::kMaxPlayerNames) __builtin_trap();
    std::string name = tv.RecordingFileName();
    orv::CHLTV::CleanFileName(name);
    w.output.Clear();
    return 0;
}

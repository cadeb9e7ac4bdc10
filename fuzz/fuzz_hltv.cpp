// Feeds arbitrary datagrams to an HLTV proxy's packet handler, then runs its cycle (automatic recording
// included, over a relay chain steered by the input) and the view's figures over what it parsed. The
// first input byte steers the run: bit 0 puts FF FF FF FF in front of each piece, bit 1 sets an rcon
// password, bit 2 starts in state 3, bit 3 turns automatic recording on, bit 4 makes every piece console
// text of a print ('l') answer, bit 5 makes the relayed server's match run, bit 6 links the proxy into a
// cycle through a second proxy instead of to the server, bit 7 links the server's end to a Quake 3
// server. The rest is cut into pieces at "\n--\n" (at most eight).
#include "fuzz/fuzz_env.h"
#include "monitors/halflife/hltv.h"
#include "monitors/quake3/q3server.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static auto& w = *new orv::fuzz::ObjectEnv;
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

    const std::string head = (control & 16)  ? std::string(4, '\xFF') + "l"
                             : (control & 1) ? std::string(4, '\xFF')
                                             : "";
    orv::fuzz::ForEachPiece(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1), head,
                            [&](auto d) { tv.OnPacket(d); });
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

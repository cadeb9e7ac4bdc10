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
    auto& w = orv::fuzz::Fresh<orv::fuzz::ObjectEnv>();
    const std::uint8_t control = data[0];

    orv::CHLTV tv(w.platform);
    orv::CHLTV relay(w.platform);
    orv::CHLServer server(w.platform);
    orv::CQ3Server q3(w.platform);
    w.Wire(tv, control & 2);
    if (control & 4) tv.state = orv::CCommonObject::kStateRcon;
    if (control & 8) tv.autoRecord = 1;
    server.matchRunning = (control & 32) ? 1 : 0;
    server.teamAName = "Alpha";
    server.teamBName = "Beta";
    tv.linkedServer = &relay;
    relay.linkedServer = (control & 64)    ? static_cast<orv::CCommonObject*>(&tv)
                         : (control & 128) ? static_cast<orv::CCommonObject*>(&q3)
                                           : &server;

    const std::string head = (control & 16)  ? std::string(4, '\xFF') + "l"
                             : (control & 1) ? std::string(4, '\xFF')
                                             : "";
    orv::fuzz::ForEachPiece(data, size, head, [&](auto d) { tv.OnPacket(d); });
    for (int i = 0; i < 12; ++i) {
        tv.Tick();
        w.clock.now += 7;
    }
    tv.state = orv::CCommonObject::kStateRcon;
    tv.LinkLine();
    tv.RecordingMark();
    for (const std::int32_t fill : {tv.PlayerGaugeFill(48), tv.SpectatorGaugeFill(48), tv.BandwidthGaugeFill(48)})
        if (fill < 0 || fill > 48) __builtin_trap();
    if (tv.icon != orv::CHLTV::kIcon) __builtin_trap();
    if (tv.playerNameCount < 0 || tv.playerNameCount > orv::CCommonObject::kMaxPlayerNames) __builtin_trap();
    std::string name = tv.RecordingFileName();
    orv::CHLTV::CleanFileName(name);
    return 0;
}

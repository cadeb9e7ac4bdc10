// Feeds arbitrary datagrams to the GTV proxy monitor's packet handler, then runs over whatever the answers
// left: the tick with auto record against a linked Quake 3 server, room placement, clicks, follow, link
// lines, names and drops. The input is cut into datagrams at each FF FF FF FF prefix; each is
// handed over in a buffer of its own exact size, so any read past it is caught. The output queue is
// never started: what the monitor queues is dropped before the next run.
#include "fuzz/fuzz_env.h"
#include "monitors/quake3/gtv.h"
#include "monitors/quake3/q3server.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    auto& env = orv::fuzz::Fresh<orv::fuzz::ObjectEnv>();
    auto server = std::make_unique<orv::CQ3Server>(env.platform);
    server->matchRunning = (size & 2) ? 1 : 0;
    auto gtv = std::make_unique<orv::CGTV>(env.platform);
    env.Wire(*gtv, size & 1, true);
    orv::fuzz::ForEachDatagram(data, size, [&](auto d) { gtv->OnPacket(d); });
    if (gtv->roomCount < 0 || gtv->roomCount > orv::CGTV::kMaxRooms) __builtin_trap();
    for (int i = 0; i < gtv->roomCount; ++i) {
        orv::CGTVRoom& room = gtv->rooms[static_cast<size_t>(i)];
        if (room.playerCount < 0 || room.playerCount > orv::CCommonObject::kMaxPlayerNames) __builtin_trap();
        if (!room.serverAddress.empty()) room.linkedServer = server.get();
        (void)gtv->RecordingName(room);
        (void)gtv->FollowedPlayerName(room);
    }
    for (int i = 0; i < 5; ++i) gtv->Tick();
    gtv->state = 2;
    gtv->expanded = 1;
    gtv->box = {0, 0, 120, 0};
    gtv->box.bottom = gtv->BoxSize().height;
    gtv->PlaceRooms();
    for (int i = 0; i < gtv->roomCount; ++i) {
        const orv::CRect band = gtv->rooms[static_cast<size_t>(i)].band;
        gtv->OnClick((band.left + band.right) / 2, (band.top + band.bottom) / 2);
        if (gtv->GetPlayerNameCount() > 0 && gtv->GetPlayerNames()) gtv->Follow((*gtv->GetPlayerNames())[0]);
        (void)gtv->CanRecord();
    }
    (void)gtv->LinkLines();
    gtv->OnDrop(server.get());
    gtv->OnObjectDeleted(server.get());
    for (const auto& room : gtv->rooms)
        if (room.linkedServer) __builtin_trap();
    return 0;
}

// Feeds arbitrary datagrams to the GTV proxy monitor's packet handler, then runs over whatever the answers
// left: the tick with auto record against a linked Quake 3 server, room placement, clicks, follow, link
// lines, names and drops. The input is cut into datagrams at each FF FF FF FF prefix; each is
// handed over in a buffer of its own exact size, so any read past it is caught. The output queue is
// never started: what the monitor queues is dropped after each run.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "core/module.h"
#include "monitors/quake3/gtv.h"
#include "monitors/quake3/q3server.h"
#include "net/outputcontrol.h"

namespace {

struct Clock : orv::IClock {
    orv::Time Now() override { return now; }
    std::tm LocalTime(orv::Time t) override {
        const std::time_t tt = static_cast<std::time_t>(t);
        std::tm out{};
        ::gmtime_r(&tt, &out);
        return out;
    }
    orv::Time now = 1'000'000;
};
struct Prompter : orv::IPrompter {
    void Message(const std::string&) override {}
    bool AskYesNo(const std::string&) override { return false; }
    std::optional<std::string> InputText(const std::string&, const std::string&) override { return std::nullopt; }
};
struct Sound : orv::ISoundPlayer {
    void Play(const std::string&) override {}
};
struct Watcher : orv::ISocketWatcher {
    void Watch(int, std::function<void()>) override {}
    void Unwatch(int) override {}
};

struct Env {
    Clock clock;
    Prompter prompter;
    Sound sound;
    Watcher watcher;
    orv::CPlatform platform{clock, prompter, sound, watcher};
    orv::COutputSocketControl output;  // not started
    orv::CSoundHolder holder{sound};
};

Env& Environment() {
    static Env* env = new Env;
    return *env;
}

// Datagrams of the input: each piece that starts at an FF FF FF FF prefix, up to the next one.
std::vector<std::vector<std::uint8_t>> SplitDatagrams(const std::uint8_t* data, size_t size) {
    static const std::uint8_t kPrefix[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    std::vector<std::vector<std::uint8_t>> out;
    const std::uint8_t* end = data + size;
    const std::uint8_t* start = data;
    while (start < end && out.size() < 16) {
        const std::uint8_t* next = std::search(start + 1, end, kPrefix, kPrefix + 4);
        const size_t n = std::min<size_t>(static_cast<size_t>(next - start), 2048);
        out.emplace_back(start, start + n);
        start = next;
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    Env& env = Environment();
    auto server = std::make_unique<orv::CQ3Server>(env.platform);
    server->matchRunning = (size & 2) ? 1 : 0;
    auto gtv = std::make_unique<orv::CGTV>(env.platform);
    gtv->host = "127.0.0.1";
    gtv->port = 9;
    gtv->rconPassword = (size & 1) ? "secret" : "";
    gtv->output = &env.output;
    gtv->sound = &env.holder;
    gtv->CreateSocket();
    for (const auto& d : SplitDatagrams(data, size)) {
        std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[std::max<size_t>(d.size(), 1)]);
        if (!d.empty()) std::memcpy(exact.get(), d.data(), d.size());
        gtv->OnPacket(std::span<const std::uint8_t>(exact.get(), d.size()));
    }
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
    gtv.reset();
    server.reset();
    env.output.Clear();
    return 0;
}

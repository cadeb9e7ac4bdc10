// Feeds arbitrary template text to the VuzuVed page generator, over a layout holding exported HLTV
// proxies (one relaying a game server with an AdminBot match, one relaying a proxy chain that ends at a
// GTV proxy) and an exported GTV proxy with 32 rooms. The first byte chooses the AdminBot switch and the
// match state; the rest, cut at zero bytes, is the template (in a buffer of its own exact size), then the
// hostile texts: the proxies' names, the map, team tags and clan name, every room's description and the
// followed player's name. The peaks start from zero on every run. Asserted: the size limit holds, and
// tags in those texts are never replaced (the page is as long with every '[' in them made '(').
#include <algorithm>
#include <tuple>

#include "fuzz/fuzz_env.h"
#include "modules/vuzuved.h"
#include "monitors/halflife/hlserver.h"
#include "monitors/halflife/hltv.h"
#include "monitors/quake3/gtv.h"

namespace {

// The layout, made once; the game server first.
orv::fuzz::ModuleHost& Layout() {
    static auto* host = [] {
        auto* h = new orv::fuzz::ModuleHost;
        auto* game = h->Add<orv::CHLServer>();
        game->teamAName = "Alpha [#INFO]";
        game->teamBName = "Beta";
        game->teamASet1 = 10;
        game->teamBSet2 = 7;

        auto* tv = h->Add<orv::CHLTV>();
        tv->host = "127.0.0.1";
        tv->externalHost = "127.0.0.1";
        tv->externalPort = 27020;
        tv->state = orv::CCommonObject::kStateRcon;
        tv->spectators = 12;
        tv->spectatorSlots = 128;
        tv->outgoingBandwidth = 1000.0f;
        tv->map = "de_dust2";
        tv->delay = 30.0f;
        tv->serverAddress = "127.0.0.1:27015";
        tv->linkedServer = game;

        auto* gtv = h->Add<orv::CGTV>();
        gtv->host = "127.0.0.2";
        gtv->externalHost = "127.0.0.2";
        gtv->externalPort = 27970;
        gtv->state = orv::CCommonObject::kStateMonitor;
        gtv->exportToWeb = 1;
        gtv->clients = 5;
        gtv->clientSlots = 64;
        gtv->roomCount = orv::CGTV::kMaxRooms;
        gtv->rooms[0].hubNumber = 3;
        gtv->rooms[0].description = "[#HOSTNAME]";
        gtv->rooms[1].roomState = 2;
        gtv->rooms[2].roomNumber = 7;
        gtv->rooms[2].following = 4;
        gtv->rooms[2].playerNumbers[0] = 4;
        gtv->rooms[2].playerNames[0] = "Alpha";
        gtv->rooms[2].playerCount = 1;

        // A proxy whose chain ends at the GTV proxy: the internal-error path.
        auto* odd = h->Add<orv::CHLTV>();
        odd->host = "127.0.0.3";
        odd->state = orv::CCommonObject::kStateRcon;
        odd->serverAddress = "127.0.0.2:27970";
        odd->linkedServer = gtv;
        return h;
    }();
    return *host;
}

}  // namespace

namespace {

constexpr size_t kLimit = 1 << 16;

// The texts a server chooses, all set to the input's fields; with brackets made '(' when tame.
void SetNames(orv::fuzz::ModuleHost& host, const std::vector<std::string>& fields, bool tame) {
    auto field = [&](size_t i) {
        std::string s = i < fields.size() ? fields[i] : std::string();
        if (tame) std::replace(s.begin(), s.end(), '[', '(');
        return s;
    };
    auto* tv = static_cast<orv::CHLTV*>(host.objects[1]);
    auto* gtv = static_cast<orv::CGTV*>(host.objects[2]);
    static_cast<orv::CHLServer*>(host.objects[0])->teamAName = field(0);
    std::tie(tv->serverName, tv->map, tv->teamTags, gtv->serverName) =
        std::tuple(field(1), field(2), field(3), field(4));
    for (auto& room : gtv->rooms) room.description = field(5);
    gtv->rooms[2].playerNames[0] = field(6);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    orv::fuzz::ModuleHost& host = Layout();
    const std::uint8_t control = size > 0 ? data[0] : 0;
    host.adminBot = (control & 1) != 0;
    static_cast<orv::CHLServer*>(host.objects[0])->matchState = static_cast<std::int32_t>(control >> 1) - 8;

    const std::uint8_t* end = data + size;
    const std::uint8_t* cut = std::find(data + (size > 0), end, 0);
    const std::vector<char> exact(data + (size > 0), cut);
    const std::string_view text(exact.data(), exact.size());
    std::vector<std::string> fields;
    for (const std::uint8_t* p = cut; p < end;) {
        const std::uint8_t* next = std::find(p + 1, end, 0);
        fields.emplace_back(p + 1, next);
        p = next;
    }

    orv::CModuleVuzuVed module, tame;
    module.local.pageLimit = tame.local.pageLimit = kLimit;
    SetNames(host, fields, true);
    const auto tamePage = tame.GeneratePageFromTemplate(host, text);
    SetNames(host, fields, false);
    const auto page = module.GeneratePageFromTemplate(host, text);
    if (page.has_value() != tamePage.has_value() || (page && page->size() != tamePage->size())) __builtin_trap();
    if (!page) return 0;
    if (page->size() > kLimit) __builtin_trap();
    // Without a marker of its own, a template gives nothing.
    if (text.find("SECTION_") == std::string_view::npos && !page->empty()) __builtin_trap();
    // The totals of the layout, whatever the template.
    if (module.peakHlSpectators != 12 || module.peakGtvSpectators != 5) __builtin_trap();
    return 0;
}

// Figures for the layout view: the layout pass alone, and the layout pass with the full repaint of the
// off-screen picture, for layouts of 100, 1,000 and 5,000 objects of every kind. One frame is 16 ms.
#include <benchmark/benchmark.h>

#include <QGuiApplication>

#include "document/document.h"
#include "document/layoutpass.h"
#include "monitors/halflife/hltv.h"
#include "monitors/quake3/gtv.h"
#include "monitors/quake3/q3server.h"
#include "tests/fakes.h"
#include "ui/view/layoutpainter.h"

namespace orv {
namespace {

// Five zones, one per level, each with groups on every group level; ten objects a group, the kinds in turn,
// all answering, with names, players, gauges and (for the GTV proxies) two unfolded rooms.
struct BenchLayout {
    test::TestPlatform env;
    COrvaneDoc doc{env.platform};

    explicit BenchLayout(int objects) {
        for (int level = 1; level <= 5; ++level) doc.AddZone("Zone " + std::to_string(level), level);
        const int groups = std::max(1, objects / 10);
        for (int g = 0; g < groups; ++g)
            doc.AddGroup("Group " + std::to_string(g), doc.zones[static_cast<size_t>(g % 5)], 1 + (g / 5) % 5);
        for (int i = 0; i < objects; ++i) {
            std::unique_ptr<CCommonObject> o;
            switch (i % 4) {
            case 0: o = std::make_unique<CHLServer>(env.platform); break;
            case 1: {
                auto tv = std::make_unique<CHLTV>(env.platform);
                tv->spectatorSlots = 100;
                tv->spectators = i % 100;
                tv->outgoingBandwidth = static_cast<float>(i % 1500);
                tv->recordingFile = "match.dem";
                o = std::move(tv);
                break;
            }
            case 2: o = std::make_unique<CQ3Server>(env.platform); o->maxPlayers = 16; break;
            default: {
                auto gtv = std::make_unique<CGTV>(env.platform);
                gtv->expanded = 1;
                gtv->roomCount = 2;
                gtv->clientSlots = 256;
                gtv->clients = i % 256;
                for (int r = 0; r < 2; ++r) {
                    gtv->rooms[static_cast<size_t>(r)].hubNumber = r + 1;
                    gtv->rooms[static_cast<size_t>(r)].roomState = 3;
                    gtv->rooms[static_cast<size_t>(r)].description = "Quarter final " + std::to_string(r);
                }
                o = std::move(gtv);
            }
            }
            o->host = "10.0.0." + std::to_string(i % 250);
            o->resolvedAddress = o->host;
            o->port = 27015 + static_cast<std::uint32_t>(i);
            o->state = CCommonObject::kStateMonitor + i % 2;
            o->serverName = "Server number " + std::to_string(i);
            o->playerNameCount = i % 17;
            o->group = doc.groups[static_cast<size_t>(i / 10 % groups)];
            doc.objects.Append(std::move(o));
        }
    }
};

void BM_LayoutPass(benchmark::State& state) {
    BenchLayout layout(static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(LayOut(layout.doc));
}

// A changed layout (hint 54): everything is painted, into the memory of the picture before.
void BM_LayoutPassAndRepaint(benchmark::State& state) {
    BenchLayout layout(static_cast<int>(state.range(0)));
    view::CLayoutPicture picture;
    for (auto _ : state) {
        picture.Repaint(layout.doc);
        benchmark::DoNotOptimize(picture.Image().constBits());
    }
    state.counters["pixels"] = static_cast<double>(picture.Image().width()) * picture.Image().height();
}

// The once-a-second refresh (hint 13): layout pass, then the objects whose figures changed are repainted;
// the argument after the object count is the share of objects that changed, in percent.
void BM_LayoutPassAndRefresh(benchmark::State& state) {
    BenchLayout layout(static_cast<int>(state.range(0)));
    const size_t every = state.range(1) > 0 ? static_cast<size_t>(100 / state.range(1)) : 0;
    view::CLayoutPicture picture;
    picture.Repaint(layout.doc);
    int tick = 0;
    for (auto _ : state) {
        ++tick;
        for (size_t i = 0; every && i < layout.doc.objects.size(); i += every) {
            CCommonObject& o = *layout.doc.objects[i];
            o.playerNameCount = (o.playerNameCount + tick) % 15;
        }
        picture.Refresh(layout.doc);
        benchmark::DoNotOptimize(picture.Image().constBits());
    }
}

BENCHMARK(BM_LayoutPass)->Arg(100)->Arg(1000)->Arg(5000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LayoutPassAndRepaint)->Arg(100)->Arg(1000)->Arg(5000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LayoutPassAndRefresh)
    ->ArgsProduct({{100, 1000, 5000}, {0, 10, 100}})
    ->ArgNames({"objects", "changed%"})
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace orv

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    ::benchmark::Initialize(&argc, argv);
    ::benchmark::RunSpecifiedBenchmarks();
    return 0;
}

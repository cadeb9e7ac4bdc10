// Figures for the layout view, for layouts of 100, 1,000, 5,000 and 20,000 objects of every kind: the
// layout pass alone, a full repaint of a 1,600 x 1,000 viewport (at 100 % in the middle of the layout,
// and with the whole layout fitted in it), and the once-a-second refresh (layout pass, what changed and
// is visible painted again). One frame is 16 ms.
// `bench_view --write-layout N FILE [LIST]` saves the benchmark's layout of N objects (on 127.0.0.1) instead;
// with LIST, orvane-sim's list of peers, the objects are those peers.
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "document/document.h"
#include "document/layoutpass.h"
#include "monitors/halflife/hltv.h"
#include "monitors/quake3/gtv.h"
#include "monitors/quake3/q3server.h"
#include "tests/fakes.h"
#include "ui/view/layoutpainter.h"

namespace orv {

// A simulated peer: its kind ("hl", "a2s", "hltv", "q3", "gtv") and address, as orvane-sim lists them.
struct BenchPeer {
    std::string kind, host;
    std::uint32_t port = 0;
};

std::vector<BenchPeer> ReadPeers(const char* listFile) {
    std::vector<BenchPeer> peers;
    std::ifstream in(listFile);
    std::string kind, name, address;
    while (in >> kind >> name >> address) {
        const auto colon = address.rfind(':');
        if (colon == std::string::npos) continue;
        peers.push_back({kind, address.substr(0, colon), static_cast<std::uint32_t>(std::stoul(address.substr(colon + 1)))});
    }
    return peers;
}

// Five zones, one per level, each with groups on every group level; ten objects a group, the kinds in turn,
// all answering, with names, players, gauges and (for the GTV proxies) two unfolded rooms. With peers, the
// objects take their kinds and addresses in turn, the rcon password "secret" (every seventh a wrong one)
// and every eleventh an address nobody answers, so that a window shows the three states; the output
// limit is high enough for all of them.
struct BenchLayout {
    test::TestPlatform env;
    COrvaneDoc doc{env.platform};

    explicit BenchLayout(int objects, const std::vector<BenchPeer>& peers = {}) {
        if (!peers.empty()) doc.SetPreferences(false, 4000);  // every query of every cycle leaves
        for (int level = 1; level <= 5; ++level) doc.AddZone("Zone " + std::to_string(level), level);
        const int groups = std::max(1, objects / 10);
        for (int g = 0; g < groups; ++g)
            doc.AddGroup("Group " + std::to_string(g), doc.zones[static_cast<size_t>(g % 5)], 1 + (g / 5) % 5);
        for (int i = 0; i < objects; ++i) {
            std::unique_ptr<CCommonObject> o;
            const BenchPeer* peer = peers.empty() ? nullptr : &peers[static_cast<size_t>(i) % peers.size()];
            const std::string kinds[] = {"hl", "hltv", "q3", "gtv"};
            int kind = i % 4;
            if (peer) kind = peer->kind == "a2s" ? 0 : static_cast<int>(std::find(kinds, kinds + 4, peer->kind) - kinds) % 4;
            switch (kind) {
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
            o->host = "127.0.0.1";
            o->resolvedAddress = o->host;
            o->port = 20000 + static_cast<std::uint32_t>(i);
            if (peer) {
                o->host = peer->host;
                o->port = i % 11 == 5 ? 9 : peer->port;
                o->rconPassword = i % 7 == 3 ? "wrong" : "secret";
            }
            o->state = CCommonObject::kStateMonitor + i % 2;
            o->serverName = "Server number " + std::to_string(i);
            o->playerNameCount = i % 17;
            o->group = doc.groups[static_cast<size_t>(i / 10 % groups)];
            doc.objects.Append(std::move(o));
        }
    }
};

constexpr int kViewWidth = 1600, kViewHeight = 1000;

namespace {

void BM_LayoutPass(benchmark::State& state) {
    BenchLayout layout(static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(LayOut(layout.doc));
}

// A viewport of 1,600 x 1,000 at the middle of the layout (fit: the whole layout scaled into it).
struct BenchView {
    QImage image{kViewWidth, kViewHeight, QImage::Format_RGB32};
    view::CViewPainter painter;
    CLayoutSize size;
    BenchView(COrvaneDoc& doc, bool fit) {
        size = LayOut(doc);
        painter.viewport.size = image.size();
        if (fit) {
            painter.viewport.scale = std::min(static_cast<double>(kViewWidth) / size.width,
                                              static_cast<double>(kViewHeight) / size.height);
        } else {
            painter.viewport.offset = QPoint(std::max(0, size.width / 2 - kViewWidth / 2),
                                             std::max(0, size.height / 2 - kViewHeight / 2));
        }
    }
    void Paint(COrvaneDoc& doc, const QRegion& region) {
        QPainter p(&image);
        painter.Paint(p, doc, size, region);
    }
};

// Everything the viewport shows painted again (a scroll by more than a page, a zoom, a changed layout).
void ViewportRepaint(benchmark::State& state, bool fit) {
    BenchLayout layout(static_cast<int>(state.range(0)));
    BenchView view(layout.doc, fit);
    view.painter.Refresh(layout.doc, view.size);  // as the window does after every layout pass
    for (auto _ : state) {
        view.Paint(layout.doc, QRegion(view.image.rect()));
        benchmark::DoNotOptimize(view.image.constBits());
    }
    state.counters["scale"] = view.painter.viewport.scale;
}
void BM_ViewportRepaint(benchmark::State& state) { ViewportRepaint(state, false); }
void BM_ViewportRepaintFit(benchmark::State& state) { ViewportRepaint(state, true); }

// The once-a-second refresh (hint 13): layout pass, then the visible objects whose figures changed are
// painted again; the argument after the object count is the share of objects that changed, in percent.
void BM_ViewportRefresh(benchmark::State& state) {
    BenchLayout layout(static_cast<int>(state.range(0)));
    const size_t every = state.range(1) > 0 ? static_cast<size_t>(100 / state.range(1)) : 0;
    BenchView view(layout.doc, false);
    view.painter.Refresh(layout.doc, view.size);
    view.Paint(layout.doc, QRegion(view.image.rect()));
    int tick = 0;
    for (auto _ : state) {
        ++tick;
        for (size_t i = 0; every && i < layout.doc.objects.size(); i += every) {
            CCommonObject& o = *layout.doc.objects[i];
            o.playerNameCount = (o.playerNameCount + tick) % 15;
        }
        view.size = LayOut(layout.doc);
        const QRegion changed = view.painter.Refresh(layout.doc, view.size);
        if (!changed.isEmpty()) view.Paint(layout.doc, changed);
        benchmark::DoNotOptimize(view.image.constBits());
    }
}

BENCHMARK(BM_LayoutPass)->Arg(100)->Arg(1000)->Arg(5000)->Arg(20000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ViewportRepaint)->Arg(100)->Arg(1000)->Arg(5000)->Arg(20000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ViewportRepaintFit)->Arg(100)->Arg(1000)->Arg(5000)->Arg(20000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ViewportRefresh)
    ->ArgsProduct({{100, 1000, 5000, 20000}, {10}})
    ->ArgNames({"objects", "changed%"})
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace orv

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if ((argc == 4 || argc == 5) && std::string(argv[1]) == "--write-layout") {
        orv::BenchLayout layout(std::stoi(argv[2]), argc == 5 ? orv::ReadPeers(argv[4]) : std::vector<orv::BenchPeer>{});
        return layout.doc.Save(argv[3]) ? 0 : 1;
    }
    ::benchmark::Initialize(&argc, argv);
    ::benchmark::RunSpecifiedBenchmarks();
    return 0;
}

// The metrics snapshot the tick builds when the endpoint is on: the whole text over large layouts of every
// kind, with names, round trips and rooms as a large event would have them.
#include <benchmark/benchmark.h>

#include <string>

#include "base/pollloop.h"
#include "document/document.h"
#include "document/metrics.h"
#include "monitors/halflife/hltv.h"
#include "monitors/quake3/gtv.h"
#include "monitors/quake3/q3server.h"

namespace orv {
namespace {

struct NullPrompter : IPrompter {
    void Message(const std::string&) override {}
    bool AskYesNo(const std::string&) override { return false; }
    std::optional<std::string> InputText(const std::string&, const std::string&) override { return std::nullopt; }
};
struct NullSound : ISoundPlayer {
    void Play(const std::string&) override {}
};

void BM_MetricsSnapshot(benchmark::State& state) {
    CSystemClock clock;
    NullPrompter prompter;
    NullSound sound;
    CPollLoop loop;
    CPlatform platform{clock, prompter, sound, loop};
    COrvaneDoc doc(platform);
    doc.New();
    doc.output.Stop();
    const int count = static_cast<int>(state.range(0));
    for (int i = 0; i < count; ++i) {
        std::unique_ptr<CCommonObject> o;
        switch (i % 4) {
            case 0: o = std::make_unique<CHLServer>(platform); break;
            case 1: o = std::make_unique<CHLTV>(platform); break;
            case 2: o = std::make_unique<CQ3Server>(platform); break;
            default: {
                auto gtv = std::make_unique<CGTV>(platform);
                gtv->roomCount = 4;
                o = std::move(gtv);
            }
        }
        o->resolvedAddress = "10.0.0." + std::to_string(i % 250);
        o->port = static_cast<std::uint32_t>(27015 + i);
        o->serverName = "Grand \"Final\" server #" + std::to_string(i);
        o->state = CCommonObject::kStateRcon;
        o->playerNameCount = 10;
        o->maxPlayers = 12;
        o->rttMicros = 20000 + i;
        o->rttSmoothedMicros = 21000 + i;
        o->group = doc.groups[static_cast<size_t>(i) % doc.groups.size()];
        doc.objects.Append(std::move(o));
    }
    size_t bytes = 0;
    for (auto _ : state) {
        std::string text = BuildMetricsText(doc, 0);
        bytes = text.size();
        benchmark::DoNotOptimize(text);
    }
    state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_MetricsSnapshot)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace orv

BENCHMARK_MAIN();

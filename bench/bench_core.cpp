// Figures for the main-thread hot paths: queueing one datagram, one monitoring tick over large layouts, and
// the metrics snapshot the tick builds when the endpoint is on.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "document/document.h"
#include "base/pollloop.h"
#include "document/metrics.h"
#include "monitors/halflife/hlserver.h"
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
struct BenchPlatform {
    CSystemClock clock;
    NullPrompter prompter;
    NullSound sound;
    CPollLoop loop;
    CPlatform platform{clock, prompter, sound, loop};
};

// Polls like a monitored object: time-out check and one query every other phase.
class PollingObject : public CCommonObject {
public:
    using CCommonObject::CCommonObject;
    const char* ClassName() const override { return "CBench"; }
    std::uint16_t Schema() const override { return 1; }
    void Tick() override {
        CheckTimeout();
        if (pollPhase % 2 == 0) SendQuery("details");
        pollPhase = (pollPhase + 1) % 6;
    }
};

void BM_QueueOneDatagram(benchmark::State& state) {
    COutputSocketControl q;
    CUdpSocket s;
    s.Create();
    const std::uint8_t d[12] = {0xFF, 0xFF, 0xFF, 0xFF, 'd', 'e', 't', 'a', 'i', 'l', 's', 0};
    size_t n = 0;
    for (auto _ : state) {
        q.Queue(d, sizeof d, &s);
        if (++n % 4096 == 0) {
            state.PauseTiming();
            q.Clear();
            state.ResumeTiming();
        }
    }
}
BENCHMARK(BM_QueueOneDatagram);

// Queueing a poll while the queue is at its backlog under the default limit: the identical-poll scan of
// the socket's waiting polls and the oldest one giving way.
void BM_QueuePollUnderOverload(benchmark::State& state) {
    COutputSocketControl q;
    std::vector<CUdpSocket> sockets(100);
    for (auto& s : sockets) s.Create();
    std::vector<std::string> texts;
    for (const char* t : {"details", "players", "rcon 123456789 \"secret\" status", "rcon 123456789 \"secret\" sv_password"})
        texts.push_back(std::string(4, '\xFF') + t + std::string(1, '\0'));
    size_t n = 0;
    for (auto _ : state) {
        const std::string& t = texts[(n / sockets.size()) % texts.size()];
        q.Queue(reinterpret_cast<const std::uint8_t*>(t.data()), t.size(), &sockets[n % sockets.size()], CPacketKind::Poll);
        ++n;
    }
    state.counters["waiting"] = q.Count();
}
BENCHMARK(BM_QueuePollUnderOverload);

// Times the document's tick; what it queued is dropped outside the timing.
void MeasureTicks(benchmark::State& state, COrvaneDoc& doc, int count) {
    for (auto _ : state) {
        doc.Tick();
        state.PauseTiming();
        doc.output.Clear();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * count);
}

// Half-Life servers with rcon passwords, as a large event would have them: every tick queues details
// (with A2S_INFO while no answer told the dialect), players or the three rcon commands for a sixth of them.
void BM_TickOverHalfLifeServers(benchmark::State& state) {
    CUdpSocket::RaiseDescriptorLimit();
    BenchPlatform bp;
    COrvaneDoc doc(bp.platform);
    doc.New();
    doc.output.Stop();
    const int count = static_cast<int>(state.range(0));
    for (int i = 0; i < count; ++i) {
        auto o = std::make_unique<CHLServer>(bp.platform);
        o->host = "127.0.0.1";
        o->port = static_cast<std::uint32_t>(1024 + i);
        o->rconPassword = "pw";
        o->pollPhase = i % 6;
        o->group = doc.groups[0];
        o->output = &doc.output;
        o->sound = &doc.sound;
        doc.objects.Append(std::move(o))->CreateSocket();
    }
    MeasureTicks(state, doc, count);
}
BENCHMARK(BM_TickOverHalfLifeServers)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

void BM_TickOverObjects(benchmark::State& state) {
    CUdpSocket::RaiseDescriptorLimit();
    BenchPlatform bp;
    COrvaneDoc doc(bp.platform);
    doc.New();
    doc.output.Stop();  // measure the tick itself, not the worker competing for the queue
    const int count = static_cast<int>(state.range(0));
    for (int i = 0; i < count; ++i) {
        auto o = std::make_unique<PollingObject>(bp.platform);
        o->host = "127.0.0.1";
        o->port = static_cast<std::uint32_t>(1024 + i);
        o->group = doc.groups[0];
        o->output = &doc.output;
        doc.objects.Append(std::move(o))->CreateSocket();
    }
    MeasureTicks(state, doc, count);
}
BENCHMARK(BM_TickOverObjects)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

// The whole text over layouts of every kind, with names, round trips and rooms as a large event has them.
void BM_MetricsSnapshot(benchmark::State& state) {
    BenchPlatform bp;
    CPlatform& platform = bp.platform;
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

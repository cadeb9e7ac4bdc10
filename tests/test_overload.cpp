// The document at the default limit in simulated time: the test runs the ticks and the output queue's
// windows on fake clocks, and loopback peers answer each window's datagrams before the next one.
#include <gtest/gtest.h>

#include <numeric>

#include "monitor_fixture.h"
#include "monitors/halflife/hlserver.h"
#include "monitors/quake3/gtv.h"
#include "monitors/quake3/q3server.h"
#include "sim/a2speer.h"
#include "sim/gtvpeer.h"
#include "sim/q3peer.h"
#include "testutil.h"

namespace orv {
namespace {

using namespace std::chrono_literals;

struct OverloadTest : test::DocFixture {
    std::int64_t ms = 0;
    std::vector<std::function<size_t()>> handled;  // datagrams each peer has answered
    std::function<void()> eachWindow;              // what else arrives in every window
    OverloadTest() {
        doc.output.SetLimit(COutputSocketControl::kDefaultLimit);
        doc.output.SetClock([this] { return ms; });
    }
    template <class T, class Peer>
    T* Watch(const Peer& p, const std::string& rcon, size_t phase) {
        handled.push_back([&p] { return p.ReceivedCount(); });
        T* o = Add<T>("127.0.0.1", p.Port(), "Servers", rcon);
        o->pollPhase = static_cast<std::int32_t>(phase % 6);  // spread over the cycle
        return o;
    }
    // Seconds: the tick, then ten windows, each followed by the answers to what it sent.
    void Run(int seconds) {
        auto all = [&] {
            return std::accumulate(handled.begin(), handled.end(), size_t{0}, [](size_t n, auto& f) { return n + f(); });
        };
        for (int s = 0; s < seconds * 10; ++s) {
            if (s % 10 == 0) tp.clock.Advance(1), doc.Tick();
            ms += COutputSocketControl::kWindowMilliseconds;
            const size_t expected = all() + static_cast<size_t>(doc.output.RunWindow());
            test::WaitFor([&]() -> bool { return all() >= expected; }, 2s);
            if (eachWindow) eachWindow();
            while (tp.loop.RunOnce(0ms) > 0) {
            }
        }
    }
    int Answering() const {
        return static_cast<int>(std::count_if(doc.objects.begin(), doc.objects.end(),
                                              [](auto& o) { return o->state >= CCommonObject::kStateMonitor; }));
    }
};

// 100 Half-Life servers with rcon passwords, early (classic "details" only), present-day (A2S) and half of
// each: the dialect probes never starve each other.
TEST_F(OverloadTest, HundredHalfLifeServersOfEitherDialectEndAnswered) {
    for (size_t early : {100u, 0u, 50u}) {
        std::vector<std::unique_ptr<sim::CHLPeer>> classic(early);
        std::vector<std::unique_ptr<sim::CA2SPeer>> present(100 - early);
        for (size_t i = 0; i < 100; ++i) {
            if (i < early) Watch<CHLServer>(*(classic[i] = std::make_unique<sim::CHLPeer>()), "secret", i);
            else Watch<CHLServer>((present[i - early] = std::make_unique<sim::CA2SPeer>())->Base(), "secret", i);
        }
        Run(90);
        EXPECT_GE(Answering(), 95) << early << " early servers of 100";
        doc.New();  // the objects go before their peers
        handled.clear();
    }
}

// A GTV proxy that never starts recording, its 32 rooms linked to a Quake 3 server in a match, beside 19
// Half-Life servers for two minutes: the queue stays small, all are answered, the operator is told once.
TEST_F(OverloadTest, AProxyThatNeverRecordsDoesNotCrowdOutTheServers) {
    sim::CQ3Peer q3peer;
    q3peer.SetScoreTime("12:31");
    sim::CGTVPeer gtvPeer;
    std::vector<sim::GTVPeerRoom> rooms(CGTV::kMaxRooms);
    for (size_t i = 0; i < rooms.size(); ++i) {
        rooms[i].hubNumber = static_cast<int>(i) + 1;
        rooms[i].parent = q3peer.Address();
    }
    gtvPeer.SetRooms(rooms);
    gtvPeer.SetRconHook([](const std::string& command) -> std::optional<std::string> {
        if (BeginsWith(command, "gtv_record")) return "Cannot record: disk full\n";
        return std::nullopt;
    });
    std::vector<std::unique_ptr<sim::CHLPeer>> servers(19);
    Watch<CQ3Server>(q3peer, "secret", 0);
    CGTV* gtv = Watch<CGTV>(gtvPeer, "secret", 0);
    for (size_t i = 0; i < servers.size(); ++i) Watch<CHLServer>(*(servers[i] = std::make_unique<sim::CHLPeer>()), "", i);
    int most = 0;
    for (int s = 0; s < 120; ++s) {
        Run(1);
        most = std::max(most, doc.output.Count());
    }
    const auto commands = gtvPeer.AcceptedCommands();
    const auto records = std::count_if(commands.begin(), commands.end(), [](auto& c) { return BeginsWith(c, "gtv_record"); });
    EXPECT_EQ(std::tuple(gtv->rooms[31].linkedServer != nullptr, Answering()), std::tuple(true, 21));
    EXPECT_LE(most, 100);
    EXPECT_TRUE(records > 0 && records <= CGTV::kMaxRooms * CAutomaticTries::kLimit) << records;
    EXPECT_EQ(tp.prompter.messages, std::vector<std::string>{"Orvane : " + gtv->AddressString() +
                                                             " did not start recording after 5 attempts; it is no "
                                                             "longer asked until the match ends."});
}

// A server flooding fresh challenges, each of which queues a status query, gives its own polls up: the
// servers beside it in a match still get their match report query out every cycle.
TEST_F(OverloadTest, AChallengeFlooderPaysForItsOwnBacklog) {
    sim::CHLPeer flooder;
    Watch<CHLServer>(flooder, "secret", 0);
    std::vector<std::unique_ptr<sim::CHLPeer>> servers(5);
    for (size_t i = 0; i < servers.size(); ++i) {
        Watch<CHLServer>(*(servers[i] = std::make_unique<sim::CHLPeer>()), "secret", i);
        servers[i]->SetMatchReport({});
    }
    Run(12);  // all answered, rcon in use
    for (auto& p : servers) p->ClearReceived();
    eachWindow = [&, fresh = 1000]() mutable {
        for (int k = 0; k < 10; ++k) flooder.SendToClient(test::kOob + Format("challenge rcon %d\n", ++fresh) + '\0');
    };
    Run(60);
    EXPECT_GT(doc.output.PollsDropped(), 100u);
    for (auto& p : servers) {
        const auto commands = p->AcceptedCommands();
        EXPECT_GE(std::count(commands.begin(), commands.end(), "nxn_match_report"), 9) << p->Port();
    }
}

}  // namespace
}  // namespace orv

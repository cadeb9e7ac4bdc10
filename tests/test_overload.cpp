// The document under overload at the default limit, in simulated time: the test runs the ticks and the
// output queue's windows itself on fake clocks, and the loopback peers answer each window's datagrams
// before the next window. What must hold: every object keeps being answered, whoever floods the queue.
#include <gtest/gtest.h>

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
    OverloadTest() {
        doc.output.SetLimit(COutputSocketControl::kDefaultLimit);
        doc.output.SetClock([this] { return ms; });
    }
    template <class T, class Peer>
    T* Watch(const Peer& p, const std::string& rcon, int phase) {
        handled.push_back([&p] { return p.ReceivedCount(); });
        T* o = Add<T>("127.0.0.1", p.Port(), doc.groups[0]->name, rcon);
        o->pollPhase = phase;  // spread over the cycle as the document spreads them
        return o;
    }
    size_t Handled() const {
        size_t n = 0;
        for (auto& count : handled) n += count();
        return n;
    }
    std::function<void()> eachWindow;  // what else arrives in every window
    // One second: the tick, then ten windows, each followed by the answers to what it sent.
    void Second() {
        tp.clock.Advance(1);
        doc.Tick();
        for (int w = 0; w < 10; ++w) {
            ms += COutputSocketControl::kWindowMilliseconds;
            const size_t before = Handled();
            const int sent = doc.output.RunWindow();
            if (sent > 0) test::WaitFor([&] { return Handled() >= before + static_cast<size_t>(sent); }, 2s);
            if (eachWindow) eachWindow();
            while (tp.loop.RunOnce(0ms) > 0) {
            }
        }
    }
    int Answering() const {
        int n = 0;
        for (const auto& o : doc.objects) n += o->state >= CCommonObject::kStateMonitor ? 1 : 0;
        return n;
    }
};

// 100 Half-Life servers with rcon passwords, early ones (classic "details" only), present-day ones (A2S)
// and half of each: the dialect probes never starve each other, and nearly all end answered.
TEST_F(OverloadTest, HundredHalfLifeServersOfEitherDialectEndAnswered) {
    for (int early : {100, 0, 50}) {
        std::vector<std::unique_ptr<sim::CHLPeer>> classic;
        std::vector<std::unique_ptr<sim::CA2SPeer>> present;
        doc.New();
        handled.clear();
        for (int i = 0; i < 100; ++i) {
            if (i < early) {
                classic.push_back(std::make_unique<sim::CHLPeer>());
                Watch<CHLServer>(*classic.back(), "secret", i % 6);
            } else {
                present.push_back(std::make_unique<sim::CA2SPeer>());
                Watch<CHLServer>(present.back()->Base(), "secret", i % 6);
            }
        }
        for (int s = 0; s < 90; ++s) Second();
        EXPECT_GE(Answering(), 95) << early << " early servers of 100";
        doc.New();  // the objects go before their peers
    }
}

// A GTV proxy that never starts recording, its 32 rooms linked to a Quake 3 server in a match, beside
// 19 Half-Life servers: the automatic record commands neither grow the queue nor crowd the servers out,
// and the operator is told once.
TEST_F(OverloadTest, AProxyThatNeverRecordsDoesNotCrowdOutTheServers) {
    sim::CQ3Peer q3peer;
    q3peer.SetScoreTime("12:31");
    sim::CGTVPeer gtvPeer;
    std::vector<sim::GTVPeerRoom> rooms(CGTV::kMaxRooms);
    for (int i = 0; i < CGTV::kMaxRooms; ++i) {
        rooms[static_cast<size_t>(i)].hubNumber = i + 1;
        rooms[static_cast<size_t>(i)].parent = q3peer.Address();
        rooms[static_cast<size_t>(i)].players = {{0, "Alpha"}, {1, "Bravo"}};
    }
    gtvPeer.SetRooms(rooms);
    gtvPeer.SetRconHook([](const std::string& command) -> std::optional<std::string> {
        if (BeginsWith(command, "gtv_record")) return "Cannot record: disk full\n";
        return std::nullopt;
    });
    std::vector<std::unique_ptr<sim::CHLPeer>> servers(19);
    Watch<CQ3Server>(q3peer, "secret", 0);
    CGTV* gtv = Watch<CGTV>(gtvPeer, "secret", 0);
    for (size_t i = 0; i < servers.size(); ++i) {
        servers[i] = std::make_unique<sim::CHLPeer>();
        Watch<CHLServer>(*servers[i], "", static_cast<int>(i % 6));
    }
    int most = 0;
    for (int s = 0; s < 120; ++s) {
        Second();
        most = std::max(most, doc.output.Count());
    }
    int records = 0;
    for (auto& c : gtvPeer.AcceptedCommands()) records += BeginsWith(c, "gtv_record") ? 1 : 0;
    EXPECT_EQ(std::tuple(gtv->rooms[31].linkedServer != nullptr, Answering()), std::tuple(true, 21));
    EXPECT_LE(most, 100);
    EXPECT_GT(records, 0);
    EXPECT_LE(records, CGTV::kMaxRooms * CAutomaticTries::kLimit);
    ASSERT_EQ(tp.prompter.messages.size(), 1u);
    EXPECT_TRUE(tp.prompter.messages[0].ends_with("did not start recording after 5 attempts; it is no longer asked "
                                                  "until the match ends."))
        << tp.prompter.messages[0];
}

// A server that answers with fresh challenges, each of which queues a status query, fills the backlog
// with its own polls: it gives them up, and the servers beside it in a match still get their match
// report query out every cycle.
TEST_F(OverloadTest, AChallengeFlooderPaysForItsOwnBacklog) {
    sim::CHLPeer flooder;
    CHLServer* flooded = Watch<CHLServer>(flooder, "secret", 0);
    std::vector<std::unique_ptr<sim::CHLPeer>> servers(5);
    for (size_t i = 0; i < servers.size(); ++i) {
        servers[i] = std::make_unique<sim::CHLPeer>();
        servers[i]->SetMatchReport({});
        Watch<CHLServer>(*servers[i], "secret", static_cast<int>(i % 6));
    }
    for (int s = 0; s < 12; ++s) Second();  // all answered, rcon in use
    for (auto& p : servers) p->ClearReceived();
    std::uint32_t fresh = 1000;
    eachWindow = [&] {
        for (int k = 0; k < 10; ++k)
            flooder.SendToClient(test::kOob + "challenge rcon " + std::to_string(++fresh) + "\n" + std::string(1, '\0'));
    };
    const int cycles = 10;
    for (int s = 0; s < cycles * 6; ++s) Second();
    EXPECT_GT(doc.output.PollsDropped(), 100u);
    EXPECT_NE(flooded->state, CCommonObject::kStateTimeout);
    for (auto& p : servers) {
        int reports = 0;
        for (auto& c : p->AcceptedCommands()) reports += c == "nxn_match_report" ? 1 : 0;
        EXPECT_GE(reports, cycles - 1) << p->Port();
    }
}

}  // namespace
}  // namespace orv

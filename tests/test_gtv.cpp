// The GTV proxy monitor against a loopback GTV proxy: the five-phase cycle, the manager, hub and console
// answers, the rcon probe and the bad-password protection, and the rooms: folding, selection, sizes,
// follow, recording names, auto record by a linked Quake 3 server's match, drops and links.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <string>
#include <vector>

#include "base/archive.h"
#include "document/document.h"
#include "base/strutil.h"
#include "fakes.h"
#include "monitors/quake3/gtv.h"
#include "monitors/quake3/q3parse.h"
#include "monitors/quake3/q3server.h"
#include "sim/gtvpeer.h"
#include "sim/q3peer.h"

namespace orv {
namespace {

using namespace std::chrono_literals;

const std::string kOob("\xFF\xFF\xFF\xFF", 4);

std::string Framed(const std::string& text) {
    return kOob + text + std::string(1, '\0');
}

// Records the state at which every rcon command is sent.
class ProbeGTV : public CGTV {
public:
    using CGTV::CGTV;
    void SendRcon(const std::string& command) override {
        sent.emplace_back(command, state);
        CGTV::SendRcon(command);
    }
    std::vector<std::pair<std::string, std::int32_t>> sent;
};

struct GtvFixture : ::testing::Test {
    test::TestPlatform tp;
    COrvaneDoc doc{tp.platform};
    sim::CGTVPeer peer;
    int flushes = 0;

    GtvFixture() {
        doc.New();
        doc.output.SetLimit(1'000'000);
        // The test runs the queue's windows itself (Settle), so nothing waits for the worker's pace.
        doc.output.Stop();
    }

    CGroup* Group(const std::string& name) {
        for (auto& g : doc.groups)
            if (g->name == name) return g.get();
        return nullptr;
    }

    template <class T = CGTV>
    T* AddGtv(const std::string& rconPassword, int port, const std::string& group = "Local TV") {
        auto o = std::make_unique<T>(tp.platform);
        o->host = "127.0.0.1";
        o->port = static_cast<std::uint32_t>(port);
        o->rconPassword = rconPassword;
        auto* gtv = static_cast<T*>(doc.AddObject(std::move(o), Group(group)));
        EXPECT_NE(gtv, nullptr);
        gtv->pollPhase = 0;
        return gtv;
    }
    // The monitored proxy, talking to the peer; the peer has learnt its address.
    template <class T = CGTV>
    T* Add(const std::string& rconPassword) {
        T* gtv = AddGtv<T>(rconPassword, peer.Port());
        Settle(*gtv, peer);
        peer.ClearReceived();
        return gtv;
    }

    // Everything the object queued has reached the peer, and every answer the peer gave has been handled.
    void Settle(CCommonObject& o, sim::CQuakeLoopbackPeer& p) {
        const std::string marker = "flush " + std::to_string(++flushes);
        o.SendQuery(marker);  // behind the object's queries and actions
        while (doc.output.Count() > 0) doc.output.RunWindow();
        ASSERT_TRUE(p.WaitForText(marker, 3s)) << marker;
        while (tp.loop.RunOnce(0ms) > 0) {
        }
    }
    void Settle(CCommonObject& o) { Settle(o, peer); }

    void Deliver(const std::string& text) {
        ASSERT_TRUE(peer.SendToClient(kOob + text));
        ASSERT_EQ(tp.loop.RunOnce(2000ms), 1);
    }

    std::vector<std::string> Sent(const sim::CQuakeLoopbackPeer& p) {
        std::vector<std::string> out;
        for (auto& t : p.ReceivedTexts())
            if (!BeginsWith(t, "flush ")) out.push_back(t);
        return out;
    }
    std::vector<std::string> Sent() { return Sent(peer); }

    std::vector<std::string> Console(const CCommonObject& o) {
        return {o.consoleLog.text.begin(), o.consoleLog.text.begin() + o.consoleLog.count};
    }
};

sim::GTVPeerRoom Room(int hub, int roomState, int roomNumber, std::vector<sim::GTVPeerPlayer> players = {},
                      const std::string& parent = {}) {
    sim::GTVPeerRoom r;
    r.hubNumber = hub;
    r.roomState = roomState;
    r.roomNumber = roomNumber;
    r.players = std::move(players);
    r.parent = parent;
    return r;
}

TEST_F(GtvFixture, ConstructionDefaults) {
    CGTV g(tp.platform);
    EXPECT_STREQ(g.ClassName(), "CGTV");
    EXPECT_EQ(g.Schema(), 11);
    EXPECT_EQ(g.icon, 161u);
    EXPECT_EQ(g.autoRecord, 1u);
    EXPECT_EQ(g.expanded, 0);
    EXPECT_EQ(g.roomCount, 0);
    EXPECT_EQ(g.selectedRoom, nullptr);
    EXPECT_EQ(g.linkNotBefore, 0);
    EXPECT_TRUE(g.IsGTV());
    EXPECT_FALSE(g.IsGameServer());
    EXPECT_EQ(g.GetPlayerNameCount(), 0);
    EXPECT_EQ(g.GetPlayerNames(), nullptr);
    EXPECT_FALSE(g.CanRecord());
    EXPECT_EQ(g.rooms[7].following, -1);
}

TEST_F(GtvFixture, FiveSecondCycleWithExactBytes) {
    CGTV* g = Add("secret");
    peer.SetSilent(true);
    g->roomCount = 2;
    g->rooms[0].hubNumber = 3;
    g->rooms[1].hubNumber = 5;
    for (int i = 0; i < 10; ++i) {
        g->Tick();
        if (i == 4) Settle(*g);  // a query still waiting is not queued twice
    }
    Settle(*g);
    const std::vector<std::string> once{"getManagerInfo", "gethubinfo 3", "gethubinfo 5",
                                        "rcon \"secret\" gtv_password"};
    std::vector<std::string> twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(Sent(), twice);
    EXPECT_EQ(g->pollPhase, 0);

    const auto raw = peer.Received();
    ASSERT_GE(raw.size(), 2u);
    EXPECT_EQ(raw[0], Framed("getManagerInfo"));
    EXPECT_EQ(raw[0].size(), 19u);
    EXPECT_EQ(raw[1], Framed("gethubinfo 3"));
    EXPECT_EQ(raw[1].size(), 17u);
    EXPECT_EQ(raw[3].size(), 6u + 12u + 13u);  // rcon: n + m + 13 bytes
}

TEST_F(GtvFixture, ManagerAnswerBuildsTheRoomTable) {
    CGTV* g = Add("");
    peer.SetHostName("^4Big GTV");
    peer.SetClients(12, 200);
    peer.SetChains("10.0.0.7:27970 10.0.0.8:27970 ");
    peer.SetRooms({Room(3, 1, 0), Room(5, 3, 7)});
    g->Tick();
    Settle(*g);
    EXPECT_EQ(g->state, 2);
    EXPECT_EQ(g->serverName, "^4Big GTV");
    EXPECT_EQ(g->clients, 12);
    EXPECT_EQ(g->clientSlots, 200);
    EXPECT_EQ(g->chainList, "10.0.0.7:27970 10.0.0.8:27970 ");
    ASSERT_EQ(g->roomCount, 2);
    EXPECT_EQ(g->rooms[0].hubNumber, 3);
    EXPECT_EQ(g->rooms[0].roomState, 1);
    EXPECT_EQ(g->rooms[0].roomNumber, 0);
    EXPECT_EQ(g->rooms[1].hubNumber, 5);
    EXPECT_EQ(g->rooms[1].roomState, 3);
    EXPECT_EQ(g->rooms[1].roomNumber, 7);

    // Rebuilt in place: the other fields stay with the index.
    g->rooms[0].map = "q3dm6";
    Deliver("managerInfoResponse\n\\numHubs\\1\\hubs\\  9 4 2 ");
    EXPECT_EQ(g->roomCount, 1);
    EXPECT_EQ(g->rooms[0].hubNumber, 9);
    EXPECT_EQ(g->rooms[0].roomState, 4);
    EXPECT_EQ(g->rooms[0].roomNumber, 2);
    EXPECT_EQ(g->rooms[0].map, "q3dm6");
    EXPECT_EQ(g->rooms[1].hubNumber, 5);  // stale beyond room count
    EXPECT_EQ(g->serverName, "");

    // A last number without a space, and a token that is not a number, read 0.
    Deliver("managerInfoResponse\n\\numHubs\\2\\hubs\\3 x 4 5 6 7");
    EXPECT_EQ(g->rooms[0].hubNumber, 3);
    EXPECT_EQ(g->rooms[0].roomState, 0);
    EXPECT_EQ(g->rooms[0].roomNumber, 4);
    EXPECT_EQ(g->rooms[1].roomNumber, 0);

    // More hubs than the table holds, or a negative count.
    std::string hubs;
    for (int i = 0; i < 40; ++i) hubs += std::to_string(100 + i) + " 3 0 ";
    Deliver("managerInfoResponse\n\\numHubs\\40\\hubs\\" + hubs);
    EXPECT_EQ(g->roomCount, 32);
    EXPECT_EQ(g->rooms[31].hubNumber, 131);
    Deliver("managerInfoResponse\n\\numHubs\\100000\\hubs\\1 1 1 ");
    EXPECT_EQ(g->roomCount, 32);
    EXPECT_EQ(g->rooms[1].hubNumber, 0);
    Deliver("managerInfoResponse\n\\numHubs\\-3\\hubs\\1 1 1 ");
    EXPECT_EQ(g->roomCount, 0);
    EXPECT_EQ(g->ShownRoomCount(), 0);
}

TEST_F(GtvFixture, HubAnswerFillsItsRoom) {
    CGTV* g = Add("");
    peer.SetRooms({Room(3, 3, 0), Room(8, 1, 0)});
    g->Tick();
    Settle(*g);
    ASSERT_EQ(g->roomCount, 2);

    Deliver(
        "hubInfoResponse\n\\hubNum\\8\\mapName\\maps/q3dm17.bsp\\recording\\demo1\\desc\\^2Final\\parent\\"
        "127.0.0.1:27960\\p0t\\1\\p0n\\^1Al^7pha\\p2t\\\\p2n\\Ghost\\p4t\\2\\p4n\\Bra^3vo");
    const CGTVRoom& r = g->rooms[1];
    EXPECT_EQ(r.map, "q3dm17");
    EXPECT_EQ(r.recordingName, "demo1");
    EXPECT_EQ(r.description, "^2Final");
    EXPECT_EQ(r.serverAddress, "127.0.0.1:27960");
    EXPECT_EQ(r.following, -1);
    ASSERT_EQ(r.playerCount, 2);
    EXPECT_EQ(r.playerNumbers[0], 0);
    EXPECT_EQ(r.playerNames[0], "Alpha");
    EXPECT_EQ(r.playerNumbers[1], 4);
    EXPECT_EQ(r.playerNames[1], "Bravo");
    EXPECT_EQ(g->FollowedPlayerName(r), "-");
    EXPECT_EQ(g->rooms[0].map, "");

    Deliver("hubInfoResponse\n\\hubNum\\8\\following\\\\p4t\\1\\p4n\\B");
    EXPECT_EQ(r.following, -1);
    EXPECT_EQ(r.map, "");
    Deliver("hubInfoResponse\n\\hubNum\\8\\following\\4\\p4t\\1\\p4n\\B\\p31t\\1\\p31n\\Last\\p32t\\1\\p32n\\Out");
    EXPECT_EQ(r.following, 4);
    EXPECT_EQ(g->FollowedPlayerName(r), "B");
    ASSERT_EQ(r.playerCount, 2);
    EXPECT_EQ(r.playerNumbers[1], 31);

    // Through the peer, on the tick's phase 1.
    sim::GTVPeerRoom full = Room(3, 3, 0, {{2, "^5Zed"}});
    full.map = "pro-q3tourney4";
    full.following = 2;
    peer.SetRoom(full);
    g->Tick();  // phase 1
    Settle(*g);
    EXPECT_EQ(g->rooms[0].map, "pro-q3tourney4");
    EXPECT_EQ(g->FollowedPlayerName(g->rooms[0]), "Zed");

    // An unknown hub changes no room but is an answer.
    peer.SetSilent(true);
    g->Tick();
    Settle(*g);  // the query left
    tp.clock.Advance(20);
    g->Tick();
    EXPECT_EQ(g->state, 1);
    peer.SetSilent(false);
    Deliver("hubInfoResponse\n\\hubNum\\77\\mapName\\x");
    EXPECT_EQ(g->state, 2);
    EXPECT_EQ(g->lastAnswerTime, tp.clock.now);
    EXPECT_EQ(g->rooms[0].map, "pro-q3tourney4");
}

TEST_F(GtvFixture, RconProbeLeavesBeforeStateTwoOnlyWithAPassword) {
    auto* g = Add<ProbeGTV>("secret");
    peer.SetGtvPassword("^1tv^7pass");
    g->Tick();  // getManagerInfo
    doc.output.RunWindow();
    ASSERT_TRUE(peer.WaitForText("getManagerInfo", 3s));
    ASSERT_TRUE(tp.loop.RunUntil([&] { return g->state != 1; }, 3s));
    ASSERT_EQ(g->sent.size(), 1u);
    EXPECT_EQ(g->sent[0].first, "gtv_follow");
    EXPECT_EQ(g->sent[0].second, 1);  // sent while still in state 1
    EXPECT_EQ(g->state, 2);
    Settle(*g);
    EXPECT_EQ(g->state, 3);  // the probe's console answer proved the password
    EXPECT_EQ(Sent(), (std::vector<std::string>{"getManagerInfo", "rcon \"secret\" gtv_follow"}));

    g->Tick();
    g->Tick();  // phase 2: gtv_password
    Settle(*g);
    EXPECT_EQ(g->password, "tvpass");
    EXPECT_EQ(g->consoleLog.text[g->consoleLog.count - 1], "\"gtv_password\" is:\"tvpass\" default:\"\"");
    // Answers in state 2 or 3 do not change the state and send no probe.
    g->Tick();
    g->Tick();
    g->Tick();  // phase 0 again
    Settle(*g);
    EXPECT_EQ(g->state, 3);
    EXPECT_EQ(peer.CountText("rcon \"secret\" gtv_follow"), 1u);

    // Silence after a query left, then the first answer probes again.
    peer.SetSilent(true);
    g->Tick();
    Settle(*g);
    tp.clock.Advance(11);
    g->Tick();
    EXPECT_EQ(g->state, 1);
    peer.SetSilent(false);
    Deliver("managerInfoResponse\n\\numHubs\\0");
    Settle(*g);
    EXPECT_EQ(peer.CountText("rcon \"secret\" gtv_follow"), 2u);
    EXPECT_EQ(g->state, 3);
}

TEST_F(GtvFixture, NoProbeWithoutAnRconPassword) {
    CGTV* g = Add("");
    for (int i = 0; i < 5; ++i) g->Tick();
    Settle(*g);
    EXPECT_EQ(g->state, 2);
    EXPECT_EQ(Sent(), std::vector<std::string>{"getManagerInfo"});
    Deliver("print\nhello\n");
    EXPECT_EQ(g->state, 2);
}

TEST_F(GtvFixture, WrongRconPasswordSilencesRconForGood) {
    peer.SetRconPassword("other");
    CGTV* g = Add("secret");
    g->Tick();
    Settle(*g);  // manager answer: probe
    Settle(*g);  // the probe's refusal
    EXPECT_EQ(g->rconPassword, "");
    EXPECT_EQ(g->state, 2);
    EXPECT_EQ(Console(*g), (std::vector<std::string>{"Bad rconpassword.", CGTV::kBadRconLine1, CGTV::kBadRconLine2}));
    EXPECT_EQ(tp.sound.played, std::vector<std::string>{"badrcon.wav"});
    EXPECT_EQ(peer.RefusedCommands(), std::vector<std::string>{"gtv_follow"});

    peer.ClearReceived();
    g->roomCount = 1;
    g->rooms[0].roomState = 3;
    g->selectedRoom = &g->rooms[0];
    g->rooms[0].playerCount = 1;
    g->rooms[0].playerNames[0] = "A";
    for (int i = 0; i < 15; ++i) g->Tick();
    g->Follow("A");
    g->SendCloseRoom(g->rooms[0]);
    Settle(*g);
    for (auto& t : Sent()) EXPECT_FALSE(BeginsWith(t, "rcon")) << t;
    EXPECT_TRUE(peer.RefusedCommands().empty());
    EXPECT_EQ(g->state, 2);

    // With sound off the protection still applies, silently.
    g->rconPassword = "secret2";
    doc.sound.sound.enabled = 0;
    Deliver("print\n^1Bad rconpassword.^7\nBad rconpassword. again\n");
    EXPECT_EQ(g->rconPassword, "");
    EXPECT_EQ(tp.sound.played.size(), 1u);
}

// A GTV box at (100, 200) with three rooms, the middle one in room state 2.
struct RoomsFixture : ::testing::Test {
    test::TestPlatform tp;
    CGTV g{tp.platform};
    RoomsFixture() {
        g.state = 2;
        g.box = {100, 200, 220, 278};
        g.roomCount = 3;
        const int states[] = {1, 2, 3};
        for (int i = 0; i < 3; ++i) {
            g.rooms[static_cast<size_t>(i)].hubNumber = i + 1;
            g.rooms[static_cast<size_t>(i)].roomState = states[i];
        }
        g.rooms[2].playerCount = 2;
        g.rooms[2].playerNames[0] = "Alpha";
        g.rooms[2].playerNames[1] = "Bravo";
        g.PlaceRooms();
    }
    // The layout view sizes the box and draws it.
    void Redraw() {
        const auto size = g.BoxSize();
        g.box.right = g.box.left + size.width;
        g.box.bottom = g.box.top + size.height;
        g.PlaceRooms();
    }
};

TEST_F(RoomsFixture, ClicksFoldUnfoldAndSelect) {
    EXPECT_EQ(g.BoxSize().width, 120);
    EXPECT_EQ(g.BoxSize().height, 78);
    EXPECT_EQ(g.expandBox, (CRect{110, 233, 125, 248}));
    for (auto& r : g.rooms) EXPECT_EQ(r.band, CRect{});

    g.OnClick(110, 233);  // the expand box's top-left corner
    EXPECT_EQ(g.expanded, 1);
    EXPECT_EQ(g.selectedRoom, nullptr);
    Redraw();
    EXPECT_EQ(g.BoxSize().height, 163);
    EXPECT_EQ(g.box.bottom, 363);
    EXPECT_EQ(g.rooms[0].band, (CRect{103, 253, 217, 293}));
    EXPECT_EQ(g.rooms[1].band, CRect{});
    EXPECT_EQ(g.rooms[2].band, (CRect{103, 293, 217, 333}));
    EXPECT_EQ(g.rooms[2].anchor, (CGTVRoom::Point{103, 313}));

    g.OnClick(150, 300);
    ASSERT_EQ(g.selectedRoom, &g.rooms[2]);
    EXPECT_EQ(g.SelectedRoomIndex(), 2);
    EXPECT_TRUE(g.CanRecord());
    EXPECT_EQ(g.GetPlayerNameCount(), 2);
    ASSERT_NE(g.GetPlayerNames(), nullptr);
    EXPECT_EQ((*g.GetPlayerNames())[1], "Bravo");
    g.OnClick(150, 292);  // last row of the first band
    EXPECT_EQ(g.selectedRoom, &g.rooms[0]);
    EXPECT_FALSE(g.CanRecord());  // room state 1
    g.OnClick(217, 300);          // right edge: outside
    EXPECT_EQ(g.selectedRoom, nullptr);
    EXPECT_EQ(g.GetPlayerNameCount(), 0);

    g.OnClick(150, 300);
    g.OnClick(124, 247);  // expand box again: folds, and the click selects nothing
    EXPECT_EQ(g.expanded, 0);
    EXPECT_EQ(g.selectedRoom, nullptr);
    Redraw();
    EXPECT_EQ(g.BoxSize().height, 78);
    for (auto& r : g.rooms) EXPECT_EQ(r.band, CRect{});

    // Drawing folded clears a selection; below state 2 the expand box is empty and cannot be clicked.
    g.selectedRoom = &g.rooms[0];
    g.PlaceRooms();
    EXPECT_EQ(g.selectedRoom, nullptr);
    g.state = 1;
    g.PlaceRooms();
    EXPECT_EQ(g.expandBox, CRect{});
    g.OnClick(110, 233);
    EXPECT_EQ(g.expanded, 0);

    // Unfolded without rooms: 120 x 83.
    g.expanded = 1;
    g.roomCount = 0;
    EXPECT_EQ(g.BoxSize().height, 83);
}

TEST_F(RoomsFixture, RecordingAndFollowedNames) {
    // 21:30 on 4 May 2003 (the fake clock's local time is UTC).
    std::tm t{};
    t.tm_year = 103;
    t.tm_mon = 4;
    t.tm_mday = 4;
    t.tm_hour = 21;
    t.tm_min = 30;
    t.tm_sec = 59;
    tp.clock.now = ::timegm(&t);
    CGTVRoom& r = g.rooms[0];
    r.map = "q3dm17";
    r.playerCount = 3;
    r.playerNames[0] = "Alpha";
    r.playerNumbers[0] = 4;
    r.playerNames[1] = "GTV-relay";
    r.playerNumbers[1] = 5;
    r.playerNames[2] = "Bravo";
    r.playerNumbers[2] = 9;
    r.following = 4;
    EXPECT_EQ(g.RecordingName(r), "2003-05-04_21h30_q3dm17_(Alpha)_Bravo");
    EXPECT_EQ(g.FollowedPlayerName(r), "Alpha");
    r.following = 5;
    EXPECT_EQ(g.RecordingName(r), "2003-05-04_21h30_q3dm17_Alpha_Bravo");
    EXPECT_EQ(g.FollowedPlayerName(r), "GTV-relay");
    r.following = -1;
    EXPECT_EQ(g.FollowedPlayerName(r), "-");

    // Only proxies: date, time and map. Names are cleaned for a file name.
    r.playerNames[0] = "GTV";
    r.playerNames[2] = "GTV2";
    EXPECT_EQ(g.RecordingName(r), "2003-05-04_21h30_q3dm17");
    r.playerNames[0] = "gtv sp@ce/é";
    r.map = "maps/x";
    EXPECT_EQ(g.RecordingName(r), "2003-05-04_21h30_mapsx_gtvsp@ce");
}

TEST_F(GtvFixture, FollowSendsTheCommandThenRefreshesTheHub) {
    peer.SetRooms({Room(3, 3, 0, {{0, "^1Alpha"}, {4, "Bravo"}})});
    CGTV* g = Add("secret");
    g->Tick();  // manager
    Settle(*g);
    g->Tick();  // hubs
    Settle(*g);
    ASSERT_EQ(g->rooms[0].playerCount, 2);
    peer.ClearReceived();

    g->Follow("Bravo");  // no selected room
    g->selectedRoom = &g->rooms[0];
    g->Follow("Charlie");
    g->Follow("bravo");
    g->Follow("^1Alpha");  // the table holds names without colour codes
    Settle(*g);
    EXPECT_TRUE(Sent().empty());

    g->Follow("Bravo");
    Settle(*g);
    Settle(*g);
    EXPECT_EQ(Sent(), (std::vector<std::string>{"rcon \"secret\" gtv_follow 4 3", "gethubinfo 3"}));
    EXPECT_EQ(g->rooms[0].following, 4);
    EXPECT_EQ(g->FollowedPlayerName(g->rooms[0]), "Bravo");
}

TEST_F(GtvFixture, RoomCommandsForTheDocument) {
    peer.SetRooms({Room(3, 3, 0), Room(12, 3, 0)});
    CGTV* g = Add("secret");
    g->Tick();
    Settle(*g);
    Settle(*g);
    peer.ClearReceived();
    g->SendDescription(g->rooms[1], "Grand \"final\"");
    g->SendStartRecord(g->rooms[1], "demo_x");
    g->SendStopRecord(g->rooms[1]);
    g->SendCloseRoom(g->rooms[0]);
    g->SendPassword("");
    g->SendPassword("up");
    Settle(*g);
    EXPECT_EQ(peer.AcceptedCommands(),
              (std::vector<std::string>{"gtv_description 12 \"Grand \"final\"\"", "gtv_record demo_x 12",
                                        "gtv_stoprecord 12", "gtv_disconnect 3", "password up"}));

    // A selection left beyond the rooms the proxy lists is dropped.
    g->selectedRoom = &g->rooms[1];
    g->Tick();
    g->Tick();
    g->Tick();
    g->Tick();
    g->Tick();  // phase 0 again
    Settle(*g);
    EXPECT_EQ(g->roomCount, 1);
    EXPECT_EQ(g->rooms[0].hubNumber, 12);
    EXPECT_EQ(g->selectedRoom, nullptr);
}

TEST_F(GtvFixture, AutoRecordFollowsTheLinkedQuake3Match) {
    tp.clock.now = 1'000'020;  // 13:47:00: the recording names below share one minute
    sim::CQ3Peer q3peer;
    auto q3object = std::make_unique<CQ3Server>(tp.platform);
    q3object->host = "127.0.0.1";
    q3object->port = static_cast<std::uint32_t>(q3peer.Port());
    q3object->rconPassword = "secret";
    auto* q3 = static_cast<CQ3Server*>(doc.AddObject(std::move(q3object), Group("Servers")));
    ASSERT_NE(q3, nullptr);
    q3->pollPhase = 0;

    sim::GTVPeerRoom live = Room(3, 3, 0, {{0, "Alpha"}, {1, "GTV-relay"}, {4, "Bravo"}}, q3peer.Address());
    live.following = 0;
    peer.SetRooms({live, Room(4, 2, 0, {{0, "Alpha"}}, q3peer.Address()), Room(6, 3, 0, {}, "127.0.0.1:1")});
    CGTV* g = Add("secret");

    auto tick = [&] {
        tp.clock.Advance(1);
        doc.Tick();
        for (int i = 0; i < 2; ++i) {
            Settle(*q3, q3peer);
            Settle(*g);
        }
    };
    auto records = [&](const std::string& prefix) {
        int n = 0;
        for (auto& c : peer.AcceptedCommands()) n += BeginsWith(c, prefix) ? 1 : 0;
        return n;
    };
    for (int i = 0; i < 6; ++i) tick();
    ASSERT_EQ(doc.cycleCounter, 0);  // the linking pass has run
    EXPECT_EQ(g->rooms[0].linkedServer, q3);
    EXPECT_EQ(g->rooms[1].linkedServer, q3);
    EXPECT_EQ(g->rooms[2].linkedServer, nullptr);
    EXPECT_EQ(q3->state, 3);
    EXPECT_EQ(q3->matchRunning, 0);
    EXPECT_EQ(records("gtv_record"), 0);
    EXPECT_EQ(records("gtv_stoprecord"), 0);

    q3peer.SetScoreTime("12:31");
    for (int i = 0; i < 12 && peer.Room(3)->recording.empty(); ++i) tick();
    EXPECT_EQ(q3->matchRunning, 1);
    EXPECT_EQ(tp.sound.played, std::vector<std::string>{"MatchStarted.wav"});
    const std::string recording = peer.Room(3)->recording;
    EXPECT_TRUE(recording.ends_with("_q3dm17_(Alpha)_Bravo")) << recording;
    for (int i = 0; i < 10; ++i) tick();
    EXPECT_EQ(g->rooms[0].recordingName, recording);
    // Repeated at most until a hub answer confirmed it; never for the hidden room or the unlinked one.
    const int started = records("gtv_record");
    EXPECT_GE(started, 1);
    EXPECT_LE(started, 2);
    EXPECT_EQ(records("gtv_record") - records("gtv_record " + recording + " 3"), 0);

    q3peer.SetScoreTime("Waiting for Players");
    for (int i = 0; i < 12 && !peer.Room(3)->recording.empty(); ++i) tick();
    EXPECT_EQ(q3->matchRunning, 0);
    EXPECT_TRUE(peer.Room(3)->recording.empty());
    EXPECT_GE(records("gtv_stoprecord 3"), 1);
    EXPECT_EQ(records("gtv_stoprecord"), records("gtv_stoprecord 3"));
    EXPECT_EQ(records("gtv_record"), started);

    // Without auto record nothing is started.
    g->autoRecord = 0;
    q3peer.SetScoreTime("1:00");
    for (int i = 0; i < 8; ++i) tick();
    EXPECT_EQ(q3->matchRunning, 1);
    EXPECT_EQ(records("gtv_record"), started);
}

TEST_F(GtvFixture, DropConnectsTheProxyToItsTarget) {
    CGTV* p = Add("secret");  // in Local TV, zone LAN Local
    auto* sameZone = AddGtv("", 1, "Servers");
    sameZone->password = "pw1";
    auto* otherZone = AddGtv("", 2, "Internet TV");
    otherZone->password = "pw2";
    otherZone->externalHost = "127.0.0.9";
    otherZone->externalPort = 27971;
    auto* noPassword = AddGtv("", 3, "Internet TV");
    noPassword->externalHost = "127.0.0.8";
    noPassword->externalPort = 27972;
    sim::CQ3Peer q3peer;
    auto q3object = std::make_unique<CQ3Server>(tp.platform);
    q3object->host = "127.0.0.1";
    q3object->port = static_cast<std::uint32_t>(q3peer.Port());
    q3object->password = "serverpw";
    auto* q3 = doc.AddObject(std::move(q3object), Group("Servers"));

    p->OnDrop(nullptr);
    p->OnDrop(sameZone);
    p->OnDrop(otherZone);
    p->OnDrop(noPassword);
    p->OnDrop(q3);
    Settle(*p);
    EXPECT_EQ(peer.AcceptedCommands(),
              (std::vector<std::string>{"password pw1", "gtv_connect 127.0.0.1:1 pw1", "password pw2",
                                        "gtv_connect 127.0.0.9:27971 pw2", "gtv_connect 127.0.0.8:27972 ",
                                        "gtv_connect " + q3peer.Address()}));
    EXPECT_EQ(peer.Connects().size(), 4u);
    EXPECT_EQ(peer.PasswordsGiven(), (std::vector<std::string>{"pw1", "pw2"}));
    EXPECT_TRUE(tp.prompter.messages.empty());  // no "Drop on" message

    // An object without a group counts as another zone.
    sameZone->group = nullptr;
    peer.ClearReceived();
    sameZone->externalHost = "127.0.0.7";
    sameZone->externalPort = 5;
    p->OnDrop(sameZone);
    Settle(*p);
    EXPECT_EQ(peer.AcceptedCommands().back(), "gtv_connect 127.0.0.7:5 pw1");
}

TEST_F(GtvFixture, LinksMatchesAndDeletion) {
    sim::CQ3Peer q3peer;
    auto q3object = std::make_unique<CQ3Server>(tp.platform);
    q3object->host = "127.0.0.1";
    q3object->port = static_cast<std::uint32_t>(q3peer.Port());
    auto* q3 = doc.AddObject(std::move(q3object), Group("Servers"));
    auto* upstream = AddGtv("", 2, "Internet TV");
    upstream->externalHost = "127.0.0.9";
    upstream->externalPort = 27971;
    EXPECT_TRUE(upstream->Matches("127.0.0.1:2"));
    EXPECT_TRUE(upstream->Matches("127.0.0.9:27971"));
    EXPECT_FALSE(upstream->Matches("127.0.0.9:2"));
    EXPECT_EQ(upstream->ExternalAddressString(), "127.0.0.9:27971");

    CGTV* g = Add("");
    g->roomCount = 4;
    g->rooms[0].serverAddress = q3->AddressString();
    g->rooms[1].serverAddress = "127.0.0.9:27971";
    g->rooms[2].serverAddress = "127.0.0.1:9";  // nobody
    g->rooms[3].serverAddress = q3->AddressString();
    g->rooms[3].roomState = 2;
    g->linkNotBefore = tp.clock.now + 10;
    g->ResolveLinks(doc.objects);
    EXPECT_EQ(g->rooms[0].linkedServer, nullptr);  // held off
    tp.clock.now += 10;
    g->ResolveLinks(doc.objects);
    EXPECT_EQ(g->rooms[0].linkedServer, nullptr);  // not earlier than now yet
    tp.clock.now += 1;
    g->ResolveLinks(doc.objects);
    EXPECT_EQ(g->rooms[0].linkedServer, q3);
    EXPECT_EQ(g->rooms[1].linkedServer, upstream);
    EXPECT_EQ(g->rooms[2].linkedServer, nullptr);
    EXPECT_EQ(g->rooms[3].linkedServer, q3);
    // An existing link is kept even when the address changes.
    g->rooms[0].serverAddress = "127.0.0.1:9";
    g->ResolveLinks(doc.objects);
    EXPECT_EQ(g->rooms[0].linkedServer, q3);

    // Link lines: none in state 1; folded from the icon's centre; solid only when the address matches.
    g->iconRect = {36, 0, 84, 48};
    q3->iconRect = {10, 500, 58, 548};
    g->state = 1;
    EXPECT_TRUE(g->LinkLines().empty());
    g->state = 2;
    auto lines = g->LinkLines();
    ASSERT_EQ(lines.size(), 2u);  // the hidden room draws nothing
    EXPECT_EQ(lines[0].room, 0);
    EXPECT_EQ(lines[0].target, q3);
    EXPECT_FALSE(lines[0].solid);  // the address it reports no longer matches
    EXPECT_EQ(lines[0].from, (CGTVRoom::Point{60, 24}));
    EXPECT_EQ(lines[0].to, (CGTVRoom::Point{34, 524}));
    EXPECT_EQ(lines[1].room, 1);
    EXPECT_TRUE(lines[1].solid);  // through the external address
    g->rooms[1].serverAddress.clear();
    EXPECT_FALSE(g->LinkLines()[1].solid);
    // Unfolded: from each shown room's anchor.
    g->expanded = 1;
    g->box = {0, 0, 120, 243};
    g->PlaceRooms();
    lines = g->LinkLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].from, g->rooms[0].anchor);
    EXPECT_EQ(lines[1].from, (CGTVRoom::Point{3, 113}));

    // Deleting the game server clears exactly the rooms that relayed it, stale records included.
    g->rooms[20].linkedServer = q3;
    for (auto& o : doc.objects) o->OnObjectDeleted(q3);
    EXPECT_EQ(g->rooms[0].linkedServer, nullptr);
    EXPECT_EQ(g->rooms[3].linkedServer, nullptr);
    EXPECT_EQ(g->rooms[20].linkedServer, nullptr);
    EXPECT_EQ(g->rooms[1].linkedServer, upstream);
    // The document's linking pass, every sixth tick, links them again to another matching object.
    g->rooms[0].serverAddress = "127.0.0.1:2";
    for (int i = 0; i < 6; ++i) doc.Tick();
    EXPECT_EQ(g->rooms[0].linkedServer, upstream);
}

TEST_F(GtvFixture, LayoutFileRecordAndSecondSocket) {
    CGTV g(tp.platform);
    g.host = "127.0.0.1";
    g.port = 70000;
    g.rconPassword = "rc";
    g.password = "pw";
    g.exportToWeb = 1;
    g.externalHost = "gtv.lan";
    g.externalPort = 27975;
    g.autoRecord = 0;
    g.roomCount = 3;  // learnt, not saved
    CArchive out;
    g.Serialize(out);
    const std::string& bytes = out.Data();
    EXPECT_TRUE(bytes.ends_with(std::string("\x01\x00\x00\x00", 4) + "\x07gtv.lan" +
                                std::string("\x47\x6D\x00\x00", 4) + std::string(4, '\0')));

    CGTV loaded(tp.platform);
    CArchive in(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    loaded.Serialize(in);
    EXPECT_FALSE(in.Failed());
    EXPECT_TRUE(in.AtEnd());
    EXPECT_EQ(loaded.host, "127.0.0.1");
    EXPECT_EQ(loaded.port, 70000u);
    EXPECT_EQ(loaded.rconPassword, "rc");
    EXPECT_EQ(loaded.password, "pw");
    EXPECT_EQ(loaded.exportToWeb, 1u);
    EXPECT_EQ(loaded.externalHost, "gtv.lan");
    EXPECT_EQ(loaded.externalPort, 27975u);
    EXPECT_EQ(loaded.autoRecord, 0u);
    EXPECT_EQ(loaded.roomCount, 0);
    // The socket is created after the shared fields and again after the proxy's own.
    EXPECT_EQ(tp.prompter.messages,
              (std::vector<std::string>{"Connect failed for 127.0.0.1:70000", "Connect failed for 127.0.0.1:70000"}));

    // A truncated record fails and creates no second socket.
    CGTV cut(tp.platform);
    CArchive short_in(
        std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size() - 2));
    cut.Serialize(short_in);
    EXPECT_TRUE(short_in.Failed());
    EXPECT_EQ(tp.prompter.messages.size(), 3u);
}

TEST(GtvParse, ManagerAndHubAnswersAreBounded) {
    const GtvManagerAnswer m = ParseGtvManagerAnswer("managerInfoResponse\n\\numHubs\\2\\hubs\\3 1 0 5 3 7 ");
    ASSERT_EQ(m.roomCount, 2);
    EXPECT_EQ(m.hubs[1].roomNumber, 7);
    const GtvHubAnswer h =
        ParseGtvHubAnswer("hubInfoResponse\n\\hubNum\\-4\\mapName\\maps/maps/x.bsp.bsp\\following\\z");
    EXPECT_EQ(h.hubNumber, -4);
    EXPECT_EQ(h.map, "x");
    EXPECT_EQ(h.following, 0);  // a value that is not a number reads 0
    std::string pw = "x";
    EXPECT_TRUE(ParseGtvPasswordLine("\"gtv_password\" is:\"a^2b\" default:\"\"", pw));
    EXPECT_EQ(pw, "ab");
    EXPECT_FALSE(ParseGtvPasswordLine("\"gtv_password\" is: \"a\"", pw));
}

}  // namespace
}  // namespace orv

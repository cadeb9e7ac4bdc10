// The GTV proxy monitor against a loopback GTV proxy: the manager, hub and console answers, the rcon probe,
// and the rooms: folding, selection, sizes, follow, recording names, auto record by a linked Quake 3
// server's match, drops and links.
#include <ctime>
#include <sstream>

#include "monitor_fixture.h"
#include "monitors/quake3/gtv.h"
#include "monitors/quake3/q3parse.h"
#include "monitors/quake3/q3server.h"
#include "sim/gtvpeer.h"
#include "sim/q3peer.h"

namespace orv {
namespace {

using namespace test;

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

struct GtvTest : DocFixture {
    sim::CGTVPeer peer;
    // The monitored proxy talking to the peer; the peer has learnt its address.
    template <class T = CGTV>
    T* AddGtv(const std::string& rcon) {
        T* g = Add<T>("127.0.0.1", peer.Port(), "Local TV", rcon);
        Settle(*g);
        peer.ClearReceived();
        return g;
    }
    void Settle(CCommonObject& o) { DocFixture::Settle(o, peer); }
    void Deliver(const std::string& text) { DeliverFrom(peer, text); }
    std::vector<std::string> Texts() { return Sent(peer, true); }
    // Hub, room state and room number of each listed room.
    static std::vector<std::array<int, 3>> Rooms(const CGTV& g) {
        std::vector<std::array<int, 3>> out;
        for (int i = 0; i < g.roomCount; ++i) {
            auto& r = g.rooms[static_cast<size_t>(i)];
            out.push_back({r.hubNumber, r.roomState, r.roomNumber});
        }
        return out;
    }
    using R = std::vector<std::array<int, 3>>;
    // The proxy's fields and its listed rooms (and the hub number of the first record beyond them).
    static std::string Dump(CGTV& g) {
        std::ostringstream o;
        o << g.state << " [" << g.serverName << "] " << g.clients << "/" << g.clientSlots << " " << g.roomCount << " "
          << g.ShownRoomCount() << " beyond " << g.rooms[static_cast<size_t>(std::clamp(g.roomCount, 0, 31))].hubNumber;
        for (int i = 0; i < g.roomCount; ++i) {
            auto& r = g.rooms[static_cast<size_t>(i)];
            o << " {" << r.hubNumber << "/" << r.roomState << "/" << r.roomNumber << " [" << r.map << "] ["
              << r.recordingName << "] [" << r.description << "] [" << r.serverAddress << "] " << r.following << " ["
              << g.FollowedPlayerName(r) << "]";
            for (int p = 0; p < r.playerCount; ++p) o << " " << r.playerNumbers[static_cast<size_t>(p)] << ":" << r.playerNames[static_cast<size_t>(p)];
            o << "}";
        }
        return o.str();
    }
};

TEST_F(GtvTest, ManagerAnswerBuildsTheRoomTable) {
    CGTV* g = AddGtv("");
    peer.SetHostName("^4Big GTV");
    peer.SetClients(12, 200);
    peer.SetChains("10.0.0.7:27970 10.0.0.8:27970 ");
    peer.SetRooms({Room(3, 1, 0), Room(5, 3, 7)});
    g->Tick();
    Settle(*g);
    EXPECT_EQ(std::tuple(g->state, g->serverName, g->clients, g->clientSlots, g->chainList),
              std::tuple(2, "^4Big GTV", 12, 200, "10.0.0.7:27970 10.0.0.8:27970 "));
    EXPECT_EQ(Rooms(*g), (R{{3, 1, 0}, {5, 3, 7}}));
    g->rooms[0].map = "q3dm6";
    RunScript("gtv_manager.txt", [&](Row& r) { Deliver(r["deliver"]); }, [&] { return Dump(*g); });
}

TEST_F(GtvTest, HubAnswerFillsItsRoom) {
    CGTV* g = AddGtv("");
    peer.SetRooms({Room(3, 3, 0), Room(8, 1, 0)});
    g->Tick();
    Settle(*g);
    RunScript("gtv_hub.txt", [&](Row& r) { Deliver(r["deliver"]); }, [&] { return Dump(*g); });
    // An unknown hub changes no room but is an answer (after a time-out: a query left unanswered).
    peer.SetSilent(true);
    g->Tick();
    Settle(*g);
    tp.clock.Advance(20);
    g->Tick();
    EXPECT_EQ(g->state, 1);
    Deliver("hubInfoResponse\n\\hubNum\\77\\mapName\\x");
    EXPECT_EQ(std::tuple(g->state, g->lastAnswerTime, g->rooms[0].map), std::tuple(2, tp.clock.now, ""));
    const GtvHubAnswer h =
        ParseGtvHubAnswer("hubInfoResponse\n\\hubNum\\-4\\mapName\\maps/maps/x.bsp.bsp\\following\\z");
    EXPECT_EQ(std::tuple(h.hubNumber, h.map, h.following), std::tuple(-4, "x", 0));
}

TEST_F(GtvTest, RconProbeLeavesBeforeStateTwoOnlyWithAPassword) {
    auto* g = AddGtv<ProbeGTV>("secret");
    peer.SetGtvPassword("^1tv^7pass");
    g->Tick();  // getManagerInfo
    doc.output.RunWindow();
    ASSERT_TRUE(peer.WaitForText("getManagerInfo", 3s));
    ASSERT_TRUE(tp.loop.RunUntil([&] { return g->state != 1; }, 3s));
    EXPECT_EQ(g->sent, (std::vector<std::pair<std::string, std::int32_t>>{{"gtv_follow", 1}}));  // sent in state 1
    EXPECT_EQ(g->state, 2);
    Settle(*g);
    EXPECT_EQ(g->state, 3);  // the probe's console answer proved the password
    EXPECT_EQ(Texts(), (std::vector<std::string>{"getManagerInfo", "rcon \"secret\" gtv_follow"}));
    g->Tick();
    g->Tick();  // phase 2: gtv_password
    Settle(*g);
    EXPECT_EQ(std::tuple(g->password, Console(*g).back()),
              std::tuple("tvpass", "\"gtv_password\" is:\"tvpass\" default:\"\""));
    for (int i = 0; i < 3; ++i) g->Tick();  // answers in state 2 or 3 send no probe
    Settle(*g);
    EXPECT_EQ(std::tuple(g->state, peer.CountText("rcon \"secret\" gtv_follow")), std::tuple(3, 1u));
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
    EXPECT_EQ(std::tuple(g->state, peer.CountText("rcon \"secret\" gtv_follow")), std::tuple(3, 2u));
    std::string pw = "x";
    EXPECT_FALSE(ParseGtvPasswordLine("\"gtv_password\" is: \"a\"", pw));
}

TEST_F(GtvTest, NoProbeWithoutAnRconPasswordAndARefusalWithTheSoundOff) {
    CGTV* g = AddGtv("");
    for (int i = 0; i < 5; ++i) g->Tick();
    Settle(*g);
    EXPECT_EQ(Texts(), std::vector<std::string>{"getManagerInfo"});
    Deliver("print\nhello\n");
    EXPECT_EQ(g->state, 2);
    g->rconPassword = "secret";
    doc.sound.sound.enabled = 0;  // the protection still applies, silently
    Deliver("print\n^1Bad rconpassword.^7\nBad rconpassword. again\n");
    EXPECT_EQ(std::tuple(g->rconPassword, tp.sound.played.size(), g->state), std::tuple("", 0u, 2));
}

// A GTV box at (100, 200) with three rooms, the middle one in room state 2.
struct RoomsTest : ::testing::Test {
    TestPlatform tp;
    CGTV g{tp.platform};
    RoomsTest() {
        g.state = 2;
        g.box = {100, 200, 220, 278};
        g.roomCount = 3;
        for (int i = 0; i < 3; ++i) {
            g.rooms[static_cast<size_t>(i)].hubNumber = i + 1;
            g.rooms[static_cast<size_t>(i)].roomState = i + 1;
        }
        g.rooms[2].playerCount = 2;
        g.rooms[2].playerNames[0] = "Alpha";
        g.rooms[2].playerNames[1] = "Bravo";
        g.PlaceRooms();
    }
    void Redraw() {  // the layout view sizes the box and draws it
        const auto size = g.BoxSize();
        g.box.right = g.box.left + size.width;
        g.box.bottom = g.box.top + size.height;
        g.PlaceRooms();
    }
};

// The box after each step: folded or not, the selected room and what it offers, the box, its expand box and
// the rooms' bands.
std::string Box(CGTV& g) {
    std::ostringstream o;
    auto rect = [&](const CRect& r) { o << " " << r.left << "," << r.top << "," << r.right << "," << r.bottom; };
    o << g.expanded << " " << g.SelectedRoomIndex() << " " << g.CanRecord() << " " << g.GetPlayerNameCount() << " "
      << (g.GetPlayerNames() ? (*g.GetPlayerNames())[1] : "-") << " " << g.BoxSize().width << "x" << g.BoxSize().height;
    rect(g.box);
    rect(g.expandBox);
    for (int i = 0; i < 3; ++i) rect(g.rooms[static_cast<size_t>(i)].band);
    o << (std::all_of(g.rooms.begin() + 3, g.rooms.end(), [](auto& r) { return r.band == CRect{}; }) ? " rest-empty" : " rest-drawn");
    o << " " << g.rooms[2].anchor.x << "," << g.rooms[2].anchor.y;
    return o.str();
}

TEST_F(RoomsTest, ClicksFoldUnfoldAndSelect) {
    RunScript("gtv_rooms.txt", [&](Row& r) {
        if (r.count("state")) g.state = std::stoi(r["state"]);
        if (r.count("select")) g.selectedRoom = &g.rooms[0];
        if (r.count("place")) g.PlaceRooms();
        if (r.count("click")) g.OnClick(std::stoi(r["click"]), std::stoi(r["click"].substr(r["click"].find(' '))));
        if (r.count("redraw")) Redraw();
    }, [&] { return Box(g); });
    g.expanded = 1;  // unfolded without rooms: 120 x 83
    g.roomCount = 0;
    EXPECT_EQ(g.BoxSize().height, 83);
}

TEST_F(RoomsTest, RecordingAndFollowedNames) {
    tp.clock.now = 1052083859;  // 21:30:59 on 4 May 2003 (local time is UTC here)
    CGTVRoom& r = g.rooms[0];
    r.map = "q3dm17";
    r.playerCount = 3;
    for (auto [i, name, number] : {std::tuple{0, "Alpha", 4}, {1, "GTV-relay", 5}, {2, "Bravo", 9}}) {
        r.playerNames[static_cast<size_t>(i)] = name;
        r.playerNumbers[static_cast<size_t>(i)] = number;
    }
    r.following = 5;  // following a relay: no player in brackets
    EXPECT_EQ(std::tuple(g.RecordingName(r), g.FollowedPlayerName(r)),
              std::tuple("2003-05-04_21h30_q3dm17_Alpha_Bravo", "GTV-relay"));
    // Only proxies: date, time and map. Names are cleaned for a file name.
    r.playerNames[0] = "GTV";
    r.playerNames[2] = "GTV2";
    EXPECT_EQ(g.RecordingName(r), "2003-05-04_21h30_q3dm17");
    r.playerNames[0] = "gtv sp@ce/é";
    r.map = "maps/x";
    EXPECT_EQ(g.RecordingName(r), "2003-05-04_21h30_mapsx_gtvsp@ce");
}

TEST_F(GtvTest, FollowAndRoomCommands) {
    peer.SetRooms({Room(3, 3, 0, {{0, "^1Alpha"}, {4, "Bravo"}}), Room(12, 3, 0)});
    CGTV* g = AddGtv("secret");
    g->Tick();  // manager
    Settle(*g);
    g->Tick();  // hubs
    Settle(*g);
    peer.ClearReceived();
    g->Follow("Bravo");  // no selected room
    g->selectedRoom = &g->rooms[0];
    for (auto name : {"Charlie", "bravo", "^1Alpha"}) g->Follow(name);  // the table holds names without colours
    Settle(*g);
    EXPECT_TRUE(Texts().empty());
    g->Follow("Bravo");
    Settle(*g);
    EXPECT_EQ(Texts(), (std::vector<std::string>{"rcon \"secret\" gtv_follow 4 3", "gethubinfo 3"}));
    EXPECT_EQ(std::tuple(g->rooms[0].following, g->FollowedPlayerName(g->rooms[0])), std::tuple(4, "Bravo"));
    g->SendDescription(g->rooms[1], "Grand \"final\"");
    g->SendStartRecord(g->rooms[1], "demo_x");
    g->SendStopRecord(g->rooms[1]);
    g->SendCloseRoom(g->rooms[0]);
    g->SendPassword("");
    g->SendPassword("up");
    Settle(*g);
    EXPECT_EQ(
        peer.AcceptedCommands(),
        (std::vector<std::string>{"gtv_follow 4 3", "gtv_description 12 \"Grand \"final\"\"", "gtv_record demo_x 12",
                                  "gtv_stoprecord 12", "gtv_disconnect 3", "password up"}));
    // A selection left beyond the rooms the proxy lists is dropped.
    g->selectedRoom = &g->rooms[1];
    for (int i = 0; i < 4; ++i) g->Tick();  // phase 0 again
    Settle(*g);
    EXPECT_EQ(std::tuple(g->roomCount, g->rooms[0].hubNumber, g->selectedRoom), std::tuple(1, 12, nullptr));
}

TEST_F(GtvTest, AutoRecordFollowsTheLinkedQuake3Match) {
    tp.clock.now = 1'000'020;  // the recording names below share one minute
    sim::CQ3Peer q3peer;
    auto* q3 = Add<CQ3Server>("127.0.0.1", q3peer.Port(), "Servers", "secret");
    sim::GTVPeerRoom live = Room(3, 3, 0, {{0, "Alpha"}, {1, "GTV-relay"}, {4, "Bravo"}}, q3peer.Address());
    live.following = 0;
    peer.SetRooms({live, Room(4, 2, 0, {{0, "Alpha"}}, q3peer.Address()), Room(6, 3, 0, {}, "127.0.0.1:1")});
    CGTV* g = AddGtv("secret");
    auto tick = [&] {
        tp.clock.Advance(1);
        doc.Tick();
        for (int i = 0; i < 2; ++i) {
            DocFixture::Settle(*q3, q3peer);
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
    EXPECT_EQ(std::tuple(g->rooms[0].linkedServer, g->rooms[1].linkedServer, g->rooms[2].linkedServer),
              std::tuple(q3, q3, nullptr));
    EXPECT_EQ(std::tuple(q3->state, q3->matchRunning, records("gtv_record"), records("gtv_stoprecord")),
              std::tuple(3, 0, 0, 0));
    q3peer.SetScoreTime("12:31");
    for (int i = 0; i < 12 && peer.Room(3)->recording.empty(); ++i) tick();
    EXPECT_EQ(std::tuple(q3->matchRunning, tp.sound.played),
              std::tuple(1, std::vector<std::string>{"MatchStarted.wav"}));
    const std::string recording = peer.Room(3)->recording;
    EXPECT_TRUE(recording.ends_with("_q3dm17_(Alpha)_Bravo")) << recording;
    for (int i = 0; i < 10; ++i) tick();
    EXPECT_EQ(g->rooms[0].recordingName, recording);
    // Repeated at most until a hub answer confirmed it; never for the hidden room or the unlinked one.
    const int started = records("gtv_record");
    EXPECT_TRUE(started == 1 || started == 2) << started;
    EXPECT_EQ(records("gtv_record " + recording + " 3"), started);
    q3peer.SetScoreTime("Waiting for Players");
    for (int i = 0; i < 12 && !peer.Room(3)->recording.empty(); ++i) tick();
    EXPECT_EQ(std::tuple(q3->matchRunning, peer.Room(3)->recording), std::tuple(0, ""));
    EXPECT_GE(records("gtv_stoprecord 3"), 1);
    EXPECT_EQ(std::tuple(records("gtv_stoprecord"), records("gtv_record")),
              std::tuple(records("gtv_stoprecord 3"), started));
    g->autoRecord = 0;  // without auto record nothing is started
    q3peer.SetScoreTime("1:00");
    for (int i = 0; i < 8; ++i) tick();
    EXPECT_EQ(std::tuple(q3->matchRunning, records("gtv_record")), std::tuple(1, started));
}

TEST_F(GtvTest, DropConnectsTheProxyToItsTarget) {
    CGTV* p = AddGtv("secret");  // in Local TV, zone LAN Local
    auto* sameZone = Add<CGTV>("127.0.0.1", 1, "Servers");
    sameZone->password = "pw1";
    auto* otherZone = Add<CGTV>("127.0.0.1", 2, "Internet TV");
    otherZone->password = "pw2";
    otherZone->externalHost = "127.0.0.9";
    otherZone->externalPort = 27971;
    auto* noPassword = Add<CGTV>("127.0.0.1", 3, "Internet TV");
    noPassword->externalHost = "127.0.0.8";
    noPassword->externalPort = 27972;
    auto* q3 = Add<CQ3Server>("127.0.0.1", 27960, "Servers");
    q3->password = "serverpw";
    for (CCommonObject* target : std::vector<CCommonObject*>{nullptr, sameZone, otherZone, noPassword, q3})
        p->OnDrop(target);
    sameZone->group = nullptr;  // no group counts as another zone
    sameZone->externalHost = "127.0.0.7";
    sameZone->externalPort = 5;
    p->OnDrop(sameZone);
    Settle(*p);
    EXPECT_EQ(peer.AcceptedCommands(),
              (std::vector<std::string>{"password pw1", "gtv_connect 127.0.0.1:1 pw1", "password pw2",
                                        "gtv_connect 127.0.0.9:27971 pw2", "gtv_connect 127.0.0.8:27972 ",
                                        "gtv_connect 127.0.0.1:27960", "password pw1", "gtv_connect 127.0.0.7:5 pw1"}));
    EXPECT_TRUE(tp.prompter.messages.empty());  // no "Drop on" message
}

TEST_F(GtvTest, LinksMatchesAndDeletion) {
    auto* q3 = Add<CQ3Server>("127.0.0.1", 27960, "Servers");
    auto* upstream = Add<CGTV>("127.0.0.1", 2, "Internet TV");
    upstream->externalHost = "127.0.0.9";
    upstream->externalPort = 27971;
    CGTV* g = AddGtv("");
    g->roomCount = 4;
    g->rooms[0].serverAddress = q3->AddressString();
    g->rooms[1].serverAddress = "127.0.0.9:27971";
    g->rooms[2].serverAddress = "127.0.0.1:9";  // nobody
    g->rooms[3].serverAddress = q3->AddressString();
    g->rooms[3].roomState = 2;
    g->linkNotBefore = tp.clock.now + 10;
    g->ResolveLinks(doc.objects);  // held off
    tp.clock.now += 10;
    g->ResolveLinks(doc.objects);  // not earlier than now yet
    EXPECT_EQ(g->rooms[0].linkedServer, nullptr);
    tp.clock.now += 1;
    g->ResolveLinks(doc.objects);
    EXPECT_EQ(std::tuple(g->rooms[0].linkedServer, g->rooms[1].linkedServer, g->rooms[2].linkedServer,
                         g->rooms[3].linkedServer),
              std::tuple(q3, upstream, nullptr, q3));
    g->rooms[0].serverAddress = "127.0.0.1:9";  // an existing link is kept when the address changes
    g->ResolveLinks(doc.objects);
    EXPECT_EQ(g->rooms[0].linkedServer, q3);
    // Link lines: none in state 1; from the icon's centre; solid only when the address matches.
    g->iconRect = {36, 0, 84, 48};
    q3->iconRect = {10, 500, 58, 548};
    g->state = 1;
    EXPECT_TRUE(g->LinkLines().empty());
    g->state = 2;
    const auto lines = g->LinkLines();
    ASSERT_EQ(lines.size(), 2u);  // the hidden room draws nothing
    EXPECT_EQ(std::tuple(lines[0].room, lines[0].target, lines[0].solid, lines[0].from, lines[0].to, lines[1].room,
                         lines[1].solid),
              std::tuple(0, static_cast<CCommonObject*>(q3), false, CGTVRoom::Point{60, 24}, CGTVRoom::Point{34, 524},
                         1, true));  // the second through the external address
    // Deleting the game server clears exactly the rooms that relayed it, stale records included.
    g->rooms[20].linkedServer = q3;
    for (auto& o : doc.objects) o->OnObjectDeleted(q3);
    EXPECT_EQ(std::tuple(g->rooms[0].linkedServer, g->rooms[3].linkedServer, g->rooms[20].linkedServer,
                         g->rooms[1].linkedServer),
              std::tuple(nullptr, nullptr, nullptr, upstream));
    // The document's linking pass, every sixth tick, links them again to another matching object.
    g->rooms[0].serverAddress = "127.0.0.1:2";
    for (int i = 0; i < 6; ++i) doc.Tick();
    EXPECT_EQ(g->rooms[0].linkedServer, upstream);
}

}  // namespace
}  // namespace orv

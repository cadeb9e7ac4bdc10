// The document's default layout and its one-second monitoring tick, driven by a fake clock.
#include <gtest/gtest.h>

#include "document/document.h"
#include "fakes.h"
#include "monitors/halflife/hlserver.h"
#include "monitors/quake3/gtv.h"
#include "sim/udppeer.h"

namespace orv {
namespace {

// An object that follows the shared tick pattern and, like a proxy, links itself to the object whose
// address matches the one it relays.
class TickProbe : public CCommonObject {
public:
    using CCommonObject::CCommonObject;
    const char* ClassName() const override { return "CTickProbe"; }
    std::uint16_t Schema() const override { return 1; }
    void Tick() override {
        CheckTimeout();
        if (queries) SendQuery("q");
        ++ticks;
        pollPhase = (pollPhase + 1) % 6;
    }
    void ResolveLinks(const CObjectList& objects) override {
        ++linkPasses;
        if (relayed.empty() || linked) return;
        for (auto& o : objects)
            if (!linked && o->Matches(relayed)) linked = o.get();
    }
    void Answer() {
        if (state == kStateTimeout) SetState(kStateMonitor);
        MarkAnswered();
    }
    void SendRcon(const std::string& command) override { rcon.push_back(command); }
    void OnObjectDeleted(CCommonObject* deleted) override {
        deletedSeen.push_back(deleted);
        if (linked == deleted) linked = nullptr;
    }
    std::vector<std::string> rcon;
    std::vector<CCommonObject*> deletedSeen;
    int ticks = 0;
    int linkPasses = 0;
    bool queries = false;
    std::string relayed;
    CCommonObject* linked = nullptr;
};

// An out-of-band datagram as it leaves: the prefix, the text, one zero byte.
std::string Oob(const std::string& text) { return std::string(4, '\xFF') + text + std::string(1, '\0'); }

struct CountingView : IDocumentView {
    void OnUpdate(int hint) override { hints.push_back(hint); }
    std::vector<int> hints;
};

struct DocFixture : ::testing::Test {
    test::TestPlatform tp;
    COrvaneDoc doc{tp.platform};
    CountingView view;
    DocFixture() {
        doc.New();
        doc.AddView(&view);
    }
    TickProbe* Add(const std::string& host, std::uint32_t port, CGroup* group = nullptr) {
        auto o = std::make_unique<TickProbe>(tp.platform);
        o->host = host;
        o->port = port;
        return static_cast<TickProbe*>(doc.AddObject(std::move(o), group ? group : doc.groups[0]));
    }
};

TEST_F(DocFixture, NewLayoutHasTheDefaultZonesAndGroupsAndIsModified) {
    ASSERT_EQ(doc.zones.size(), 2u);
    EXPECT_EQ(doc.zones[0]->name, "LAN Local");
    EXPECT_EQ(doc.zones[0]->level, 1);
    EXPECT_EQ(doc.zones[0]->colour, Rgb(255, 255, 190));
    EXPECT_EQ(doc.zones[1]->name, "Internet");
    EXPECT_EQ(doc.zones[1]->level, 2);
    EXPECT_EQ(doc.zones[1]->colour, Rgb(190, 190, 255));
    EXPECT_EQ(doc.zones.maxLevel, 2);
    ASSERT_EQ(doc.groups.size(), 3u);
    EXPECT_EQ(doc.groups[0]->name, "Servers");
    EXPECT_EQ(doc.groups[0]->zone, doc.zones[0]);
    EXPECT_EQ(doc.groups[1]->name, "Local TV");
    EXPECT_EQ(doc.groups[1]->level, 2);
    EXPECT_EQ(doc.groups[1]->zone, doc.zones[0]);
    EXPECT_EQ(doc.groups[2]->name, "Internet TV");
    EXPECT_EQ(doc.groups[2]->zone, doc.zones[1]);
    EXPECT_TRUE(doc.objects.empty());
    EXPECT_TRUE(doc.IsModified());
    EXPECT_EQ(doc.adminBot.enabled, 0);
    EXPECT_EQ(doc.sound.sound.enabled, 1);
    EXPECT_EQ(doc.output.GetLimit(), 10240);
}

TEST_F(DocFixture, EmptyLayoutStillRefreshesEverySecond) {
    doc.Tick();
    doc.Tick();
    EXPECT_EQ(view.hints, (std::vector<int>{kHintRefresh, kHintRefresh}));
    EXPECT_EQ(doc.cycleCounter, 2);
}

TEST_F(DocFixture, ObjectsAreTickedInListOrderAndTimeOutOnlyAfterAQueryLeft) {
    TickProbe* answered = Add("127.0.0.1", 27015);
    TickProbe* quiet = Add("127.0.0.1", 27016);
    ASSERT_TRUE(answered && quiet);
    answered->Answer();
    quiet->Answer();
    const Time answeredAt = tp.clock.now;
    answered->queries = true;  // the other sends nothing: there is no silence of its server to judge
    doc.Tick();
    ASSERT_TRUE(tp.loop.RunUntil([&] { return answered->Socket()->SendCount() > 0; }, std::chrono::seconds(3)));
    tp.clock.now = answeredAt + 10;
    doc.Tick();
    EXPECT_EQ(answered->state, 2);  // ten whole seconds since it left: still answering
    tp.clock.now = answeredAt + 11;
    doc.Tick();
    EXPECT_EQ(answered->state, 1);  // eleven: time-out
    EXPECT_EQ(quiet->state, 2);
    EXPECT_EQ(answered->ticks, 3);
    EXPECT_EQ(quiet->ticks, 3);
}

TEST_F(DocFixture, ProxiesLinkOnTheSixthTickOnlyToTheObjectNearerTheHead) {
    TickProbe* proxy = Add("127.0.0.1", 27020, doc.groups[1]);
    TickProbe* first = Add("127.0.0.1", 27015);
    // Same address string as first, through a host name: a second match, farther from the head.
    auto other = std::make_unique<TickProbe>(tp.platform);
    other->host = "127.0.0.1";
    other->port = 27015;
    TickProbe* second = static_cast<TickProbe*>(doc.objects.Append(std::move(other)));
    second->CreateSocket();
    proxy->relayed = "127.0.0.1:27015";
    for (int i = 0; i < 5; ++i) {
        doc.Tick();
        EXPECT_EQ(proxy->linked, nullptr) << "tick " << i;
    }
    EXPECT_EQ(proxy->linkPasses, 0);
    doc.Tick();  // the sixth
    EXPECT_EQ(proxy->linked, first);
    EXPECT_EQ(proxy->linkPasses, 1);
    EXPECT_EQ(first->linkPasses, 1);
    EXPECT_EQ(doc.cycleCounter, 0);
    for (int i = 0; i < 6; ++i) doc.Tick();
    EXPECT_EQ(proxy->linkPasses, 2);
}

TEST_F(DocFixture, DuplicateObjectIsRefusedWithGroupAndZone) {
    ASSERT_TRUE(Add("127.0.0.1", 27015));
    EXPECT_EQ(Add("127.0.0.1", 27015), nullptr);
    ASSERT_EQ(tp.prompter.messages.size(), 1u);
    EXPECT_EQ(tp.prompter.messages[0], "This Object already exists\nGroup : Servers\nZone : LAN Local");
    EXPECT_EQ(doc.objects.size(), 1u);
    EXPECT_EQ(doc.objects[0]->output, &doc.output);
    EXPECT_EQ(doc.objects[0]->sound, &doc.sound);
}

TEST_F(DocFixture, NewClearsTheSelectionTheQueueAndTheCycle) {
    TickProbe* o = Add("127.0.0.1", 27015);
    doc.selectedObject = o;
    doc.selectedZone = doc.zones[0];
    o->SendOutOfBand("x");
    doc.Tick();
    doc.New();
    EXPECT_EQ(doc.selectedObject, nullptr);
    EXPECT_EQ(doc.selectedZone, nullptr);
    EXPECT_EQ(doc.output.Count(), 0);
    EXPECT_EQ(doc.cycleCounter, 0);
    EXPECT_TRUE(doc.objects.empty());
    EXPECT_EQ(doc.zones.size(), 2u);
}

TEST_F(DocFixture, DeletingZonesAndGroupsIsRefusedWhileTheyAreUsed) {
    CGroup* servers = doc.groups[0];
    Add("127.0.0.1", 27015, servers);
    doc.SetModifiedFlag(false);
    view.hints.clear();
    doc.selectedZone = servers;
    doc.DeleteSelectedZone();
    EXPECT_EQ(tp.prompter.messages.back(), "Cannot delete a Zone/Group that is not empty");
    EXPECT_EQ(doc.groups.size(), 3u);
    EXPECT_TRUE(doc.IsModified());  // the refusal still marks the layout modified
    EXPECT_EQ(view.hints.back(), kHintLayoutChanged);
    doc.selectedZone = doc.zones[1];  // Internet holds Internet TV
    doc.DeleteSelectedZone();
    EXPECT_EQ(tp.prompter.messages.back(), "Cannot delete a Zone/Group that is not empty");
    EXPECT_EQ(doc.zones.size(), 2u);

    // The network detection zone is refused even when empty.
    CZone* empty = doc.AddZone("Spare", 3);
    doc.networkDetect.targetZone = empty;
    doc.selectedZone = empty;
    const size_t before = tp.prompter.messages.size();
    doc.DeleteSelectedZone();
    EXPECT_EQ(tp.prompter.messages.size(), before + 1);
    EXPECT_EQ(tp.prompter.messages.back(), "Cannot delete this zone, it is used by Network Detect Module");
    EXPECT_EQ(doc.zones.size(), 3u);
    EXPECT_EQ(doc.selectedZone, empty);

    doc.networkDetect.targetZone = nullptr;
    doc.DeleteSelectedZone();
    EXPECT_EQ(doc.zones.size(), 2u);
    EXPECT_EQ(doc.selectedZone, nullptr);
    EXPECT_EQ(doc.zones.maxLevel, 3);  // stale until the next insertion
    doc.selectedZone = doc.groups[1];   // Local TV is empty
    doc.DeleteSelectedZone();
    EXPECT_EQ(doc.groups.size(), 2u);
}

TEST_F(DocFixture, LayerAndMoveCommandsFindTheTargetInEitherList) {
    doc.selectedZone = doc.groups[2];  // Internet TV, level 1
    doc.IncreaseLayer();
    EXPECT_EQ(doc.groups[2]->name, "Internet TV");
    EXPECT_EQ(doc.groups[2]->level, 2);
    doc.selectedZone = doc.zones[0];
    doc.IncreaseLayer();
    EXPECT_EQ(doc.zones[1]->name, "LAN Local");  // moved behind Internet
    EXPECT_EQ(doc.zones[1]->level, 2);
    doc.MoveZoneUp();  // same level as Internet now
    EXPECT_EQ(doc.zones[0]->name, "LAN Local");
    doc.DecreaseLayer();
    doc.DecreaseLayer();  // at level 1 already: stays
    EXPECT_EQ(doc.zones[1]->level, 1);
    EXPECT_EQ(view.hints.back(), kHintLayoutChanged);
}

TEST_F(DocFixture, RenameAsksForTheNameAndDoesNotMarkModified) {
    doc.selectedZone = doc.zones[0];
    doc.SetModifiedFlag(false);
    tp.prompter.inputAnswers.push_back(std::string("Stage"));
    doc.RenameSelectedZone();
    EXPECT_EQ(tp.prompter.prompts.back(), "Enter new name");
    EXPECT_EQ(tp.prompter.initials.back(), "LAN Local");
    EXPECT_EQ(doc.zones[0]->name, "Stage");
    EXPECT_FALSE(doc.IsModified());
    tp.prompter.inputAnswers.push_back(std::nullopt);  // cancel
    doc.RenameSelectedZone();
    EXPECT_EQ(doc.zones[0]->name, "Stage");
}

TEST_F(DocFixture, GlobalRconReachesExactlyTheObjectsOfTheZone) {
    TickProbe* a = Add("127.0.0.1", 27015, doc.groups[0]);  // LAN Local / Servers
    TickProbe* b = Add("127.0.0.1", 27016, doc.groups[1]);  // LAN Local / Local TV
    TickProbe* c = Add("127.0.0.1", 27017, doc.groups[2]);  // Internet / Internet TV
    TickProbe* orphan = Add("127.0.0.1", 27018, doc.groups[0]);
    orphan->group = nullptr;  // as a load may leave it
    doc.selectedZone = doc.zones[0];
    tp.prompter.inputAnswers.push_back(std::string("say hi"));
    tp.prompter.yesNoAnswers.push_back(true);
    doc.GlobalRcon();
    EXPECT_EQ(tp.prompter.prompts.back(), "Enter the rcon command for all objects in this zone.");
    EXPECT_EQ(tp.prompter.questions.back(), "Are you sure to send the following command to the whole zone ?\nsay hi");
    EXPECT_EQ(a->rcon, std::vector<std::string>{"say hi"});
    EXPECT_EQ(b->rcon, std::vector<std::string>{"say hi"});
    EXPECT_TRUE(c->rcon.empty());
    EXPECT_TRUE(orphan->rcon.empty());

    doc.selectedZone = doc.groups[1];
    tp.prompter.inputAnswers.push_back(std::string("status"));
    tp.prompter.yesNoAnswers.push_back(false);  // No: nothing is sent
    doc.GlobalRcon();
    EXPECT_EQ(tp.prompter.questions.back(), "Are you sure to send the following command to the whole group ?\nstatus");
    EXPECT_EQ(b->rcon.size(), 1u);
    tp.prompter.inputAnswers.push_back(std::string("status"));
    tp.prompter.yesNoAnswers.push_back(true);
    doc.GlobalRcon();
    EXPECT_EQ(b->rcon.back(), "status");
    EXPECT_EQ(a->rcon.size(), 1u);
}

TEST_F(DocFixture, MovingObjectsStaysWithinTheGroup) {
    TickProbe* a = Add("127.0.0.1", 27015, doc.groups[0]);
    TickProbe* other = Add("127.0.0.1", 27016, doc.groups[1]);
    TickProbe* b = Add("127.0.0.1", 27017, doc.groups[0]);
    doc.selectedObject = a;
    doc.MoveObjectUp();  // first of its group: nothing changes
    EXPECT_EQ(doc.objects[0], a);
    EXPECT_EQ(view.hints.back(), kHintRedraw);
    doc.MoveObjectDown();  // passes the object of another group, lands behind b
    EXPECT_EQ(doc.objects[0], other);
    EXPECT_EQ(doc.objects[1], b);
    EXPECT_EQ(doc.objects[2], a);
    doc.MoveObjectUp();
    EXPECT_EQ(doc.objects[1], a);
    EXPECT_EQ(doc.objects[2], b);
}

TEST_F(DocFixture, DeletingAnObjectTellsEveryObjectFirst) {
    TickProbe* proxy = Add("127.0.0.1", 27020, doc.groups[1]);
    TickProbe* server = Add("127.0.0.1", 27015, doc.groups[0]);
    proxy->linked = server;
    doc.selectedObject = server;
    doc.DeleteSelectedObject();
    EXPECT_EQ(proxy->deletedSeen, std::vector<CCommonObject*>{server});
    EXPECT_EQ(proxy->linked, nullptr);
    EXPECT_EQ(doc.objects.size(), 1u);
    EXPECT_EQ(doc.selectedObject, nullptr);
    EXPECT_EQ(view.hints.back(), kHintLayoutChanged);
}

TEST_F(DocFixture, PasswordAndPreferences) {
    TickProbe* a = Add("127.0.0.1", 27015);
    a->password = "old";
    doc.selectedObject = a;
    doc.SetModifiedFlag(false);
    tp.prompter.inputAnswers.push_back(std::string("new"));
    doc.AskObjectPassword();
    EXPECT_EQ(tp.prompter.prompts.back(), "Enter this object's password");
    EXPECT_EQ(tp.prompter.initials.back(), "old");
    EXPECT_EQ(a->password, "new");
    EXPECT_FALSE(doc.IsModified());
    EXPECT_EQ(doc.LimitKbps(), 10);
    doc.SetPreferences(false, 3);
    EXPECT_EQ(doc.output.GetLimit(), 3040);  // 3072 bits per second, in whole bytes per window
    EXPECT_EQ(doc.sound.sound.enabled, 0);
    EXPECT_FALSE(doc.IsModified());
    doc.SetAdminBotEnabled(true);
    EXPECT_EQ(doc.adminBot.enabled, 1);
    EXPECT_TRUE(doc.IsModified());
}

TEST_F(DocFixture, RangeAddGoesAddressByAddressThenPortByPort) {
    CObjectValues v;
    v.group = doc.groups[0];
    v.rconPassword = "pw";
    const auto range = CheckAddressRange(tp.prompter, "127.0.0.1", "127.0.0.3", 27015, 27016);
    ASSERT_TRUE(range.valid);
    doc.RangeAdd(CObjectKind::HLServer, range, v);
    ASSERT_EQ(doc.objects.size(), 6u);
    const char* expected[] = {"127.0.0.1:27015", "127.0.0.1:27016", "127.0.0.2:27015",
                              "127.0.0.2:27016", "127.0.0.3:27015", "127.0.0.3:27016"};
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(doc.objects[i]->AddressString(), expected[i]);
        EXPECT_STREQ(doc.objects[i]->ClassName(), "CHLServer");
        EXPECT_EQ(doc.objects[i]->rconPassword, "pw");
        EXPECT_EQ(doc.objects[i]->group, doc.groups[0]);
    }
    EXPECT_EQ(doc.lastAddress, "127.0.0.1");
    // A second pass over an overlapping range reports each duplicate and adds the rest.
    doc.RangeAdd(CObjectKind::HLServer, CheckAddressRange(tp.prompter, "127.0.0.3", "127.0.0.4", 27016, 27016), v);
    EXPECT_EQ(doc.objects.size(), 7u);
    EXPECT_EQ(tp.prompter.messages.back(), "This Object already exists\nGroup : Servers\nZone : LAN Local");
    EXPECT_EQ(doc.lastAddress, "127.0.0.3");
}

TEST_F(DocFixture, AddingEachKindSetsItsValuesAndTheLastAddress) {
    CObjectValues v;
    v.host = "127.0.0.9";
    v.port = DefaultPort(CObjectKind::GTV);
    v.group = doc.groups[2];
    v.externalHost = "198.51.100.7";
    v.externalPort = 28000;
    v.exportToWeb = 1;
    v.autoRecord = 0;
    CCommonObject* o = doc.AddObjectOfKind(CObjectKind::GTV, v);
    ASSERT_NE(o, nullptr);
    EXPECT_STREQ(o->ClassName(), "CGTV");
    EXPECT_TRUE(o->Matches("198.51.100.7:28000"));
    EXPECT_EQ(doc.lastAddress, "127.0.0.9");
    v.host = "127.0.0.10";
    v.port = DefaultPort(CObjectKind::Q3Server);
    EXPECT_STREQ(doc.AddObjectOfKind(CObjectKind::Q3Server, v)->ClassName(), "CQ3Server");
    EXPECT_EQ(DefaultPort(CObjectKind::HLServer), 27015u);
    EXPECT_EQ(DefaultPort(CObjectKind::HLTV), 27020u);
    EXPECT_EQ(DefaultPort(CObjectKind::Q3Server), 27960u);
    EXPECT_EQ(DefaultPort(CObjectKind::GTV), 27970u);
}

TEST_F(DocFixture, GtvRoomCommandsActOnTheSelectedRoom) {
    using namespace std::chrono_literals;
    sim::CUdpPeer proxy;
    CObjectValues v;
    v.host = "127.0.0.1";
    v.port = static_cast<std::uint32_t>(proxy.Port());
    v.group = doc.groups[2];
    v.rconPassword = "gtvpw";
    auto* gtv = static_cast<CGTV*>(doc.AddObjectOfKind(CObjectKind::GTV, v));
    ASSERT_NE(gtv, nullptr);
    CCommonObject* server = Add("127.0.0.1", 27960);
    gtv->roomCount = 2;
    gtv->rooms[1].hubNumber = 7;
    gtv->rooms[1].description = "Final";
    gtv->rooms[1].linkedServer = server;
    doc.selectedObject = gtv;

    // Without a selected room both commands do nothing.
    doc.GTVDescription();
    doc.GTVCloseRoom();
    EXPECT_TRUE(tp.prompter.prompts.empty());
    EXPECT_EQ(doc.output.Count(), 0);

    gtv->selectedRoom = &gtv->rooms[1];
    tp.prompter.inputAnswers.push_back(std::string("Grand final"));
    doc.GTVDescription();
    EXPECT_EQ(tp.prompter.prompts.back(), "Enter new description for room #7");
    EXPECT_EQ(tp.prompter.initials.back(), "Final");
    auto d = proxy.Receive(2s);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->bytes, Oob("rcon \"gtvpw\" gtv_description 7 \"Grand final\""));
    EXPECT_EQ(gtv->rooms[1].description, "Final");  // nothing is stored locally

    tp.clock.now = 5000;
    doc.GTVCloseRoom();
    d = proxy.Receive(2s);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->bytes, Oob("rcon \"gtvpw\" gtv_disconnect 7"));
    EXPECT_EQ(gtv->linkNotBefore, 5010);
    EXPECT_EQ(gtv->rooms[1].linkedServer, nullptr);
    EXPECT_EQ(gtv->selectedRoom, nullptr);

    doc.SetModifiedFlag(false);
    tp.prompter.inputAnswers.push_back(std::string("other"));
    doc.GTVRconPassword();
    EXPECT_EQ(tp.prompter.prompts.back(), "Try another rcon password:");
    EXPECT_EQ(tp.prompter.initials.back(), "gtvpw");
    EXPECT_EQ(gtv->rconPassword, "other");
    EXPECT_TRUE(doc.IsModified());

    // A selected object of another kind: nothing.
    doc.selectedObject = server;
    const size_t asked = tp.prompter.prompts.size();
    doc.GTVRconPassword();
    EXPECT_EQ(tp.prompter.prompts.size(), asked);
}

TEST_F(DocFixture, NewRconPasswordInPropertiesForgetsTheChallenge) {
    CObjectValues v;
    v.host = "127.0.0.1";
    v.port = 27015;
    v.group = doc.groups[0];
    v.rconPassword = "old";
    auto* server = static_cast<CHLServer*>(doc.AddObjectOfKind(CObjectKind::HLServer, v));
    ASSERT_NE(server, nullptr);
    server->challenge = 1234;
    doc.selectedObject = server;
    v.group = doc.groups[1];
    doc.ApplyObjectProperties(v);  // same password: the challenge stays
    EXPECT_EQ(server->challenge, 1234u);
    EXPECT_EQ(server->group, doc.groups[1]);
    v.rconPassword = "new";
    doc.ApplyObjectProperties(v);
    EXPECT_EQ(server->rconPassword, "new");
    EXPECT_EQ(server->challenge, 0u);
    EXPECT_EQ(server->host, "127.0.0.1");  // host and port never change
}

TEST_F(DocFixture, ModuleDialogsStoreTheirSettings) {
    doc.SetModifiedFlag(false);
    doc.vuzuVed.tickCounter = 4;
    COrvaneDoc::CVuzuVedSettings page;
    page.enabled = true;
    page.server = "127.0.0.1";
    page.login = "web";
    page.password = "pw";
    page.remoteFilename = "/www/status.html";
    page.interval = 60;
    doc.SetVuzuVedSettings(page);
    EXPECT_EQ(doc.vuzuVed.enabled, 1);
    EXPECT_EQ(doc.vuzuVed.server, "127.0.0.1");
    EXPECT_EQ(doc.vuzuVed.login, "web");
    EXPECT_EQ(doc.vuzuVed.password, "pw");
    EXPECT_EQ(doc.vuzuVed.remoteFilename, "/www/status.html");
    EXPECT_EQ(doc.vuzuVed.interval, 60);
    EXPECT_EQ(doc.vuzuVed.tickCounter, 4);  // the cycle is not restarted
    EXPECT_TRUE(doc.IsModified());

    doc.SetModifiedFlag(false);
    doc.SetNetworkDetectSettings(true, doc.zones[1], true);
    EXPECT_EQ(doc.networkDetect.enabled, 1);
    EXPECT_EQ(doc.networkDetect.targetZone, doc.zones[1]);
    EXPECT_EQ(doc.networkDetect.exportNewToWeb, 1);
    EXPECT_FALSE(doc.IsModified());
    doc.SetNetworkDetectSettings(false, doc.zones[1], false);  // disabled: no zone
    EXPECT_EQ(doc.networkDetect.targetZone, nullptr);
    EXPECT_EQ(doc.networkDetect.enabled, 0);
}

TEST(AddressRange, OnlyTheLastByteMayDiffer) {
    test::RecordingPrompter p;
    auto one = CheckAddressRange(p, "10.0.0.5", "10.0.0.5", 27015, 27015);
    EXPECT_TRUE(one.valid);
    EXPECT_EQ(one.prefix, "10.0.0.");
    EXPECT_EQ(one.firstOctet, 5);
    EXPECT_TRUE(p.messages.empty());
    EXPECT_FALSE(CheckAddressRange(p, "10.0.0.9", "10.0.0.5", 1, 1).valid);
    EXPECT_EQ(p.messages.back(), "Invalid address range. Only the last byte may differ");
    EXPECT_FALSE(CheckAddressRange(p, "10.0.1.5", "10.0.0.9", 1, 1).valid);
    p.messages.clear();
    EXPECT_FALSE(CheckAddressRange(p, "10.0.0.1", "10.0.0.2", 27020, 27015).valid);
    EXPECT_EQ(p.messages, std::vector<std::string>{"Invalid port specification. PortFROM must be lower than PortTO"});
    p.messages.clear();
    EXPECT_FALSE(CheckAddressRange(p, "x", "10.0.0.2", 27020, 27015).valid);
    EXPECT_EQ(p.messages.size(), 2u);  // both messages, one after the other
}

TEST(ModuleSound, PlaysOnlyOnChangesAndOnlyWhenEnabled) {
    test::RecordingSound player;
    CModuleSound sound(player);
    std::int32_t state = 0;
    sound.MatchStateChange(state, 1);
    sound.MatchStateChange(state, 1);
    EXPECT_EQ(player.played, (std::vector<std::string>{"MatchStarted.wav"}));
    sound.MatchStateChange(state, 2);  // anything but 1 is a stop
    EXPECT_EQ(player.played.back(), "MatchStopped.wav");
    sound.enabled = 0;
    sound.MatchStateChange(state, 1);
    EXPECT_EQ(state, 1);  // stored even when silent
    EXPECT_EQ(player.played.size(), 2u);
    sound.enabled = 1;
    sound.MatchStateChange(state, 1);  // enabling later does not replay the start
    EXPECT_EQ(player.played.size(), 2u);
    sound.Play("badrcon.wav");
    EXPECT_EQ(player.played.back(), "badrcon.wav");
    sound.enabled = 0;
    sound.Reset();
    EXPECT_EQ(sound.enabled, 1);
    CModuleAdminBot bot;
    EXPECT_EQ(bot.enabled, 0);
}

}  // namespace
}  // namespace orv

// The document: its default layout, the one-second tick (the time-out of every kind, the linking pass),
// and the commands on zones, groups and objects, driven by a fake clock and a scripted prompter.
#include "monitor_fixture.h"
#include "monitors/halflife/hlserver.h"
#include "monitors/quake3/gtv.h"
#include "sim/udppeer.h"

namespace orv {
namespace {

using namespace test;

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
    }
    void ResolveLinks(const CObjectList& objects) override {
        ++linkPasses;
        for (auto& o : objects)
            if (!linked && !relayed.empty() && o->Matches(relayed)) linked = o.get();
    }
    void SendRcon(const std::string& command) override { rcon.push_back(command); }
    void OnObjectDeleted(CCommonObject* deleted) override {
        deletedSeen.push_back(deleted);
        if (linked == deleted) linked = nullptr;
    }
    std::vector<std::string> rcon;
    std::vector<CCommonObject*> deletedSeen;
    int ticks = 0, linkPasses = 0;
    bool queries = false;
    std::string relayed;
    CCommonObject* linked = nullptr;
};

struct DocTest : ::testing::Test {
    TestPlatform tp;
    COrvaneDoc doc{tp.platform};
    HintView view;
    DocTest() {
        doc.New();
        doc.AddView(&view);
    }
    TickProbe* Add(std::uint32_t port, int group = 0) {
        auto o = std::make_unique<TickProbe>(tp.platform);
        o->host = "127.0.0.1";
        o->port = port;
        return static_cast<TickProbe*>(doc.AddObject(std::move(o), doc.groups[static_cast<size_t>(group)]));
    }
    std::string Layout() {  // zones and groups, in list order
        std::string s;
        for (auto& z : doc.zones) s += z->name + ":" + std::to_string(z->level) + " ";
        for (auto& g : doc.groups) s += g->name + ":" + std::to_string(g->level) + "@" + g->zone->name + " ";
        return s;
    }
};

TEST_F(DocTest, NewLayoutAndTheTick) {
    // The new layout itself is the layout file test's golden bytes.
    doc.Tick();  // an empty layout still refreshes every second
    EXPECT_EQ(std::tuple(view.hints, doc.cycleCounter), std::tuple(std::vector<int>{kHintRefresh}, 1));
    // Objects are ticked in list order. The time-out counts only after one of the object's queries left
    // (one waiting in the queue is not its server's silence): ten whole seconds are fine, eleven are not.
    doc.output.Stop();  // the test runs the windows
    TickProbe* answered = Add(27015);
    TickProbe* quiet = Add(27016);  // sends nothing: no silence of its server to judge
    for (TickProbe* o : {answered, quiet}) {
        o->SetState(CCommonObject::kStateMonitor);
        o->MarkAnswered();
    }
    const Time at = tp.clock.now;
    answered->queries = true;
    for (Time t : {0, 30, 40, 41}) {
        if (t == 40) doc.output.RunWindow();  // the query waited in the queue until 30 and left then
        tp.clock.now = at + t;
        doc.Tick();
        EXPECT_EQ(answered->state, t == 41 ? 1 : 2) << t;
    }
    EXPECT_EQ(std::tuple(quiet->state, answered->ticks, quiet->ticks), std::tuple(2, 4, 4));
    // New clears the selection, the queue, the cycle and the modules' state; the page's local setup and
    // the detection's switch stay.
    doc.selectedObject = answered;
    doc.selectedZone = doc.zones[0];
    answered->SendOutOfBand("x");
    doc.vuzuVed.local.templateFolder = "/srv/templates";
    doc.vuzuVed.peakHlSpectators = 40;
    doc.networkDetect.enabled = 1;
    doc.networkDetect.targetZone = doc.zones[0];
    doc.sound.sound.enabled = 0;
    doc.New();
    EXPECT_EQ(
        std::tuple(doc.selectedObject, doc.selectedZone, doc.output.Count(), doc.cycleCounter, doc.objects.size()),
        std::tuple(nullptr, nullptr, 0, 0, 0u));
    EXPECT_EQ(std::tuple(doc.vuzuVed.peakHlSpectators, doc.vuzuVed.local.templateFolder, doc.networkDetect.enabled,
                         doc.networkDetect.targetZone, doc.sound.sound.enabled),
              std::tuple(0, "/srv/templates", 1, nullptr, 1));
}

TEST_F(DocTest, ProxiesLinkOnTheSixthTickToTheObjectNearerTheHead) {
    TickProbe* proxy = Add(27020, 1);
    TickProbe* first = Add(27015);
    auto other = std::make_unique<TickProbe>(tp.platform);  // the same address, farther from the head
    other->host = "localhost";
    other->port = 27015;
    static_cast<TickProbe*>(doc.objects.Append(std::move(other)))->CreateSocket();
    proxy->relayed = "127.0.0.1:27015";
    for (int i = 0; i < 5; ++i) doc.Tick();
    EXPECT_EQ(std::tuple(proxy->linked, proxy->linkPasses), std::tuple(nullptr, 0));
    doc.Tick();  // the sixth
    EXPECT_EQ(std::tuple(proxy->linked, proxy->linkPasses, first->linkPasses, doc.cycleCounter),
              std::tuple(first, 1, 1, 0));
    // Deleting an object tells every object first.
    doc.selectedObject = first;
    doc.DeleteSelectedObject();
    EXPECT_EQ(std::tuple(proxy->deletedSeen, proxy->linked, doc.objects.size(), doc.selectedObject, view.hints.back()),
              std::tuple(std::vector<CCommonObject*>{first}, nullptr, 2u, nullptr, kHintLayoutChanged));
}

TEST_F(DocTest, ZoneAndGroupCommands) {
    Add(27015);
    doc.SetModifiedFlag(false);
    auto& msgs = tp.prompter.messages;
    for (CZone* used :
         {static_cast<CZone*>(doc.groups[0]), doc.zones[1]}) {  // Servers holds an object; Internet a group
        doc.selectedZone = used;
        doc.DeleteSelectedZone();
        EXPECT_EQ(msgs.back(), "Cannot delete a Zone/Group that is not empty");
    }
    EXPECT_EQ(std::tuple(doc.zones.size(), doc.groups.size(), doc.IsModified(), view.hints.back()),
              std::tuple(2u, 3u, true, kHintLayoutChanged));  // the refusal still marks the layout modified
    CZone* spare = doc.AddZone("Spare", 3);                   // the network detection zone is refused even when empty
    doc.networkDetect.targetZone = spare;
    doc.selectedZone = spare;
    doc.DeleteSelectedZone();
    EXPECT_EQ(std::tuple(msgs.size(), msgs.back(), doc.zones.size()),
              std::tuple(3u, "Cannot delete this zone, it is used by Network Detect Module", 3u));
    doc.networkDetect.targetZone = nullptr;
    doc.DeleteSelectedZone();
    EXPECT_EQ(std::tuple(doc.zones.size(), doc.selectedZone, doc.zones.maxLevel), std::tuple(2u, nullptr, 3));  // stale
    // Layer and move commands find the target in either list.
    doc.selectedZone = doc.groups[2];
    doc.IncreaseLayer();
    doc.selectedZone = doc.zones[0];
    doc.IncreaseLayer();  // behind Internet
    doc.MoveZoneUp();     // the same level as Internet now
    EXPECT_EQ(Layout(), "LAN Local:2 Internet:2 Servers:1@LAN Local Local TV:2@LAN Local Internet TV:2@Internet ");
    doc.DecreaseLayer();
    doc.DecreaseLayer();  // at level 1 already: stays
    EXPECT_EQ(doc.zones[1]->level, 1);
    // Rename asks with the name and does not mark the layout modified; cancel keeps it.
    doc.SetModifiedFlag(false);
    doc.selectedZone = doc.zones[0];
    tp.prompter.inputAnswers = {std::string("Stage"), std::nullopt};
    doc.RenameSelectedZone();
    doc.RenameSelectedZone();
    EXPECT_EQ(std::tuple(tp.prompter.prompts.back(), tp.prompter.initials.back(), doc.zones[0]->name, doc.IsModified()),
              std::tuple("Enter new name", "Stage", "Stage", false));
}

TEST_F(DocTest, GlobalRconReachesExactlyTheObjectsOfTheZoneOrGroup) {
    TickProbe* a = Add(27015, 0);    // LAN Local / Servers
    TickProbe* b = Add(27016, 1);    // LAN Local / Local TV
    TickProbe* c = Add(27017, 2);    // Internet / Internet TV
    Add(27018, 0)->group = nullptr;  // as a load may leave it
    doc.selectedZone = doc.zones[0];
    tp.prompter.inputAnswers = {std::string("say hi"), std::string("status"), std::string("status")};
    tp.prompter.yesNoAnswers = {true, false, true};
    doc.GlobalRcon();
    EXPECT_EQ(std::tuple(tp.prompter.prompts.back(), tp.prompter.questions.back()),
              std::tuple("Enter the rcon command for all objects in this zone.",
                         "Are you sure to send the following command to the whole zone ?\nsay hi"));
    doc.selectedZone = doc.groups[1];
    doc.GlobalRcon();  // No: nothing is sent
    doc.GlobalRcon();
    EXPECT_EQ(tp.prompter.questions.back(), "Are you sure to send the following command to the whole group ?\nstatus");
    EXPECT_EQ(std::tuple(a->rcon, b->rcon, c->rcon, doc.objects[3]->rconPassword),
              std::tuple(std::vector<std::string>{"say hi"}, std::vector<std::string>{"say hi", "status"},
                         std::vector<std::string>{}, ""));
    // Moving objects stays within the group.
    doc.New();
    a = Add(27015, 0);
    TickProbe* other = Add(27016, 1);
    b = Add(27017, 0);
    doc.selectedObject = a;
    doc.MoveObjectUp();  // first of its group: nothing changes
    EXPECT_EQ(std::tuple(doc.objects[0], view.hints.back()), std::tuple(a, kHintRedraw));
    doc.MoveObjectDown();  // passes the object of another group, lands behind b
    EXPECT_EQ(std::tuple(doc.objects[0], doc.objects[1], doc.objects[2]), std::tuple(other, b, a));
    doc.MoveObjectUp();
    EXPECT_EQ(std::tuple(doc.objects[1], doc.objects[2]), std::tuple(a, b));
}

TEST_F(DocTest, ObjectCommandsAndPreferences) {
    TickProbe* a = Add(27015);
    a->password = "old";
    doc.selectedObject = a;
    doc.SetModifiedFlag(false);
    tp.prompter.inputAnswers = {std::string("new")};
    doc.AskObjectPassword();
    EXPECT_EQ(std::tuple(tp.prompter.prompts.back(), tp.prompter.initials.back(), a->password, doc.IsModified()),
              std::tuple("Enter this object's password", "old", "new", false));
    EXPECT_EQ(doc.LimitKbps(), 10);
    doc.SetPreferences(false, 3);
    EXPECT_EQ(std::tuple(doc.output.GetLimit(), doc.sound.sound.enabled, doc.IsModified()), std::tuple(3040, 0, false));
    doc.SetAdminBotEnabled(true);
    EXPECT_EQ(std::tuple(doc.adminBot.enabled, doc.IsModified()), std::tuple(1, true));
    // A new rcon password in Properties takes a server in state 3 back to 2 and asks for a fresh challenge
    // at once; host and port never change.
    doc.output.Stop();  // the test looks at the queue
    CObjectValues v;
    v.host = "127.0.0.2";
    v.port = 27015;
    v.group = doc.groups[0];
    v.rconPassword = "old";
    auto* server = static_cast<CHLServer*>(doc.AddObjectOfKind(CObjectKind::HLServer, v));
    server->state = 3;
    server->challenge = 1234;
    doc.selectedObject = server;
    v.host = "127.0.0.3";
    v.group = doc.groups[1];
    doc.ApplyObjectProperties(v);  // the same password: the challenge stays
    EXPECT_EQ(std::tuple(server->challenge, server->group, server->host),
              std::tuple(1234u, doc.groups[1], "127.0.0.2"));
    doc.output.Clear();
    v.rconPassword = "new";
    doc.ApplyObjectProperties(v);
    EXPECT_EQ(std::tuple(server->rconPassword, server->challenge, server->state, doc.output.Count()),
              std::tuple("new", 0u, 2, 1));
    auto answer = [&](const std::string& text) { server->OnPacket(Bytes(kOob + text)); };
    answer("lBad rcon_password.\n");  // to a command that left with the old password: the new one stays
    answer("challenge rcon 4242\n");
    EXPECT_EQ(std::tuple(server->rconPassword, server->state), std::tuple("new", 3));
    doc.output.Clear();  // a stale challenge: one fresh request a cycle, however many refusals come
    answer("lBad challenge.\n");
    answer("lBad challenge.\n");
    EXPECT_EQ(doc.output.Count(), 1);
    answer("lBad rcon_password.\n");  // the protection is armed again
    EXPECT_EQ(server->rconPassword, "");
    // The module dialogs store their settings: the page marks the layout modified, the detection does not.
    doc.SetModifiedFlag(false);
    doc.vuzuVed.tickCounter = 4;
    COrvaneDoc::CVuzuVedSettings page;
    page.interval = 60;
    doc.SetVuzuVedSettings(page);
    EXPECT_EQ(std::tuple(doc.vuzuVed.interval, doc.vuzuVed.tickCounter, doc.IsModified()),
              std::tuple(60, 4, true));  // the cycle goes on
    doc.SetModifiedFlag(false);
    doc.SetNetworkDetectSettings(true, doc.zones[1], true);
    EXPECT_EQ(std::tuple(doc.networkDetect.targetZone, doc.networkDetect.exportNewToWeb, doc.IsModified()),
              std::tuple(doc.zones[1], 1, false));
    doc.SetNetworkDetectSettings(false, doc.zones[1], false);  // disabled: no zone
    EXPECT_EQ(std::tuple(doc.networkDetect.enabled, doc.networkDetect.targetZone), std::tuple(0, nullptr));
}

TEST_F(DocTest, RangeAddGoesAddressByAddressThenPortByPort) {
    CObjectValues v;
    v.group = doc.groups[0];
    v.rconPassword = "pw";
    doc.RangeAdd(CObjectKind::HLServer, CheckAddressRange(tp.prompter, "127.0.0.1", "127.0.0.3", 27015, 27016), v);
    std::vector<std::string> added;
    for (auto& o : doc.objects) added.push_back(o->ClassName() + (" " + o->AddressString() + " " + o->rconPassword));
    EXPECT_EQ(added, (std::vector<std::string>{"CHLServer 127.0.0.1:27015 pw", "CHLServer 127.0.0.1:27016 pw",
                                               "CHLServer 127.0.0.2:27015 pw", "CHLServer 127.0.0.2:27016 pw",
                                               "CHLServer 127.0.0.3:27015 pw", "CHLServer 127.0.0.3:27016 pw"}));
    EXPECT_EQ(doc.lastAddress, "127.0.0.1");
    // An overlapping range reports each duplicate and adds the rest.
    doc.RangeAdd(CObjectKind::Q3Server, CheckAddressRange(tp.prompter, "127.0.0.3", "127.0.0.4", 27016, 27016), v);
    EXPECT_EQ(std::tuple(doc.objects.size(), doc.objects[6]->ClassName(), tp.prompter.messages.back(), doc.lastAddress),
              std::tuple(7u, std::string("CQ3Server"), "This Object already exists\nGroup : Servers\nZone : LAN Local",
                         "127.0.0.3"));
    test::RecordingPrompter p;
    const auto one = CheckAddressRange(p, "10.0.0.5", "10.0.0.5", 27015, 27015);
    EXPECT_EQ(std::tuple(one.valid, one.prefix, one.firstOctet, p.messages.size()), std::tuple(true, "10.0.0.", 5, 0u));
    EXPECT_FALSE(CheckAddressRange(p, "10.0.0.9", "10.0.0.5", 1, 1).valid);
    EXPECT_FALSE(CheckAddressRange(p, "10.0.1.5", "10.0.0.9", 1, 1).valid);
    EXPECT_FALSE(CheckAddressRange(p, "10.0.0.1", "10.0.0.2", 27020, 27015).valid);
    EXPECT_FALSE(CheckAddressRange(p, "x", "10.0.0.2", 27020, 27015).valid);  // both messages
    const std::string bytes = "Invalid address range. Only the last byte may differ";
    const std::string ports = "Invalid port specification. PortFROM must be lower than PortTO";
    EXPECT_EQ(p.messages, (std::vector<std::string>{bytes, bytes, ports, bytes, ports}));
}

TEST_F(DocTest, GtvRoomCommandsActOnTheSelectedRoom) {
    sim::CUdpPeer proxy;
    CObjectValues v;
    v.host = "127.0.0.1";
    v.port = static_cast<std::uint32_t>(proxy.Port());
    v.group = doc.groups[2];
    v.rconPassword = "gtvpw";
    v.externalHost = "198.51.100.7";
    v.externalPort = 28000;
    auto* gtv = static_cast<CGTV*>(doc.AddObjectOfKind(CObjectKind::GTV, v));
    CCommonObject* server = Add(27960);
    gtv->roomCount = 2;
    gtv->rooms[1].hubNumber = 7;
    gtv->rooms[1].description = "Final";
    gtv->rooms[1].linkedServer = server;
    doc.selectedObject = gtv;
    doc.GTVDescription();  // without a selected room: nothing
    doc.GTVCloseRoom();
    EXPECT_EQ(std::tuple(tp.prompter.prompts.size(), doc.output.Count()), std::tuple(0u, 0));
    gtv->selectedRoom = &gtv->rooms[1];
    tp.prompter.inputAnswers = {std::string("Grand final"), std::string("other")};
    doc.GTVDescription();
    EXPECT_EQ(std::tuple(tp.prompter.prompts.back(), tp.prompter.initials.back(), gtv->rooms[1].description),
              std::tuple("Enter new description for room #7", "Final", "Final"));  // nothing stored locally
    tp.clock.now = 5000;
    doc.GTVCloseRoom();
    EXPECT_EQ(std::tuple(gtv->linkNotBefore, gtv->rooms[1].linkedServer, gtv->selectedRoom),
              std::tuple(5010, nullptr, nullptr));
    for (auto text : {"rcon \"gtvpw\" gtv_description 7 \"Grand final\"", "rcon \"gtvpw\" gtv_disconnect 7"}) {
        auto d = proxy.Receive(2s);
        ASSERT_TRUE(d);
        EXPECT_EQ(d->bytes, Framed(text));
    }
    doc.SetModifiedFlag(false);
    doc.GTVRconPassword();
    EXPECT_EQ(std::tuple(tp.prompter.prompts.back(), tp.prompter.initials.back(), gtv->rconPassword, doc.IsModified()),
              std::tuple("Try another rcon password:", "gtvpw", "other", true));
    doc.selectedObject = server;  // another kind: nothing
    doc.GTVRconPassword();
    EXPECT_EQ(tp.prompter.prompts.size(), 2u);
}

}  // namespace
}  // namespace orv

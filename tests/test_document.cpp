// The document's default layout and its one-second monitoring tick, driven by a fake clock.
#include <gtest/gtest.h>

#include "core/document/document.h"
#include "fakes.h"

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
    int ticks = 0;
    int linkPasses = 0;
    std::string relayed;
    CCommonObject* linked = nullptr;
};

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

TEST_F(DocFixture, ObjectsAreTickedInListOrderAndTimeOut) {
    TickProbe* answered = Add("127.0.0.1", 27015);
    TickProbe* silent = Add("127.0.0.1", 27016);
    ASSERT_TRUE(answered && silent);
    // Never answered: last answer time 0, so state 1 from the first tick.
    silent->state = 2;
    doc.Tick();
    EXPECT_EQ(silent->state, 1);
    answered->Answer();
    EXPECT_EQ(answered->state, 2);
    const Time answeredAt = tp.clock.now;
    tp.clock.now = answeredAt + 10;
    doc.Tick();
    EXPECT_EQ(answered->state, 2);  // ten whole seconds: still answering
    tp.clock.now = answeredAt + 11;
    doc.Tick();
    EXPECT_EQ(answered->state, 1);  // eleven: time-out
    EXPECT_EQ(answered->ticks, 3);
    EXPECT_EQ(silent->ticks, 3);
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

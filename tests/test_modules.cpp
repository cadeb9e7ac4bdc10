// The document modules: the VuzuVed status page (template cutting, rows, totals, peaks, signature, the
// upload schedule) as golden rows of template, layout and page, and the GTV network detection (chain
// lists, group choice, the ten-tick schedule, the no-zone message and its re-entry).
#include <set>

#include "modules/netdetect.h"
#include "modules/vuzuved.h"
#include "monitor_fixture.h"
#include "monitors/halflife/hlserver.h"
#include "monitors/halflife/hltv.h"
#include "monitors/quake3/gtv.h"

namespace orv {
namespace {

using test::WriteFile;

constexpr Time kSignTime = 1083791109;  // 2004-05-05 21:05:09, local time read as UTC
const std::string kInternalError = "CHLTV::CheckAutoRecord() : Internal error, report this bug to the author";

// The page of a document whose FTP engine is stopped (its jobs wait in the queue), over objects that are
// only listed (no sockets).
struct PageTest : test::DocFixture {
    CModuleVuzuVed page;
    PageTest() {
        tp.clock.now = kSignTime;
        doc.ftp.Stop();
    }
    template <class T>
    T* Add() {
        return static_cast<T*>(doc.objects.Append(std::make_unique<T>(tp.platform)));
    }
    // An HLTV proxy under rcon control, exported.
    CHLTV* Proxy(std::int32_t spectators, std::int32_t slots = 10, float bandwidth = 0.0f) {
        CHLTV* tv = Add<CHLTV>();
        std::tie(tv->host, tv->state, tv->spectators, tv->spectatorSlots, tv->outgoingBandwidth) =
            std::tuple("127.0.0.1", CCommonObject::kStateRcon, spectators, slots, bandwidth);
        return tv;
    }
    CGTV* Gtv(std::int32_t clients, std::int32_t slots, const std::string& name = "") {
        CGTV* gtv = Add<CGTV>();
        std::tie(gtv->state, gtv->exportToWeb, gtv->clients, gtv->clientSlots, gtv->serverName) =
            std::tuple(CCommonObject::kStateMonitor, 1, clients, slots, name);
        return gtv;
    }
    std::string Generate(const std::string& t) { return page.GeneratePageFromTemplate(doc, t).value_or("(too large)"); }
};

const std::string kStats =
    "[SECTION_STATS][#TOTAL_HL_SLOTS]|[#TOTAL_HL_SLOTS_MAX]|[#TOTAL_HL_SLOTS_PEAK]|[#TOTAL_HL_SLOTS_PEAK_PERCENT]|"
    "[#TOTAL_HL_BANDWIDTH]|[#TOTAL_HL_BANDWIDTH_PEAK]|[#TOTAL_GTV_SLOTS]|[#TOTAL_GTV_SLOTS_MAX]|"
    "[#TOTAL_GTV_SLOTS_PEAK]|[#TOTAL_GTV_SLOTS_PEAK_PERCENT][/SECTION_STATS]";
const std::string kHltvRow =
    "[SECTION_HLTV][SECTION_HLTV_LOOP]<tr>[#HOSTNAME]|[#IP]|[#NBSPEC]/[#NBSPECMAX]|[#CLANS]|[#INFO]</tr>"
    "[/SECTION_HLTV_LOOP][/SECTION_HLTV]";

TEST_F(PageTest, TemplatesGiveTheirPages) {
    auto rows = test::Rows("page_templates.txt");
    const std::string sign = rows[0]["sign"];
    for (auto& row : std::span(rows).subspan(1)) {
        if (row["objects"] == "listed" && doc.objects.size() == 0) {
            Proxy(5);
            Proxy(9)->exportToWeb = 0;
            Proxy(11)->state = CCommonObject::kStateMonitor;      // answering, but not under rcon control
            Add<CHLServer>()->state = CCommonObject::kStateRcon;  // game servers are never listed
            Proxy(7);
            Gtv(2, 8, "GTV Hub");
        }
        std::string page = row["page"];
        for (size_t at; (at = page.find("[SIGNED]")) != std::string::npos;) page.replace(at, 8, sign);
        EXPECT_EQ(Generate(row["template"]), page) << row["template"];
    }
    EXPECT_TRUE(tp.prompter.messages.empty());
}

TEST_F(PageTest, StatisticsTotalsPeaksAndPercentages) {
    // 10 HLTV slots in total against a stored peak of 12: 120 %. Bandwidth 400 + 600 prints as 8.000. The
    // peaks shown are the ones stored.
    std::tie(page.peakHlSpectators, page.peakGtvSpectators) = std::tuple(12, 2);
    Proxy(1, 6, 400.0f);
    Proxy(2, 4, 600.0f);
    Gtv(3, 8);
    EXPECT_EQ(Generate(kStats), "3|10|12|120|8.000|8.000|3|8|3|37");
    doc.objects.Clear();  // the peaks carry over when the audience shrinks
    Proxy(1, 5, 250.0f);
    EXPECT_EQ(Generate(kStats), "1|5|12|240|2.000|8.000|0|0|3|-");
    doc.objects.Clear();  // a bandwidth not yet reported counts as -1
    Proxy(0, 1, -1.0f);
    Proxy(0, 1, 1001.0f);
    EXPECT_EQ(Generate("[SECTION_STATS][#TOTAL_HL_BANDWIDTH][/SECTION_STATS]"), "8.000");
    page.peakGtvBandwidth = -3.0;
    Generate("");
    EXPECT_EQ(page.peakGtvBandwidth, 0.0);
}

TEST_F(PageTest, HltvRowTellsTheRelayedMatchOrTheTeamTags) {
    // The name the proxy reports, not the address entered; values from the network are escaped.
    CHLTV* tv = Proxy(12, 128);
    std::tie(tv->externalHost, tv->externalPort, tv->serverName, tv->map, tv->playerNameCount, tv->delay,
             tv->teamTags) = std::tuple("tv.example.org", 27021, "Final <TV>", "de_'dust2", 3, 30.0f, "[A&B]x, CD|y");
    CHLServer* game = Add<CHLServer>();
    std::tie(game->teamAName, game->teamBName, game->teamASet1, game->teamASet2, game->teamBSet1, game->teamBSet2) =
        std::tuple("Al\"pha", "Beta", 10, 6, 5, 9);
    CHLTV* upstream = Proxy(0);
    upstream->exportToWeb = 0;
    upstream->linkedServer = game;
    CGTV* other = Add<CGTV>();
    // One row each (golden file): the relayed match; through a chain; no match (no clans); an unknown match
    // state; AdminBot off (team tags); relaying nothing known; no upstream address; a chain ending at another kind.
    std::string pages;
    using V = std::tuple<bool, CCommonObject*, int, const char*>;
    const char* up = "127.0.0.1:27015";
    for (auto [adminBot, link, matchState, address] :
         {V{true, game, 2, up}, V{true, upstream, 0, up}, V{true, upstream, 7, up}, V{false, game, 2, up},
          V{true, nullptr, 2, up}, V{true, game, 2, ""}, V{true, other, 2, up}}) {
        doc.adminBot.enabled = adminBot;
        tv->linkedServer = link;
        game->matchState = matchState;
        tv->serverAddress = address;
        pages += Generate(kHltvRow) + "\n";
    }
    test::ExpectGolden("page_hltv_rows.html", pages);
    EXPECT_EQ(tp.prompter.messages, std::vector<std::string>{kInternalError});
}

TEST_F(PageTest, GtvRowsWithTheirShownRooms) {
    CGTV* gtv = Gtv(17, 64, "GTV One");
    std::tie(gtv->externalHost, gtv->externalPort, gtv->roomCount) = std::tuple("gtv.example.org", 27971, 3);
    auto room = [&](int i, int hub, int state, int number, const char* description, int following) {
        CGTVRoom& r = gtv->rooms[static_cast<size_t>(i)];
        std::tie(r.hubNumber, r.roomState, r.roomNumber, r.description, r.following, r.playerNumbers[0],
                 r.playerNames[0], r.playerCount) =
            std::tuple(hub, state, number, description, following, 4, "Al<pha>", 1);
    };
    room(0, 3, 1, 0, "<Final>", 4);  // values from the network are escaped  // room number 0: named by its hub number
    room(1, 4, 2, 0, "Hidden", 4);
    room(2, 5, 3, 7, "Semi", -1);
    Gtv(1, 1)->state = CCommonObject::kStateTimeout;  // not answering: not listed
    CGTV* bare = Gtv(0, 8, "GTV Two");
    std::tie(bare->externalHost, bare->externalPort) = std::tuple("127.0.0.3", 27970);
    const std::string t =
        "[SECTION_GTV]<g>[SECTION_GTV_LOOP]<tr>[#HOSTNAME]|[#IP]|[#NBSPEC]/[#NBSPECMAX]|[#CLANS]|[#INFO]</tr>"
        "[/SECTION_GTV_LOOP]</g>[/SECTION_GTV]";
    test::ExpectGolden("page_gtv_rows.html", Generate(t));
    gtv->exportToWeb = 0;
    bare->exportToWeb = 0;
    EXPECT_EQ(Generate(t), "");
}

// Names, descriptions and team names holding tags stay text: each row is filled in one pass. (Replaced one
// tag after the other, a proxy named "[#INFO]" 150 times copied its 32 room lines 150 times.)
TEST_F(PageTest, TagsInNetworkTextAreNeverReplaced) {
    std::string name;
    for (int i = 0; i < 150; ++i) name += "[#INFO]";
    CGTV* gtv = Gtv(1, 8, name);
    gtv->roomCount = CGTV::kMaxRooms;
    for (auto& room : gtv->rooms) room.description = "[#HOSTNAME][#NBSPEC]";
    CHLTV* tv = Proxy(3);
    std::tie(tv->serverName, tv->map, tv->teamTags, tv->serverAddress) = std::tuple(name, "[#CLANS]", "[#INFO]", "x:1");
    const std::string page =
        Generate(kHltvRow + "[SECTION_GTV][SECTION_GTV_LOOP][#HOSTNAME]|[#INFO][/SECTION_GTV_LOOP][/SECTION_GTV]");
    size_t rooms = 0;
    for (size_t at = 0; (at = page.find("Room #", at)) != std::string::npos; ++at) ++rooms;
    EXPECT_EQ(rooms, 32u);
    EXPECT_TRUE(page.starts_with("<tr>" + name + "|:0|3/10|[#INFO]|0 players on [#CLANS]</tr>"))
        << page.substr(0, 1200);
    EXPECT_NE(page.find("|[#INFO]|0 players on [#CLANS]</tr>" + name + "|Room #0 : [#HOSTNAME][#NBSPEC], POV"),
              std::string::npos);
}

// A page above the limit is neither made nor uploaded; the operator is told once, until a page fits again.
TEST_F(PageTest, PageAboveTheSizeLimitIsNotUploadedAndToldOnce) {
    test::TempDir dir{"orvane-modules"};
    WriteFile(dir.path / "web_template.html", "[SECTION_GTV][SECTION_GTV_LOOP]" + std::string(150000, 'x') +
                                                  "[#INFO][/SECTION_GTV_LOOP][/SECTION_GTV]");
    page.local.templateFolder = dir.path.string();
    for (int i = 0; i < 28; ++i) Gtv(0, 1);  // 28 rows of 150 kB: 4.2 MB, above 4 MiB
    const std::string told =
        "The status page would be larger than 4194304 bytes: it is not uploaded until it is smaller again.";
    using Row = std::tuple<size_t, int, bool, size_t>;  // limit, exported proxies, job made, messages shown
    for (auto [limit, exported, job, shown] :
         {Row{0, 28, false, 1}, Row{0, 28, false, 1}, Row{0, 27, true, 1}, Row{0, 28, false, 2},
          Row{149999, 1, false, 2}, Row{150000, 1, true, 2}}) {
        page.local.pageLimit = limit ? limit : CModuleVuzuVed::kMaxPageBytes;
        for (int i = 0; i < 28; ++i)
            static_cast<CGTV*>(doc.objects[static_cast<size_t>(i)])->exportToWeb = i < exported;
        EXPECT_EQ(page.MakeJob(doc) != nullptr, job) << limit << " " << exported;
        EXPECT_EQ(tp.prompter.messages.size(), shown) << limit << " " << exported;
    }
    EXPECT_EQ(tp.prompter.messages[0], told);
}

// The template file's lines are joined; the job goes to port 21 (what reaches the FTP server, and the missing
// template's message and kept page, are the headless page run's).
TEST_F(PageTest, TemplateFileUploadJobAndSchedule) {
    test::TempDir dir{"orvane-modules"};
    WriteFile(dir.path / "web_template.html",
              "<html>\r\n[SECTION_ALWAYS]\r\n<h1>B</h1>\n<p>\rnow</p>\n[/SECTION_ALWAYS]\n");
    page.local.templateFolder = dir.path.string();
    const auto job = page.MakeJob(doc);
    EXPECT_EQ(std::tuple(job->port, job->content, job->kind), std::tuple(21, "<h1>B</h1><p>\rnow</p>", 0));
    // The second enabled tick uploads, then every interval; below 1 counts as 30; disabled holds the count
    // (-1: the count goes on from the row before).
    int pages = 0;
    using Row = std::tuple<int, int, int, int, const char*>;
    for (auto [enabled, interval, from, ticks, expected] :
         {Row{0, 3, 0, 10, ""}, Row{1, 3, -1, 5, " 2 5"}, Row{0, 3, -1, 7, ""}, Row{1, 3, -1, 3, " 3"},
          Row{1, 4, 0, 14, " 2 6 10 14"}, Row{1, 0, 0, 63, " 2 32 62"}, Row{1, -5, 0, 33, " 2 32"},
          Row{1, 1, 0, 4, " 2 3 4"}}) {
        std::tie(page.enabled, page.interval) = std::tuple(enabled, interval);
        if (from >= 0) page.tickCounter = from;
        std::string at;
        for (int i = 1; i <= ticks; ++i) {
            const auto queued = doc.ftp.PendingCount();
            page.remoteFilename = "/page" + std::to_string(++pages) + ".html";  // none replaces a waiting one
            page.Tick(doc);
            if (doc.ftp.PendingCount() != queued) at += " " + std::to_string(i);
        }
        EXPECT_EQ(at, expected) << interval;
    }
    // A newer page for the same remote file (the last tick's) replaces the one still waiting.
    const auto queued = doc.ftp.PendingCount();
    page.Upload(doc);
    EXPECT_EQ(doc.ftp.PendingCount(), queued);
    // Loading settings keeps the local setup.
    CModuleVuzuVed loaded;
    loaded.interval = 45;
    page = loaded;
    EXPECT_EQ(std::tuple(page.interval, page.local.templateFolder), std::tuple(45, dir.path.string()));
}

struct DetectTest : test::DocFixture {
    test::HintView view;
    DetectTest() {
        doc.AddView(&view);
        doc.networkDetect.enabled = 1;
        doc.networkDetect.targetZone = doc.zones[0];
    }
    CZone* Zone(const std::string& name) {
        for (auto& z : doc.zones)
            if (z->name == name) return z.get();
        return nullptr;
    }
    // A GTV or HLTV proxy in a group, in a state, a GTV proxy with its chain list: kind|host:port|group|state|list.
    void AddObject(const std::string& text) {
        auto f = test::Split(text, '|');
        CObjectValues values;
        std::tie(values.host, values.port, values.group) =
            std::tuple(std::string(UpTo(f[1], ":")), ToInt(After(f[1], ":")), Group(f[2]));
        CCommonObject* o = doc.AddObjectOfKind(f[0] == "gtv" ? CObjectKind::GTV : CObjectKind::HLTV, values);
        ASSERT_NE(o, nullptr) << text;
        o->state = std::stoi(f[3]);
        if (auto* gtv = dynamic_cast<CGTV*>(o)) gtv->chainList = f[4];
    }
};

// Chain lists, group choice and what adds nothing, as passes in tests/data/mod_detect.txt.
TEST_F(DetectTest, PassesAddTheReportedProxiesIntoTheirGroups) {
    size_t before = 0;
    int added = 0;
    const auto pass = [&](test::Row& row) {
        if (auto z = test::Split(row["zone"], '|'); z.size() == 2) doc.AddZone(z[0], std::stoi(z[1]));
        for (auto& g : test::Split(row["groups"], ','))
            if (auto f = test::Split(g, '|'); f.size() == 3) doc.AddGroup(f[0], Zone(f[1]), std::stoi(f[2]));
        if (row.count("target")) doc.networkDetect.targetZone = Zone(row["target"]);
        if (row.count("export")) doc.networkDetect.exportNewToWeb = std::stoi(row["export"]);
        for (auto& [key, value] : row)
            if (key.starts_with("object")) AddObject(value);
        if (row.count("lastaddress")) doc.lastAddress = row["lastaddress"];
        // Names looked up first: one entered by name is then known only by its host as entered.
        ASSERT_TRUE(test::WaitFor([&] {
            tp.loop.RunOnce(std::chrono::milliseconds(0));
            return std::none_of(doc.objects.begin(), doc.objects.end(), [](auto& o) { return o->LookupPending(); });
        }));
        before = doc.objects.size();
        view.hints.clear();
        tp.prompter.messages.clear();
        added = doc.networkDetect.DetectionPass(doc);
    };
    test::RunScript("mod_detect.txt", pass, [&] {
        std::string out = "added " + std::to_string(added) + ":";
        for (size_t i = before; i < doc.objects.size(); ++i) {
            const auto* gtv = dynamic_cast<const CGTV*>(doc.objects[i]);
            const CGroup* g = gtv->group;
            out +=
                Format(" %s:%u in %s (%d, %s) ext %s:%u export %u record %u unfolded %d rcon [%s];", gtv->host.c_str(),
                       gtv->port, g->name.c_str(), g->level, g->zone->name.c_str(), gtv->externalHost.c_str(),
                       gtv->externalPort, gtv->exportToWeb, gtv->autoRecord, gtv->expanded, gtv->rconPassword.c_str());
        }
        out += " groups " + std::to_string(doc.groups.size()) + " hints ";
        for (int hint : view.hints) out += "[" + std::to_string(hint) + "]";
        return out + " messages " + test::Joined(tp.prompter.messages) + " last " + doc.lastAddress;
    });
}

// Lists of 300 new proxies: 256 are added in all, into one "Auto" group one level beyond the highest (a
// target zone without groups), and the operator is told once.
TEST_F(DetectTest, AtMostTheCapIsAddedAndTheCapIsToldOnce) {
    doc.networkDetect.targetZone = doc.AddZone("Bare", 1);
    for (int r = 0; r < 3; ++r) {
        std::string list;
        for (int k = 100 * r; k < 100 * r + 100; ++k) list += "127.0.1.1:" + std::to_string(30000 + k) + " ";
        AddObject("gtv|127.0.0.2:" + std::to_string(27970 + r) + "|Internet TV|2|" + list);
    }
    const size_t before = doc.objects.size();
    tp.prompter.messages.clear();
    EXPECT_EQ(doc.networkDetect.DetectionPass(doc), 256);
    std::set<std::string> groups;
    for (size_t i = before; i < doc.objects.size(); ++i) {
        const CGroup* g = doc.objects[i]->group;
        groups.insert(Format("%s %d %s", g->name.c_str(), g->level, g->zone->name.c_str()));
    }
    EXPECT_EQ(std::tuple(doc.networkDetect.DetectionPass(doc), groups, tp.prompter.messages),
              std::tuple(0, std::set<std::string>{"Auto 3 Bare"},
                         std::vector<std::string>{
                             "Network Detection Module: 256 GTV proxies were added, no more will be added to this layout"}));
}

TEST_F(DetectTest, PassOnTheSixthEnabledTickThenEveryTenAndBeforeTheObjects) {
    AddObject("gtv|127.0.0.2:27970|Servers|2|");
    auto* reporter = static_cast<CGTV*>(doc.objects.Tail());
    // A new address in the chain list before every tick: a pass adds that tick's. Disabling stops the passes
    // at once and holds the count.
    std::vector<int> passes;
    for (int tick = 1; tick <= 30; ++tick) {
        doc.networkDetect.enabled = tick < 19;
        reporter->chainList = "127.0.1." + std::to_string(tick) + ":27970";
        doc.networkDetect.Tick(doc);
        if (doc.FindObject("127.0.1." + std::to_string(tick), 27970)) passes.push_back(tick);
    }
    EXPECT_EQ(std::tuple(passes, doc.networkDetect.tickCounter), std::tuple(std::vector<int>{6, 16}, 8));
    // The document ticks the detection before its objects: the reporter still counts as answering.
    doc.networkDetect.enabled = 1;
    reporter->chainList = "127.0.0.7:27970 ";
    reporter->SendQuery("getManagerInfo");  // left, never answered: the reporter's own tick times it out
    doc.output.RunWindow();
    doc.networkDetect.tickCounter = CModuleNetworkDetect::kPassTick;
    doc.Tick();
    EXPECT_EQ(std::tuple(doc.FindObject("127.0.0.7", 27970) != nullptr, reporter->state),
              std::tuple(true, CCommonObject::kStateTimeout));
}

// A prompter whose message box lets further ticks run while it is open, as a modal loop does.
struct ReentrantPrompter : test::RecordingPrompter {
    void Message(const std::string& text) override {
        RecordingPrompter::Message(text);
        if (whileOpen && depth < 3) {
            ++depth;
            whileOpen();
            --depth;
        }
    }
    std::function<void()> whileOpen;
    int depth = 0;
};

// Without a target zone: the message once, none from a tick while it is open nor from the ticks after it;
// again once the module has been switched off and on.
TEST(DetectReentry, TheNoZoneMessageIsShownOnceUntilTheConditionChanges) {
    test::TestPlatform tp;
    ReentrantPrompter prompter;
    CPlatform platform{tp.clock, prompter, tp.sound, tp.loop};
    COrvaneDoc doc(platform);
    doc.New();
    doc.networkDetect.enabled = 1;
    int nested = 0;
    prompter.whileOpen = [&] {
        ++nested;
        doc.networkDetect.Tick(doc);  // the module's own guard
        doc.Tick();                   // the document's guard
    };
    doc.Tick();
    doc.Tick();
    doc.networkDetect.Tick(doc);
    EXPECT_EQ(std::tuple(nested, prompter.messages),
              std::tuple(1, std::vector<std::string>(1, "Networt Detection Module error: No target zone\n")));
    doc.networkDetect.enabled = 0;  // disabled: nothing said
    doc.Tick();
    doc.networkDetect.enabled = 1;
    doc.Tick();
    doc.Tick();
    EXPECT_EQ(std::tuple(nested, prompter.messages.size()), std::tuple(2, 2u));
}

}  // namespace
}  // namespace orv

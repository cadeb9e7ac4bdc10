// The document: its default layout, the one-second tick (the time-out of every kind, the linking pass),
// and the commands on zones, groups and objects, driven by a fake clock and a scripted prompter; most
// commands run as scripts under tests/data/ (see DocTest::Run).
#include "monitor_fixture.h"
#include "monitors/halflife/hlserver.h"

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
    void SendRcon(std::string_view command) override { rcon.emplace_back(command); }
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

struct DocTest : ::testing::Test, ::testing::WithParamInterface<const char*> {
    TestPlatform tp;
    COrvaneDoc doc{tp.platform};
    HintView view;
    CAddressRange range;  // the last range checked
    DocTest() {
        doc.New();
        doc.AddView(&view);
    }
    TickProbe* Add(std::uint32_t port, CGroup* group) {
        auto o = std::make_unique<TickProbe>(tp.platform);
        o->host = "127.0.0.1";
        o->port = port;
        return static_cast<TickProbe*>(doc.AddObject(std::move(o), group));
    }
    // What the add and properties dialogs give the document.
    static CObjectValues Values(const std::string& host, std::uint32_t port, CGroup* group, const std::string& rcon) {
        CObjectValues v;
        std::tie(v.host, v.port, v.group, v.rconPassword) = std::tuple(host, port, group, rcon);
        return v;
    }
    // A zone or a group by its name; nullptr for "-".
    CZone* Zone(const std::string& name) {
        for (auto& z : doc.zones)
            if (z->name == name) return z.get();
        for (auto& g : doc.groups)
            if (g->name == name) return g.get();
        EXPECT_EQ(name, "-");
        return nullptr;
    }

    // A data file's rows in order: "do" holds steps parted by ';' ("verb argument"), run after the prompter's
    // records were cleared; every other key of the row is a value expected after them (see Value()).
    void Run(const std::string& file) {
        auto& p = tp.prompter;
        auto before = [&] {
            for (auto* log : {&p.messages, &p.questions, &p.prompts, &p.initials}) log->clear();
        };
        RunSteps(
            file, before, [&](const auto& verb, const auto& arg) { Step(verb, arg); },
            [&](const auto& key) { return Value(key); });
    }
    void Step(const std::string& verb, const std::string& arg) {
        // The document's own commands on the selection, by their names.
        static const std::map<std::string, void (COrvaneDoc::*)()> commands = {
            {"New", &COrvaneDoc::New},
            {"Tick", &COrvaneDoc::Tick},
            {"DeleteSelectedZone", &COrvaneDoc::DeleteSelectedZone},
            {"IncreaseLayer", &COrvaneDoc::IncreaseLayer},
            {"DecreaseLayer", &COrvaneDoc::DecreaseLayer},
            {"MoveZoneUp", &COrvaneDoc::MoveZoneUp},
            {"RenameSelectedZone", &COrvaneDoc::RenameSelectedZone},
            {"GlobalRcon", &COrvaneDoc::GlobalRcon},
            {"MoveObjectUp", &COrvaneDoc::MoveObjectUp},
            {"MoveObjectDown", &COrvaneDoc::MoveObjectDown},
            {"AskObjectPassword", &COrvaneDoc::AskObjectPassword}};
        if (commands.count(verb)) return (doc.*commands.at(verb))();
        const auto words = Split(arg, ' ');
        const std::string rest = arg.substr(std::min(arg.find(' ') + 1, arg.size()));  // after the first word
        auto num = [&](size_t i) { return std::stoi(words.at(i)); };
        // What the operator answers next.
        if (verb == "answer") return tp.prompter.inputAnswers.push_back(arg);
        if (verb == "cancel") return tp.prompter.inputAnswers.push_back(std::nullopt);
        if (verb == "yes" || verb == "no") return tp.prompter.yesNoAnswers.push_back(verb == "yes");
        // The layout, the selection, preferences and the module dialogs ("detect ENABLED ZONE", exporting new
        // proxies to the page while enabled).
        if (verb == "add") return void(Add(static_cast<std::uint32_t>(num(0)), static_cast<CGroup*>(Zone(rest))));
        if (verb == "add-zone") return void(doc.AddZone(words.at(0), num(1)));
        if (verb == "zone") return void(doc.selectedZone = Zone(arg));
        if (verb == "object") return void(doc.selectedObject = doc.objects[num(0)]);
        if (verb == "password") return void(doc.selectedObject->password = arg);
        if (verb == "saved") return doc.SetModifiedFlag(false);
        if (verb == "preferences") return doc.SetPreferences(num(0), num(1));
        if (verb == "adminbot") return doc.SetAdminBotEnabled(num(0));
        if (verb == "page-tick") return void(doc.vuzuVed.tickCounter = num(0));
        if (verb == "page-peak") return void(doc.vuzuVed.peakHlSpectators = num(0));
        if (verb == "page-folder") return void(doc.vuzuVed.local.templateFolder = arg);
        if (verb == "page") {
            COrvaneDoc::CVuzuVedSettings page;
            page.interval = num(0);
            return doc.SetVuzuVedSettings(page);
        }
        if (verb == "detect") return doc.SetNetworkDetectSettings(num(0), Zone(rest), num(0));
        if (verb == "detect-zone") return void(doc.networkDetect.targetZone = Zone(arg));
        // "check/range HL|Q3 FROM TO FIRSTPORT LASTPORT": the range dialog's check, then the objects added.
        if (verb == "check")
            return void(range = CheckAddressRange(tp.prompter, words.at(1), words.at(2), num(3), num(4)));
        if (verb == "range") {
            Step("check", arg);
            return doc.RangeAdd(words[0] == "Q3" ? CObjectKind::Q3Server : CObjectKind::HLServer, range,
                                Values("", 0, doc.groups[0], "pw"));
        }
        // A Half-Life server in state 3 with challenge 1234, selected; the properties dialog's result (the rcon
        // password, group Local TV, another host that never changes); its answers; the queue.
        if (verb == "hl-server") {
            const auto v = Values("127.0.0.2", 27015, doc.groups[0], "old");
            auto* hl = static_cast<CHLServer*>(doc.selectedObject = doc.AddObjectOfKind(CObjectKind::HLServer, v));
            return void(std::tie(hl->state, hl->challenge) = std::tuple(3, 1234u));
        }
        if (verb == "properties") return doc.ApplyObjectProperties(Values("h", 27015, doc.groups[1], arg));
        if (verb == "packet") return doc.selectedObject->OnPacket(Bytes(kOob + arg));
        if (verb == "send") return doc.selectedObject->SendOutOfBand(arg);
        if (verb == "stop-queue") return doc.output.Stop();
        if (verb == "clear-queue") return doc.output.Clear();
        ADD_FAILURE() << "unknown step " << verb;
    }
    std::string Value(const std::string& key) {
        auto n = [](auto v) { return std::to_string(v); };
        std::string s;
        if (key == "layout") {  // zones and groups in list order, the highest levels, the selection
            for (auto& z : doc.zones) s += z->name + ":" + n(z->level) + " ";
            for (auto& g : doc.groups) s += g->name + ":" + n(g->level) + "@" + g->zone->name + " ";
            return s + "max " + n(doc.zones.maxLevel) + "/" + n(doc.groups.maxLevel) + ", selected " +
                   (doc.selectedZone ? doc.selectedZone->name : "-");
        }
        if (key == "objects") {  // class, address, group, passwords and the rcon commands a probe sent
            for (auto& o : doc.objects) {
                s += "[" + std::string(o->ClassName()) + " " + o->AddressString() + " @" +
                     (o->group ? o->group->name : "-");
                s += (o->rconPassword.empty() ? "" : " rcon=" + o->rconPassword) +
                     (o->password.empty() ? "" : " pw=" + o->password);
                if (auto* p = dynamic_cast<TickProbe*>(o.get()); p && !p->rcon.empty()) s += " sent=" + Joined(p->rcon);
                s += "]";
            }
            return s;
        }
        if (key == "dialog") {  // what the operator was asked (with the text offered) and told in this row
            auto& p = tp.prompter;
            for (size_t i = 0; i < p.prompts.size(); ++i) s += "[" + p.prompts[i] + " <" + p.initials[i] + ">]";
            for (auto& q : p.questions) s += "[" + q + " <yes/no>]";
            return s + Joined(p.messages);
        }
        if (key == "selected") return n(doc.objects.Find(doc.selectedObject));
        if (key == "modified") return n(doc.IsModified());
        if (key == "hint") return n(view.hints.back());
        if (key == "queue") return n(doc.output.Count());
        if (key == "cycle") return n(doc.cycleCounter);
        if (key == "server") {
            auto* hl = static_cast<CHLServer*>(doc.selectedObject);
            return hl->host + " state " + n(hl->state) + " challenge " + n(hl->challenge);
        }
        if (key == "preferences")
            return n(doc.LimitKbps()) + " kbps (" + n(doc.output.GetLimit()) + "), sound " +
                   n(doc.sound.sound.enabled) + ", adminbot " + n(doc.adminBot.enabled);
        if (key == "modules") {  // the page's cycle, peak and templates; the detection's switch, zone, export
            auto& page = doc.vuzuVed;
            auto& detect = doc.networkDetect;
            return "page every " + n(page.interval) + " s at " + n(page.tickCounter) + " peak " +
                   n(page.peakHlSpectators) + " from " + page.local.templateFolder + ", detect " + n(detect.enabled) +
                   " " + (detect.targetZone ? detect.targetZone->name : "-") + " export " + n(detect.exportNewToWeb);
        }
        if (key == "range") return n(range.valid) + " " + range.prefix + " " + n(range.firstOctet);
        if (key == "last-address") return doc.lastAddress;
        ADD_FAILURE() << "unknown value " << key;
        return "";
    }
};

TEST_F(DocTest, NewLayoutAndTheTick) {
    // The new layout itself is the layout file test's golden bytes.
    doc.Tick();  // an empty layout still refreshes every second
    EXPECT_EQ(std::tuple(view.hints, doc.cycleCounter), std::tuple(std::vector<int>{kHintRefresh}, 1));
    // Objects are ticked in list order. The time-out counts only after one of the object's queries left
    // (one waiting in the queue is not its server's silence): ten whole seconds are fine, eleven are not.
    doc.output.Stop();  // the test runs the windows
    TickProbe* answered = Add(27015, doc.groups[0]);
    TickProbe* quiet = Add(27016, doc.groups[0]);  // sends nothing: no silence of its server to judge
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
}

TEST_F(DocTest, ProxiesLinkOnTheSixthTickToTheObjectNearerTheHead) {
    TickProbe* proxy = Add(27020, doc.groups[1]);
    TickProbe* first = Add(27015, doc.groups[0]);
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

TEST_P(DocTest, Script) {
    Run(GetParam());
}
INSTANTIATE_TEST_SUITE_P(Doc, DocTest, ::testing::Values("doc_zones.txt", "doc_objects.txt", "doc_range.txt"),
                         [](const auto& file) { return Split(file.param, '.')[0]; });

}  // namespace
}  // namespace orv

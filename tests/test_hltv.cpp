// The HLTV proxy monitor against a loopback HLTV proxy (real sockets, fake clock): the challenge and
// console answers and the proxy's console rules, links resolved by the document, drops, the relay-chain
// walk, recording names, automatic recording of a relayed AdminBot match end to end, the document's proxy
// commands. Most cases are scripts, tests/data/hltv_*.txt, run on the verbs and views of the fixture.
#include <sstream>

#include "monitor_fixture.h"
#include "monitors/halflife/hlserver.h"
#include "monitors/halflife/hltv.h"
#include "monitors/quake3/q3server.h"
#include "sim/hlpeer.h"
#include "sim/hltvpeer.h"

namespace orv {
namespace {

using namespace test;

// Records every rcon command, whatever happens to it on the wire.
class ProbeHLTV : public CHLTV {
public:
    using CHLTV::CHLTV;
    void SendRcon(std::string_view command) override {
        sent.emplace_back(command);
        CHLTV::SendRcon(command);
    }
    std::vector<std::string> sent;
};

constexpr Time k2105 = 1084395900;  // 2004-05-12 21:05:00 (local time is UTC here)
const std::string kInternalError = "CHLTV::CheckAutoRecord() : Internal error, report this bug to the author";

// What the console rules fill: spectators/slots, delay, bandwidth, [relayed address], [recording file].
std::string Fields(const CHLTV& tv) {
    std::ostringstream s;
    s << tv.spectators << "/" << tv.spectatorSlots << " " << tv.delay << " " << tv.outgoingBandwidth << " ["
      << tv.serverAddress << "] [" << tv.recordingFile << "]";
    return s.str();
}

using F = void (COrvaneDoc::*)();
const std::map<std::string, F> kCommands = {{"rcon password", &COrvaneDoc::HLTVRconPassword},
                                            {"spec password", &COrvaneDoc::HLTVSpecPassword},
                                            {"proxy password", &COrvaneDoc::HLTVProxyPassword},
                                            {"disconnect", &COrvaneDoc::HLTVDisconnect}};

struct HLTVTest : DocFixture {
    sim::CHLTVPeer peer;
    CHLTV* tv = nullptr;  // the proxy a script acts on
    std::map<std::string, CCommonObject*> named{{"-", nullptr}};
    const CHLServer* found = nullptr;  // where the last relay-chain walk ended
    CHLTV* AddProxy(const std::string& rcon = "secret") {
        return tv = Add<CHLTV>("127.0.0.1", peer.Port(), "Local TV", rcon);
    }
    std::string Name(const CCommonObject* o) {
        for (auto& [name, object] : named)
            if (object == o) return name;
        return "?";
    }
    CHLServer& Server() { return *static_cast<CHLServer*>(named.at("server")); }
    // Setters act before the shared verbs, the rest after them.
    Verbs verbs = ObjectVerbs(
        tv, peer,
        {{"",  // the row's boxes and questions
          [&](auto&) {
              tp.prompter.prompts.clear();
              tp.prompter.initials.clear();
              tp.prompter.questions.clear();
          }},
         {"links",
          [&](auto& v) {
              for (auto& link : Split(v, ' '))
                  static_cast<CHLTV*>(named.at(Split(link, '>')[0]))->linkedServer = named.at(Split(link, '>')[1]);
          }},
         {"password", [&](auto& v) { tv->password = v; }},
         {"peer rcon", [&](auto& v) { peer.SetRconPassword(v); }},
         {"type", [&](auto& v) { tp.prompter.inputAnswers = {v}; }},
         {"confirm", [&](auto& v) { tp.prompter.yesNoAnswers = {v == "yes"}; }},
         {"unmodified", [&](auto&) { doc.SetModifiedFlag(false); }},
         {"add server", [&](auto& v) { named[v] = Add<CHLServer>(v, 27015, "Servers"); }},
         {"nopassword", [&](auto& v) { named.at(v)->password.clear(); }},
         {"nogroup", [&](auto& v) { named.at(v)->group = nullptr; }},  // no group lies in no zone
         {"address", [&](auto& v) { tv->serverAddress = v; }},
         {"at", [&](auto& v) { tp.clock.now = k2105 + std::stoi(v); }},
         {"teams",
          [&](auto& v) {
              std::tie(Server().teamAName, Server().teamBName) = std::tuple(Split(v, ',')[0], Split(v, ',')[1]);
          }},
         {"match", [&](auto& v) { Server().matchRunning = std::stoi(v); }},
         {"file", [&](auto& v) { tv->recordingFile = v; }},
         {"map", [&](auto& v) { tv->map = v; }},
         {"names",
          [&](auto& v) {
              const auto names = Split(v, ',');
              std::copy(names.begin(), names.end(), tv->playerNames.begin());
              tv->playerNameCount = static_cast<std::int32_t>(names.size());
              tv->DetectTeamTags();
          }},
         {"forget", [&](auto&) { static_cast<ProbeHLTV*>(tv)->sent.clear(); }},
         {"auto", [&](auto& v) { tv->autoRecord = std::stoi(v); }},
         {"delay", [&](auto& v) { std::tie(tv->delay, tv->stopRecordingAt) = std::tuple(std::stof(v), 0); }},
         {"players", [&](auto& v) { tv->playerNameCount = std::stoi(v); }},
         {"spectators", [&](auto& v) { tv->spectators = std::stoi(v); }},
         {"slots", [&](auto& v) { tv->spectatorSlots = std::stoi(v); }},
         {"bandwidth", [&](auto& v) { tv->outgoingBandwidth = std::stof(v); }},
         {"link to", [&](auto& v) { tv->linkedServer = named.at(v); }},
         {"command", [&](auto& v) { (doc.*kCommands.at(v))(); }},
         {"drop", [&](auto& v) { tv->OnDrop(named.at(v)); }}},
        {{"print", [&](auto& v) { tv->OnPacket(Bytes(kOob + "l" + v + std::string(1, '\0'))); }},
         {"peer status", [&](auto&) { tv->OnPacket(Bytes(kOob + "l" + peer.StatusText() + std::string(1, '\0'))); }},
         {"resolve", [&](auto&) { tv->ResolveLinks(doc.objects); }},
         {"doc ticks", [&](auto& v) { Repeat(v, [&] { doc.Tick(); }); }},
         {"delete",
          [&](auto& v) {
              doc.selectedObject = named.at(v);
              doc.DeleteSelectedObject();
              named.erase(v);
          }},
         {"walk", [&](auto& v) { found = tv->GameServer(v == "report"); }},
         {"checks", [&](auto& v) { Repeat(v, [&] { tv->CheckAutoRecord(); }); }}});
    Views views = {
        {"fields", [&] { return Fields(*tv); }},
        {"object",
         [&] {
             return std::to_string(tv->state) + " " + std::to_string(tv->challenge) + " " +
                    std::to_string(tp.clock.now - tv->lastAnswerTime) + " " +
                    std::to_string(tp.clock.now - tv->viewStamp) + " [" + tv->password + "] [" + tv->serverName +
                    "] [" + tv->map + "] " + std::to_string(tv->icon) + " " + std::to_string(tv->matchRunning) + " [" +
                    tv->teamAName + "]";
         }},
        {"sent", [&] { return SentLine(peer, peer.Base().ExpectedChallenge()); }},
        {"prompt", [&] { return Joined(tp.prompter.prompts) + " " + Joined(tp.prompter.initials); }},
        {"question", [&] { return Joined(tp.prompter.questions); }},
        {"passwords",
         [&] {
             return "[" + tv->rconPassword + "] [" + tv->proxyPassword + "] [" + peer.SpectatorPassword() + "] [" +
                    peer.ProxyPassword() + "] " + std::to_string(doc.IsModified());
         }},
        {"linked",
         [&] {
             return Name(tv->linkedServer) + " " +
                    (tv->linkNotBefore ? std::to_string(tv->linkNotBefore - tp.clock.now) : "none") + " [" +
                    tv->serverAddress + "]";
         }},
        {"line",
         [&] {
             const auto l = tv->LinkLine();
             return std::to_string(static_cast<int>(l.style)) + " " + Name(l.target) + " " + std::to_string(l.fromX) +
                    " " + std::to_string(l.fromY) + " " + std::to_string(l.toX) + " " + std::to_string(l.toY);
         }},
        {"game", [&] { return Name(found) + " " + std::to_string(tp.prompter.messages.size()); }},
        {"rcon sent", [&] { return Joined(static_cast<ProbeHLTV*>(tv)->sent); }},
        {"recording",
         [&] {
             return std::to_string(tv->stopRecordingAt ? tv->stopRecordingAt - k2105 : -1) + " " +
                    std::to_string(tv->StopPending()) + " " + std::to_string(tv->RecordingMark());
         }},
        {"file name", [&] { return tv->RecordingFileName(); }},
        {"gauges", [&] {
             return std::to_string(tv->PlayerGaugeFill(48)) + " " + std::to_string(tv->SpectatorGaugeFill(48)) + " " +
                    std::to_string(tv->BandwidthGaugeFill(48)) + " " + std::to_string(tv->BandwidthGaugeFill(1000)) +
                    " " + std::to_string(tv->ShowsSpectatorGauge());
         }}};
};

TEST_F(HLTVTest, ChallengeAnswers) {
    peer.SetSilent(true);
    AddProxy();
    RunScript("hltv_challenge.txt", verbs, views);
}

TEST_F(HLTVTest, ConsoleRules) {
    AddProxy("");
    peer.SetRecording("match1");
    peer.SetConnectedTo("127.0.0.5:27015");
    peer.SetSpectators(10);
    peer.SetProxies(2);
    RunScript("hltv_console.txt", verbs, views);
}

TEST_F(HLTVTest, DelayIsAskedEveryCycleUntilItIsKnown) {
    peer.SetDelay(30.0f);
    AddProxy();
    int delays = 0;
    for (int i = 0; i < 18; ++i)
        for (auto& d : TickSettled(*tv, peer)) delays += d.ends_with("\" delay"s + '\0') ? 1 : 0;
    EXPECT_EQ(std::tuple(delays, tv->delay, Has(Console(*tv), "Client delay is 30.0 seconds.")),
              std::tuple(1, 30.0f, true));
}

TEST_F(HLTVTest, DocumentLinks) {
    AddProxy("");
    RunScript("hltv_links.txt", verbs, views);
}

TEST_F(HLTVTest, DocumentProxyCommands) {
    doc.selectedObject = AddProxy();
    RunScript("hltv_commands.txt", verbs, views);
}

TEST_F(HLTVTest, DropConnectsTheProxyToItsTarget) {
    AddProxy();  // in Local TV, zone LAN Local
    TickSettled(*tv, peer);
    auto* otherZone = Add<CHLTV>("127.0.0.6", 27020, "Internet TV");
    std::tie(otherZone->proxyPassword, otherZone->externalHost, otherZone->externalPort) =
        std::tuple("relay pw", "127.0.0.7", 27021);
    auto* sameZone = Add<CHLTV>("127.0.0.8", 27020, "Servers");
    std::tie(sameZone->externalHost, sameZone->externalPort) = std::tuple("127.0.0.8", 1);
    named.insert({{"otherZone", otherZone},
                  {"sameZone", sameZone},
                  {"server", Add<CHLServer>("127.0.0.9", 27015, "Servers")},
                  {"q3", Add<CQ3Server>("127.0.0.10", 27960, "Servers")}});
    named["server"]->password = "match";
    RunScript("hltv_drop.txt", verbs, views);
    EXPECT_EQ(peer.ServerPasswords(), (std::vector<std::string>{"relay pw", "match"}));
    EXPECT_TRUE(tp.prompter.messages.empty());  // no "Drop on" message
}

// Proxies a, b, c, a Half-Life server and a Quake 3 server off the document: the relay-chain walk and its
// internal-error message, the link line, recording names, the stop-delay rule, the gauges.
TEST_F(HLTVTest, RelayChainRecordingAndDrawing) {
    ProbeHLTV a(tp.platform), b(tp.platform), c(tp.platform);
    CHLServer server(tp.platform);
    CQ3Server q3(tp.platform);
    named.insert({{"a", &a}, {"b", &b}, {"c", &c}, {"server", &server}, {"q3", &q3}});
    std::tie(server.resolvedAddress, server.port, server.iconRect) =
        std::tuple("127.0.0.3", 27015, CRect{10, 500, 58, 548});
    std::tie(b.resolvedAddress, b.port, b.externalHost, b.externalPort) =
        std::tuple("127.0.0.4", 27020, "127.0.0.5", 27021);
    a.iconRect = {36, 0, 84, 48};
    tv = &a;
    for (auto file : {"hltv_chain.txt", "hltv_lines.txt", "hltv_stopdelay.txt", "hltv_gauges.txt"})
        RunScript(file, verbs, views);
    EXPECT_EQ(tp.prompter.messages, std::vector<std::string>(3, kInternalError));
    std::string text = "()-_={}[]!+@azAZ09 ,|./\\:*?\"<>;'#$%^&~`\t\xE9\x80";
    CHLTV::CleanFileName(text);
    EXPECT_EQ(text, "()-_={}[]!+@azAZ09");
}

// The proxy relays a Half-Life server whose AdminBot match starts and stops; both are monitored by the
// document, ticked by the fake clock.
TEST_F(HLTVTest, AutoRecordsTheRelayedMatchEndToEnd) {
    sim::CHLPeer game;
    game.SetRconPassword("secret");
    game.SetMatchReport({"Alpha", "Beta", 2, 0, 0, 0, 0});
    const std::string gameAddress = "127.0.0.1:" + std::to_string(game.Port());
    peer.SetConnectedTo(gameAddress);
    peer.SetDelay(30.0f);
    tp.clock.now = k2105 - 60;
    auto* server = Add<CHLServer>("127.0.0.1", game.Port(), "Servers", "secret");
    AddProxy()->autoRecord = 1;
    const std::uint32_t challenge = game.ExpectedChallenge();
    auto rcon = [&](const std::string& c) { return Framed("rcon " + std::to_string(challenge) + " \"secret\" " + c); };
    std::vector<std::vector<std::string>> sentAt(1);  // the proxy's datagrams of ticks 1..n
    auto run = [&](int ticks) {
        for (int i = 0; i < ticks; ++i) {
            peer.ClearReceived();
            tp.clock.Advance(1);
            doc.Tick();
            for (int k = 0; k < 2; ++k) {
                Settle(*server, game);
                Settle(*tv, peer);
            }
            sentAt.push_back(Sent(peer));
        }
    };
    run(12);
    EXPECT_EQ(std::tuple(server->matchRunning, tv->linkedServer, tv->serverAddress, tv->delay),
              std::tuple(1, static_cast<CCommonObject*>(server), gameAddress, 30.0f));
    // Tick 12 is phase 5: the match runs and the recording starts.
    const std::string name = "2004-05-12_21h04_de_dust2_Alpha_Beta";
    EXPECT_EQ(sentAt[12], std::vector<std::string>{rcon("record " + name)});
    run(12);  // its status reports the recording; "record" went out once
    EXPECT_EQ(tv->recordingFile, name + ".dem");
    // The match stops; the server learns it on its phase 3 (tick 28), the proxy notes it on its phase 5
    // (tick 30) and stops 40 seconds later: on tick 72, the first phase-5 tick later than tick 70.
    game.SetMatchReport({"Alpha", "Beta", 3, 7, 0, 5, 0});
    run(6);
    EXPECT_EQ(std::tuple(server->matchRunning, tv->stopRecordingAt), std::tuple(0, tp.clock.now + 40));
    run(42);
    for (int t = 1; t < static_cast<int>(sentAt.size()); ++t) {
        const bool stops = std::any_of(sentAt[t].begin(), sentAt[t].end(),
                                       [](auto& d) { return d.find("stoprecord") != std::string::npos; });
        EXPECT_EQ(stops, t == 72) << "tick " << t;
    }
    EXPECT_EQ(sentAt[72], (std::vector<std::string>{rcon("stoprecord"), rcon("stoprecording")}));
    EXPECT_EQ(std::tuple(tv->stopRecordingAt, peer.Recording()), std::tuple(0, ""));
    run(6);  // the status has no recording line
    EXPECT_EQ(tv->recordingFile, "");
    EXPECT_EQ(peer.Recordings(), std::vector<std::string>{name});
    EXPECT_EQ(tp.sound.played, (std::vector<std::string>{"MatchStarted.wav", "MatchStopped.wav"}));
    EXPECT_TRUE(tp.prompter.messages.empty());
}

TEST_F(HLTVTest, PropertiesAndLoadedObjectsAskForDetailsOnTheSameTick) {
    CObjectValues values;
    values.host = "127.0.0.1";
    values.port = static_cast<std::uint32_t>(peer.Port());
    values.group = Group("Local TV");
    doc.selectedObject = tv = dynamic_cast<CHLTV*>(doc.AddObjectOfKind(CObjectKind::HLTV, values));
    std::tie(values.proxyPassword, values.externalHost, values.externalPort, values.exportToWeb, values.autoRecord) =
        std::tuple("pp", "127.0.0.5", 27022, 0, 1);
    doc.ApplyObjectProperties(values);
    EXPECT_EQ(std::tuple(tv->proxyPassword, tv->ExternalAddressString(), tv->exportToWeb, tv->autoRecord),
              std::tuple("pp", "127.0.0.5:27022", 0, 1));
    // After a load, a Half-Life server and a proxy both start at phase 0: details on the same tick.
    sim::CHLPeer game;
    game.SetSilent(true);
    peer.SetSilent(true);
    Add<CHLServer>("127.0.0.1", game.Port(), "Servers");
    ASSERT_TRUE(doc.LoadFromBytes(Bytes(doc.SaveToBytes())));
    doc.Tick();
    Settle(*doc.objects[0], peer);
    Settle(*doc.objects[1], game);
    const std::vector<std::string> first{Framed("details"), Framed("TSource Engine Query")};
    EXPECT_EQ(std::tuple(Sent(game), Sent(peer)), std::tuple(first, first));
}
}  // namespace
}  // namespace orv

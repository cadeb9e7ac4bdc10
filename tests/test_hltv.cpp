// The HLTV proxy monitor against a loopback HLTV proxy (real sockets, fake clock): the challenge and
// console answers and the proxy's console rules, links resolved by the document, drops, the relay-chain
// walk, recording names, automatic recording of a relayed AdminBot match end to end, the document's proxy
// commands.
#include <cmath>
#include <limits>
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

// A console print answer as the proxy sends it.
std::string Print(const std::string& console) {
    return kOob + "l" + console + std::string(1, '\0');
}

// Records every rcon command, whatever happens to it on the wire.
class ProbeHLTV : public CHLTV {
public:
    using CHLTV::CHLTV;
    void SendRcon(const std::string& command) override {
        sent.push_back(command);
        CHLTV::SendRcon(command);
    }
    std::vector<std::string> sent;
};

constexpr Time k2105 = 1084395900;  // 2004-05-12 21:05:00 (local time is UTC here)

const std::string kInternalError = "CHLTV::CheckAutoRecord() : Internal error, report this bug to the author";

struct HLTVTest : DocFixture {
    sim::CHLTVPeer peer;
    CHLTV* AddProxy(const std::string& rcon = "secret") {
        return Add<CHLTV>("127.0.0.1", peer.Port(), "Local TV", rcon);
    }
    void Deliver(CCommonObject* o, const std::string& bytes) { o->OnPacket(Bytes(bytes)); }
    std::vector<std::string> TickProxy(CHLTV* tv) { return TickSettled(*tv, peer); }
    std::string Rcon(const std::string& command) {
        return Framed("rcon " + std::to_string(peer.Base().ExpectedChallenge()) + " \"secret\" " + command);
    }
};

TEST_F(HLTVTest, ChallengeAnswerAsksForStatusAndLeavesTheState) {
    peer.SetSilent(true);
    CHLTV* tv = AddProxy();
    tv->state = 2;
    tv->lastAnswerTime = tp.clock.now + 1;
    Deliver(tv, kOob + "challenge rcon 4242\n");
    // No number: the challenge stays; the status asked again is merged with the one still waiting.
    Deliver(tv, kOob + "challenge rcon \n");
    EXPECT_EQ(std::tuple(tv->challenge, tv->state, tv->lastAnswerTime), std::tuple(4242u, 2, tp.clock.now));
    Settle(*tv, peer);
    EXPECT_EQ(Sent(peer), std::vector<std::string>{Framed("rcon 4242 \"secret\" status")});
    // Phase 1 renews the challenge of an answering proxy with a password but no rcon yet.
    tv->pollPhase = 1;
    EXPECT_EQ(TickProxy(tv), std::vector<std::string>{Framed("challenge rcon")});
    tv->state = 3;
    tv->pollPhase = 1;
    EXPECT_EQ(TickProxy(tv), std::vector<std::string>{});
}

// What the console rules fill: spectators/slots, delay, bandwidth, [relayed address], [recording file].
std::string Fields(const CHLTV& tv) {
    std::ostringstream s;
    s << tv.spectators << "/" << tv.spectatorSlots << " " << tv.delay << " " << tv.outgoingBandwidth << " ["
      << tv.serverAddress << "] [" << tv.recordingFile << "]";
    return s.str();
}

TEST_F(HLTVTest, ConsoleAnswersRowByRow) {
    CHLTV* tv = AddProxy("");
    tv->state = 2;
    tv->password = "kept";
    peer.SetRecording("match1");
    peer.SetConnectedTo("127.0.0.5:27015");
    peer.SetSpectators(10);
    peer.SetProxies(2);
    Deliver(tv, Print(peer.StatusText()));  // the proxy's own status block
    EXPECT_EQ(Fields(*tv), "12/128 -1 15 [127.0.0.5:27015] [match1.dem]");
    for (auto& row : Rows("hltv_console.txt")) {
        Deliver(tv, Print(row["print"]));
        EXPECT_EQ(Fields(*tv), row["fields"]) << row["print"];
    }
    // Any print means rcon in use; the server's own rules do not apply to a proxy.
    Deliver(tv, Print("\"sv_password\" is \"other\"\nnxn_match_report = \"A;B;0;0;0;0;2;1;0;0;0\"\n"));
    EXPECT_EQ(std::tuple(tv->state, tv->password, tv->matchRunning, tv->teamAName), std::tuple(3, "kept", 0, "?"));
    // Details keep the proxy's icon; a ping answer refreshes the view stamp, not the answer time.
    Deliver(tv, kOob + "m127.0.0.1:27020\0Proxy\0de_nuke\0cstrike\0HLTV\0\x05\x10\x2F"s);
    tp.clock.Advance(3);
    Deliver(tv, kOob + "j");
    EXPECT_EQ(std::tuple(tv->icon, tv->serverName, tv->map, tv->viewStamp, tv->lastAnswerTime),
              std::tuple(153u, "Proxy", "de_nuke", tp.clock.now, tp.clock.now - 3));
}

TEST_F(HLTVTest, DelayIsAskedEveryCycleUntilItIsKnown) {
    peer.SetDelay(30.0f);
    CHLTV* tv = AddProxy();
    int delays = 0;
    for (int i = 0; i < 18; ++i)
        for (auto& d : TickProxy(tv)) delays += d.ends_with("\" delay"s + '\0') ? 1 : 0;
    EXPECT_EQ(std::tuple(delays, tv->delay, Has(Console(*tv), "Client delay is 30.0 seconds.")),
              std::tuple(1, 30.0f, true));
}

TEST_F(HLTVTest, DocumentLinksTheReportedServerWithinSixTicks) {
    CHLTV* tv = AddProxy("");
    Deliver(tv, Print("HLTV proxy connected to 127.0.0.3:27015, delay 30.0 s\n"));
    auto* server = Add<CHLServer>("127.0.0.3", 27015, "Servers");
    int ticks = 0;
    for (; !tv->linkedServer && ticks < 12; ++ticks) doc.Tick();
    EXPECT_EQ(tv->linkedServer, server);
    EXPECT_LE(ticks, 6);
    // A change of the reported address keeps the link, even to another monitored server; deleting the
    // linked server clears it.
    Add<CHLServer>("127.0.0.9", 27015, "Servers");
    Deliver(tv, Print("HLTV proxy connected to 127.0.0.9:27015, delay 30.0 s\n"));
    for (int i = 0; i < 6; ++i) doc.Tick();
    EXPECT_EQ(tv->linkedServer, server);
    doc.selectedObject = server;
    doc.DeleteSelectedObject();
    EXPECT_EQ(tv->linkedServer, nullptr);
}

TEST_F(HLTVTest, LinkLineStyles) {
    CHLTV tv(tp.platform), upstream(tp.platform);
    CHLServer server(tp.platform);
    server.resolvedAddress = "127.0.0.3";
    server.port = 27015;
    upstream.resolvedAddress = "127.0.0.4";
    upstream.port = 27020;
    upstream.externalHost = "127.0.0.5";
    upstream.externalPort = 27021;
    tv.iconRect = {36, 0, 84, 48};
    server.iconRect = {10, 500, 58, 548};
    using S = CHLTVLinkStyle;
    tv.state = 2;
    EXPECT_EQ(tv.LinkLine().style, S::None);  // no link
    tv.linkedServer = &server;
    tv.state = 1;
    EXPECT_EQ(tv.LinkLine().style, S::None);  // no answer
    tv.state = 2;
    const auto line = tv.LinkLine();
    EXPECT_EQ(std::tuple(line.style, line.target, line.fromX, line.fromY, line.toX, line.toY),
              std::tuple(S::DashDot, static_cast<CCommonObject*>(&server), 60, 24, 34, 524));
    const std::vector<std::tuple<CCommonObject*, std::string, S>> rows = {
        {&server, "127.0.0.3:27015", S::Solid},   {&server, "127.0.0.3:27016", S::DashDot},
        {&upstream, "127.0.0.4:27020", S::Solid}, {&upstream, "127.0.0.5:27021", S::Solid},  // its external address
        {&upstream, "127.0.0.6:27020", S::None},  {&upstream, "", S::DashDot}};
    for (auto& [target, address, style] : rows) {
        tv.linkedServer = target;
        tv.serverAddress = address;
        EXPECT_EQ(tv.LinkLine().style, style) << address;
    }
}

TEST_F(HLTVTest, DropConnectsTheProxyToItsTarget) {
    CHLTV* tv = AddProxy();  // in Local TV, zone LAN Local
    TickProxy(tv);
    auto* otherZone = Add<CHLTV>("127.0.0.6", 27020, "Internet TV");
    otherZone->proxyPassword = "relay pw";
    otherZone->externalHost = "127.0.0.7";
    otherZone->externalPort = 27021;
    auto* sameZone = Add<CHLTV>("127.0.0.8", 27020, "Servers");
    sameZone->externalHost = "127.0.0.8";
    sameZone->externalPort = 1;
    auto* server = Add<CHLServer>("127.0.0.9", 27015, "Servers");
    server->password = "match";
    auto* q3 = Add<CQ3Server>("127.0.0.10", 27960, "Servers");
    tv->linkedServer = nullptr;
    const std::map<std::string, CCommonObject*> targets = {
        {"nothing", nullptr}, {"otherZone", otherZone}, {"sameZone", sameZone}, {"server", server}, {"q3", q3}};
    RunScript("hltv_drop.txt", [&](Row& r) {
        if (r.count("nopassword")) server->password.clear();
        if (r.count("nogroup")) sameZone->group = nullptr;  // no group lies in no zone
        peer.ClearReceived();
        tv->serverAddress = "before";
        tv->OnDrop(targets.at(r["drop"]));
        Settle(*tv, peer);
    }, [&] {
        std::string linked = "?", sent;
        for (auto& [name, o] : targets) if (o == tv->linkedServer) linked = name;
        for (auto& d : Sent(peer)) sent += (d == Framed(Unframed(d)) ? "" : "unframed ") + Unframed(d) + "|";
        const std::string challenge = std::to_string(peer.Base().ExpectedChallenge());
        for (size_t at; (at = sent.find(challenge)) != std::string::npos;) sent.replace(at, challenge.size(), "C");
        return linked + " " + sent + " [" + tv->serverAddress + "]";
    });
    EXPECT_EQ(peer.ServerPasswords(), (std::vector<std::string>{"relay pw", "match"}));
    EXPECT_TRUE(tp.prompter.messages.empty());  // no "Drop on" message
}

TEST_F(HLTVTest, RelayChainWalkEndsOnCyclesAndReportsOtherKinds) {
    CHLTV a(tp.platform), b(tp.platform), c(tp.platform);
    CHLServer server(tp.platform);
    CQ3Server q3(tp.platform);
    EXPECT_EQ(a.GameServer(true), nullptr);  // no link
    a.linkedServer = &b;
    b.linkedServer = &c;
    c.linkedServer = &server;
    EXPECT_EQ(a.GameServer(true), &server);  // through two proxies
    c.linkedServer = nullptr;
    EXPECT_EQ(a.GameServer(true), nullptr);
    for (auto [from, to] : {std::pair{&b, &a}, {&c, &b}, {&a, &a}}) {  // A-B-A, A-B-C-B, A-A
        from->linkedServer = to;
        if (from == &c) b.linkedServer = &c;
        EXPECT_EQ(a.GameServer(true), nullptr);
    }
    EXPECT_TRUE(tp.prompter.messages.empty());
    // A chain ending at another kind: the internal-error message when asked for, and no game server.
    a.linkedServer = &b;
    b.linkedServer = &c;
    c.linkedServer = &q3;
    EXPECT_EQ(a.GameServer(false), nullptr);
    EXPECT_TRUE(tp.prompter.messages.empty());
    EXPECT_EQ(a.GameServer(true), nullptr);
    EXPECT_EQ(tp.prompter.messages, std::vector<std::string>{kInternalError});
    // The automatic recording step: a cycle sends and says nothing; another kind says it every sixth tick.
    ProbeHLTV p(tp.platform), q(tp.platform);
    p.autoRecord = 1;
    p.linkedServer = &q;
    q.linkedServer = &p;
    p.pollPhase = 5;
    p.Tick();
    ProbeHLTV odd(tp.platform);
    odd.linkedServer = &q3;
    for (int i = 0; i < 12; ++i) odd.Tick();  // auto record off
    EXPECT_EQ(tp.prompter.messages.size(), 1u);
    odd.autoRecord = 1;
    for (int i = 0; i < 12; ++i) odd.Tick();
    EXPECT_EQ(tp.prompter.messages, std::vector<std::string>(3, kInternalError));
    EXPECT_TRUE(p.sent.empty());
    EXPECT_TRUE(std::none_of(odd.sent.begin(), odd.sent.end(), [](auto& s) { return BeginsWith(s, "record"); }));
}

TEST_F(HLTVTest, RecordingFileNames) {
    std::string text = "()-_={}[]!+@azAZ09 ,|./\\:*?\"<>;'#$%^&~`\t\xE9\x80";
    CHLTV::CleanFileName(text);
    EXPECT_EQ(text, "()-_={}[]!+@azAZ09");
    tp.clock.now = k2105 + 42;
    CHLTV tv(tp.platform), relay(tp.platform);
    tv.map = "de_dust2";
    const std::vector<std::string> names = {"CD|y1",  "CD|y2",  "CD|y3",  "CD|y4",  "CD|y5",
                                            "[AB]x1", "[AB]x2", "[AB]x3", "[AB]x4", "[AB]x5"};
    std::copy(names.begin(), names.end(), tv.playerNames.begin());
    tv.playerNameCount = 10;
    tv.DetectTeamTags();
    EXPECT_EQ(tv.RecordingFileName(), "2004-05-12_21h05_de_dust2_CDy[AB]x");
    // The relayed match's team names, through a relaying proxy, while the match runs.
    CHLServer server(tp.platform);
    server.teamAName = "Alpha";
    server.teamBName = "Beta";
    tv.linkedServer = &relay;
    relay.linkedServer = &server;
    EXPECT_EQ(tv.RecordingFileName(), "2004-05-12_21h05_de_dust2_CDy[AB]x");  // no match running
    server.matchRunning = 1;
    server.teamAName = "A/B c";
    EXPECT_EQ(tv.RecordingFileName(), "2004-05-12_21h05_de_dust2_ABc_Beta");
}

TEST_F(HLTVTest, StopDelayRule) {
    tp.clock.now = k2105;
    ProbeHLTV tv(tp.platform);
    CHLServer server(tp.platform);
    std::tie(server.teamAName, server.teamBName, tv.linkedServer, tv.autoRecord, tv.state, tv.recordingFile) =
        std::tuple("Alpha", "Beta", &server, 1, 3, "x.dem");
    auto number = [](Row& r, const char* key) { return std::stoi(r[key]); };
    RunScript("hltv_stopdelay.txt", [&](Row& r) {
        if (r.count("delay")) std::tie(tv.delay, tv.stopRecordingAt) = std::tuple(std::stof(r["delay"]), 0);
        if (r.count("at")) tp.clock.now = k2105 + number(r, "at");
        if (r.count("match")) server.matchRunning = number(r, "match");
        if (r.count("file")) tv.recordingFile = r["file"];
        if (r.count("map")) tv.map = r["map"];
        if (r.count("auto")) tv.autoRecord = number(r, "auto");
        for (int i = r.count("checks") ? number(r, "checks") : 1; i > 0; --i) tv.CheckAutoRecord();
    }, [&] {
        return std::to_string(tv.stopRecordingAt ? tv.stopRecordingAt - k2105 : -1) + " " +
               std::to_string(tv.StopPending()) + " " + std::to_string(tv.RecordingMark()) + " " + Joined(tv.sent);
    });
}
TEST_F(HLTVTest, GaugeFills) {
    CHLTV tv(tp.platform);
    tv.playerNameCount = 20;
    EXPECT_EQ(std::tuple(tv.PlayerGaugeFill(48), tv.ShowsSpectatorGauge()), std::tuple(0, false));  // nothing relayed
    tv.serverAddress = "127.0.0.3:27015";
    tv.spectatorSlots = 128;
    RunScript("hltv_gauges.txt", [&](Row& r) {
        std::istringstream in(r["players spectators bandwidth"]);
        in >> tv.playerNameCount >> tv.spectators;
        std::string bandwidth;
        in >> bandwidth;
        tv.outgoingBandwidth = std::stof(bandwidth);
    }, [&] { return std::to_string(tv.PlayerGaugeFill(48)) + " " + std::to_string(tv.SpectatorGaugeFill(48)) + " " +
                    std::to_string(tv.BandwidthGaugeFill(48)); });
    tv.outgoingBandwidth = 15.0f;
    EXPECT_EQ(std::tuple(tv.BandwidthGaugeFill(1000), tv.ShowsSpectatorGauge()), std::tuple(370, true));
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
    CHLTV* tv = AddProxy();
    tv->autoRecord = 1;
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

TEST_F(HLTVTest, DocumentProxyCommands) {
    CHLTV* tv = AddProxy();
    TickProxy(tv);
    doc.selectedObject = tv;
    auto& pr = tp.prompter;
    auto command = [&](void (COrvaneDoc::*f)(), std::optional<std::string> answer, std::optional<bool> yes = {}) {
        pr.inputAnswers = {answer};
        if (yes) pr.yesNoAnswers = {*yes};
        peer.ClearReceived();
        (doc.*f)();
        Settle(*tv, peer);
        return Sent(peer);
    };
    // Rcon Password: prefilled; stored, the challenge forgotten and asked for anew.
    doc.SetModifiedFlag(false);
    peer.SetRconPassword("other");  // the proxy takes the new one
    const std::string status = "rcon " + std::to_string(peer.Base().ExpectedChallenge()) + " \"other\" status";
    EXPECT_EQ(command(&COrvaneDoc::HLTVRconPassword, "other"),
              (std::vector<std::string>{Framed("challenge rcon"), Framed(status)}));
    EXPECT_EQ(std::tuple(pr.prompts.back(), pr.initials.back(), tv->rconPassword, doc.IsModified()),
              std::tuple("Try another rcon password:", "secret", "other", true));
    tv->rconPassword = "secret";
    peer.SetRconPassword("secret");
    // Spec Password: an empty box, rcon with the quoted text. Proxy Password: stored, then the question.
    EXPECT_EQ(command(&COrvaneDoc::HLTVSpecPassword, "spec pw"),
              std::vector<std::string>{Rcon("spectatorpassword \"spec pw\"")});
    EXPECT_EQ(std::tuple(pr.prompts.back(), pr.initials.back(), peer.SpectatorPassword()),
              std::tuple("Change the remote spectator password (will use rcon)", "", "spec pw"));
    EXPECT_EQ(command(&COrvaneDoc::HLTVProxyPassword, "proxy pw", true),
              std::vector<std::string>{Rcon("proxypassword \"proxy pw\"")});
    EXPECT_TRUE(command(&COrvaneDoc::HLTVProxyPassword, "second", false).empty());
    EXPECT_EQ(std::tuple(pr.prompts.back(), pr.questions.back(), tv->proxyPassword, peer.ProxyPassword()),
              std::tuple("Enter proxy password",
                         "Local Proxy password changed. Do you want to change remote proxy password also by rcon ?",
                         "second", "proxy pw"));
    // Disconnect: rcon, and no link for ten seconds.
    tv->linkedServer = Add<CHLServer>("127.0.0.3", 27015, "Servers");
    EXPECT_EQ(command(&COrvaneDoc::HLTVDisconnect, std::nullopt), std::vector<std::string>{Rcon("disconnect")});
    EXPECT_EQ(std::tuple(tv->linkedServer, tv->linkNotBefore, tv->serverAddress),
              std::tuple(nullptr, tp.clock.now + 10, ""));
    tv->serverAddress = "127.0.0.3:27015";
    tp.clock.Advance(10);
    tv->ResolveLinks(doc.objects);  // the hold-off must lie in the past
    EXPECT_EQ(tv->linkedServer, nullptr);
    tp.clock.Advance(1);
    tv->ResolveLinks(doc.objects);
    EXPECT_EQ(tv->linkedServer, doc.objects[1]);
}
TEST_F(HLTVTest, PropertiesAndLoadedObjectsAskForDetailsOnTheSameTick) {
    CObjectValues values;
    values.host = "127.0.0.1";
    values.port = static_cast<std::uint32_t>(peer.Port());
    values.group = Group("Local TV");
    doc.selectedObject = doc.AddObjectOfKind(CObjectKind::HLTV, values);
    auto* tv = dynamic_cast<CHLTV*>(doc.selectedObject);
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

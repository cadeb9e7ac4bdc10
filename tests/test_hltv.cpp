// The HLTV proxy monitor against a loopback HLTV proxy (real sockets, fake clock): its six-phase cycle
// and wire bytes, the challenge and console answers and the proxy's console rules, links resolved by the
// document, drops, the relay-chain walk, recording names, automatic recording of a relayed AdminBot
// match end to end, the document's proxy commands and the layout-file record.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <limits>
#include <string>
#include <vector>

#include "base/archive.h"
#include "document/document.h"
#include "base/strutil.h"
#include "fakes.h"
#include "monitors/halflife/hlserver.h"
#include "monitors/halflife/hltv.h"
#include "monitors/quake3/q3server.h"
#include "sim/hlpeer.h"
#include "sim/hltvpeer.h"
#include "sim/udppeer.h"

namespace orv {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;

const std::string kOob("\xFF\xFF\xFF\xFF", 4);

// FF FF FF FF + text + the zero byte every outgoing datagram ends with.
std::string Framed(const std::string& text) {
    return kOob + text + std::string(1, '\0');
}
// A console print answer as the proxy sends it.
std::string Print(const std::string& console) {
    return kOob + "l" + console + std::string(1, '\0');
}

std::span<const std::uint8_t> Bytes(const std::string& s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

std::vector<std::string> Console(const CCommonObject& o) {
    return {o.consoleLog.text.begin(), o.consoleLog.text.begin() + o.consoleLog.count};
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

// A time in UTC (the fake clock's local time).
Time Utc(int year, int month, int day, int hour, int minute, int second = 0) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return static_cast<Time>(::timegm(&t));
}

struct HLTVFixture : ::testing::Test {
    test::TestPlatform tp;
    COrvaneDoc doc{tp.platform};
    sim::CHLTVPeer peer;
    int flushes = 0;

    HLTVFixture() {
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

    template <class T>
    T* Add(const std::string& host, int port, const std::string& group, const std::string& rcon = "") {
        auto o = std::make_unique<T>(tp.platform);
        o->host = host;
        o->port = static_cast<std::uint32_t>(port);
        o->rconPassword = rcon;
        auto* added = static_cast<T*>(doc.AddObject(std::move(o), Group(group)));
        EXPECT_NE(added, nullptr);
        return added;
    }
    // The proxy that talks to the peer.
    template <class T = CHLTV>
    T* AddProxy(const std::string& rcon = "secret") {
        return Add<T>("127.0.0.1", peer.Port(), "Local TV", rcon);
    }

    // Everything queued has reached the peers and every answer has been handled, the answers' own
    // queries included.
    void Settle(const std::vector<std::pair<CCommonObject*, const sim::CHLPeer*>>& pairs) {
        for (int round = 0; round < 8; ++round) {
            std::vector<std::string> markers;
            for (auto& [o, p] : pairs) {
                markers.push_back("flush " + std::to_string(++flushes));
                o->SendQuery(markers.back());
            }
            while (doc.output.Count() > 0) doc.output.RunWindow();
            for (size_t i = 0; i < pairs.size(); ++i) {
                const std::string m = Framed(markers[i]);
                ASSERT_TRUE(pairs[i].second->WaitFor(
                    [&](const std::vector<std::string>& r) { return std::find(r.begin(), r.end(), m) != r.end(); }, 3s))
                    << markers[i];
            }
            while (tp.loop.RunOnce(0ms) > 0) {
            }
            if (doc.output.Count() == 0) return;
        }
        FAIL() << "the exchange did not settle";
    }
    void Settle(CCommonObject* o) { Settle({{o, &peer.Base()}}); }

    // What reached a peer, markers left out.
    static std::vector<std::string> Sent(const sim::CHLPeer& p) {
        std::vector<std::string> out;
        for (auto& d : p.Received())
            if (!BeginsWith(d, kOob + "flush ")) out.push_back(d);
        return out;
    }
    std::vector<std::string> Sent() { return Sent(peer.Base()); }

    // One tick of the proxy alone, settled; what it sent.
    std::vector<std::string> TickProxy(CHLTV* tv) {
        peer.ClearReceived();
        tp.clock.Advance(1);
        tv->Tick();
        Settle(tv);
        return Sent();
    }

    // Brings the proxy to state 3 through the peer: details, challenge, status.
    void Authenticate(CHLTV* tv) {
        tv->pollPhase = 0;
        TickProxy(tv);
        ASSERT_EQ(tv->state, 3);
        ASSERT_EQ(tv->challenge, peer.Base().ExpectedChallenge());
    }

    std::string Rcon(const std::string& command) {
        return Framed("rcon " + std::to_string(peer.Base().ExpectedChallenge()) + " \"secret\" " + command);
    }

    void Deliver(CCommonObject* o, const std::string& bytes) { o->OnPacket(Bytes(bytes)); }
};

// ---- construction, the cycle, the wire -------------------------------------------------------------

TEST_F(HLTVFixture, ConstructionDefaults) {
    CHLTV tv(tp.platform);
    EXPECT_STREQ(tv.ClassName(), "CHLTV");
    EXPECT_EQ(tv.Schema(), 101);
    EXPECT_EQ(tv.icon, 153u);
    EXPECT_EQ(tv.pollPhase, 0);
    EXPECT_EQ(tv.state, 1);
    EXPECT_EQ(tv.linkNotBefore, 0);
    EXPECT_EQ(tv.autoRecord, 0);
    EXPECT_EQ(tv.delay, -1.0f);
    EXPECT_EQ(tv.exportToWeb, 1);
    EXPECT_EQ(tv.externalPort, 0);
    EXPECT_EQ(tv.externalHost, "");
    EXPECT_EQ(tv.proxyPassword, "");
    EXPECT_EQ(tv.linkedServer, nullptr);
    EXPECT_EQ(tv.serverAddress, "");
    EXPECT_EQ(tv.spectatorSlots, 0);
    EXPECT_EQ(tv.spectators, 0);
    EXPECT_EQ(tv.outgoingBandwidth, -1.0f);
    EXPECT_EQ(tv.recordingFile, "");
    EXPECT_EQ(tv.stopRecordingAt, 0);
    EXPECT_TRUE(tv.CanRecord());
    EXPECT_FALSE(tv.IsGameServer());
    EXPECT_FALSE(tv.RconAccepted());
    tv.state = 3;
    EXPECT_TRUE(tv.RconAccepted());
}

TEST_F(HLTVFixture, SixPhasesWithExactBytes) {
    peer.SetSilent(true);
    CHLTV* tv = AddProxy("secret");
    ASSERT_EQ(tv->pollPhase, 0);
    const std::vector<std::vector<std::string>> expected = {
        {Framed("details"), Framed("TSource Engine Query")},  // A2S_INFO until an answer tells the dialect
        {},
        {Framed("players")},
        {Framed("challenge rcon")},
        {Framed("rcon 0 \"secret\" delay")},  // the delay is not known yet
        {}};
    for (int cycle = 0; cycle < 2; ++cycle)
        for (size_t phase = 0; phase < 6; ++phase) EXPECT_EQ(TickProxy(tv), expected[phase]) << cycle << "/" << phase;
    EXPECT_EQ(tv->pollPhase, 0);
    EXPECT_EQ(tv->state, 1);

    // Without an rcon password the challenge is still asked for every cycle; "delay" is not sent.
    tv->rconPassword.clear();
    const std::vector<std::vector<std::string>> quiet = {
        {Framed("details"), Framed("TSource Engine Query")}, {}, {Framed("players")}, {Framed("challenge rcon")}, {}, {}};
    for (size_t phase = 0; phase < 6; ++phase) EXPECT_EQ(TickProxy(tv), quiet[phase]) << phase;

    // Phase 1 renews the challenge of an answering proxy that has a password but no rcon yet.
    tv->rconPassword = "secret";
    tv->state = 2;
    tv->MarkAnswered();
    tv->pollPhase = 1;
    EXPECT_EQ(TickProxy(tv), std::vector<std::string>{Framed("challenge rcon")});
    EXPECT_EQ(tv->state, 2);
    tv->state = 3;
    tv->pollPhase = 1;
    EXPECT_EQ(TickProxy(tv), std::vector<std::string>{});
}

TEST_F(HLTVFixture, ChallengeAnswerAsksForStatusAndLeavesTheState) {
    peer.SetSilent(true);
    CHLTV* tv = AddProxy("secret");
    for (std::int32_t state : {1, 2}) {
        SCOPED_TRACE(state);
        tv->state = state;
        tp.clock.Advance(1);
        Deliver(tv, kOob + "challenge rcon 4242\n"s);
        EXPECT_EQ(tv->challenge, 4242u);
        EXPECT_EQ(tv->state, state);
        EXPECT_EQ(tv->lastAnswerTime, tp.clock.now);
        peer.ClearReceived();
        Settle(tv);
        EXPECT_EQ(Sent(), std::vector<std::string>{Framed("rcon 4242 \"secret\" status")});
    }
    // An answer without a number keeps the challenge.
    Deliver(tv, kOob + "challenge rcon \n"s);
    EXPECT_EQ(tv->challenge, 4242u);
}

TEST_F(HLTVFixture, DetailsKeepTheProxyIconAndEveryDatagramStampsTheView) {
    CHLTV* tv = AddProxy("");
    const std::string details = kOob + ("m127.0.0.1:27020\0Proxy\0de_nuke\0cstrike\0HLTV\0\x05\x10\x2F"s);
    tp.clock.Advance(5);
    Deliver(tv, details);
    EXPECT_EQ(tv->icon, 153u);
    EXPECT_EQ(tv->serverName, "Proxy");
    EXPECT_EQ(tv->map, "de_nuke");
    EXPECT_EQ(tv->gameDirectory, "cstrike");
    EXPECT_EQ(tv->state, 2);
    EXPECT_EQ(tv->viewStamp, tp.clock.now);
    Deliver(tv, kOob + ("CProxy\0Other\0de_inferno\0cstrike\0HLTV\0"s));
    EXPECT_EQ(tv->icon, 153u);
    EXPECT_EQ(tv->map, "de_inferno");

    // A ping answer and a stray refresh the view stamp but not the answer time.
    const Time answered = tv->lastAnswerTime;
    tp.clock.Advance(3);
    Deliver(tv, kOob + "j"s);
    EXPECT_EQ(tv->viewStamp, tp.clock.now);
    tp.clock.Advance(3);
    Deliver(tv, kOob + "zzz"s);
    EXPECT_EQ(tv->viewStamp, tp.clock.now);
    EXPECT_EQ(tv->strayDatagrams, 1u);
    EXPECT_EQ(tv->lastAnswerTime, answered);
}

// ---- console answers -------------------------------------------------------------------------------

TEST_F(HLTVFixture, StatusBlockFromThePeerFillsTheProxyFields) {
    peer.SetSlots(128);
    peer.SetSpectators(10);
    peer.SetProxies(2);
    peer.SetBandwidth(3.5f, 15.0f);
    peer.SetConnectedTo("127.0.0.5:27015");
    peer.SetRecording("match1");
    CHLTV* tv = AddProxy("secret");
    Authenticate(tv);
    EXPECT_EQ(tv->spectatorSlots, 128);
    EXPECT_EQ(tv->spectators, 12);
    EXPECT_EQ(tv->outgoingBandwidth, 15.0f);
    EXPECT_EQ(tv->serverAddress, "127.0.0.5:27015");
    EXPECT_EQ(tv->recordingFile, "match1.dem");
    EXPECT_EQ(tv->serverName, "Orvane HLTV");
    const auto lines = Console(*tv);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "----- Status -----"), lines.end());
    // The green gauge is 12/128 full; bandwidth 15 fills log10 15 / log10 1500 (about 37 %) of the red one.
    EXPECT_EQ(tv->SpectatorGaugeFill(128), 12);
    EXPECT_EQ(tv->SpectatorGaugeFill(48), 4);
    EXPECT_EQ(tv->BandwidthGaugeFill(100), 37);

    // The proxy stops recording: the next status block has no recording line.
    peer.SetRecording("");
    tv->QueryStatus();
    Settle(tv);
    EXPECT_EQ(tv->recordingFile, "");
}

TEST_F(HLTVFixture, RecordingFileFollowsStatusBlocksOnly) {
    CHLTV* tv = AddProxy("");
    Deliver(tv, Print("----- Status -----\nRecording to final.dem (3 seconds)\n"));
    EXPECT_EQ(tv->recordingFile, "final.dem");
    // A delay line alone does not touch it.
    Deliver(tv, Print("Client delay is 12.5 seconds.\n"));
    EXPECT_EQ(tv->recordingFile, "final.dem");
    EXPECT_EQ(tv->delay, 12.5f);
    // A recording line without ".dem (" still means recording: ".dem".
    Deliver(tv, Print("----- Status -----\nRecording to final\n"));
    EXPECT_EQ(tv->recordingFile, ".dem");
    // The flags hold per datagram: a status block here, its recording line in the next one.
    Deliver(tv, Print("----- Status -----\n"));
    EXPECT_EQ(tv->recordingFile, "");
    Deliver(tv, Print("Recording to again.dem (1 seconds)\n"));
    EXPECT_EQ(tv->recordingFile, "again.dem");
    // An unterminated last line is dropped, so it does not count as a status block.
    Deliver(tv, Print("Client delay is 5\n----- Status -----"));
    EXPECT_EQ(tv->recordingFile, "again.dem");
    EXPECT_EQ(tv->delay, 5.0f);
}

TEST_F(HLTVFixture, ConsoleRulesTakeWhatTheyMatch) {
    CHLTV* tv = AddProxy("");
    struct Case {
        std::string line;
        std::string serverAddress;
    };
    const std::vector<Case> addresses = {
        {"HLTV proxy connected to 127.0.0.2:27015, delay 30.0 s", "127.0.0.2:27015"},
        {"HLTV proxy connected to 127.0.0.2:27015", ""},  // no comma: empty
        {"Connected to Game Server (127.0.0.3:27015)", "127.0.0.3:27015"},
        {"Connected to nothing", ""},
        {"Source Game Server 127.0.0.4:27016, Delay 30", "127.0.0.4:27016"},
        {"Source HLTV Proxy 127.0.0.5:27020, ready", "127.0.0.5:27020, ready"},
        {"Source HLTV Proxy", "Source HLTV Proxy"},  // without the blank: the whole line
    };
    for (const Case& c : addresses) {
        tv->serverAddress = "before";
        Deliver(tv, Print(c.line + "\n"));
        EXPECT_EQ(tv->serverAddress, c.serverAddress) << c.line;
    }
    for (const std::string line : {"HLTV proxy disconnected.", "Not connected."}) {
        tv->serverAddress = "before";
        Deliver(tv, Print(line + "\n"));
        EXPECT_EQ(tv->serverAddress, "") << line;
    }

    Deliver(tv, Print("Name Cup TV, Clients 7/64\n"));
    EXPECT_EQ(tv->spectators, 7);
    EXPECT_EQ(tv->spectatorSlots, 64);
    Deliver(tv, Print("Local Slots 128, Spectators 10, Proxies 2\n"));
    EXPECT_EQ(tv->spectatorSlots, 128);
    EXPECT_EQ(tv->spectators, 12);
    Deliver(tv, Print("Current spectator delay is 45.5 seconds\n"));
    EXPECT_EQ(tv->delay, 45.5f);
    Deliver(tv, Print("Local IP 127.0.0.1:27020, Network In 2.0, Out 7.5, Loss 0\n"));
    EXPECT_EQ(tv->outgoingBandwidth, 7.5f);
    // Both "Local IP " rules, in order: the second one's reading wins when it finds both numbers.
    Deliver(tv, Print("Local IP 127.0.0.1:27020, Network In 3.0 Out 9.0, Out 5.0\n"));
    EXPECT_EQ(tv->outgoingBandwidth, 9.0f);
    Deliver(tv, Print("Local IP 127.0.0.1:27020, Network In 3.0  Out  11.25\n"));
    EXPECT_EQ(tv->outgoingBandwidth, 11.25f);
}

TEST_F(HLTVFixture, ReadsThatFindNoNumberLeaveTheFields) {
    CHLTV* tv = AddProxy("");
    tv->spectators = 5;
    tv->spectatorSlots = 6;
    tv->delay = 7.0f;
    tv->outgoingBandwidth = 8.0f;
    Deliver(tv, Print("Name Cup TV, Clients many\n"
                      "Name Cup TV\n"
                      "Local Slots plenty\n"
                      "Client delay is unknown\n"
                      "Current spectator delay is\n"
                      "Local IP 127.0.0.1:27020, Out fast\n"
                      "Local IP 127.0.0.1, Network In x Out 3\n"));
    EXPECT_EQ(tv->spectators, 5);
    EXPECT_EQ(tv->spectatorSlots, 6);
    EXPECT_EQ(tv->delay, 7.0f);
    EXPECT_EQ(tv->outgoingBandwidth, 8.0f);
    // A read that finds its first number only takes that one.
    Deliver(tv, Print("Name Cup TV, Clients 9/\nLocal Slots 64, Spectators 3\n"));
    EXPECT_EQ(tv->spectators, 9);
    EXPECT_EQ(tv->spectatorSlots, 64);
    // The sum of spectators and proxies is held to 32 bits.
    Deliver(tv, Print("Local Slots 1, Spectators 2147483647, Proxies 5\n"));
    EXPECT_EQ(tv->spectators, std::numeric_limits<std::int32_t>::max());
    Deliver(tv, Print("Local Slots 1, Spectators -2147483648, Proxies -5\n"));
    EXPECT_EQ(tv->spectators, std::numeric_limits<std::int32_t>::min());
}

TEST_F(HLTVFixture, NonFiniteFiguresLeaveDelayAndBandwidth) {
    CHLTV* tv = AddProxy("");
    Deliver(tv, Print("Client delay is nan\n"
                      "Current spectator delay is inf seconds\n"
                      "Local IP 127.0.0.1:27020, Network In 1.0, Out 1e99\n"
                      "Local IP 127.0.0.1:27020, Network In 1.0 Out -infinity\n"));
    // The delay is still unknown, so it is asked for again; the bandwidth was never reported.
    EXPECT_EQ(tv->delay, -1.0f);
    EXPECT_EQ(tv->outgoingBandwidth, -1.0f);
    tv->delay = 30.0f;
    tv->outgoingBandwidth = 15.0f;
    Deliver(tv, Print("Client delay is -nan\nLocal IP 127.0.0.1:27020, Network In inf Out 3.0, Out NAN\n"));
    EXPECT_EQ(tv->delay, 30.0f);
    EXPECT_EQ(tv->outgoingBandwidth, 15.0f);
}

TEST_F(HLTVFixture, AnyPrintMeansRconInUseButARefusalClearsThePassword) {
    CHLTV* tv = AddProxy("");
    tv->state = 2;
    Deliver(tv, Print("Unknown command: x\n"));
    EXPECT_EQ(tv->state, 3);  // even without an rcon password

    // A refusal is no control: the server's protection, no further rcon until a new password.
    tv->rconPassword = "wrong";
    tv->state = 2;
    tp.clock.Advance(2);
    Deliver(tv, Print("Bad rcon_password.\n"));
    EXPECT_EQ(tv->rconPassword, "");
    EXPECT_EQ(tv->state, 2);
    EXPECT_EQ(tv->lastAnswerTime, tp.clock.now);
    EXPECT_EQ(Console(*tv), (std::vector<std::string>{"Unknown command: x", "Bad rcon_password.",
                                                      CHLServer::kBadRconLine1, CHLServer::kBadRconLine2}));
    EXPECT_EQ(tp.sound.played, std::vector<std::string>{"badrcon.wav"});
    // The server's rules do not apply to a proxy.
    tv->password = "kept";
    Deliver(tv, Print("\"sv_password\" is \"other\"\nnxn_match_report = \"A;B;0;0;0;0;2;1;0;0;0\"\n"));
    EXPECT_EQ(tv->password, "kept");
    EXPECT_EQ(tv->matchRunning, 0);
    EXPECT_EQ(tv->teamAName, "?");
}

TEST_F(HLTVFixture, DelayIsAskedEverySixSecondsUntilItIsKnown) {
    peer.SetSilent(true);
    peer.SetDelay(30.0f);
    CHLTV* tv = AddProxy("secret");
    auto delaysInACycle = [&] {
        int n = 0;
        for (int i = 0; i < 6; ++i)
            for (auto& d : TickProxy(tv)) n += d.ends_with("\" delay"s + '\0') ? 1 : 0;
        return n;
    };
    EXPECT_EQ(delaysInACycle(), 1);
    EXPECT_EQ(delaysInACycle(), 1);
    EXPECT_EQ(tv->delay, -1.0f);
    peer.SetSilent(false);
    EXPECT_EQ(delaysInACycle(), 1);  // answered this time
    EXPECT_EQ(tv->delay, 30.0f);
    EXPECT_EQ(Console(*tv).back(), "Client delay is 30.0 seconds.");
    EXPECT_EQ(delaysInACycle(), 0);
    EXPECT_EQ(delaysInACycle(), 0);
}

// ---- links -----------------------------------------------------------------------------------------

TEST_F(HLTVFixture, DocumentLinksTheReportedServerWithinSixTicks) {
    CHLTV* tv = AddProxy("");
    Deliver(tv, Print("HLTV proxy connected to 127.0.0.3:27015, delay 30.0 s\n"));
    for (int i = 0; i < 12; ++i) {
        tp.clock.Advance(1);
        doc.Tick();
    }
    EXPECT_EQ(tv->linkedServer, nullptr);  // nobody matches: retried every sixth tick
    auto* server = Add<CHLServer>("127.0.0.3", 27015, "Servers");
    ASSERT_EQ(server->AddressString(), "127.0.0.3:27015");
    int ticks = 0;
    while (!tv->linkedServer && ticks < 12) {
        tp.clock.Advance(1);
        doc.Tick();
        ++ticks;
    }
    EXPECT_EQ(tv->linkedServer, server);
    EXPECT_LE(ticks, 6);

    // A change of the reported address keeps the link; deleting the server clears it.
    Deliver(tv, Print("HLTV proxy connected to 127.0.0.9:27015, delay 30.0 s\n"));
    for (int i = 0; i < 6; ++i) doc.Tick();
    EXPECT_EQ(tv->linkedServer, server);
    doc.selectedObject = server;
    doc.DeleteSelectedObject();
    EXPECT_EQ(tv->linkedServer, nullptr);
}

TEST_F(HLTVFixture, ResolutionRulesAndTheObjectNearerTheHead) {
    // Objects without sockets: their address strings come from the resolved address.
    auto make = [&](auto* raw, const std::string& resolved, std::uint32_t port) {
        raw->resolvedAddress = resolved;
        raw->port = port;
        return std::unique_ptr<CCommonObject>(raw);
    };
    auto* relay = new CHLTV(tp.platform);
    relay->externalHost = "127.0.0.3";
    relay->externalPort = 27015;
    auto* server = new CHLServer(tp.platform);
    CObjectList headRelay;
    headRelay.Append(make(relay, "127.0.0.4", 27020));
    headRelay.Append(make(server, "127.0.0.3", 27015));
    EXPECT_TRUE(relay->Matches("127.0.0.4:27020"));
    EXPECT_TRUE(relay->Matches("127.0.0.3:27015"));
    EXPECT_FALSE(relay->Matches("127.0.0.3:27020"));
    EXPECT_EQ(relay->ExternalAddressString(), "127.0.0.3:27015");

    CHLTV tv(tp.platform);
    tv.serverAddress = "127.0.0.3:27015";
    tv.ResolveLinks(headRelay);
    EXPECT_EQ(tv.linkedServer, relay);

    CObjectList headServer;
    auto* server2 = new CHLServer(tp.platform);
    auto* relay2 = new CHLTV(tp.platform);
    relay2->externalHost = "127.0.0.3";
    relay2->externalPort = 27015;
    headServer.Append(make(server2, "127.0.0.3", 27015));
    headServer.Append(make(relay2, "127.0.0.4", 27020));
    tv.linkedServer = nullptr;
    tv.ResolveLinks(headServer);
    EXPECT_EQ(tv.linkedServer, server2);

    // An existing link stays; an empty address links nothing; link not before must lie in the past.
    tv.ResolveLinks(headRelay);
    EXPECT_EQ(tv.linkedServer, server2);
    tv.linkedServer = nullptr;
    tv.serverAddress.clear();
    tv.ResolveLinks(headRelay);
    EXPECT_EQ(tv.linkedServer, nullptr);
    tv.serverAddress = "127.0.0.3:27015";
    tv.linkNotBefore = tp.clock.now;
    tv.ResolveLinks(headRelay);
    EXPECT_EQ(tv.linkedServer, nullptr);
    tp.clock.Advance(1);
    tv.ResolveLinks(headRelay);
    EXPECT_EQ(tv.linkedServer, relay);
    // Deleting another object leaves the link.
    tv.OnObjectDeleted(server);
    EXPECT_EQ(tv.linkedServer, relay);
    tv.OnObjectDeleted(relay);
    EXPECT_EQ(tv.linkedServer, nullptr);
}

TEST_F(HLTVFixture, LinkLineStyles) {
    CHLTV tv(tp.platform);
    CHLServer server(tp.platform);
    server.resolvedAddress = "127.0.0.3";
    server.port = 27015;
    CHLTV upstream(tp.platform);
    upstream.resolvedAddress = "127.0.0.4";
    upstream.port = 27020;
    upstream.externalHost = "127.0.0.5";
    upstream.externalPort = 27021;
    tv.iconRect = {36, 0, 84, 48};
    server.iconRect = {10, 500, 58, 548};

    tv.state = 2;
    EXPECT_EQ(tv.LinkLine().style, CHLTVLinkStyle::None);  // no link
    tv.linkedServer = &server;
    tv.state = 1;
    EXPECT_EQ(tv.LinkLine().style, CHLTVLinkStyle::None);  // no answer
    tv.state = 2;
    auto line = tv.LinkLine();
    EXPECT_EQ(line.style, CHLTVLinkStyle::DashDot);  // dropped, not confirmed
    EXPECT_EQ(line.target, &server);
    EXPECT_EQ(std::make_pair(line.fromX, line.fromY), std::make_pair(60, 24));
    EXPECT_EQ(std::make_pair(line.toX, line.toY), std::make_pair(34, 524));
    tv.serverAddress = "127.0.0.3:27015";
    EXPECT_EQ(tv.LinkLine().style, CHLTVLinkStyle::Solid);
    tv.serverAddress = "127.0.0.3:27016";
    EXPECT_EQ(tv.LinkLine().style, CHLTVLinkStyle::DashDot);

    tv.linkedServer = &upstream;
    tv.serverAddress = "127.0.0.4:27020";
    EXPECT_EQ(tv.LinkLine().style, CHLTVLinkStyle::Solid);
    tv.serverAddress = "127.0.0.5:27021";
    EXPECT_EQ(tv.LinkLine().style, CHLTVLinkStyle::Solid);  // through its external address
    tv.serverAddress = "127.0.0.6:27020";
    EXPECT_EQ(tv.LinkLine().style, CHLTVLinkStyle::None);
    tv.serverAddress.clear();
    EXPECT_EQ(tv.LinkLine().style, CHLTVLinkStyle::DashDot);
}

// ---- drops -----------------------------------------------------------------------------------------

TEST_F(HLTVFixture, DropConnectsTheProxyToItsTarget) {
    CHLTV* tv = AddProxy("secret");  // in Local TV, zone LAN Local
    Authenticate(tv);
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

    auto dropAndTake = [&](CCommonObject* target) {
        peer.ClearReceived();
        tv->OnDrop(target);
        Settle(tv);
        return Sent();
    };
    tv->serverAddress = "before";
    EXPECT_EQ(dropAndTake(nullptr), std::vector<std::string>{});
    EXPECT_EQ(tv->linkedServer, nullptr);
    EXPECT_EQ(tv->serverAddress, "before");

    // Another zone: the target's proxy password, then its external address.
    EXPECT_EQ(dropAndTake(otherZone),
              (std::vector<std::string>{Rcon("serverpassword relay pw"), Rcon("connect 127.0.0.7:27021")}));
    EXPECT_EQ(tv->linkedServer, otherZone);
    EXPECT_EQ(tv->serverAddress, "");  // cleared, then whatever the proxy prints

    // The same zone, no proxy password: no serverpassword, its own address.
    tv->serverAddress = "before";
    EXPECT_EQ(dropAndTake(sameZone), std::vector<std::string>{Rcon("connect 127.0.0.8:27020")});
    EXPECT_EQ(tv->linkedServer, sameZone);
    EXPECT_EQ(tv->serverAddress, "");

    // A game server: its password and its address; the reported address stays.
    tv->serverAddress = "before";
    EXPECT_EQ(dropAndTake(server),
              (std::vector<std::string>{Rcon("serverpassword match"), Rcon("connect 127.0.0.9:27015")}));
    EXPECT_EQ(tv->linkedServer, server);
    EXPECT_EQ(tv->serverAddress, "before");
    server->password.clear();
    EXPECT_EQ(dropAndTake(server), std::vector<std::string>{Rcon("connect 127.0.0.9:27015")});

    // Any other kind: connect, and the reported address is cleared.
    tv->serverAddress = "before";
    EXPECT_EQ(dropAndTake(q3), std::vector<std::string>{Rcon("connect 127.0.0.10:27960")});
    EXPECT_EQ(tv->linkedServer, q3);
    EXPECT_EQ(tv->serverAddress, "");

    EXPECT_EQ(peer.Connects(), (std::vector<std::string>{"127.0.0.7:27021", "127.0.0.8:27020", "127.0.0.9:27015",
                                                         "127.0.0.9:27015", "127.0.0.10:27960"}));
    EXPECT_EQ(peer.ServerPasswords(), (std::vector<std::string>{"relay pw", "match"}));
    EXPECT_TRUE(tp.prompter.messages.empty());  // no "Drop on" message

    // A proxy without a group lies in no zone: the external address.
    sameZone->group = nullptr;
    EXPECT_EQ(dropAndTake(sameZone), std::vector<std::string>{Rcon("connect 127.0.0.8:1")});
}

// ---- relay chain, names, automatic recording ---------------------------------------------------------

TEST_F(HLTVFixture, RelayChainWalkEndsOnCyclesAndReportsOtherKinds) {
    CHLTV a(tp.platform), b(tp.platform), c(tp.platform);
    CHLServer server(tp.platform);
    CQ3Server q3(tp.platform);

    EXPECT_EQ(a.GameServer(true), nullptr);  // no link
    a.linkedServer = &server;
    EXPECT_EQ(a.GameServer(true), &server);
    a.linkedServer = &b;
    b.linkedServer = &c;
    c.linkedServer = &server;
    EXPECT_EQ(a.GameServer(true), &server);  // through two proxies
    c.linkedServer = nullptr;
    EXPECT_EQ(a.GameServer(true), nullptr);  // a missing link

    b.linkedServer = &a;  // A -> B -> A
    EXPECT_EQ(a.GameServer(true), nullptr);
    EXPECT_EQ(b.GameServer(true), nullptr);
    b.linkedServer = &c;  // A -> B -> C -> B
    c.linkedServer = &b;
    EXPECT_EQ(a.GameServer(true), nullptr);
    a.linkedServer = &a;  // A -> A
    EXPECT_EQ(a.GameServer(true), nullptr);
    EXPECT_TRUE(tp.prompter.messages.empty());

    // A chain ending at another kind: the internal-error message, and no game server.
    a.linkedServer = &b;
    c.linkedServer = &q3;
    EXPECT_EQ(a.GameServer(false), nullptr);
    EXPECT_TRUE(tp.prompter.messages.empty());
    EXPECT_EQ(a.GameServer(true), nullptr);
    EXPECT_EQ(tp.prompter.messages,
              std::vector<std::string>{"CHLTV::CheckAutoRecord() : Internal error, report this bug to the author"});

    // A cycle walked by the automatic recording step sends nothing and says nothing.
    ProbeHLTV p(tp.platform), q(tp.platform);
    p.autoRecord = 1;
    p.linkedServer = &q;
    q.linkedServer = &p;
    p.pollPhase = 5;
    p.Tick();
    EXPECT_TRUE(p.sent.empty());
    EXPECT_EQ(tp.prompter.messages.size(), 1u);
}

TEST_F(HLTVFixture, InternalErrorOnEverySixthTickWhileAutoRecordIsOn) {
    ProbeHLTV tv(tp.platform);
    CQ3Server q3(tp.platform);
    tv.linkedServer = &q3;
    for (int i = 0; i < 12; ++i) tv.Tick();  // auto record off
    EXPECT_TRUE(tp.prompter.messages.empty());
    tv.autoRecord = 1;
    for (int i = 0; i < 12; ++i) tv.Tick();
    EXPECT_EQ(tp.prompter.messages,
              std::vector<std::string>(2, "CHLTV::CheckAutoRecord() : Internal error, report this bug to the author"));
    EXPECT_TRUE(std::none_of(tv.sent.begin(), tv.sent.end(), [](auto& s) { return BeginsWith(s, "record"); }));
}

TEST_F(HLTVFixture, RecordingFileNames) {
    std::string text = "2004-05-12_21h05_de_dust2_CD|y, [AB]x";
    CHLTV::CleanFileName(text);
    EXPECT_EQ(text, "2004-05-12_21h05_de_dust2_CDy[AB]x");
    text = "()-_={}[]!+@azAZ09 ,|./\\:*?\"<>;'#$%^&~`\t\xE9\x80";
    CHLTV::CleanFileName(text);
    EXPECT_EQ(text, "()-_={}[]!+@azAZ09");

    tp.clock.now = Utc(2004, 5, 12, 21, 5, 42);
    CHLTV tv(tp.platform);
    tv.map = "de_dust2";
    const std::vector<std::string> names = {"CD|y1",  "CD|y2",  "CD|y3",  "CD|y4",  "CD|y5",
                                            "[AB]x1", "[AB]x2", "[AB]x3", "[AB]x4", "[AB]x5"};
    std::copy(names.begin(), names.end(), tv.playerNames.begin());
    tv.playerNameCount = 10;
    tv.DetectTeamTags();
    EXPECT_EQ(tv.TeamTags(), "CD|y, [AB]x");
    EXPECT_EQ(tv.RecordingFileName(), "2004-05-12_21h05_de_dust2_CDy[AB]x");

    // The relayed match's team names, through a relaying proxy, while the match runs.
    CHLTV relay(tp.platform);
    CHLServer server(tp.platform);
    server.teamAName = "Alpha";
    server.teamBName = "Beta";
    tv.linkedServer = &relay;
    relay.linkedServer = &server;
    EXPECT_EQ(tv.RecordingFileName(), "2004-05-12_21h05_de_dust2_CDy[AB]x");  // no match running
    server.matchRunning = 1;
    EXPECT_EQ(tv.RecordingFileName(), "2004-05-12_21h05_de_dust2_Alpha_Beta");
    server.teamAName = "A/B c";
    EXPECT_EQ(tv.RecordingFileName(), "2004-05-12_21h05_de_dust2_ABc_Beta");
}

TEST_F(HLTVFixture, StopDelayRule) {
    tp.clock.now = Utc(2004, 5, 12, 21, 5);
    ProbeHLTV tv(tp.platform);
    CHLServer server(tp.platform);
    server.teamAName = "Alpha";
    server.teamBName = "Beta";
    tv.linkedServer = &server;
    tv.autoRecord = 1;
    tv.recordingFile = "x.dem";
    struct Case {
        float delay;
        Time after;
    };
    const std::vector<Case> cases = {{-1.0f, 40},
                                     {30.0f, 40},
                                     {30.9f, 40},
                                     {0.0f, 10},
                                     {-0.5f, 40},
                                     {std::nanf(""), 40},
                                     {std::numeric_limits<float>::infinity(), 10 + 2147483647LL},
                                     {1e30f, 10 + 2147483647LL}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.delay);
        tv.delay = c.delay;
        tv.stopRecordingAt = 0;
        tv.CheckAutoRecord();
        EXPECT_EQ(tv.stopRecordingAt, tp.clock.now + c.after);
    }
    EXPECT_TRUE(tv.sent.empty());

    tv.delay = 30.0f;
    tv.stopRecordingAt = 0;
    tv.CheckAutoRecord();
    const Time due = tv.stopRecordingAt;
    EXPECT_TRUE(tv.StopPending());
    tv.state = 3;
    EXPECT_EQ(tv.RecordingMark(), 173u);
    tp.clock.now = due;
    tv.CheckAutoRecord();
    EXPECT_TRUE(tv.sent.empty());  // not later than the due time yet
    // A match that starts again while a stop is pending changes nothing...
    server.matchRunning = 1;
    tp.clock.now = due + 5;
    tv.CheckAutoRecord();
    EXPECT_TRUE(tv.sent.empty());
    EXPECT_EQ(tv.stopRecordingAt, due);
    // ...and its end stops the recording at once.
    server.matchRunning = 0;
    tv.CheckAutoRecord();
    EXPECT_EQ(tv.sent, (std::vector<std::string>{"stoprecord", "stoprecording"}));
    EXPECT_EQ(tv.stopRecordingAt, 0);
    EXPECT_EQ(tv.RecordingMark(), 151u);

    // Not recording and no match: nothing. A running match and no recording: "record" on every call
    // until the proxy reports its recording.
    tv.sent.clear();
    tv.recordingFile.clear();
    tv.CheckAutoRecord();
    EXPECT_TRUE(tv.sent.empty());
    EXPECT_EQ(tv.RecordingMark(), 155u);
    server.matchRunning = 1;
    tv.map = "de_nuke";
    tv.CheckAutoRecord();
    tv.CheckAutoRecord();
    ASSERT_EQ(tv.sent.size(), 2u);
    EXPECT_EQ(tv.sent[0], "record 2004-05-12_21h05_de_nuke_Alpha_Beta");
    EXPECT_EQ(tv.sent[1], tv.sent[0]);
    EXPECT_EQ(tv.stopRecordingAt, 0);
    tv.autoRecord = 0;
    tv.CheckAutoRecord();
    EXPECT_EQ(tv.sent.size(), 2u);
    EXPECT_EQ(tv.RecordingMark(), 0u);
    tv.state = 2;
    tv.recordingFile = "x.dem";
    EXPECT_EQ(tv.RecordingMark(), 0u);  // marks only in state 3
}

TEST_F(HLTVFixture, GaugeFills) {
    CHLTV tv(tp.platform);
    tv.playerNameCount = 20;
    EXPECT_EQ(tv.PlayerGaugeFill(48), 0);  // no relayed server reported
    tv.serverAddress = "127.0.0.3:27015";
    EXPECT_EQ(tv.PlayerGaugeFill(48), 48);
    tv.playerNameCount = 7;
    EXPECT_EQ(tv.PlayerGaugeFill(48), 24);

    EXPECT_FALSE(tv.ShowsSpectatorGauge());
    EXPECT_EQ(tv.SpectatorGaugeFill(48), 0);
    tv.spectatorSlots = 128;
    tv.spectators = 12;
    EXPECT_TRUE(tv.ShowsSpectatorGauge());
    EXPECT_EQ(tv.SpectatorGaugeFill(48), 4);
    tv.spectators = 2147483647;  // more than the slots: held to the gauge
    EXPECT_EQ(tv.SpectatorGaugeFill(48), 48);
    tv.spectators = -5;
    EXPECT_EQ(tv.SpectatorGaugeFill(48), 0);

    for (float b : {-1.0f, 0.0f, 0.5f, 1.0f, std::nanf("")}) {
        tv.outgoingBandwidth = b;
        EXPECT_EQ(tv.BandwidthGaugeFill(48), 0) << b;
    }
    tv.outgoingBandwidth = 15.0f;
    EXPECT_EQ(tv.BandwidthGaugeFill(1000), 370);
    tv.outgoingBandwidth = 1500.0f;
    EXPECT_EQ(tv.BandwidthGaugeFill(48), 48);
    tv.outgoingBandwidth = std::numeric_limits<float>::infinity();
    EXPECT_EQ(tv.BandwidthGaugeFill(48), 48);
}

// The proxy relays a Half-Life server whose AdminBot match starts and stops; both are monitored by
// the document, ticked by a fake clock.
TEST_F(HLTVFixture, AutoRecordsTheRelayedMatchEndToEnd) {
    sim::CHLPeer game;
    game.SetRconPassword("secret");
    game.SetMatchReport({"Alpha", "Beta", 2, 0, 0, 0, 0});
    const std::string gameAddress = "127.0.0.1:" + std::to_string(game.Port());
    peer.SetConnectedTo(gameAddress);
    peer.SetDelay(30.0f);
    tp.clock.now = Utc(2004, 5, 12, 21, 4, 0);

    auto* server = Add<CHLServer>("127.0.0.1", game.Port(), "Servers", "secret");
    CHLTV* tv = AddProxy("secret");
    tv->autoRecord = 1;
    ASSERT_EQ(server->pollPhase, 0);
    ASSERT_EQ(tv->pollPhase, 0);
    const std::uint32_t challenge = game.ExpectedChallenge();
    auto rcon = [&](const std::string& c) { return Framed("rcon " + std::to_string(challenge) + " \"secret\" " + c); };

    // Ticks 1..n; the proxy's datagrams of each tick.
    std::vector<std::vector<std::string>> sentAt(1);
    auto run = [&](int ticks) {
        for (int i = 0; i < ticks; ++i) {
            peer.ClearReceived();
            tp.clock.Advance(1);
            doc.Tick();
            Settle({{server, &game}, {tv, &peer.Base()}});
            sentAt.push_back(Sent());
        }
    };
    run(12);
    EXPECT_EQ(server->matchRunning, 1);
    EXPECT_EQ(tv->linkedServer, server);  // linked on tick 6, after the proxy's own phase 5
    EXPECT_EQ(tv->serverAddress, gameAddress);
    EXPECT_EQ(tv->delay, 30.0f);
    // Tick 12 is phase 5: the match runs and nothing is recorded yet.
    const std::string name = "2004-05-12_21h04_de_dust2_Alpha_Beta";
    EXPECT_EQ(sentAt[12], std::vector<std::string>{rcon("record " + name)});
    EXPECT_EQ(peer.Recording(), name);

    run(12);  // tick 16: its status reports the recording
    EXPECT_EQ(tv->recordingFile, name + ".dem");
    EXPECT_EQ(peer.Recordings(), std::vector<std::string>{name});  // "record" went out once

    // The match stops (between the sets); the server learns it on its phase 3 (tick 28), the proxy
    // notes it on its phase 5 (tick 30) and stops 40 seconds later: on tick 72, the first phase-5
    // tick later than tick 70.
    game.SetMatchReport({"Alpha", "Beta", 3, 7, 0, 5, 0});
    run(6);
    EXPECT_EQ(server->matchRunning, 0);
    EXPECT_EQ(tv->stopRecordingAt, tp.clock.now + 40);
    const Time due = tv->stopRecordingAt;
    run(42);
    EXPECT_EQ(tp.clock.now, due + 2);
    for (int t = 1; t < static_cast<int>(sentAt.size()); ++t) {
        const bool stops = std::any_of(sentAt[t].begin(), sentAt[t].end(),
                                       [](auto& d) { return d.find("stoprecord") != std::string::npos; });
        EXPECT_EQ(stops, t == 72) << "tick " << t;
    }
    EXPECT_EQ(sentAt[72], (std::vector<std::string>{rcon("stoprecord"), rcon("stoprecording")}));
    EXPECT_EQ(tv->stopRecordingAt, 0);
    EXPECT_EQ(peer.Recording(), "");
    run(6);  // tick 76: the status has no recording line
    EXPECT_EQ(tv->recordingFile, "");
    EXPECT_EQ(peer.Recordings(), std::vector<std::string>{name});
    EXPECT_EQ(tp.sound.played, (std::vector<std::string>{"MatchStarted.wav", "MatchStopped.wav"}));
    EXPECT_TRUE(tp.prompter.messages.empty());
}

// ---- the document ----------------------------------------------------------------------------------

TEST_F(HLTVFixture, DocumentProxyCommands) {
    CHLTV* tv = AddProxy("secret");
    Authenticate(tv);
    doc.selectedObject = tv;
    doc.SetModifiedFlag(false);

    // Rcon Password: prefilled; cancel changes nothing.
    tp.prompter.inputAnswers = {std::nullopt};
    doc.HLTVRconPassword();
    EXPECT_EQ(tp.prompter.prompts, std::vector<std::string>{"Try another rcon password:"});
    EXPECT_EQ(tp.prompter.initials, std::vector<std::string>{"secret"});
    EXPECT_EQ(tv->rconPassword, "secret");
    EXPECT_FALSE(doc.IsModified());
    // OK: stored, challenge forgotten, a new challenge asked for at once.
    tp.prompter.inputAnswers = {"other"};
    peer.ClearReceived();
    doc.HLTVRconPassword();
    EXPECT_EQ(tv->rconPassword, "other");
    EXPECT_EQ(tv->challenge, 0u);
    EXPECT_EQ(tv->state, 2);
    EXPECT_TRUE(doc.IsModified());
    EXPECT_EQ(doc.output.Count(), 1);
    while (doc.output.Count() > 0) doc.output.RunWindow();
    ASSERT_TRUE(peer.WaitForCount(1, 3s));
    EXPECT_EQ(peer.Received()[0], Framed("challenge rcon"));
    tv->rconPassword = "secret";  // the status the challenge asks for goes with the right one
    while (tp.loop.RunOnce(200ms) > 0 && tv->challenge == 0) {
    }
    EXPECT_EQ(tv->challenge, peer.Base().ExpectedChallenge());
    Settle(tv);

    // Spec Password: empty input box, rcon with the quoted text.
    tp.prompter.prompts.clear();
    tp.prompter.initials.clear();
    tp.prompter.inputAnswers = {"spec pw"};
    doc.SetModifiedFlag(false);
    peer.ClearReceived();
    doc.HLTVSpecPassword();
    Settle(tv);
    EXPECT_EQ(tp.prompter.prompts, std::vector<std::string>{"Change the remote spectator password (will use rcon)"});
    EXPECT_EQ(tp.prompter.initials, std::vector<std::string>{""});
    EXPECT_EQ(Sent(), std::vector<std::string>{Rcon("spectatorpassword \"spec pw\"")});
    EXPECT_EQ(peer.SpectatorPassword(), "spec pw");
    EXPECT_FALSE(doc.IsModified());

    // Proxy Password in state 3: stored, then the question; Yes sends it by rcon.
    ASSERT_EQ(tv->state, 3);
    const std::string question =
        "Local Proxy password changed. Do you want to change remote proxy password also by rcon ?";
    tp.prompter.prompts.clear();
    tp.prompter.inputAnswers = {"proxy pw"};
    tp.prompter.yesNoAnswers = {true};
    peer.ClearReceived();
    doc.HLTVProxyPassword();
    Settle(tv);
    EXPECT_EQ(tp.prompter.prompts, std::vector<std::string>{"Enter proxy password"});
    EXPECT_EQ(tp.prompter.questions, std::vector<std::string>{question});
    EXPECT_EQ(tv->proxyPassword, "proxy pw");
    EXPECT_EQ(Sent(), std::vector<std::string>{Rcon("proxypassword \"proxy pw\"")});
    EXPECT_EQ(peer.ProxyPassword(), "proxy pw");
    EXPECT_TRUE(doc.IsModified());
    // No: stored only.
    tp.prompter.inputAnswers = {"second"};
    tp.prompter.yesNoAnswers = {false};
    peer.ClearReceived();
    doc.HLTVProxyPassword();
    Settle(tv);
    EXPECT_EQ(tv->proxyPassword, "second");
    EXPECT_EQ(tp.prompter.questions.size(), 2u);
    EXPECT_TRUE(Sent().empty());
    // Below state 3: no question.
    tv->state = 2;
    tp.prompter.inputAnswers = {"third"};
    doc.HLTVProxyPassword();
    EXPECT_EQ(tv->proxyPassword, "third");
    EXPECT_EQ(tp.prompter.questions.size(), 2u);
    tv->state = 3;

    // Disconnect: rcon, no link for ten seconds.
    auto* server = Add<CHLServer>("127.0.0.3", 27015, "Servers");
    tv->linkedServer = server;
    tv->serverAddress = "127.0.0.3:27015";
    peer.ClearReceived();
    doc.HLTVDisconnect();
    Settle(tv);
    EXPECT_EQ(Sent(), std::vector<std::string>{Rcon("disconnect")});
    EXPECT_EQ(peer.ConnectedTo(), "");
    EXPECT_EQ(tv->linkedServer, nullptr);
    EXPECT_EQ(tv->linkNotBefore, tp.clock.now + 10);
    EXPECT_EQ(tv->serverAddress, "");  // the proxy printed "HLTV proxy disconnected."
    tv->serverAddress = "127.0.0.3:27015";
    tv->ResolveLinks(doc.objects);
    EXPECT_EQ(tv->linkedServer, nullptr);
    tp.clock.Advance(11);
    tv->ResolveLinks(doc.objects);
    EXPECT_EQ(tv->linkedServer, server);

    // Any other selection: no prompt, nothing sent.
    const size_t prompts = tp.prompter.prompts.size();
    for (CCommonObject* selected : {static_cast<CCommonObject*>(server), static_cast<CCommonObject*>(nullptr)}) {
        doc.selectedObject = selected;
        doc.HLTVRconPassword();
        doc.HLTVSpecPassword();
        doc.HLTVProxyPassword();
        doc.HLTVDisconnect();
    }
    EXPECT_EQ(tp.prompter.prompts.size(), prompts);
    EXPECT_EQ(doc.output.Count(), 0);
}

TEST_F(HLTVFixture, AddPropertiesAndLayoutFileThroughTheDocument) {
    CObjectValues values;
    values.host = "127.0.0.4";
    values.port = 27020;
    values.group = Group("Local TV");
    values.rconPassword = "rc";
    values.proxyPassword = "pp";
    values.externalHost = "127.0.0.5";
    values.externalPort = 27021;
    values.exportToWeb = 0;
    values.autoRecord = 1;
    auto* tv = dynamic_cast<CHLTV*>(doc.AddObjectOfKind(CObjectKind::HLTV, values));
    ASSERT_NE(tv, nullptr);
    EXPECT_EQ(tv->proxyPassword, "pp");
    EXPECT_EQ(tv->ExternalAddressString(), "127.0.0.5:27021");
    EXPECT_EQ(tv->exportToWeb, 0);
    EXPECT_EQ(tv->autoRecord, 1);
    EXPECT_EQ(tv->icon, 153u);

    doc.selectedObject = tv;
    values.proxyPassword = "changed";
    values.autoRecord = 0;
    values.exportToWeb = 1;
    values.externalPort = 27022;
    doc.ApplyObjectProperties(values);
    EXPECT_EQ(tv->proxyPassword, "changed");
    EXPECT_EQ(tv->autoRecord, 0);
    EXPECT_EQ(tv->exportToWeb, 1);
    EXPECT_EQ(tv->externalPort, 27022);

    tv->password = "pw";
    tv->delay = 30.0f;  // learnt, not saved
    const std::string bytes = doc.SaveToBytes();
    COrvaneDoc other(tp.platform);
    std::string reason;
    ASSERT_TRUE(other.LoadFromBytes(Bytes(bytes), &reason)) << reason;
    ASSERT_EQ(other.objects.size(), 1u);
    auto* loaded = dynamic_cast<CHLTV*>(other.objects[0]);
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(loaded->host, "127.0.0.4");
    EXPECT_EQ(loaded->port, 27020u);
    EXPECT_EQ(loaded->rconPassword, "rc");
    EXPECT_EQ(loaded->password, "pw");
    EXPECT_EQ(loaded->proxyPassword, "changed");
    EXPECT_EQ(loaded->externalHost, "127.0.0.5");
    EXPECT_EQ(loaded->externalPort, 27022);
    EXPECT_EQ(loaded->exportToWeb, 1);
    EXPECT_EQ(loaded->autoRecord, 0);
    EXPECT_EQ(loaded->delay, -1.0f);
    ASSERT_NE(loaded->group, nullptr);
    EXPECT_EQ(loaded->group->name, "Local TV");
}

TEST_F(HLTVFixture, LoadedHalfLifeObjectsAskForDetailsOnTheSameTick) {
    sim::CHLPeer game;
    game.SetSilent(true);
    peer.SetSilent(true);
    Add<CHLServer>("127.0.0.1", game.Port(), "Servers");
    AddProxy("");
    const std::string bytes = doc.SaveToBytes();
    std::string reason;
    ASSERT_TRUE(doc.LoadFromBytes(Bytes(bytes), &reason)) << reason;
    ASSERT_EQ(doc.objects.size(), 2u);
    for (size_t i = 0; i < doc.objects.size(); ++i) EXPECT_EQ(doc.objects[i]->pollPhase, 0);
    tp.clock.Advance(1);
    doc.Tick();
    Settle({{doc.objects[0], &game}, {doc.objects[1], &peer.Base()}});
    EXPECT_EQ(Sent(game), (std::vector<std::string>{Framed("details"), Framed("TSource Engine Query")}));
    EXPECT_EQ(Sent(), (std::vector<std::string>{Framed("details"), Framed("TSource Engine Query")}));
}

TEST_F(HLTVFixture, SerializeRecordAndSecondSocket) {
    CHLTV tv(tp.platform);
    tv.host = "127.0.0.1";
    tv.port = 70000;
    tv.rconPassword = "rc";
    tv.password = "pw";
    tv.exportToWeb = 0;
    tv.externalHost = "tv.lan";
    tv.externalPort = 27021;
    tv.proxyPassword = "relay";
    tv.autoRecord = 1;
    tv.spectators = 9;  // learnt, not saved
    CArchive out;
    tv.Serialize(out);
    const std::string& bytes = out.Data();
    EXPECT_TRUE(bytes.ends_with(std::string(4, '\0') + "\x06tv.lan" + std::string("\x8D\x69\x00\x00", 4) + "\x05relay" +
                                std::string("\x01\x00\x00\x00", 4)));
    CArchive base;
    CHLServer server(tp.platform);
    server.host = tv.host;
    server.port = tv.port;
    server.rconPassword = tv.rconPassword;
    server.password = tv.password;
    server.Serialize(base);
    EXPECT_TRUE(bytes.starts_with(base.Data()));
    EXPECT_EQ(bytes.size(), base.Data().size() + 4 + 7 + 4 + 6 + 4);

    CHLTV loaded(tp.platform);
    CArchive in(Bytes(bytes));
    loaded.Serialize(in);
    EXPECT_FALSE(in.Failed());
    EXPECT_TRUE(in.AtEnd());
    EXPECT_EQ(loaded.host, "127.0.0.1");
    EXPECT_EQ(loaded.port, 70000u);
    EXPECT_EQ(loaded.rconPassword, "rc");
    EXPECT_EQ(loaded.password, "pw");
    EXPECT_EQ(loaded.exportToWeb, 0);
    EXPECT_EQ(loaded.externalHost, "tv.lan");
    EXPECT_EQ(loaded.externalPort, 27021);
    EXPECT_EQ(loaded.proxyPassword, "relay");
    EXPECT_EQ(loaded.autoRecord, 1);
    EXPECT_EQ(loaded.spectators, 0);
    // The socket is created after the shared fields and again after the proxy's own.
    EXPECT_EQ(tp.prompter.messages,
              (std::vector<std::string>{"Connect failed for 127.0.0.1:70000", "Connect failed for 127.0.0.1:70000"}));

    // A truncated record fails and creates no second socket.
    CHLTV cut(tp.platform);
    const std::string truncated = bytes.substr(0, bytes.size() - 2);
    CArchive shortIn(Bytes(truncated));
    cut.Serialize(shortIn);
    EXPECT_TRUE(shortIn.Failed());
    EXPECT_EQ(tp.prompter.messages.size(), 3u);
}

// ---- the peer itself ----------------------------------------------------------------------------------

TEST(HLTVPeer, AnswersLikeAProxyAndFallsQuietAfterItsLifetime) {
    sim::CUdpPeer client;
    ASSERT_TRUE(client.Ok());
    {
        sim::CHLTVPeer live;
        ASSERT_TRUE(client.SendTo(live.Port(), sim::OutOfBand("details") + std::string(1, '\0')));
        const auto answer = client.Receive(3000ms);
        ASSERT_TRUE(answer);
        EXPECT_TRUE(BeginsWith(answer->bytes, kOob + "m" + live.Address() + std::string(1, '\0') + "Orvane HLTV"));
        // A refused rcon command gets the server's refusal and is not run.
        ASSERT_TRUE(client.SendTo(live.Port(), sim::OutOfBand("rcon 1 \"secret\" record x") + std::string(1, '\0')));
        const auto refusal = client.Receive(3000ms);
        ASSERT_TRUE(refusal);
        EXPECT_EQ(refusal->bytes, Print("Bad challenge.\n"));
        EXPECT_TRUE(live.Recordings().empty());
    }
    sim::CHLTVPeer expired(std::chrono::seconds(0));
    ASSERT_TRUE(client.SendTo(expired.Port(), sim::OutOfBand("details") + std::string(1, '\0')));
    ASSERT_TRUE(expired.WaitForCount(1, 3s));  // received and recorded...
    EXPECT_FALSE(client.Receive(100ms));       // ...but not answered
}

// ---- bounded parsing ---------------------------------------------------------------------------------

TEST_F(HLTVFixture, EveryPrefixOfRealAnswersStaysInsideTheDatagram) {
    peer.SetConnectedTo("127.0.0.3:27015");
    peer.SetRecording("demo");
    const std::vector<std::string> answers = {
        Print(peer.StatusText()),
        Print("Client delay is 30.0 seconds.\nLocal IP 1, Network In 1 Out 2\n"),
        Print("Local Slots 128, Spectators 10, Proxies 2\nName x, Clients 1/2\nConnected to (a)\n"),
        kOob + "challenge rcon 123\n"s,
        peer.Base().DetailsAnswer(),
        peer.Base().PlayersAnswer()};
    CHLTV tv(tp.platform);
    for (const auto& a : answers) {
        for (size_t n = 0; n <= a.size(); ++n) {
            std::vector<std::uint8_t> heap(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(n));
            tv.OnPacket(std::span<const std::uint8_t>(heap.data(), heap.size()));
        }
    }
    EXPECT_EQ(tv.icon, 153u);
    EXPECT_EQ(tv.serverAddress, "a");  // the last whole status-like answer said "Connected to (a)"
}

}  // namespace
}  // namespace orv

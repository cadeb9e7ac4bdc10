// What every kind of monitored object does the same way, one row per kind against its loopback peer:
// the poll cycle's exact bytes, the layout-file record (and the socket made again after a proxy's own
// fields), and the protection a refused rcon password gets.
#include "base/archive.h"
#include "monitor_fixture.h"
#include "monitors/halflife/hlserver.h"
#include "monitors/halflife/hltv.h"
#include "monitors/quake3/gtv.h"
#include "monitors/quake3/q3server.h"
#include "sim/gtvpeer.h"
#include "sim/hlpeer.h"
#include "sim/hltvpeer.h"
#include "sim/q3peer.h"

namespace orv {
namespace {

using namespace test;

struct AnyPeer {
    virtual ~AnyPeer() = default;
    virtual int Port() const = 0;
    virtual std::vector<std::string> Received() const = 0;
    virtual void ClearReceived() = 0;
    virtual void SetSilent(bool silent) = 0;
    virtual void SetRconPassword(const std::string& password) = 0;
};
template <class P>
struct PeerOf : AnyPeer {
    P p;
    int Port() const override { return p.Port(); }
    std::vector<std::string> Received() const override { return p.Received(); }
    void ClearReceived() override { p.ClearReceived(); }
    void SetSilent(bool silent) override { p.SetSilent(silent); }
    void SetRconPassword(const std::string& password) override { p.SetRconPassword(password); }
};

struct KindRow {
    const char* name;
    std::string className;  // the class record's name and schema in layout files
    std::uint16_t schema;
    std::function<std::unique_ptr<AnyPeer>()> peer;
    std::function<std::unique_ptr<CCommonObject>(CPlatform&)> make;
    // One entry per tick from phase 0, silent peer, rcon password "secret": the texts sent, '|' between.
    std::vector<std::string> cycle;
    std::string ownRecord;  // the record after the shared fields, for the values SetOwn gives
    int sockets, socketsWhenCut;
    std::string peerRcon;  // the peer's own rcon password; the object's is "wrong"
    std::vector<std::string> refusal, sounds;
};

template <class P, class T>
KindRow Row(KindRow r) {
    r.peer = [] { return std::make_unique<PeerOf<P>>(); };
    r.make = [](CPlatform& p) { return std::make_unique<T>(p); };
    return r;
}

void SetOwn(CCommonObject& o) {
    if (auto* tv = dynamic_cast<CHLTV*>(&o)) {
        tv->exportToWeb = 0;
        tv->externalHost = "tv.lan";
        tv->externalPort = 27021;
        tv->proxyPassword = "relay";
        tv->autoRecord = 1;
        tv->spectators = 9;  // learnt, not saved
    }
    if (auto* g = dynamic_cast<CGTV*>(&o)) {
        g->exportToWeb = 1;
        g->externalHost = "tv.lan";
        g->externalPort = 27021;
        g->autoRecord = 0;
        g->roomCount = 2;  // learnt, not saved; asked for in phase 1
        g->rooms[0].hubNumber = 3;
        g->rooms[1].hubNumber = 5;
    }
}

const std::string kTvTail = "\x06tv.lan" + std::string("\x8D\x69\0\0", 4);

// clang-format off
const KindRow kRows[] = {
    Row<sim::CHLPeer, CHLServer>({"HalfLife", "CHLServer", 10, {}, {},
        {"details|TSource Engine Query", "", "players",
         "rcon 0 \"secret\" nxn_match_report|rcon 0 \"secret\" status|rcon 0 \"secret\" sv_password", "", ""},
        "", 1, 0, "right", {"Bad rcon_password.", CHLServer::kBadRconLine1, CHLServer::kBadRconLine2},
        {"badrcon.wav"}}),
    Row<sim::CHLTVPeer, CHLTV>({"HLTV", "CHLTV", 101, {}, {},
        {"details|TSource Engine Query", "", "players", "challenge rcon", "rcon 0 \"secret\" delay", ""},
        std::string(4, '\0') + kTvTail + "\x05relay" + std::string("\x01\0\0\0", 4), 2, 1, "right",
        {"Bad rcon_password.", CHLServer::kBadRconLine1, CHLServer::kBadRconLine2}, {"badrcon.wav"}}),
    Row<sim::CQ3Peer, CQ3Server>({"Quake3", "CQ3Server", 10, {}, {},
        {"getstatus", "", "", "rcon \"secret\" score_time", "getinfo", ""}, "", 1, 0, "",
        {"No rconpassword set on the server.", CQ3Server::kNoRconLine1, CQ3Server::kNoRconLine2}, {}}),
    Row<sim::CGTVPeer, CGTV>({"GTV", "CGTV", 11, {}, {},
        {"getManagerInfo", "gethubinfo 3|gethubinfo 5", "rcon \"secret\" gtv_password", "", ""},
        std::string("\x01\0\0\0", 4) + kTvTail + std::string(4, '\0'), 2, 1, "other",
        {"Bad rconpassword.", CGTV::kBadRconLine1, CGTV::kBadRconLine2}, {"badrcon.wav"}}),
};
// clang-format on

struct Kinds : DocFixture, ::testing::WithParamInterface<KindRow> {
    std::unique_ptr<AnyPeer> peer = GetParam().peer();
    CCommonObject* AddObject(const std::string& rcon) {
        auto o = GetParam().make(tp.platform);
        o->host = "127.0.0.1";
        o->port = static_cast<std::uint32_t>(peer->Port());
        o->rconPassword = rcon;
        SetOwn(*o);
        CCommonObject* added = doc.AddObject(std::move(o), doc.groups[0]);
        added->pollPhase = 0;
        return added;
    }
    std::vector<std::string> TickOnce(CCommonObject* o) { return TickSettled(*o, *peer); }
};

TEST_P(Kinds, PollCycleSendsExactBytes) {
    peer->SetSilent(true);
    CCommonObject* o = AddObject("secret");
    const auto& cycle = GetParam().cycle;
    for (size_t t = 0; t < 12; ++t) {
        std::vector<std::string> expected;
        if (!cycle[t % cycle.size()].empty())
            for (auto& piece : Split(cycle[t % cycle.size()], '|')) expected.push_back(Framed(piece));
        EXPECT_EQ(TickOnce(o), expected) << "tick " << t;
    }
    EXPECT_EQ(o->state, 1);
}

TEST_P(Kinds, LayoutRecordAndItsSockets) {
    auto o = GetParam().make(tp.platform);
    o->host = "127.0.0.1";
    o->port = 70000;
    o->rconPassword = "rc";
    o->password = "pw";
    SetOwn(*o);
    CArchive out;
    o->Serialize(out);
    // The shared fields: host, port 70000, group 0, rcon password, password.
    const std::string shared = "\x09" "127.0.0.1" + std::string("\x70\x11\x01\0\0\0\0\0", 8) + "\x02rc\x02pw";
    EXPECT_EQ(out.Data(), shared + GetParam().ownRecord);
    EXPECT_EQ(std::tuple(o->ClassName(), o->Schema()), std::tuple(GetParam().className, GetParam().schema));

    tp.prompter.messages.clear();
    auto loaded = GetParam().make(tp.platform);
    CArchive in(Bytes(out.Data()));
    loaded->Serialize(in);
    EXPECT_FALSE(in.Failed());
    EXPECT_TRUE(in.AtEnd());
    CArchive again;
    loaded->Serialize(again);
    EXPECT_EQ(again.Data(), out.Data());
    // The socket is made after the shared fields, and again after a proxy's own.
    EXPECT_EQ(tp.prompter.messages,
              std::vector<std::string>(static_cast<size_t>(GetParam().sockets), "Connect failed for 127.0.0.1:70000"));
    // A cut record fails and makes no second socket.
    tp.prompter.messages.clear();
    auto cut = GetParam().make(tp.platform);
    const std::string shortened = out.Data().substr(0, out.Data().size() - 2);
    CArchive shortIn(Bytes(shortened));
    cut->Serialize(shortIn);
    EXPECT_TRUE(shortIn.Failed());
    EXPECT_EQ(tp.prompter.messages.size(), static_cast<size_t>(GetParam().socketsWhenCut));
}

TEST_P(Kinds, RefusedRconPassword) {
    peer->SetRconPassword(GetParam().peerRcon);
    CCommonObject* o = AddObject("wrong");
    for (int t = 0; t < 18; ++t) TickOnce(o);
    const auto console = Console(*o);
    const auto& lines = GetParam().refusal;
    EXPECT_NE(std::search(console.begin(), console.end(), lines.begin(), lines.end()), console.end())
        << ::testing::PrintToString(console);
    EXPECT_EQ(tp.sound.played, GetParam().sounds);
    EXPECT_EQ(std::tuple(o->state, o->rconPassword), std::tuple(2, ""));  // a refusal is never rcon control
    // Protected: not one rcon datagram from then on.
    int rcon = 0;
    for (int t = 0; t < 12; ++t)
        for (auto& d : TickOnce(o)) rcon += BeginsWith(Unframed(d), "rcon") ? 1 : 0;
    EXPECT_EQ(rcon, 0);
}

INSTANTIATE_TEST_SUITE_P(All, Kinds, ::testing::ValuesIn(kRows),
                         [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace orv

// What every kind of monitored object does the same way, one typed run per kind against its loopback peer,
// with its expectations in tests/data/kind_rows.txt: the poll cycle's exact bytes, the layout-file record
// (and the socket made again after a proxy's own fields), and the protection a refused rcon password gets.
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

// A kind: its peer, its class, and its block in tests/data/kind_rows.txt.
template <class P, class T, size_t N>
struct Kind {
    using Peer = P;
    using Object = T;
    static constexpr size_t kRow = N;
};
using AllKinds = ::testing::Types<Kind<sim::CHLPeer, CHLServer, 0>, Kind<sim::CHLTVPeer, CHLTV, 1>,
                                  Kind<sim::CQ3Peer, CQ3Server, 2>, Kind<sim::CGTVPeer, CGTV, 3>>;
struct KindName {
    template <class K>
    static std::string GetName(int i) {
        return std::array{"HalfLife", "HLTV", "Quake3", "GTV"}[static_cast<size_t>(i)];
    }
};

// The values of a kind's own fields that its row expects (learnt values, which are never saved, too).
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

template <class K>
struct Kinds : DocFixture {
    typename K::Peer peer;
    Row row = Rows("kind_rows.txt").at(K::kRow);  // its class is checked against the record's
    std::unique_ptr<CCommonObject> Make(const std::string& host, std::uint32_t port, const std::string& rcon) {
        auto o = std::make_unique<typename K::Object>(tp.platform);
        o->host = host;
        o->port = port;
        o->rconPassword = rcon;
        SetOwn(*o);
        return o;
    }
    CCommonObject* AddObject(const std::string& rcon) {
        CCommonObject* added = doc.AddObject(Make("127.0.0.1", peer.Port(), rcon), doc.groups[0]);
        added->pollPhase = 0;
        return added;
    }
};
TYPED_TEST_SUITE(Kinds, AllKinds, KindName);

TYPED_TEST(Kinds, PollCycleSendsExactBytes) {
    this->peer.SetSilent(true);
    CCommonObject* o = this->AddObject("secret");
    std::vector<std::string> cycle;
    for (auto& [key, texts] : this->row)
        if (BeginsWith(key, "tick ")) cycle.push_back(texts);
    for (size_t t = 0; t < 12; ++t) {
        std::vector<std::string> expected;
        if (!cycle[t % cycle.size()].empty())
            for (auto& piece : Split(cycle[t % cycle.size()], '|')) expected.push_back(Framed(piece));
        EXPECT_EQ(this->TickSettled(*o, this->peer), expected) << "tick " << t;
    }
    EXPECT_EQ(o->state, 1);
}

TYPED_TEST(Kinds, LayoutRecord) {
    auto o = this->Make("127.0.0.1", 70000, "rc");
    o->password = "pw";
    CArchive out;
    o->Serialize(out);
    EXPECT_EQ(out.Data(), this->row["record"]);
    EXPECT_EQ(o->ClassName() + (" " + std::to_string(o->Schema())), this->row["class"] + " " + this->row["schema"]);

    auto& messages = this->tp.prompter.messages;
    messages.clear();
    auto loaded = std::make_unique<typename TypeParam::Object>(this->tp.platform);
    CArchive in(Bytes(out.Data()));
    loaded->Serialize(in);
    CArchive again;
    loaded->Serialize(again);
    EXPECT_EQ(std::tuple(in.Failed(), in.AtEnd(), again.Data()), std::tuple(false, true, out.Data()));
    // Loading a record makes no socket: the document makes it once the whole file has been read.
    EXPECT_EQ(std::tuple(loaded->Socket(), messages.size()), std::tuple(nullptr, 0u));
}

TYPED_TEST(Kinds, RefusedRconPassword) {
    this->peer.SetRconPassword(this->row["peer rcon"]);
    CCommonObject* o = this->AddObject("wrong");
    for (int t = 0; t < 18; ++t) this->TickSettled(*o, this->peer);
    const auto console = Console(*o);
    const auto lines = Split(this->row["refusal"], '|');
    EXPECT_NE(std::search(console.begin(), console.end(), lines.begin(), lines.end()), console.end())
        << ::testing::PrintToString(console);
    EXPECT_EQ(Joined(this->tp.sound.played), this->row["sounds"].empty() ? "" : "[" + this->row["sounds"] + "]");
    EXPECT_EQ(std::tuple(o->state, o->rconPassword), std::tuple(2, ""));  // a refusal is never rcon control
    // Protected: not one rcon datagram from then on.
    int rcon = 0;
    for (int t = 0; t < 12; ++t)
        for (auto& d : this->TickSettled(*o, this->peer)) rcon += BeginsWith(Unframed(d), "rcon") ? 1 : 0;
    EXPECT_EQ(rcon, 0);
}

}  // namespace
}  // namespace orv

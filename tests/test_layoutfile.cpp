// Layout files: the byte format, round trips of every kind and setting, and refusals that leave the
// open layout untouched.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "base/archive.h"
#include "document/document.h"
#include "fakes.h"
#include "monitors/halflife/hlserver.h"
#include "monitors/halflife/hltv.h"
#include "monitors/quake3/gtv.h"

namespace orv {
namespace {

std::string Hex(const std::string& bytes) {
    std::string out;
    char buf[4];
    for (unsigned char c : bytes) {
        std::snprintf(buf, sizeof buf, "%02X ", c);
        out += buf;
    }
    if (!out.empty()) out.pop_back();
    return out;
}

std::span<const std::uint8_t> Span(const std::string& s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

// No zones, no groups, and one object of the class with only the shared fields (host 127.0.0.1).
void WriteOneObject(CArchive& ar, const std::string& cls, std::uint16_t schema, std::uint32_t port,
                    std::uint32_t groupId) {
    CZoneObList zones;
    CGroupObList groups;
    zones.Serialize(ar);
    groups.Serialize(ar);
    ar.WriteCount(1);
    ar.WriteClassTag(cls, schema);
    std::string host = "127.0.0.1", empty;
    ar.String(host);
    ar.UInt32(port);
    ar.UInt32(groupId);
    ar.String(empty);
    ar.String(empty);
}

struct FileFixture : ::testing::Test {
    test::TestPlatform tp;
    COrvaneDoc doc{tp.platform};
    std::string dir;
    FileFixture() {
        char tmpl[] = "/tmp/orvane-layout-XXXXXX";
        dir = ::mkdtemp(tmpl);
        doc.New();
    }
    ~FileFixture() override { std::system(("rm -rf " + dir).c_str()); }

    // A layout with every kind and every setting away from its default.
    void BuildFullLayout() {
        CObjectValues v;
        v.host = "127.0.0.1";
        v.port = 27015;
        v.group = doc.groups[0];
        v.rconPassword = "secret";
        doc.AddObjectOfKind(CObjectKind::HLServer, v);
        v.port = 27960;
        v.rconPassword = "q3pw";
        doc.AddObjectOfKind(CObjectKind::Q3Server, v);
        v.port = 27020;
        v.group = doc.groups[1];
        v.rconPassword = "tvpw";
        v.proxyPassword = "relay me";
        v.externalHost = "203.0.113.9";
        v.externalPort = 27021;
        v.exportToWeb = 0;
        v.autoRecord = 1;
        doc.AddObjectOfKind(CObjectKind::HLTV, v);
        v.port = 27970;
        v.group = doc.groups[2];
        v.externalHost = "203.0.113.4";
        v.externalPort = 27971;
        v.exportToWeb = 1;
        v.autoRecord = 0;
        doc.AddObjectOfKind(CObjectKind::GTV, v);
        doc.objects[0]->password = "join me";
        CZone* stage = doc.AddZone("Stage", 4);
        doc.AddGroup("Casters", stage, 3);
        doc.vuzuVed.enabled = 1;
        doc.vuzuVed.login = "web";
        doc.vuzuVed.password = "ftp-pw";
        doc.vuzuVed.interval = 45;
        doc.vuzuVed.remoteFilename = "/www/status.html";
        doc.vuzuVed.server = "127.0.0.1";
        doc.vuzuVed.peakHlBandwidth = 1234.5;
        doc.vuzuVed.peakHlSpectators = 77;
        doc.vuzuVed.peakGtvBandwidth = 0.0;
        doc.vuzuVed.peakGtvSpectators = 12;
        doc.adminBot.enabled = 1;
        doc.networkDetect.enabled = 1;
        doc.networkDetect.targetZone = stage;
        doc.output.SetLimit(20480);
        doc.sound.sound.enabled = 0;
    }
};

TEST_F(FileFixture, NewLayoutStartsWithTheZoneRecords) {
    const std::string bytes = doc.SaveToBytes();
    const std::string expected = std::string("\x02\x00", 2) + std::string("\xFF\xFF\x01\x00\x05\x00", 6) + "CZone" +
                                 std::string("\xFF\xFF\xBE\x00", 4) + std::string("\x01\x00\x00\x00", 4) + "\x09" +
                                 "LAN Local" + std::string("\x00\x00\x00\x00", 4) + "\x01\x80";
    EXPECT_EQ(Hex(bytes.substr(0, expected.size())), Hex(expected));
    // The first group: its class record, id 2 (the groups continue after the two zones), zone id 0.
    const auto at = bytes.find("CGroup");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(Hex(bytes.substr(at - 6, 6)), "FF FF 01 00 06 00");
    const std::string servers = std::string("\x07") + "Servers";
    const auto name = bytes.find(servers, at);
    ASSERT_NE(name, std::string::npos);
    EXPECT_EQ(Hex(bytes.substr(name + servers.size(), 8)), "02 00 00 00 00 00 00 00");
    // The tail: no objects, the status page block, AdminBot, network detection, limit, sound.
    EXPECT_EQ(Hex(bytes.substr(bytes.size() - 20)), "00 00 00 00 00 00 00 00 00 00 00 00 00 28 00 00 01 00 00 00");
}

TEST(Archive, StringLengthForms) {
    auto stored = [](const std::string& s) {
        CArchive ar;
        std::string copy = s;
        ar.String(copy);
        return ar.Data();
    };
    EXPECT_EQ(Hex(stored("abc")), "03 61 62 63");
    EXPECT_EQ(Hex(stored(std::string(254, 'x')).substr(0, 1)), "FE");
    EXPECT_EQ(Hex(stored(std::string(255, 'x')).substr(0, 3)), "FF FF 00");
    EXPECT_EQ(Hex(stored(std::string(300, 'x')).substr(0, 3)), "FF 2C 01");
    EXPECT_EQ(Hex(stored(std::string(65533, 'x')).substr(0, 3)), "FF FD FF");
    EXPECT_EQ(Hex(stored(std::string(65534, 'x')).substr(0, 7)), "FF FF FF FE FF 00 00");
    EXPECT_EQ(Hex(stored(std::string(70000, 'x')).substr(0, 7)), "FF FF FF 70 11 01 00");

    auto loaded = [](const std::string& bytes, bool* ok) {
        CArchive ar(Span(bytes));
        std::string s;
        ar.String(s);
        *ok = !ar.Failed();
        return s;
    };
    bool ok = false;
    for (size_t n : {0u, 1u, 254u, 255u, 300u, 65533u, 65534u, 70000u}) {
        const std::string s(n, 'y');
        EXPECT_EQ(loaded(stored(s), &ok), s) << n;
        EXPECT_TRUE(ok) << n;
    }
    // The eight-byte form, and a UTF-16 string announced by FF FE FF.
    EXPECT_EQ(loaded(std::string("\xFF\xFF\xFF\xFF\xFF\xFF\xFF\x03\0\0\0\0\0\0\0abc", 18), &ok), "abc");
    EXPECT_TRUE(ok);
    EXPECT_EQ(loaded(std::string("\xFF\xFE\xFF\x03h\0\xE9\0\x3A\x26", 10), &ok), "h\xE9?");
    EXPECT_TRUE(ok);
    // A length beyond the end fails instead of reading or allocating it.
    loaded(std::string("\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\x7F", 15), &ok);
    EXPECT_FALSE(ok);
    loaded("\x05" "ab", &ok);
    EXPECT_FALSE(ok);
}

TEST(Archive, ClassTagsShareOneNumberingWithObjects) {
    CArchive ar;
    ar.WriteClassTag("CZone", 1);   // index 1, object 2
    ar.WriteClassTag("CZone", 1);   // object 3
    ar.WriteClassTag("CGroup", 1);  // index 4, object 5
    ar.WriteClassTag("CGroup", 1);
    ar.WriteCount(3);
    ar.WriteCount(70000);
    EXPECT_EQ(Hex(ar.Data()), "FF FF 01 00 05 00 43 5A 6F 6E 65 01 80 FF FF 01 00 06 00 43 47 72 6F 75 70 04 80 03 00 "
                              "FF FF 70 11 01 00");
}

TEST_F(FileFixture, EveryKindAndSettingRoundTripsByteForByte) {
    BuildFullLayout();
    const std::string first = doc.SaveToBytes();

    test::TestPlatform tp2;
    COrvaneDoc other(tp2.platform);
    other.New();
    other.networkDetect.exportNewToWeb = 1;  // not saved: loading keeps it
    ASSERT_TRUE(other.LoadFromBytes(Span(first)));
    EXPECT_EQ(other.SaveToBytes(), first);
    EXPECT_FALSE(other.IsModified());

    ASSERT_EQ(other.zones.size(), 3u);
    EXPECT_EQ(other.zones[2]->name, "Stage");
    EXPECT_EQ(other.zones[2]->level, 4);
    EXPECT_EQ(other.zones.maxLevel, 4);
    ASSERT_EQ(other.groups.size(), 4u);
    EXPECT_EQ(other.groups[3]->zone, other.zones[2]);
    EXPECT_EQ(other.groups[2]->zone, other.zones[1]);
    ASSERT_EQ(other.objects.size(), 4u);
    EXPECT_STREQ(other.objects[0]->ClassName(), "CHLServer");
    EXPECT_STREQ(other.objects[1]->ClassName(), "CQ3Server");
    EXPECT_STREQ(other.objects[2]->ClassName(), "CHLTV");
    EXPECT_STREQ(other.objects[3]->ClassName(), "CGTV");
    EXPECT_EQ(other.objects[0]->group, other.groups[0]);
    EXPECT_EQ(other.objects[2]->group, other.groups[1]);
    EXPECT_EQ(other.objects[3]->group, other.groups[2]);
    EXPECT_EQ(other.objects[0]->rconPassword, "secret");
    EXPECT_EQ(other.objects[0]->password, "join me");
    EXPECT_EQ(other.objects[0]->AddressString(), "127.0.0.1:27015");  // socket created and connected
    for (auto& o : other.objects) {
        EXPECT_EQ(o->output, &other.output);
        EXPECT_EQ(o->sound, &other.sound);
    }
    auto* tv = dynamic_cast<CHLTV*>(other.objects[2]);
    ASSERT_NE(tv, nullptr);
    EXPECT_EQ(tv->rconPassword, "tvpw");
    EXPECT_EQ(tv->proxyPassword, "relay me");
    EXPECT_EQ(tv->externalHost, "203.0.113.9");
    EXPECT_EQ(tv->externalPort, 27021);
    EXPECT_EQ(tv->exportToWeb, 0);
    EXPECT_EQ(tv->autoRecord, 1);
    auto* gtv = dynamic_cast<CGTV*>(other.objects[3]);
    ASSERT_NE(gtv, nullptr);
    EXPECT_EQ(gtv->ExternalAddressString(), "203.0.113.4:27971");
    EXPECT_EQ(gtv->exportToWeb, 1u);
    EXPECT_EQ(gtv->autoRecord, 0u);
    EXPECT_EQ(other.vuzuVed.enabled, 1);
    EXPECT_EQ(other.vuzuVed.login, "web");
    EXPECT_EQ(other.vuzuVed.password, "ftp-pw");
    EXPECT_EQ(other.vuzuVed.interval, 45);
    EXPECT_EQ(other.vuzuVed.remoteFilename, "/www/status.html");
    EXPECT_EQ(other.vuzuVed.server, "127.0.0.1");
    EXPECT_DOUBLE_EQ(other.vuzuVed.peakHlBandwidth, 1234.5);
    EXPECT_EQ(other.vuzuVed.peakHlSpectators, 77);
    EXPECT_EQ(other.vuzuVed.peakGtvSpectators, 12);
    EXPECT_EQ(other.adminBot.enabled, 1);
    EXPECT_EQ(other.networkDetect.enabled, 1);
    EXPECT_EQ(other.networkDetect.targetZone, other.zones[2]);
    EXPECT_EQ(other.networkDetect.exportNewToWeb, 1);
    EXPECT_EQ(other.output.GetLimit(), 20480);
    EXPECT_EQ(other.sound.sound.enabled, 0);
    EXPECT_TRUE(tp2.prompter.messages.empty());
}

TEST_F(FileFixture, AFailedLoadLeavesTheOpenLayoutUntouched) {
    BuildFullLayout();
    const std::string good = doc.SaveToBytes();

    test::TestPlatform tp2;
    COrvaneDoc target(tp2.platform);
    target.New();
    target.AddZone("Mine", 3);
    const std::string before = target.SaveToBytes();
    // Every truncation of a valid file is refused.
    for (size_t n = 0; n < good.size(); ++n) {
        std::string reason;
        ASSERT_FALSE(target.LoadFromBytes(Span(good.substr(0, n)), &reason)) << n;
        EXPECT_FALSE(reason.empty());
    }
    EXPECT_EQ(target.SaveToBytes(), before);

    // A CGTV record of the wrong schema, an unknown class, a zone where an object belongs.
    std::string wrongSchema = good;
    const auto gtvAt = wrongSchema.find("CGTV");
    ASSERT_NE(gtvAt, std::string::npos);
    wrongSchema[gtvAt - 4] = 10;  // schema 11 -> 10
    EXPECT_FALSE(target.LoadFromBytes(Span(wrongSchema)));
    std::string unknown = good;
    unknown.replace(gtvAt, 4, "CGTX");
    EXPECT_FALSE(target.LoadFromBytes(Span(unknown)));
    EXPECT_EQ(target.SaveToBytes(), before);

    // Through Open: the message, and the layout as it was.
    const std::string path = dir + "/bad.orv";
    std::ofstream(path, std::ios::binary) << wrongSchema;
    target.selectedZone = target.zones[0];
    EXPECT_FALSE(target.Open(path));
    EXPECT_EQ(tp2.prompter.messages.back(), "Unexpected file format.");
    EXPECT_EQ(target.SaveToBytes(), before);
    EXPECT_EQ(target.selectedZone, target.zones[0]);
    EXPECT_FALSE(target.Open(dir + "/missing.orv"));
    EXPECT_NE(tp2.prompter.messages.back().find("missing.orv"), std::string::npos);
}

TEST_F(FileFixture, AnHltvRecordOfSchema100IsRefused) {
    // The shared fields of a proxy written with the base class's schema.
    CArchive ar;
    WriteOneObject(ar, "CHLTV", 100, 27020, 0);
    const std::string before = doc.SaveToBytes();
    std::string reason;
    EXPECT_FALSE(doc.LoadFromBytes(Span(ar.Data()), &reason));
    EXPECT_NE(reason.find("CHLTV"), std::string::npos);
    EXPECT_EQ(doc.SaveToBytes(), before);
}

TEST_F(FileFixture, OpenClearsTheSelectionAndReportsOrphans) {
    BuildFullLayout();
    const std::string path = dir + "/full.orv";
    ASSERT_TRUE(doc.Save(path));
    EXPECT_FALSE(doc.IsModified());
    doc.selectedObject = doc.objects[0];
    doc.selectedZone = doc.groups[0];
    ASSERT_TRUE(doc.Open(path));
    EXPECT_EQ(doc.selectedObject, nullptr);
    EXPECT_EQ(doc.selectedZone, nullptr);
    EXPECT_EQ(doc.objects.size(), 4u);

    // An object whose group id matches no group stays, without a group, and is reported.
    CArchive ar;
    WriteOneObject(ar, "CHLServer", 10, 27015, 9);
    doc.vuzuVed.Serialize(ar);
    doc.adminBot.Serialize(ar);
    doc.networkDetect.Serialize(ar);
    doc.output.Serialize(ar);
    doc.sound.Serialize(ar);
    ASSERT_TRUE(doc.LoadFromBytes(Span(ar.Data())));
    EXPECT_EQ(tp.prompter.messages.back(), "Omg, cannot restore the correct group for 127.0.0.1:27015");
    EXPECT_EQ(doc.objects[0]->group, nullptr);
    EXPECT_EQ(doc.objects[0]->output, &doc.output);
}

TEST_F(FileFixture, NetworkDetectionZoneIdZero) {
    // Enabled with the first zone: comes back linked to it.
    doc.networkDetect.enabled = 1;
    doc.networkDetect.targetZone = doc.zones[0];
    ASSERT_TRUE(doc.LoadFromBytes(Span(doc.SaveToBytes())));
    EXPECT_EQ(doc.networkDetect.targetZone, doc.zones[0]);
    // Disabled: the stored 0 does not tie the module to the first zone, which stays deletable.
    doc.networkDetect.enabled = 0;
    ASSERT_TRUE(doc.LoadFromBytes(Span(doc.SaveToBytes())));
    EXPECT_EQ(doc.networkDetect.targetZone, nullptr);
    EXPECT_FALSE(doc.IsNetworkDetectionZone(doc.zones[0]));
}

TEST_F(FileFixture, AFailedSaveKeepsThePreviousFile) {
    const std::string path = dir + "/keep.orv";
    ASSERT_TRUE(doc.Save(path));
    std::ifstream in(path, std::ios::binary);
    const std::string saved((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(saved, doc.SaveToBytes());
    // Into a folder that does not exist: refused with a message.
    EXPECT_FALSE(doc.Save(dir + "/no/such/dir.orv"));
    EXPECT_NE(tp.prompter.messages.back().find("Unable to save"), std::string::npos);
    // Over a path that cannot be replaced (a non-empty folder): the folder stays, no temporary is left.
    ASSERT_EQ(::mkdir((dir + "/taken").c_str(), 0755), 0);
    std::ofstream(dir + "/taken/file") << "x";
    EXPECT_FALSE(doc.Save(dir + "/taken"));
    struct stat st {};
    EXPECT_EQ(::stat((dir + "/taken/file").c_str(), &st), 0);
    int leftovers = 0;
    FILE* ls = ::popen(("ls " + dir).c_str(), "r");
    char line[256];
    while (std::fgets(line, sizeof line, ls)) ++leftovers;
    ::pclose(ls);
    EXPECT_EQ(leftovers, 2);  // keep.orv and taken
    std::ifstream again(path, std::ios::binary);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(again)), std::istreambuf_iterator<char>()), saved);
}

TEST_F(FileFixture, LoadingReplacesLimitAndModuleSettings) {
    doc.output.SetLimit(81920);
    doc.vuzuVed.interval = 0;  // an interval below 1 cannot drive the schedule
    const std::string bytes = doc.SaveToBytes();
    doc.output.SetLimit(10240);
    ASSERT_TRUE(doc.LoadFromBytes(Span(bytes)));
    EXPECT_EQ(doc.output.GetLimit(), 81920);
    EXPECT_EQ(doc.vuzuVed.interval, 30);  // replaced by the default
}

}  // namespace
}  // namespace orv

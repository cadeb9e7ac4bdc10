// Layout files: the byte format of a new layout and of the archive's strings and class tags, the round
// trip of every kind and setting, and refusals that leave the open layout and the saved file untouched.
#include <gtest/gtest.h>

#include "base/archive.h"
#include "document/document.h"
#include "fakes.h"
#include "monitors/halflife/hltv.h"
#include "testutil.h"

namespace orv {
namespace {

std::string Hex(const std::string& bytes) {
    std::string out;
    char buf[4];
    for (unsigned char c : bytes) out.append(buf, static_cast<size_t>(std::snprintf(buf, sizeof buf, out.empty() ? "%02X" : " %02X", c)));
    return out;
}
std::span<const std::uint8_t> Span(const std::string& s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

// No zones, no groups, one object of the class with only the shared fields, then the settings of doc.
std::string OneObject(COrvaneDoc& doc, const std::string& cls, std::uint16_t schema, std::uint32_t groupId) {
    CArchive ar;
    CZoneObList zones;
    CGroupObList groups;
    zones.Serialize(ar);
    groups.Serialize(ar);
    ar.WriteCount(1);
    ar.WriteClassTag(cls, schema);
    std::string host = "127.0.0.1", empty;
    std::uint32_t port = 27015;
    ar.String(host);
    ar.UInt32(port);
    ar.UInt32(groupId);
    ar.String(empty);
    ar.String(empty);
    doc.vuzuVed.Serialize(ar);
    doc.adminBot.Serialize(ar);
    doc.networkDetect.Serialize(ar);
    doc.output.Serialize(ar);
    doc.sound.Serialize(ar);
    return ar.Data();
}

struct FileTest : ::testing::Test {
    test::TestPlatform tp;
    COrvaneDoc doc{tp.platform};
    test::TempDir dir{"orvane-layout"};
    FileTest() { doc.New(); }
    // Every kind and every setting away from its default.
    void BuildFullLayout() {
        CObjectValues v;
        v.host = "127.0.0.1";
        for (auto [kind, port, rcon, group] : {std::tuple{CObjectKind::HLServer, 27015u, "secret", 0},
                                               {CObjectKind::Q3Server, 27960u, "q3pw", 0},
                                               {CObjectKind::HLTV, 27020u, "tvpw", 1},
                                               {CObjectKind::GTV, 27970u, "gtvpw", 2}}) {
            v.group = doc.groups[static_cast<size_t>(group)];
            v.port = port;
            v.rconPassword = rcon;
            v.proxyPassword = "relay me";
            v.externalHost = "203.0.113.9";
            v.externalPort = static_cast<std::int32_t>(port + 1);
            v.exportToWeb = kind == CObjectKind::GTV;
            v.autoRecord = kind == CObjectKind::HLTV;
            doc.AddObjectOfKind(kind, v);
        }
        doc.objects[0]->password = "join me";
        CZone* stage = doc.AddZone("Stage", 4);
        doc.AddGroup("Casters", stage, 3);
        auto& p = doc.vuzuVed;
        p.enabled = 1;
        p.login = "web";
        p.password = "ftp-pw";
        p.interval = 45;
        p.remoteFilename = "/www/status.html";
        p.server = "127.0.0.1";
        p.peakHlBandwidth = 1234.5;
        p.peakHlSpectators = 77;
        p.peakGtvSpectators = 12;
        doc.adminBot.enabled = 1;
        doc.networkDetect.enabled = 1;
        doc.networkDetect.targetZone = stage;
        doc.output.SetLimit(20480);
        doc.sound.sound.enabled = 0;
    }
};

// The zones (class record, colour, level, name), the groups (ids continuing after the zones), no objects,
// the status page, AdminBot, network detection, the limit and the sound.
TEST_F(FileTest, NewLayoutBytes) {
    EXPECT_EQ(
        Hex(doc.SaveToBytes()),
        "02 00 FF FF 01 00 05 00 43 5A 6F 6E 65 FF FF BE 00 01 00 00 00 09 4C 41 4E 20 4C 6F 63 61 6C 00 00 00 00 "
        "01 80 BE BE FF 00 02 00 00 00 08 49 6E 74 65 72 6E 65 74 01 00 00 00 03 00 FF FF 01 00 06 00 43 47 72 6F "
        "75 70 FF FF FF 00 01 00 00 00 07 53 65 72 76 65 72 73 02 00 00 00 00 00 00 00 04 80 FF FF FF 00 02 00 00 "
        "00 08 4C 6F 63 61 6C 20 54 56 03 00 00 00 00 00 00 00 04 80 FF FF FF 00 01 00 00 00 0B 49 6E 74 65 72 6E "
        "65 74 20 54 56 04 00 00 00 01 00 00 00 00 00 00 00 00 00 00 00 1E 00 00 00 15 2F 73 6F 6D 65 70 61 74 68 "
        "2F 4F 72 76 61 6E 65 2E 68 74 6D 6C 0F 66 74 70 2E 65 78 61 6D 70 6C 65 2E 63 6F 6D 00 00 00 00 00 00 00 "
        "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 28 00 00 01 00 "
        "00 00");
}

TEST(Archive, StringLengthFormsAndClassTags) {
    auto stored = [](std::string s) {
        CArchive ar;
        ar.String(s);
        return ar.Data();
    };
    auto loaded = [](const std::string& bytes) -> std::optional<std::string> {
        CArchive ar(Span(bytes));
        std::string s;
        ar.String(s);
        return ar.Failed() ? std::nullopt : std::optional(s);
    };
    for (auto [n, prefix] : {std::pair{3u, "03 78 78 78"},
                             {254u, "FE"},
                             {255u, "FF FF 00"},
                             {300u, "FF 2C 01"},
                             {65533u, "FF FD FF"},
                             {65534u, "FF FF FF FE FF 00 00"},
                             {70000u, "FF FF FF 70 11 01 00"}}) {
        const std::string s(n, 'x');
        EXPECT_EQ(Hex(stored(s)).substr(0, std::string(prefix).size()), prefix) << n;
        EXPECT_EQ(loaded(stored(s)), s) << n;
    }
    EXPECT_EQ(loaded(stored("")), "");
    // The eight-byte form, and a UTF-16 string announced by FF FE FF; a length beyond the end fails.
    EXPECT_EQ(loaded(std::string("\xFF\xFF\xFF\xFF\xFF\xFF\xFF\x03\0\0\0\0\0\0\0abc", 18)), "abc");
    EXPECT_EQ(loaded(std::string("\xFF\xFE\xFF\x03h\0\xE9\0\x3A\x26", 10)), "h\xE9?");
    EXPECT_FALSE(loaded(std::string("\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\x7F", 15)));
    EXPECT_FALSE(loaded("\x05" "ab"));
    // Class tags share one numbering with the objects.
    CArchive ar;
    for (const char* cls : {"CZone", "CZone", "CGroup", "CGroup"}) ar.WriteClassTag(cls, 1);
    ar.WriteCount(3);
    ar.WriteCount(70000);
    EXPECT_EQ(Hex(ar.Data()),
              "FF FF 01 00 05 00 43 5A 6F 6E 65 01 80 FF FF 01 00 06 00 43 47 72 6F 75 70 04 80 03 00 "
              "FF FF 70 11 01 00");
}

TEST_F(FileTest, EveryKindAndSettingRoundTripsByteForByte) {
    BuildFullLayout();
    const std::string first = doc.SaveToBytes();
    test::TestPlatform tp2;
    COrvaneDoc other(tp2.platform);
    other.New();
    other.networkDetect.exportNewToWeb = 1;  // not saved: loading keeps it
    ASSERT_TRUE(other.LoadFromBytes(Span(first)));
    EXPECT_EQ(Hex(other.SaveToBytes()), Hex(first));
    EXPECT_EQ(
        std::tuple(other.IsModified(), other.zones.maxLevel, other.groups[3]->zone, other.networkDetect.targetZone,
                   other.networkDetect.exportNewToWeb, tp2.prompter.messages.size()),
        std::tuple(false, 4, other.zones[2], other.zones[2], 1, 0u));
    std::string objects;
    for (auto& o : other.objects) {
        objects += std::string(o->ClassName()) + " " + o->AddressString() + " " + o->group->name + "|";
        EXPECT_EQ(std::tuple(o->output, o->sound), std::tuple(&other.output, &other.sound));
    }
    EXPECT_EQ(objects,
              "CHLServer 127.0.0.1:27015 Servers|CQ3Server 127.0.0.1:27960 Servers|"
              "CHLTV 127.0.0.1:27020 Local TV|CGTV 127.0.0.1:27970 Internet TV|");
    // Open and Save through files; Open clears the selection.
    const std::string path = (dir.path / "full.orv").string();
    ASSERT_TRUE(doc.Save(path));
    EXPECT_EQ(std::tuple(doc.IsModified(), test::ReadFile(path)), std::tuple(false, first));
    doc.selectedObject = doc.objects[0];
    doc.selectedZone = doc.groups[0];
    ASSERT_TRUE(doc.Open(path));
    EXPECT_EQ(std::tuple(doc.selectedObject, doc.selectedZone, doc.objects.size()), std::tuple(nullptr, nullptr, 4u));
}

TEST_F(FileTest, AFailedLoadLeavesTheOpenLayoutUntouched) {
    BuildFullLayout();
    const std::string good = doc.SaveToBytes();
    test::TestPlatform tp2;
    COrvaneDoc target(tp2.platform);
    target.New();
    target.AddZone("Mine", 3);
    const std::string before = target.SaveToBytes();
    for (size_t n = 0; n < good.size(); ++n) {  // every truncation of a valid file
        std::string reason;
        ASSERT_FALSE(target.LoadFromBytes(Span(good.substr(0, n)), &reason)) << n;
        EXPECT_FALSE(reason.empty());
    }
    // A CGTV record of the wrong schema, an unknown class, a proxy written with the base class's schema.
    std::string wrongSchema = good, unknown = good;
    const auto gtvAt = good.find("CGTV");
    wrongSchema[gtvAt - 4] = 10;  // schema 11 -> 10
    unknown.replace(gtvAt, 4, "CGTX");
    for (auto& bytes : {wrongSchema, unknown}) EXPECT_FALSE(target.LoadFromBytes(Span(bytes)));
    std::string reason;
    EXPECT_FALSE(target.LoadFromBytes(Span(OneObject(target, "CHLTV", 100, 0)), &reason));
    EXPECT_NE(reason.find("CHLTV"), std::string::npos);
    EXPECT_EQ(Hex(target.SaveToBytes()), Hex(before));
    // Through Open: the message, and the layout as it was.
    test::WriteFile(dir.path / "bad.orv", wrongSchema);
    target.selectedZone = target.zones[0];
    EXPECT_FALSE(target.Open((dir.path / "bad.orv").string()));
    EXPECT_EQ(std::tuple(tp2.prompter.messages.back(), target.SaveToBytes() == before, target.selectedZone),
              std::tuple("Unexpected file format.", true, target.zones[0]));
    EXPECT_FALSE(target.Open((dir.path / "missing.orv").string()));
    EXPECT_NE(tp2.prompter.messages.back().find("missing.orv"), std::string::npos);
}

TEST_F(FileTest, OrphansZoneIdZeroAndTheSettingsALoadReplaces) {
    // An object whose group id matches no group stays, without a group, and is reported.
    ASSERT_TRUE(doc.LoadFromBytes(Span(OneObject(doc, "CHLServer", 10, 9))));
    EXPECT_EQ(std::tuple(tp.prompter.messages.back(), doc.objects[0]->group, doc.objects[0]->output),
              std::tuple("Omg, cannot restore the correct group for 127.0.0.1:27015", nullptr, &doc.output));
    // Network detection with zone id 0: enabled, it comes back tied to the first zone; disabled, not.
    doc.New();
    doc.networkDetect.enabled = 1;
    doc.networkDetect.targetZone = doc.zones[0];
    ASSERT_TRUE(doc.LoadFromBytes(Span(doc.SaveToBytes())));
    EXPECT_EQ(doc.networkDetect.targetZone, doc.zones[0]);
    doc.networkDetect.enabled = 0;
    ASSERT_TRUE(doc.LoadFromBytes(Span(doc.SaveToBytes())));
    EXPECT_EQ(std::tuple(doc.networkDetect.targetZone, doc.IsNetworkDetectionZone(doc.zones[0])),
              std::tuple(nullptr, false));
    // The limit comes from the file; an interval below 1 cannot drive the schedule and becomes 30.
    doc.output.SetLimit(81920);
    doc.vuzuVed.interval = 0;
    const std::string bytes = doc.SaveToBytes();
    doc.output.SetLimit(10240);
    ASSERT_TRUE(doc.LoadFromBytes(Span(bytes)));
    EXPECT_EQ(std::tuple(doc.output.GetLimit(), doc.vuzuVed.interval), std::tuple(81920, 30));
}

TEST_F(FileTest, AFailedSaveKeepsThePreviousFile) {
    const std::string path = (dir.path / "keep.orv").string();
    ASSERT_TRUE(doc.Save(path));
    const auto saved = test::ReadFile(path);
    EXPECT_FALSE(doc.Save((dir.path / "no/such/dir.orv").string()));  // a folder that does not exist
    EXPECT_NE(tp.prompter.messages.back().find("Unable to save"), std::string::npos);
    // Over a path that cannot be replaced (a non-empty folder): the folder stays, no temporary is left.
    std::filesystem::create_directory(dir.path / "taken");
    test::WriteFile(dir.path / "taken" / "file", "x");
    EXPECT_FALSE(doc.Save((dir.path / "taken").string()));
    EXPECT_EQ(test::ReadFile(dir.path / "taken" / "file"), "x");
    const auto entries = std::distance(std::filesystem::directory_iterator(dir.path), {});
    EXPECT_EQ(std::tuple(entries, test::ReadFile(path)), std::tuple(2, saved));
}

}  // namespace
}  // namespace orv

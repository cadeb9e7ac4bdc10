// Layout files: the byte format of a new layout and of the archive's strings and class tags, the round
// trip of every kind and setting, and refusals that leave the open layout and the saved file untouched.
// Whole files are hex dumps under tests/data/ (file_*), compared whole.
#include <sys/stat.h>

#include "base/archive.h"
#include "monitor_fixture.h"
#include "monitors/halflife/hlserver.h"

namespace orv {
namespace {

using namespace test;

std::string Hex(const std::string& bytes) {
    std::string out;
    char buf[4];
    for (unsigned char c : bytes) out.append(buf, std::snprintf(buf, sizeof buf, out.empty() ? "%02X" : " %02X", c));
    return out;
}
// Bytes written as hex pairs; spaces, line ends and '#' comment lines are left out.
std::string FromHex(const std::string& text) {
    std::string out, pair;
    for (const auto& line : Split(text, '\n'))
        for (char c : line.starts_with('#') ? "" : line)
            if (std::isxdigit(static_cast<unsigned char>(c)) && (pair += c).size() == 2) {
                out += static_cast<char>(std::stoi(pair, nullptr, 16));
                pair.clear();
            }
    return out;
}
std::string Golden(const std::string& name) {
    return FromHex(ReadFile(DataPath(name)).value_or(""));
}

struct FileTest : ::testing::Test {
    TestPlatform tp;
    COrvaneDoc doc{tp.platform};
    TempDir dir{"orvane-layout"};
    const std::string full = Golden("file_full_layout.hex");
    FileTest() { doc.New(); }
    // What a load left: the messages shown, each object in its group (wired to the queue and the sound or
    // not), the zone network detection adds to and whether the first zone is it, the limit, the interval.
    std::string Left() {
        std::string out;
        for (auto& m : tp.prompter.messages) out += m + " | ";
        for (auto& o : doc.objects)
            out += o->ClassName() + (" " + o->AddressString()) + " in " + (o->group ? o->group->name : "no group") +
                   (o->output == &doc.output && o->sound == &doc.sound ? " | " : " unwired | ");
        CZone* target = doc.networkDetect.targetZone;
        return out + "detection into " + (target ? target->name : "none") + ", first zone " +
               (doc.zones.size() && doc.IsNetworkDetectionZone(doc.zones[0]) ? "yes" : "no") + " | limit " +
               std::to_string(doc.output.GetLimit()) + " | interval " + std::to_string(doc.vuzuVed.interval);
    }
};

TEST_F(FileTest, NewLayoutBytes) {
    EXPECT_EQ(Hex(doc.SaveToBytes()), Hex(Golden("file_new_layout.hex")));
}

TEST(Archive, StringLengthFormsAndClassTags) {
    for (auto& row : Rows("file_strings.txt")) {
        const bool stores = row.count("length") > 0;
        std::string stored(stores ? std::stoul(row["length"]) : 0, 'x'), bytes = stores ? "" : row["bytes"], loaded;
        if (stores) {
            CArchive out;
            out.String(stored);
            bytes = out.Data();
            EXPECT_EQ(Hex(bytes.substr(0, 7)).substr(0, row["prefix"].size()), row["prefix"]) << stored.size();
        }
        CArchive in(Bytes(bytes));
        in.String(loaded);
        const std::string expected = stores ? stored : row.count("loads") ? row["loads"] : "<refused>";
        EXPECT_TRUE((in.Failed() ? "<refused>" : loaded) == expected)
            << Hex(bytes.substr(0, 16)) << ": " << loaded.substr(0, 16);
    }
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
    doc.networkDetect.exportNewToWeb = 1;  // not saved: loading keeps it
    ASSERT_TRUE(doc.LoadFromBytes(Bytes(full)));
    EXPECT_EQ(Hex(doc.SaveToBytes()), Hex(full));
    EXPECT_EQ(std::tuple(doc.IsModified(), doc.zones.maxLevel, doc.groups[3]->zone, doc.networkDetect.exportNewToWeb),
              std::tuple(false, 4, doc.zones[2], 1));
    EXPECT_EQ(Left(),
              "CHLServer 127.0.0.1:27015 in Servers | CQ3Server 127.0.0.1:27960 in Servers | CHLTV 127.0.0.1:27020 in "
              "Local TV | CGTV 127.0.0.1:27970 in Internet TV | detection into Stage, first zone no | limit 20480 | "
              "interval 45");
    // Open and Save through files; Open clears the selection.
    const std::string path = (dir.path / "full.orv").string();
    ASSERT_TRUE(doc.Save(path));
    EXPECT_EQ(std::tuple(doc.IsModified(), ReadFile(path)), std::tuple(false, full));
    doc.selectedObject = doc.objects[0];
    doc.selectedZone = doc.groups[0];
    ASSERT_TRUE(doc.Open(path));
    EXPECT_EQ(std::tuple(doc.selectedObject, doc.selectedZone, doc.objects.size()), std::tuple(nullptr, nullptr, 4u));
}

TEST_F(FileTest, AFailedLoadLeavesTheOpenLayoutUntouched) {
    doc.AddZone("Mine", 3);
    const std::string before = doc.SaveToBytes();
    for (size_t n = 0; n < full.size(); ++n) {  // every truncation of a valid file
        std::string reason;
        ASSERT_FALSE(doc.LoadFromBytes(Bytes(full.substr(0, n)), &reason)) << n;
        EXPECT_FALSE(reason.empty());
    }
    // A CGTV record of the wrong schema, an unknown class (more in OddFilesLoadMendedOrAreRefused).
    std::string wrongSchema = full, unknown = full;
    const auto gtvAt = full.find("CGTV");
    wrongSchema[gtvAt - 4] = 10;  // schema 11 -> 10
    unknown.replace(gtvAt, 4, "CGTX");
    for (auto& bytes : {wrongSchema, unknown}) EXPECT_FALSE(doc.LoadFromBytes(Bytes(bytes)));
    EXPECT_EQ(Hex(doc.SaveToBytes()), Hex(before));
    // Through Open: the message, and the layout as it was.
    WriteFile(dir.path / "bad.orv", wrongSchema);
    doc.selectedZone = doc.zones[0];
    EXPECT_FALSE(doc.Open((dir.path / "bad.orv").string()));
    EXPECT_EQ(std::tuple(tp.prompter.messages.back(), doc.SaveToBytes() == before, doc.selectedZone),
              std::tuple("Unexpected file format.", true, doc.zones[0]));
    EXPECT_FALSE(doc.Open((dir.path / "missing.orv").string()));
    EXPECT_NE(tp.prompter.messages.back().find("missing.orv"), std::string::npos);
}

// Odd files (tests/data/file_loads.txt): what each load left, or its refusal and the layout as it was.
TEST_F(FileTest, OddFilesLoadMendedOrAreRefused) {
    for (auto& row : Rows("file_loads.txt")) {
        const std::string before = doc.SaveToBytes();
        const size_t watched = tp.loop.WatchedCount();
        std::string reason;
        tp.prompter.messages.clear();
        const bool loaded = doc.LoadFromBytes(Bytes(FromHex(row["hex"])), &reason);
        EXPECT_EQ(loaded ? Left() : "refused: " + reason, row["loads"]) << row["name"];
        if (!loaded) {  // refused before any object made a socket: nothing said, nothing watched
            EXPECT_EQ(std::tuple(Hex(doc.SaveToBytes()), tp.prompter.messages.size(), tp.loop.WatchedCount()),
                      std::tuple(Hex(before), 0u, watched))
                << row["name"];
        }
    }
}

// Beyond the loader's bounds: refused by their size or object count before anything in them is read.
// However many objects a damaged file leaves without a group, the load shows two message boxes.
TEST_F(FileTest, ManyObjectsWithoutAGroupAreReportedInTwoMessages) {
    for (int port : {27015, 27016, 27017}) {
        auto o = std::make_unique<CHLServer>(tp.platform);
        o->host = "127.0.0.1";
        o->port = static_cast<std::uint32_t>(port);
        ASSERT_NE(doc.AddObject(std::move(o), nullptr), nullptr);
    }
    const std::string bytes = doc.SaveToBytes();
    tp.prompter.messages.clear();
    ASSERT_TRUE(doc.LoadFromBytes(Bytes(bytes)));
    EXPECT_EQ(tp.prompter.messages, (std::vector<std::string>{"Omg, cannot restore the correct group for 127.0.0.1:27015",
                                                              "2 more objects have no group either."}));
}

TEST_F(FileTest, FilesBeyondTheBoundsAreRefused) {
    const std::string many = std::string("\0\0\0\0\xFF\xFF\x01\x00\x01\x00", 10) + std::string(65537, '\0');
    const std::string huge(COrvaneDoc::kMaxLayoutBytes + 1, '\0');
    for (const auto& [bytes, refusal] : {std::pair{&many, "65537 monitored objects"},
                                         std::pair{&huge, "a file of 67108865 bytes"}}) {
        std::string reason;
        EXPECT_EQ(std::tuple(doc.LoadFromBytes(Bytes(*bytes), &reason), reason), std::tuple(false, refusal));
    }
}

TEST_F(FileTest, AFailedSaveKeepsThePreviousFile) {
    const std::string path = (dir.path / "keep.orv").string();
    ASSERT_TRUE(doc.Save(path));
    const auto saved = ReadFile(path);
    EXPECT_FALSE(doc.Save((dir.path / "no/such/dir.orv").string()));  // a folder that does not exist
    EXPECT_NE(tp.prompter.messages.back().find("Unable to save"), std::string::npos);
    // Over a path that cannot be replaced (a non-empty folder): the folder stays, no temporary is left.
    std::filesystem::create_directory(dir.path / "taken");
    WriteFile(dir.path / "taken" / "file", "x");
    EXPECT_FALSE(doc.Save((dir.path / "taken").string()));
    EXPECT_EQ(ReadFile(dir.path / "taken" / "file"), "x");
    const auto entries = std::distance(std::filesystem::directory_iterator(dir.path), {});
    EXPECT_EQ(std::tuple(entries, ReadFile(path)), std::tuple(2, saved));
}

// A layout holds passwords: a new file is its owner's alone whatever the umask; a file saved over keeps its mode.
TEST_F(FileTest, NewFilesAreTheOwnersAloneSavedOverKeepTheirMode) {
    const mode_t umask = ::umask(0);
    for (auto [before, after] : {std::pair(0, 0600), std::pair(0644, 0644), std::pair(0640, 0640)}) {
        const auto path = dir.path / ("mode" + std::to_string(before) + ".orv");
        if (before) {
            WriteFile(path, "");
            std::filesystem::permissions(path, std::filesystem::perms(before));
        }
        ASSERT_TRUE(doc.Save(path.string()));
        EXPECT_EQ(static_cast<int>(std::filesystem::status(path).permissions()), after) << before;
    }
    ::umask(umask);
}

}  // namespace
}  // namespace orv

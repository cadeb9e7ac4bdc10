// Text helpers, the console log and the layout model's list operations.
#include <gtest/gtest.h>

#include "base/consolelog.h"
#include "base/strutil.h"
#include "core/zone.h"

namespace orv {
namespace {

TEST(Tokenize, ReturnsPiecesAndNeverTheUnterminatedRest) {
    std::string text = "a;bb;;tail";
    std::string piece;
    ASSERT_TRUE(Tokenize(text, ";", piece));
    EXPECT_EQ(piece, "a");
    ASSERT_TRUE(Tokenize(text, ";", piece));
    EXPECT_EQ(piece, "bb");
    ASSERT_TRUE(Tokenize(text, ";", piece));
    EXPECT_EQ(piece, "");
    EXPECT_FALSE(Tokenize(text, ";", piece));
    EXPECT_EQ(piece, "");
    EXPECT_EQ(text, "tail");  // unchanged at the end
    std::string multi = "x<->y";
    EXPECT_EQ(Tokenize(multi, "<->"), "x");
    EXPECT_EQ(multi, "y");
}

TEST(BeginsWith, IsExactAndCaseSensitive) {
    EXPECT_TRUE(BeginsWith("Bad rcon_password.", "Bad rcon_password."));
    EXPECT_FALSE(BeginsWith("bad rcon_password.", "Bad rcon_password."));
    EXPECT_FALSE(BeginsWith(" Bad rcon_password.", "Bad"));
    EXPECT_FALSE(BeginsWith("Ba", "Bad"));
}

TEST(AddressString, FormatsHostColonPort) {
    EXPECT_EQ(AddressString("10.0.0.5", 27015), "10.0.0.5:27015");
    EXPECT_EQ(AddressString("", 0), ":0");
}

TEST(InfoString, ValueNeedsBackslashesAroundTheKey) {
    const std::string info = "\\sv_hostname\\My ^1Server\\sv_maxclients\\16\\g_gametype\\4";
    EXPECT_EQ(InfoValue(info, "sv_hostname"), "My ^1Server");
    EXPECT_EQ(InfoValue(info, "hostname"), "");  // the backslash must stand right before the key
    EXPECT_EQ(InfoValue(info, "g_gametype"), "4");  // runs to the end
    EXPECT_EQ(InfoValue(info, "absent"), "");
    EXPECT_EQ(InfoNumber(info, "sv_maxclients"), 16);
    EXPECT_EQ(InfoNumber(info, "sv_hostname"), 0);
    EXPECT_EQ(InfoNumber("\\n\\-12abc", "n"), -12);
    EXPECT_EQ(InfoNumber("\\n\\", "n"), 0);
}

TEST(StripColours, RemovesDigitCodesOnly) {
    EXPECT_EQ(StripColours("^1Red^7White^^77"), "RedWhite^7");  // "^^77" -> "^7" after ^7 removal
    EXPECT_EQ(StripColours("^a^x^"), "^a^x^");
    EXPECT_EQ(StripColours(""), "");
}

TEST(Scan, ReadsLeadingNumbersOrLeavesTheField) {
    std::int32_t i = 7;
    EXPECT_FALSE(ScanInt("abc", i));
    EXPECT_EQ(i, 7);
    EXPECT_TRUE(ScanInt("  -42xyz", i));
    EXPECT_EQ(i, -42);
    EXPECT_TRUE(ScanInt("4294967295", i));  // wraps to 32 bits
    EXPECT_EQ(static_cast<std::uint32_t>(i), 4294967295u);
    float f = -1.0f;
    EXPECT_FALSE(ScanFloat("", f));
    EXPECT_EQ(f, -1.0f);
    EXPECT_FALSE(ScanFloat("nan", f));
    EXPECT_FALSE(ScanFloat("-inf", f));
    EXPECT_FALSE(ScanFloat("1e99", f));  // overflows a float
    EXPECT_EQ(f, -1.0f);
    EXPECT_TRUE(ScanFloat(" 12.5 Out", f));
    EXPECT_FLOAT_EQ(f, 12.5f);
    EXPECT_EQ(ToInt("17;"), 17);
    EXPECT_EQ(ToInt(""), 0);
    EXPECT_EQ(After("a, Out 3", ", Out "), "3");
    EXPECT_EQ(After("nothing", "X"), "nothing");
    EXPECT_EQ(UpTo("10.0.0.2:27015, more", ","), "10.0.0.2:27015");
    EXPECT_EQ(UpTo("no comma", ","), "");
}

TEST(DisplayText, KeepsUtf8AndReadsOtherBytesAsLatin1) {
    EXPECT_EQ(ToDisplayUtf8("caf\xC3\xA9"), "caf\xC3\xA9");
    EXPECT_EQ(ToDisplayUtf8("caf\xE9"), "caf\xC3\xA9");
    EXPECT_EQ(ToDisplayUtf8("\xC3"), "\xC3\x83");  // truncated sequence
}

TEST(ConsoleLog, KeepsTheLastFiftyLines) {
    CConsoleLog log(5);
    EXPECT_EQ(log.lastChange, 5);
    for (int i = 0; i < 50; ++i) log.Append(i % 2, "line " + std::to_string(i), 10 + i);
    EXPECT_EQ(log.count, 50);
    EXPECT_EQ(log.text[0], "line 0");
    log.Append(7, "line 50", 100);
    EXPECT_EQ(log.count, 50);
    EXPECT_EQ(log.text[0], "line 1");
    EXPECT_EQ(log.kind[0], 1);
    EXPECT_EQ(log.text[49], "line 50");
    EXPECT_EQ(log.kind[49], 7);
    EXPECT_EQ(log.lastChange, 100);
    EXPECT_EQ(log.appended, 51u);
}

// A zone list of named zones at the given levels.
CZoneObList Zones(std::initializer_list<std::pair<const char*, int>> spec) {
    CZoneObList list;
    for (auto& [name, level] : spec) list.Append(std::make_unique<CZone>(name, level));
    return list;
}

std::string Names(const CZoneObList& list) {
    std::string s;
    for (auto& z : list) s += z->name;
    return s;
}

TEST(ZoneList, ColourFollowsTheLevelAtCreation) {
    EXPECT_EQ(CZone("a", 1).colour, Rgb(255, 255, 190));
    EXPECT_EQ(CZone("b", 2).colour, Rgb(190, 190, 255));
    EXPECT_EQ(CZone("c", 3).colour, Rgb(190, 255, 190));
    EXPECT_EQ(CZone("d", 4).colour, Rgb(255, 255, 190));
    EXPECT_EQ(Rgb(255, 255, 190), 0x00BEFFFFu);  // red in the low byte
    CZone z("e", 1);
    CZoneObList list;
    CZone* raw = list.Append(std::make_unique<CZone>("e", 1));
    list.IncreaseLayer(raw);
    EXPECT_EQ(raw->colour, z.colour);  // a level change keeps the colour
    CGroup g("g", nullptr, 3);
    EXPECT_EQ(g.colour, Rgb(255, 255, 255));
}

TEST(ZoneList, LayerOperationsKeepTheBoundsAndMoveToTheTail) {
    auto list = Zones({{"A", 5}, {"B", 3}, {"C", 1}});
    EXPECT_EQ(list.maxLevel, 5);
    EXPECT_FALSE(list.IncreaseLayer(list[0]));  // level 5 stays, place too
    EXPECT_EQ(Names(list), "ABC");
    EXPECT_EQ(list[0]->level, 5);
    EXPECT_TRUE(list.IncreaseLayer(list[1]));
    EXPECT_EQ(Names(list), "ACB");
    EXPECT_EQ(list[2]->level, 4);
    EXPECT_FALSE(list.DecreaseLayer(list[1]));  // C at level 1
    EXPECT_EQ(Names(list), "ACB");
    EXPECT_TRUE(list.DecreaseLayer(list[0]));
    EXPECT_EQ(Names(list), "CBA");
    EXPECT_EQ(list.maxLevel, 4);
}

TEST(ZoneList, MovesStayWithinTheLevel) {
    auto list = Zones({{"A", 1}, {"B", 2}, {"C", 1}, {"D", 1}});
    EXPECT_FALSE(list.MoveUp(list[0]));  // first of its level
    EXPECT_FALSE(list.MoveUp(list[1]));  // only one of level 2
    EXPECT_TRUE(list.MoveUp(list[2]));   // C passes B (another level) and goes ahead of A
    EXPECT_EQ(Names(list), "CABD");
    EXPECT_TRUE(list.MoveDown(list[1]));  // A goes behind D
    EXPECT_EQ(Names(list), "CBDA");
    EXPECT_FALSE(list.MoveDown(list[3]));
}

TEST(GroupList, GroupsNeverPassAGroupOfAnotherZone) {
    CZone z1("Z1", 1), z2("Z2", 1);
    CGroupObList groups;
    groups.Append(std::make_unique<CGroup>("g1", &z1, 1));
    groups.Append(std::make_unique<CGroup>("g2", &z2, 1));
    groups.Append(std::make_unique<CGroup>("g3", &z1, 1));
    EXPECT_FALSE(groups.MoveUp(groups[1]));  // same level, but g1 is in another zone
    EXPECT_TRUE(groups.MoveUp(groups[2]));
    EXPECT_EQ(groups[0]->name, "g3");
    EXPECT_EQ(groups[1]->name, "g1");
    EXPECT_EQ(groups[2]->name, "g2");
}

TEST(ZoneList, MaxLevelIsStaleAfterARemovalUntilTheNextInsertion) {
    auto list = Zones({{"A", 1}, {"B", 4}});
    EXPECT_EQ(list.maxLevel, 4);
    auto removed = list.RemoveAt(1);
    EXPECT_EQ(list.maxLevel, 4);
    list.InsertBefore(0, std::make_unique<CZone>("C", 2));
    EXPECT_EQ(list.maxLevel, 2);
    EXPECT_EQ(Names(list), "CA");
    list.InsertAfter(-1, std::make_unique<CZone>("D", 1));
    EXPECT_EQ(Names(list), "CAD");
    list.InsertBefore(-1, std::make_unique<CZone>("E", 1));
    EXPECT_EQ(Names(list), "ECAD");
    list.Clear();
    EXPECT_EQ(list.maxLevel, 0);
    EXPECT_EQ(list.Find(removed.get()), -1);
}

}  // namespace
}  // namespace orv

// Text helpers, the console log and the layout model's list operations.
#include <gtest/gtest.h>

#include "base/consolelog.h"
#include "base/strutil.h"
#include "core/zone.h"

namespace orv {
namespace {

TEST(Text, TokenizeScanAndFriends) {
    std::string text = "a;bb;;tail", piece;
    std::vector<std::string> pieces;
    while (Tokenize(text, ";", piece)) pieces.push_back(piece);
    EXPECT_EQ(std::tuple(pieces, piece, text),
              std::tuple(std::vector<std::string>{"a", "bb", ""}, "", "tail"));  // never the rest
    std::string multi = "x<->y";
    EXPECT_EQ(std::tuple(Tokenize(multi, "<->"), multi), std::tuple("x", "y"));
    EXPECT_EQ(std::tuple(BeginsWith("Bad rcon", "Bad rcon"), BeginsWith("bad rcon", "Bad"), BeginsWith(" Bad", "Bad"),
                         BeginsWith("Ba", "Bad")),
              std::tuple(true, false, false, false));
    const std::string info = "\\sv_hostname\\My ^1Server\\sv_maxclients\\16\\g_gametype\\4";
    EXPECT_EQ(std::tuple(InfoValue(info, "sv_hostname"), InfoValue(info, "hostname"), InfoValue(info, "g_gametype"),
                         InfoValue("x\\hostname\\tail", "hostname"), InfoValue("\\hostname", "hostname")),
              std::tuple("My ^1Server", "", "4", "tail", ""));  // a backslash must stand right before the key
    EXPECT_EQ(
        std::tuple(InfoNumber(info, "sv_maxclients"), InfoNumber(info, "sv_hostname"), InfoNumber("\\n\\-12abc", "n"),
                   InfoNumber("\\n\\+7", "n"), InfoNumber("\\n\\ 7", "n"), InfoNumber("\\n\\", "n")),
        std::tuple(16, 0, -12, 7, 0, 0));
    EXPECT_EQ(std::tuple(StripColours("^1Red^7White^^77"), StripColours("^a^x^"), StripColours("^1A^^22B^a^9")),
              std::tuple("RedWhite^7", "^a^x^", "A^2B^a"));
    std::int32_t i = 7;
    EXPECT_FALSE(ScanInt("abc", i));
    EXPECT_EQ(i, 7);
    EXPECT_TRUE(ScanInt("  -42xyz", i));
    EXPECT_EQ(i, -42);
    EXPECT_TRUE(ScanInt("4294967295", i));  // wraps to 32 bits
    EXPECT_EQ(i, -1);
    float f = -1.0f;
    for (auto bad : {"", "nan", "-inf", "1e99"}) EXPECT_FALSE(ScanFloat(bad, f)) << bad;  // 1e99 overflows a float
    EXPECT_TRUE(ScanFloat(" 12.5 Out", f));
    EXPECT_EQ(f, 12.5f);
    EXPECT_EQ(std::tuple(ToInt("17;"), ToInt(""), After("a, Out 3", ", Out "), After("nothing", "X"),
                         UpTo("10.0.0.2:27015, more", ","), UpTo("no comma", ",")),
              std::tuple(17, 0, "3", "nothing", "10.0.0.2:27015", ""));
    EXPECT_EQ(std::tuple(ToDisplayUtf8("caf\xC3\xA9"), ToDisplayUtf8("caf\xE9"), ToDisplayUtf8("\xC3")),
              std::tuple("caf\xC3\xA9", "caf\xC3\xA9", "\xC3\x83"));  // UTF-8 kept, other bytes read as Latin-1
}

TEST(ConsoleLog, KeepsTheLastFiftyLines) {
    CConsoleLog log(5);
    for (int i = 0; i <= 50; ++i) log.Append(i == 50 ? 7 : i % 2, "line " + std::to_string(i), 10 + i);
    EXPECT_EQ(std::tuple(log.count, log.text[0], log.kind[0], log.text[49], log.kind[49], log.lastChange, log.appended),
              std::tuple(50, "line 1", 1, "line 50", 7, 60, 51u));
}

CZoneObList Zones(std::initializer_list<std::pair<const char*, int>> spec) {
    CZoneObList list;
    for (auto& [name, level] : spec) list.Append(std::make_unique<CZone>(name, level));
    return list;
}
std::string Names(const CZoneObList& list) {
    std::string s;
    for (auto& z : list) s += z->name + std::to_string(z->level);
    return s;
}

TEST(ZoneList, ColoursLayersAndMoves) {
    // Levels 1 and 2 and the groups' white are in the new layout's bytes (test_layoutfile.cpp), level 3 below.
    EXPECT_EQ(CZone("d", 4).colour, Rgb(255, 255, 190));
    auto list = Zones({{"A", 5}, {"B", 3}, {"C", 1}});
    EXPECT_FALSE(list.IncreaseLayer(list[0]));  // level 5 stays, place too
    EXPECT_TRUE(list.IncreaseLayer(list[1]));   // to the tail of its new level
    EXPECT_EQ(Names(list), "A5C1B4");
    EXPECT_EQ(list[2]->colour, Rgb(190, 255, 190));  // a level change keeps the colour
    EXPECT_FALSE(list.DecreaseLayer(list[1]));
    EXPECT_TRUE(list.DecreaseLayer(list[0]));
    EXPECT_EQ(std::tuple(Names(list), list.maxLevel), std::tuple("C1B4A4", 4));
    auto moves = Zones({{"A", 1}, {"B", 2}, {"C", 1}, {"D", 1}});
    EXPECT_EQ(std::tuple(moves.MoveUp(moves[0]), moves.MoveUp(moves[1])),
              std::tuple(false, false));  // first of its level
    EXPECT_TRUE(moves.MoveUp(moves[2]));  // C passes B (another level) and goes ahead of A
    EXPECT_EQ(Names(moves), "C1A1B2D1");
    EXPECT_TRUE(moves.MoveDown(moves[1]));
    EXPECT_EQ(std::tuple(Names(moves), moves.MoveDown(moves[3])), std::tuple("C1B2D1A1", false));
    // Groups never pass a group of another zone.
    CZone z1("Z1", 1), z2("Z2", 1);
    CGroupObList groups;
    for (auto [name, zone] : {std::pair{"g1", &z1}, {"g2", &z2}, {"g3", &z1}})
        groups.Append(std::make_unique<CGroup>(name, zone, 1));
    EXPECT_FALSE(groups.MoveUp(groups[1]));  // the same level, but g1 is in another zone
    EXPECT_TRUE(groups.MoveUp(groups[2]));
    EXPECT_EQ(std::tuple(groups[0]->name, groups[1]->name, groups[2]->name), std::tuple("g3", "g1", "g2"));
    // The highest level is stale after a removal until the next insertion.
    auto stale = Zones({{"A", 1}, {"B", 4}});
    auto removed = stale.RemoveAt(1);
    EXPECT_EQ(stale.maxLevel, 4);
    stale.InsertBefore(0, std::make_unique<CZone>("C", 2));
    stale.InsertAfter(-1, std::make_unique<CZone>("D", 1));
    stale.InsertBefore(-1, std::make_unique<CZone>("E", 1));
    EXPECT_EQ(std::tuple(Names(stale), stale.maxLevel, stale.Find(removed.get())), std::tuple("E1C2A1D1", 2, -1));
    stale.Clear();
    EXPECT_EQ(stale.maxLevel, 0);
}

}  // namespace
}  // namespace orv

// Text helpers, the console log and the layout model's list operations (rows in tests/data/mod_model.txt).
#include <sstream>

#include "base/consolelog.h"
#include "core/zone.h"
#include "monitor_fixture.h"

namespace orv {
namespace {

// Runs the operations on a list made of the tokens; after each: its result, the list, its highest level.
template <class List, class Make>
std::string ListOps(const std::string& items, const std::string& ops, Make make) {
    List list;
    for (auto& token : test::Split(items, ' ')) list.Append(make(token));
    std::string out;
    for (auto& op : test::Split(ops, ',')) {
        std::istringstream in(op);
        std::string verb, token;
        int at = -1;
        in >> verb >> at >> token;
        auto* item = at >= 0 && at < static_cast<int>(list.size()) ? list[static_cast<size_t>(at)] : nullptr;
        EXPECT_NE(std::string(" raise lower up down remove before after clear ").find(" " + verb + " "),
                  std::string::npos);
        bool result = false;
        if (verb == "raise") result = list.IncreaseLayer(item);
        if (verb == "lower") result = list.DecreaseLayer(item);
        if (verb == "up") result = list.MoveUp(item);
        if (verb == "down") result = list.MoveDown(item);
        if (verb == "remove") list.RemoveAt(at);
        if (verb == "before") list.InsertBefore(at, make(token));
        if (verb == "after") list.InsertAfter(at, make(token));
        if (verb == "clear") list.Clear();
        out += (out.empty() ? "" : "; ") + std::to_string(result) + " ";
        for (auto& e : list) out += e->IsGroup() ? e->name : e->name + std::to_string(e->level);
        out += " " + std::to_string(list.maxLevel);
    }
    return out;
}

// One helper called on a row's text and argument; what it gives, as text.
std::string Call(const std::string& call, std::string in, const std::string& arg) {
    static CZone z1("Z1", 1), z2("Z2", 1);
    std::string piece, out;
    std::int32_t i = 7;
    float f = -1.0f;
    if (call == "Tokenize") {
        while (Tokenize(in, arg, piece)) out += "[" + piece + "]";
        return out + " piece [" + piece + "] rest " + in;
    }
    if (call == "Tokenize1") piece = Tokenize(in, arg);
    if (call == "Tokenize1") return piece + " rest " + in;
    if (call == "BeginsWith") return std::to_string(BeginsWith(in, arg));
    if (call == "InfoValue") return InfoValue(in, arg);
    if (call == "InfoNumber") return std::to_string(InfoNumber(in, arg));
    if (call == "StripColours") return StripColours(in);
    if (call == "ScanInt") return ScanInt(in, i) ? "1 " + std::to_string(i) : "0 " + std::to_string(i);
    if (call == "ScanFloat") return ScanFloat(in, f) ? Format("1 %g", f * 1.0) : Format("0 %g", f * 1.0);
    if (call == "ToInt") return std::to_string(ToInt(in));
    if (call == "After") return std::string(After(in, arg));
    if (call == "UpTo") return std::string(UpTo(in, arg));
    if (call == "ToDisplayUtf8") return ToDisplayUtf8(in);
    if (call == "Zones")
        return ListOps<CZoneObList>(in, arg,
                                    [](auto& t) { return std::make_unique<CZone>(t.substr(0, 1), t[1] - '0'); });
    if (call == "Groups")
        return ListOps<CGroupObList>(in, arg,
                                     [](auto& t) { return std::make_unique<CGroup>(t, t[1] == '1' ? &z1 : &z2, 1); });
    return "unknown call";
}

TEST(Model, TextHelpersAndListOperations) {
    for (auto& row : test::Rows("mod_model.txt"))
        EXPECT_EQ(Call(row["call"], row["in"], row["arg"]), row["out"]) << row["call"] << " " << row["in"];
    // Levels 1 and 2 are in the new layout's bytes (test_layoutfile.cpp); a level change keeps the colour.
    CZoneObList list;
    CZone* zone = list.Append(std::make_unique<CZone>("d", 4));
    list.IncreaseLayer(zone);
    EXPECT_EQ(zone->colour, Rgb(255, 255, 190));
}

TEST(ConsoleLog, KeepsTheLastFiftyLines) {
    CConsoleLog log(5);
    for (int i = 0; i <= 50; ++i) log.Append(i == 50 ? 7 : i % 2, "line " + std::to_string(i), 10 + i);
    EXPECT_EQ(std::tuple(log.count, log.text[0], log.kind[0], log.text[49], log.kind[49], log.lastChange, log.appended),
              std::tuple(50, "line 1", 1, "line 50", 7, 60, 51u));
}

}  // namespace
}  // namespace orv

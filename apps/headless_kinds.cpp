// The kinds the headless front end can name on its command line, each with its factory and the
// emitter of its own live fields. A new kind is one entry here and its two functions.
#include "apps/headless.h"
#include "monitors/halflife/hlserver.h"

namespace orv::headless {
namespace {

// The settings every kind shares: host, port and the rcon password.
template <class T>
std::unique_ptr<T> MakeWithAddress(CPlatform& platform, const ObjectSpec& spec) {
    auto object = std::make_unique<T>(platform);
    object->host = spec.host;
    object->port = spec.port;
    if (const std::string* rcon = spec.Find("rcon")) object->rconPassword = *rcon;
    return object;
}

// ---- Half-Life server ----

std::unique_ptr<CCommonObject> CreateHLServer(CPlatform& platform, const ObjectSpec& spec, std::string& error) {
    return MakeWithAddress<CHLServer>(platform, spec);
}

void EmitHLServer(const CCommonObject& object, Json& j) {
    const auto* hl = dynamic_cast<const CHLServer*>(&object);
    if (!hl) return;
    j["map"] = Utf8(hl->map);
    j["gameDirectory"] = Utf8(hl->gameDirectory);
    j["icon"] = hl->icon;
    j["teamTags"] = Utf8(hl->TeamTags());
    j["challenge"] = hl->challenge;
    j["teamAName"] = Utf8(hl->teamAName);
    j["teamBName"] = Utf8(hl->teamBName);
    j["teamASet1"] = hl->teamASet1;
    j["teamASet2"] = hl->teamASet2;
    j["teamBSet1"] = hl->teamBSet1;
    j["teamBSet2"] = hl->teamBSet2;
    j["matchState"] = hl->matchState;
    j["matchRunning"] = hl->matchRunning;
}

}  // namespace

const std::vector<KindEntry>& Kinds() {
    static const std::vector<KindEntry> kinds = {
        KindEntry{"--hl",
                  "CHLServer",
                  "Servers",
                  27015,
                  "Monitor a Half-Life server",
                  {{"rcon", "PASSWORD"}},
                  CreateHLServer,
                  EmitHLServer},
    };
    return kinds;
}

}  // namespace orv::headless

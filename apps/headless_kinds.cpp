// The kinds the headless front end can name on its command line, each with its factory and the
// emitter of its own live fields. A new kind is one entry here and its two functions.
#include "apps/headless.h"
#include "monitors/halflife/hlserver.h"
#include "monitors/halflife/hltv.h"

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

// ---- HLTV proxy ----

// "0" or "1".
bool ParseSwitch(const std::string& text, std::int32_t& value) {
    if (text != "0" && text != "1") return false;
    value = text == "1" ? 1 : 0;
    return true;
}

// "HOST:PORT" with a port from 1 to 65535.
bool ParseExternalAddress(const std::string& text, std::string& host, std::int32_t& port) {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    const std::string digits = text.substr(colon + 1);
    if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const int value = std::stoi(digits);
    if (value < 1 || value > 65535) return false;
    host = text.substr(0, colon);
    port = value;
    return true;
}

std::unique_ptr<CCommonObject> CreateHLTV(CPlatform& platform, const ObjectSpec& spec, std::string& error) {
    auto proxy = MakeWithAddress<CHLTV>(platform, spec);
    const std::string head = spec.option + " '" + spec.text + "': ";
    if (const std::string* pw = spec.Find("proxypw")) proxy->proxyPassword = *pw;
    if (const std::string* ext = spec.Find("ext");
        ext && !ParseExternalAddress(*ext, proxy->externalHost, proxy->externalPort)) {
        error = head + "ext must be HOST:PORT with a port from 1 to 65535";
        return nullptr;
    }
    if (const std::string* v = spec.Find("export"); v && !ParseSwitch(*v, proxy->exportToWeb)) {
        error = head + "export must be 0 or 1";
        return nullptr;
    }
    if (const std::string* v = spec.Find("autorecord"); v && !ParseSwitch(*v, proxy->autoRecord)) {
        error = head + "autorecord must be 0 or 1";
        return nullptr;
    }
    return proxy;
}

void EmitHLTV(const CCommonObject& object, Json& j) {
    EmitHLServer(object, j);
    const auto* tv = dynamic_cast<const CHLTV*>(&object);
    if (!tv) return;
    j["spectators"] = tv->spectators;
    j["slots"] = tv->spectatorSlots;
    j["bandwidth"] = tv->outgoingBandwidth;
    j["delay"] = tv->delay;
    j["serverAddress"] = Utf8(tv->serverAddress);
    j["linked"] = tv->linkedServer ? Json(Utf8(tv->linkedServer->AddressString())) : Json(nullptr);
    j["recordingFile"] = Utf8(tv->recordingFile);
    j["stopPending"] = tv->StopPending();
    j["exportToWeb"] = tv->exportToWeb;
    j["externalAddress"] = Utf8(tv->ExternalAddressString());
    j["autoRecord"] = tv->autoRecord;
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
        KindEntry{"--hltv",
                  "CHLTV",
                  "Local TV",
                  27020,
                  "Monitor an HLTV proxy",
                  {{"rcon", "PASSWORD"},
                   {"proxypw", "PASSWORD"},
                   {"ext", "HOST:PORT"},
                   {"export", "0|1"},
                   {"autorecord", "0|1"}},
                  CreateHLTV,
                  EmitHLTV},
    };
    return kinds;
}

}  // namespace orv::headless

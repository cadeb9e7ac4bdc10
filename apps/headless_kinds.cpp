// The kinds the headless front end can name on its command line, each with its factory and the
// emitter of its own live fields. A new kind is one entry here and its two functions.
#include <algorithm>

#include "apps/headless.h"
#include "monitors/halflife/hlserver.h"
#include "monitors/halflife/hltv.h"
#include "monitors/quake3/gtv.h"
#include "monitors/quake3/q3server.h"
#include "net/udpsocket.h"

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
    j["protocol"] = DialectName(hl->Dialect());
    j["rconTransport"] = hl->RconTransport();
    if (hl->Dialect() == CHLDialect::A2S) {
        j["infoPlayers"] = hl->infoPlayers;
        j["bots"] = hl->bots;
        j["vac"] = hl->vac == 1;
    }
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

// ---- Quake 3 server ----

std::unique_ptr<CCommonObject> CreateQ3Server(CPlatform& platform, const ObjectSpec& spec, std::string& error) {
    return MakeWithAddress<CQ3Server>(platform, spec);
}

void EmitQ3Server(const CCommonObject& object, Json& j) {
    const auto* q3 = dynamic_cast<const CQ3Server*>(&object);
    if (!q3) return;
    j["icon"] = q3->icon;
    j["password"] = Utf8(q3->password);
    j["rconPasswordSet"] = !q3->rconPassword.empty();
    j["matchRunning"] = q3->matchRunning;
}

// ---- GTV proxy ----

std::unique_ptr<CCommonObject> CreateGTV(CPlatform& platform, const ObjectSpec& spec, std::string& error) {
    auto proxy = MakeWithAddress<CGTV>(platform, spec);
    const std::string head = spec.option + " '" + spec.text + "': ";
    if (const std::string* ext = spec.Find("ext")) {
        std::string host;
        std::int32_t port = 0;
        if (!ParseExternalAddress(*ext, host, port) || !CUdpSocket::IsValidHostName(host)) {
            error = head + "ext must be HOST:PORT with a host name or a dotted IPv4 address and a port from 1 to 65535";
            return nullptr;
        }
        proxy->externalHost = host;
        proxy->externalPort = static_cast<std::uint32_t>(port);
    }
    std::int32_t value = 0;
    if (const std::string* v = spec.Find("export")) {
        if (!ParseSwitch(*v, value)) {
            error = head + "export must be 0 or 1";
            return nullptr;
        }
        proxy->exportToWeb = static_cast<std::uint32_t>(value);
    }
    if (const std::string* v = spec.Find("autorecord")) {
        if (!ParseSwitch(*v, value)) {
            error = head + "autorecord must be 0 or 1";
            return nullptr;
        }
        proxy->autoRecord = static_cast<std::uint32_t>(value);
    }
    return proxy;
}

Json GTVRoomJson(const CGTV& gtv, const CGTVRoom& room) {
    Json r;
    r["hubNumber"] = room.hubNumber;
    r["roomState"] = room.roomState;
    r["roomNumber"] = room.roomNumber;
    r["map"] = Utf8(room.map);
    r["description"] = Utf8(room.description);
    r["following"] = room.following;
    r["followedPlayerName"] = Utf8(gtv.FollowedPlayerName(room));
    r["recordingName"] = Utf8(room.recordingName);
    const std::int32_t count = std::clamp(room.playerCount, 0, CCommonObject::kMaxPlayerNames);
    Json names = Json::array(), numbers = Json::array();
    for (std::int32_t k = 0; k < count; ++k) {
        names.push_back(Utf8(room.playerNames[static_cast<size_t>(k)]));
        numbers.push_back(room.playerNumbers[static_cast<size_t>(k)]);
    }
    r["players"] = std::move(names);
    r["playerNumbers"] = std::move(numbers);
    r["linked"] = room.linkedServer ? Json(Utf8(room.linkedServer->AddressString())) : Json(nullptr);
    r["serverAddress"] = Utf8(room.serverAddress);
    return r;
}

void EmitGTV(const CCommonObject& object, Json& j) {
    const auto* gtv = dynamic_cast<const CGTV*>(&object);
    if (!gtv) return;
    j["icon"] = gtv->icon;
    j["password"] = Utf8(gtv->password);
    j["rconPasswordSet"] = !gtv->rconPassword.empty();
    j["clients"] = gtv->clients;
    j["slots"] = gtv->clientSlots;
    j["chainList"] = Utf8(gtv->chainList);
    j["expanded"] = gtv->expanded;
    const int selected = gtv->SelectedRoomIndex();
    j["selectedRoom"] = selected >= 0 ? Json(selected) : Json(nullptr);
    j["linkNotBefore"] = gtv->linkNotBefore;
    j["exportToWeb"] = gtv->exportToWeb;
    j["externalAddress"] = Utf8(gtv->ExternalAddressString());
    j["autoRecord"] = gtv->autoRecord;
    const std::int32_t count = std::clamp(gtv->roomCount, 0, CGTV::kMaxRooms);
    j["roomCount"] = count;
    Json rooms = Json::array();
    for (std::int32_t i = 0; i < count; ++i) rooms.push_back(GTVRoomJson(*gtv, gtv->rooms[static_cast<size_t>(i)]));
    j["rooms"] = std::move(rooms);
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
                  EmitHLServer,
                  ""},
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
                  EmitHLTV,
                  "An HLTV proxy (CHLTV) adds the server's fields and spectators (spectators plus relayed "
                  "proxies), slots, bandwidth and delay (-1.0 until reported), serverAddress, linked (address of "
                  "the object it relays, or null), recordingFile, stopPending, exportToWeb, externalAddress and "
                  "autoRecord."},
        KindEntry{"--q3",
                  "CQ3Server",
                  "Servers",
                  CQ3Server::kDefaultPort,
                  "Monitor a Quake 3 (OSP) server",
                  {{"rcon", "PASSWORD"}},
                  CreateQ3Server,
                  EmitQ3Server,
                  "A Quake 3 server (CQ3Server) adds icon, password (the join password read through rcon), "
                  "rconPasswordSet (false once the server said it has no rcon password) and matchRunning "
                  "(1 while the OSP score clock runs a match)."},
        KindEntry{"--gtv",
                  "CGTV",
                  "Internet TV",
                  CGTV::kDefaultPort,
                  "Monitor a Quake 3 GTV proxy",
                  {{"rcon", "PASSWORD"}, {"ext", "HOST:PORT"}, {"export", "0|1"}, {"autorecord", "0|1"}},
                  CreateGTV,
                  EmitGTV,
                  "A GTV proxy (CGTV) adds icon, password (its gtv_password), rconPasswordSet (false once a "
                  "wrong rcon password silenced rcon), clients, slots, chainList, expanded, selectedRoom (index "
                  "or null), linkNotBefore, exportToWeb, externalAddress, autoRecord, roomCount and rooms: per "
                  "room hubNumber, roomState, roomNumber, map, description, following (client number, -1 for "
                  "nobody), followedPlayerName (\"-\" for nobody), recordingName, players, playerNumbers, linked "
                  "(address of the object it relays, or null) and serverAddress."},
    };
    return kinds;
}

}  // namespace orv::headless

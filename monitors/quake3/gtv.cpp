#include "monitors/quake3/gtv.h"

#include <ctime>

#include "base/archive.h"
#include "base/strutil.h"
#include "monitors/quake3/q3parse.h"
#include "monitors/quake3/q3server.h"

namespace orv {

namespace {
bool IsEmpty(const CRect& r) {
    return r.Width() <= 0 || r.Height() <= 0;
}
CGTVRoom::Point Centre(const CRect& r) {
    return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}
}  // namespace

CGTV::CGTV(CPlatform& platform) : CCommonObject(platform) {
    icon = kIcon;
    password.clear();
}

void CGTV::Serialize(CArchive& ar) {
    CCommonObject::Serialize(ar);
    ar.UInt32(exportToWeb);
    ar.String(externalHost);
    ar.UInt32(externalPort);
    ar.UInt32(autoRecord);
}

std::string CGTV::ExternalAddressString() const {
    return orv::AddressString(externalHost, static_cast<long>(externalPort));
}

bool CGTV::Matches(const std::string& address) const {
    return AddressString() == address || ExternalAddressString() == address;
}

CCommonObject::Size CGTV::BoxSize() const {
    if (!expanded) return {kWidth, kFoldedHeight};
    return {kWidth, kUnfoldedHeight + kRoomHeight * ShownRoomCount()};
}

int CGTV::ShownRoomCount() const {
    int n = 0;
    for (int i = 0; i < roomCount; ++i)
        if (rooms[static_cast<size_t>(i)].roomState != 2) ++n;
    return n;
}

int CGTV::SelectedRoomIndex() const {
    if (!selectedRoom) return -1;
    return static_cast<int>(selectedRoom - rooms.data());
}

void CGTV::Tick() {
    CheckTimeout();
    switch (pollPhase) {
        case 0:
            SendQuery("getManagerInfo");
            break;
        case 1:
            for (int i = 0; i < roomCount; ++i)
                SendQuery(Format("gethubinfo %d", rooms[static_cast<size_t>(i)].hubNumber));
            break;
        case 2:
            SendRconQuery("gtv_password");
            CheckRecording();
            break;
        case 4:
            CheckRecording();
            break;
        default:
            break;
    }
    pollPhase = (pollPhase + 1) % kPollCycle;
}

void CGTV::SetState(std::int32_t value) {
    // The probe's console answer proves the password, or brings "Bad rconpassword.".
    if (value == kStateMonitor && !rconPassword.empty()) SendRconQuery("gtv_follow");
    state = value;
}

void CGTV::SendRcon(std::string_view command) {
    if (rconPassword.empty()) return;
    SendOutOfBand(Q3RconText(rconPassword, command));
}

std::int64_t CGTV::CycleBytes() const {
    std::int64_t bytes = WireCost("getManagerInfo");
    for (int i = 0; i < roomCount && i < kMaxRooms; ++i)
        bytes += WireCost(Format("gethubinfo %d", rooms[static_cast<size_t>(i)].hubNumber));
    if (!rconPassword.empty()) bytes += WireCost(Q3RconText(rconPassword, "gtv_password"));
    return bytes;
}

void CGTV::OnPacket(std::span<const std::uint8_t> datagram) {
    const std::string text = AnswerText(datagram);
    if (BeginsWith(text, "managerInfoResponse"))
        HandleManagerAnswer(text);
    else if (BeginsWith(text, "hubInfoResponse"))
        HandleHubAnswer(text);
    else if (BeginsWith(text, "print"))
        HandleConsoleAnswer(text);
}

void CGTV::HandleManagerAnswer(const std::string& text) {
    const GtvManagerAnswer a = ParseGtvManagerAnswer(text);
    serverName = a.serverName;
    clients = a.clients;
    clientSlots = a.clientSlots;
    chainList = a.chainList;
    roomCount = a.roomCount;
    for (int i = 0; i < roomCount; ++i) {
        CGTVRoom& room = rooms[static_cast<size_t>(i)];
        const GtvHubEntry& e = a.hubs[static_cast<size_t>(i)];
        room.hubNumber = e.hubNumber;
        room.roomState = e.roomState;
        room.roomNumber = e.roomNumber;
    }
    // A selection left beyond the valid records would drive a hub that is no longer listed.
    if (SelectedRoomIndex() >= roomCount) selectedRoom = nullptr;
    if (state == kStateTimeout) SetState(kStateMonitor);
    MarkAnswered();
}

void CGTV::HandleHubAnswer(const std::string& text) {
    const GtvHubAnswer a = ParseGtvHubAnswer(text);
    for (int i = 0; i < roomCount; ++i) {
        CGTVRoom& room = rooms[static_cast<size_t>(i)];
        if (room.hubNumber != a.hubNumber) continue;
        room.map = a.map;
        room.recordingName = a.recordingName;
        room.description = a.description;
        room.serverAddress = a.serverAddress;
        room.following = a.following;
        room.playerCount = a.playerCount;
        for (int k = 0; k < a.playerCount; ++k) {
            room.playerNumbers[static_cast<size_t>(k)] = a.playerNumbers[static_cast<size_t>(k)];
            room.playerNames[static_cast<size_t>(k)] = a.playerNames[static_cast<size_t>(k)];
        }
        break;
    }
    if (state == kStateTimeout) SetState(kStateMonitor);
    MarkAnswered();
}

void CGTV::HandleConsoleAnswer(const std::string& text) {
    for (const std::string& line : ConsoleLines(text)) {
        AppendConsole(StripColours(line), 0);
        std::string value;
        if (ParseGtvPasswordLine(line, value)) password = value;
        if (BeginsWith(line, kGtvBadRcon)) DisableRcon();  // the proxy would ban the operator's address
    }
    if (state <= kStateRcon && !rconPassword.empty()) SetState(kStateRcon);
    MarkAnswered();
}

bool CGTV::CanRecord() const {
    return selectedRoom && selectedRoom->roomState == 3;
}

std::int32_t CGTV::GetPlayerNameCount() const {
    return selectedRoom ? selectedRoom->playerCount : 0;
}

const std::array<std::string, CCommonObject::kMaxPlayerNames>* CGTV::GetPlayerNames() const {
    return selectedRoom ? &selectedRoom->playerNames : nullptr;
}

void CGTV::OnClick(int x, int y) {
    selectedRoom = nullptr;
    for (int i = 0; i < roomCount; ++i) {
        CGTVRoom& room = rooms[static_cast<size_t>(i)];
        if (room.band.Contains(x, y)) selectedRoom = &room;
    }
    if (expandBox.Contains(x, y)) expanded = expanded ? 0 : 1;
}

void CGTV::PlaceRooms() {
    expandBox = state >= kStateMonitor
                    ? CRect{box.left + kExpandBoxLeft, box.top + kExpandBoxTop,
                            box.left + kExpandBoxLeft + kExpandBoxSize, box.top + kExpandBoxTop + kExpandBoxSize}
                    : CRect{};
    for (CGTVRoom& room : rooms) room.band = CRect{};
    if (!expanded) {
        selectedRoom = nullptr;
        return;
    }
    int shown = 0;
    for (int i = 0; i < roomCount; ++i) {
        CGTVRoom& room = rooms[static_cast<size_t>(i)];
        if (room.roomState == 2) continue;
        const int top = box.top + kFirstBandTop + kRoomHeight * shown;
        room.band = CRect{box.left + kBandInset, top, box.right - kBandInset, top + kRoomHeight};
        room.anchor = {room.band.left, top + kRoomHeight / 2};
        ++shown;
    }
}

std::vector<CGTVLinkLine> CGTV::LinkLines() const {
    std::vector<CGTVLinkLine> lines;
    if (state <= kStateTimeout) return lines;
    for (int i = 0; i < roomCount; ++i) {
        const CGTVRoom& room = rooms[static_cast<size_t>(i)];
        if (room.roomState == 2 || !room.linkedServer) continue;
        if (expanded && IsEmpty(room.band)) continue;
        CGTVLinkLine line;
        line.room = i;
        line.target = room.linkedServer;
        line.from = expanded ? room.anchor : Centre(iconRect);
        line.to = Centre(room.linkedServer->iconRect);
        line.solid = !room.serverAddress.empty() && room.linkedServer->Matches(room.serverAddress);
        lines.push_back(line);
    }
    return lines;
}

void CGTV::Follow(const std::string& playerName) {
    if (!selectedRoom) return;
    const CGTVRoom& room = *selectedRoom;
    for (int j = 0; j < room.playerCount; ++j) {
        if (room.playerNames[static_cast<size_t>(j)] != playerName) continue;
        SendRcon(Format("gtv_follow %d %d", room.playerNumbers[static_cast<size_t>(j)], room.hubNumber));
        // Refresh the room's following at once.
        SendOutOfBand(Format("gethubinfo %d", room.hubNumber));
        return;
    }
}

std::string CGTV::FollowedPlayerName(const CGTVRoom& room) const {
    for (int j = 0; j < room.playerCount && j < kMaxPlayerNames; ++j)
        if (room.playerNumbers[static_cast<size_t>(j)] == room.following)
            return room.playerNames[static_cast<size_t>(j)];
    return "-";
}

std::string CGTV::RecordingName(const CGTVRoom& room) const {
    std::string players;
    for (int j = 0; j < room.playerCount && j < kMaxPlayerNames; ++j) {
        const std::string& name = room.playerNames[static_cast<size_t>(j)];
        if (BeginsWith(name, "GTV")) continue;  // proxies connected as spectators
        if (room.playerNumbers[static_cast<size_t>(j)] == room.following)
            players += "_(" + name + ")";
        else
            players += "_" + name;
    }
    const std::tm local = Platform().clock.LocalTime(Now());
    char stamp[64] = {};
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d_%Hh%M", &local);
    return CleanFileName(std::string(stamp) + "_" + room.map + players);
}

void CGTV::CheckRecording() {
    if (!autoRecord) return;
    for (int i = 0; i < roomCount; ++i) {
        const CGTVRoom& room = rooms[static_cast<size_t>(i)];
        if (room.roomState == 2) continue;
        const auto* server = dynamic_cast<const CQ3Server*>(room.linkedServer);
        if (!server) continue;
        // Automatic commands, at most one of each per room waiting: start, or stop.
        const auto purpose = [i](std::uint32_t stop) { return static_cast<std::uint32_t>(i) * 2 + stop; };
        CAutomaticTries& tries = m_recordTries[static_cast<size_t>(i)];
        if (server->matchRunning != 0 && room.recordingName.empty()) {
            if (TryAutomatic(tries, "start recording"))
                SendRconAutomatic(Format("gtv_record %s %d", RecordingName(room).c_str(), room.hubNumber), purpose(0));
            continue;
        }
        if (server->matchRunning != 0 && tries.count > 0) ResetAutomaticNotice();  // it started recording
        tries.Reset();
        if (server->matchRunning == 0 && !room.recordingName.empty())
            SendRconAutomatic(Format("gtv_stoprecord %d", room.hubNumber), purpose(1));
    }
}

void CGTV::SendPassword(const std::string& targetPassword) {
    if (!targetPassword.empty()) SendRcon("password " + targetPassword);
}

void CGTV::OnDrop(CCommonObject* target) {
    if (!target) return;
    if (const auto* gtv = dynamic_cast<const CGTV*>(target)) {
        SendPassword(gtv->password);
        // Without a known zone on either side, the two count as different zones.
        const bool sameZone = group && gtv->group && group->zone && group->zone == gtv->group->zone;
        const std::string address = sameZone ? gtv->AddressString() : gtv->ExternalAddressString();
        SendRcon("gtv_connect " + address + " " + gtv->password);
        return;
    }
    SendRcon("gtv_connect " + target->AddressString());
}

void CGTV::OnObjectDeleted(CCommonObject* deleted) {
    // Every record, valid or not: a stale one may become valid again with a later manager answer.
    for (CGTVRoom& room : rooms)
        if (room.linkedServer == deleted) room.linkedServer = nullptr;
}

void CGTV::ResolveLinks(const CObjectList& objects) {
    if (!(linkNotBefore < Now())) return;
    for (int i = 0; i < roomCount; ++i) {
        CGTVRoom& room = rooms[static_cast<size_t>(i)];
        if (room.serverAddress.empty() || room.linkedServer) continue;
        for (const auto& o : objects) {
            if (o->Matches(room.serverAddress)) {
                room.linkedServer = o.get();
                break;
            }
        }
    }
}

void CGTV::SendCloseRoom(const CGTVRoom& room) {
    SendRcon(Format("gtv_disconnect %d", room.hubNumber));
}

void CGTV::SendDescription(const CGTVRoom& room, const std::string& text) {
    if (!SafeInCommand(text)) return AppendConsole(kDescriptionRefusedLine, 0);
    SendRcon(Format("gtv_description %d \"%s\"", room.hubNumber, text.c_str()));
}

void CGTV::SendStartRecord(const CGTVRoom& room, const std::string& fileName) {
    if (!SafeInCommand(fileName)) return AppendConsole(kRecordRefusedLine, 0);
    SendRcon(Format("gtv_record %s %d", fileName.c_str(), room.hubNumber));
}

void CGTV::SendStopRecord(const CGTVRoom& room) {
    SendRcon(Format("gtv_stoprecord %d", room.hubNumber));
}

}  // namespace orv

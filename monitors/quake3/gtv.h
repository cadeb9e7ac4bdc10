// A Quake 3 GTV spectator proxy: a manager of hubs ("rooms"), each relaying one game. Polled with
// "getManagerInfo" and one "gethubinfo %d" per room; the proxy's gtv_password is read through rcon, and
// a rejected rcon password silences rcon for good. The rooms fold and unfold in the layout box, are
// selected by a click, follow players, record demos (by hand, or by the linked Quake 3 server's match)
// and are linked by the document to the game servers they relay.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/commonobject.h"

namespace orv {

// One hub of the proxy. The table of 32 records lives as long as the proxy and is rewritten in place.
class CGTVRoom {
public:
    struct Point {
        std::int32_t x = 0, y = 0;
        bool operator==(const Point&) const = default;
    };

    ~CGTVRoom() = default;

    std::string map;              // "mapName" without "maps/" and ".bsp"
    std::string recordingName;    // "recording"; empty while the hub does not record
    Point anchor;                 // where link lines start while the list is unfolded
    std::int32_t following = -1;  // client number of the followed player; -1: nobody
    std::string description;      // "desc"
    std::string serverAddress;    // "parent": the game the hub relays, as the proxy reports it
    std::int32_t hubNumber = 0;
    std::int32_t roomState = 0;  // 2: hidden, not counted, not recorded; 3: may record; 4 and 5: marked
    std::int32_t roomNumber = 0;
    std::array<std::string, CCommonObject::kMaxPlayerNames> playerNames;  // colour codes removed
    std::array<std::int32_t, CCommonObject::kMaxPlayerNames> playerNumbers{};
    std::int32_t playerCount = 0;
    CRect band;                             // where the room is drawn; empty while not shown
    CCommonObject* linkedServer = nullptr;  // the object this room relays (not owned)
};

// One link line from a room to the object it relays, for the layout view to draw.
struct CGTVLinkLine {
    int room = 0;  // index into the room table
    const CCommonObject* target = nullptr;
    // Solid 4-pixel line when the room reports an address that the target matches; dash-dot 1-pixel otherwise.
    bool solid = false;
    CGTVRoom::Point from, to;
};

class CGTV : public CCommonObject {
public:
    static constexpr const char* kClassName = "CGTV";
    static constexpr std::uint16_t kSchema = 11;
    static constexpr std::uint32_t kIcon = 161;
    static constexpr std::uint32_t kDefaultPort = 27970;
    static constexpr int kMaxRooms = 32;
    static constexpr int kPollCycle = 5;
    static constexpr Time kLinkHoldOff = 10;  // seconds the document's linking waits after Close Room

    // Box geometry (layout pixels, relative to the box's top-left corner).
    static constexpr int kWidth = 120;
    static constexpr int kFoldedHeight = 78;
    static constexpr int kUnfoldedHeight = 83;
    static constexpr int kRoomHeight = 40;
    static constexpr int kExpandBoxLeft = 10, kExpandBoxTop = 33, kExpandBoxSize = 15;
    static constexpr int kFirstBandTop = 53, kBandInset = 3;

    explicit CGTV(CPlatform& platform);

    const char* ClassName() const override { return kClassName; }
    std::uint16_t Schema() const override { return kSchema; }
    // The shared fields, then export to web, external host, external port, auto record; loading
    // creates the socket again.
    void Serialize(CArchive& ar) override;
    // The address string or the external address string, exactly.
    bool Matches(const std::string& address) const override;
    // Makes the proxy connect to the target: another GTV (with its password; the external address
    // when the two belong to different zones) or a game server.
    void OnDrop(CCommonObject* target) override;
    // 120 x 78 folded; 120 x (83 + 40 per room whose room state is not 2) unfolded.
    Size BoxSize() const override;
    // "managerInfoResponse", "hubInfoResponse" or "print"; anything else is ignored.
    void OnPacket(std::span<const std::uint8_t> datagram) override;
    // Phases: 0 "getManagerInfo", 1 "gethubinfo %d" per room, 2 rcon "gtv_password" and check
    // recording, 4 check recording. Five phases.
    void Tick() override;
    // getManagerInfo, one gethubinfo per room and, with an rcon password, gtv_password; five ticks.
    std::int64_t CycleBytes() const override;
    int CycleTicks() const override { return kPollCycle; }
    // Entering state 2 with an rcon password first sends the rcon probe "gtv_follow".
    void SetState(std::int32_t value) override;
    bool RconAccepted() const override { return state >= kStateRcon; }
    // A room is selected and its room state is 3.
    bool CanRecord() const override;
    // The selected room's players (none without a selected room).
    std::int32_t GetPlayerNameCount() const override;
    const std::array<std::string, kMaxPlayerNames>* GetPlayerNames() const override;
    void SendRcon(std::string_view command) override;
    // Selects the room whose band holds the point (none when no band does); the expand box folds
    // and unfolds the list.
    void OnClick(int x, int y) override;
    // The selected room follows the named player: rcon "gtv_follow <client> <hub>", then "gethubinfo <hub>".
    void Follow(const std::string& playerName) override;
    // Rooms relaying the deleted object lose their link.
    void OnObjectDeleted(CCommonObject* deleted) override;
    bool IsGTV() const override { return true; }
    // Links every room that reports an address and has no link yet to the first matching object,
    // unless link not before is still ahead.
    void ResolveLinks(const CObjectList& objects) override;

    // "%s:%d" of external host and external port.
    virtual std::string ExternalAddressString() const;
    // Auto record: starts recording the rooms whose linked Quake 3 server plays a match, stops the others.
    // A room that does not start recording is asked a few times per match, and the operator is told once.
    virtual void CheckRecording();

    // The proposed demo name: "%Y-%m-%d_%Hh%M" local time, "_", map, then "_name" per player (the
    // followed one as "_(name)"; names beginning with "GTV" skipped), cleaned for a file name.
    std::string RecordingName(const CGTVRoom& room) const;
    // The name of the player the room follows; "-" when it follows nobody among its players.
    std::string FollowedPlayerName(const CGTVRoom& room) const;
    // rcon "password <password>" when the password is not empty.
    void SendPassword(const std::string& targetPassword);

    // Room commands (the document's and the control panel's), each one rcon command for the room's hub.
    void SendCloseRoom(const CGTVRoom& room);                                 // gtv_disconnect %d
    // Texts the operator types are refused, with a console line saying why, when they cannot be pasted
    // into a command (SafeInCommand).
    void SendDescription(const CGTVRoom& room, const std::string& text);      // gtv_description %d "%s"
    void SendStartRecord(const CGTVRoom& room, const std::string& fileName);  // gtv_record %s %d
    static constexpr const char* kDescriptionRefusedLine =
        "Description not sent: it holds a quote, a semicolon or a line break";
    static constexpr const char* kRecordRefusedLine =
        "Record not sent: the file name holds a quote, a semicolon or a line break";
    void SendStopRecord(const CGTVRoom& room);                                // gtv_stoprecord %d

    // What drawing writes: the expand box (empty below state 2), each shown room's band and anchor
    // (empty bands for hidden rooms and for all rooms while folded), from the box's position. While
    // folded, the selected room is cleared. The layout view calls it before drawing the box.
    void PlaceRooms();
    // The link lines to draw (none in state 1).
    std::vector<CGTVLinkLine> LinkLines() const;
    // Rooms 0..room count-1 whose room state is not 2.
    int ShownRoomCount() const;
    // Index of the selected room in the table, -1 without one.
    int SelectedRoomIndex() const;

    // Fields, in declaration order.
    CRect expandBox;
    std::int32_t expanded = 0;
    CGTVRoom* selectedRoom = nullptr;  // points into rooms
    std::int32_t roomCount = 0;        // valid records: 0..room count-1
    std::array<CGTVRoom, kMaxRooms> rooms;
    std::int32_t clientSlots = 0;
    std::int32_t clients = 0;
    std::uint32_t externalPort = 0;
    std::string externalHost;
    std::uint32_t exportToWeb = 0;
    std::uint32_t autoRecord = 1;
    std::string chainList;   // the proxy's "chains" value
    Time linkNotBefore = 0;  // the document links rooms only when this is earlier than now

private:
    std::array<CAutomaticTries, kMaxRooms> m_recordTries;  // automatic record of each room, per match

    void HandleManagerAnswer(const std::string& text);
    void HandleHubAnswer(const std::string& text);
    void HandleConsoleAnswer(const std::string& text);
};

}  // namespace orv

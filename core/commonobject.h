// The base of every monitored object: its address, passwords, group, state, player table, console log
// and its own UDP socket. Subclasses implement the queries, the parsing and the state changes.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/consolelog.h"
#include "base/platform.h"
#include "core/zone.h"
#include "net/outputcontrol.h"
#include "net/udpsocket.h"

namespace orv {

class CArchive;
class CCommonObject;
class CNameLookup;
class CSoundHolder;

// The object's socket: receives on the main thread and hands prefixed datagrams to the owner.
class CObjectSocket : public CUdpSocket {
public:
    static constexpr size_t kMaxDatagram = 2048;

    CObjectSocket(CCommonObject& owner, ISocketWatcher& watcher) : m_owner(owner), m_watcher(watcher) {}
    ~CObjectSocket();
    void StartWatching();
    // Reads every waiting datagram (called when the socket is readable).
    void OnReadable();

private:
    CCommonObject& m_owner;
    ISocketWatcher& m_watcher;
    bool m_watching = false;
    std::array<std::uint8_t, kMaxDatagram + 1> m_buffer{};
};

// The tries of an automatic command that should change what its peer reports (a proxy asked to record):
// after kLimit tries without the change the program stops asking until the tries are reset.
struct CAutomaticTries {
    static constexpr int kLimit = 5;
    int count = 0;
    void Reset() { count = 0; }
};

// The document's owning list of monitored objects, in layout order.
using CObjectList = COwningList<CCommonObject>;

class CCommonObject {
public:
    static constexpr int kMaxPlayerNames = 32;
    static constexpr std::uint16_t kSchema = 100;
    static constexpr Time kTimeout = 10;  // more than this many seconds without an answer: state 1

    // Object states.
    static constexpr std::int32_t kStateTimeout = 1;
    static constexpr std::int32_t kStateMonitor = 2;
    static constexpr std::int32_t kStateRcon = 3;

    // Console lines of the bad-password protection.
    static constexpr const char* kBadRconLine1 =
        "Orvane : Bad rcon_password detected. Internal rcon has been disabled to prevent being banned.";
    static constexpr const char* kBadRconLine2 = "Orvane : Please re-enter the good rcon_password";
    // Console lines of a command that could not leave.
    static constexpr const char* kNotSentLookupLine = "Orvane : Command not sent: %s is still being looked up";
    static constexpr const char* kNotSentConnectLine = "Orvane : Command not sent: Connect failed for %s:%d";
    static constexpr const char* kNotSentSocketLine = "Orvane : Command not sent: the object has no socket";
    // Told once when sockets cannot be made (descriptors exhausted), until one can be made again.
    static constexpr const char* kCreateFailedMessage = "Create failed";

    explicit CCommonObject(CPlatform& platform);
    virtual ~CCommonObject();
    CCommonObject(const CCommonObject&) = delete;
    CCommonObject& operator=(const CCommonObject&) = delete;

    // The class record of the layout file.
    virtual const char* ClassName() const = 0;
    virtual std::uint16_t Schema() const = 0;
    // The shared fields: host, port, group id, rcon password, password. Loading makes no socket: whoever
    // loads calls CreateSocket once the whole layout has been read and found sound.
    virtual void Serialize(CArchive& ar);

    // True when the address string equals the argument exactly.
    virtual bool Matches(const std::string& address) const;
    // The operator dropped this object onto target.
    virtual void OnDrop(CCommonObject* target);
    virtual bool RconAccepted() const { return false; }
    struct Size {
        int width, height;
    };
    virtual Size BoxSize() const { return {120, 78}; }
    // A datagram that began with FF FF FF FF, prefix included. Parsers read nothing beyond it.
    virtual void OnPacket(std::span<const std::uint8_t> datagram) {}
    // Once a second: time-out, the query of the poll phase, next phase.
    virtual void Tick() {}
    virtual void SetState(std::int32_t value) { state = value; }
    virtual bool CanRecord() const { return false; }
    virtual bool IsGameServer() const { return false; }
    virtual bool IsGTV() const { return false; }
    virtual std::int32_t GetPlayerNameCount() const { return playerNameCount; }
    // The player table (GetPlayerNameCount entries are valid); nullptr when there is none.
    virtual const std::array<std::string, kMaxPlayerNames>* GetPlayerNames() const { return &playerNames; }
    virtual void SendRcon(std::string_view command) {}
    virtual void OnClick(int x, int y) {}
    virtual void Kick(const std::string& playerName) {}
    virtual void Follow(const std::string& playerName) {}
    // Another object (maybe this one) is about to be deleted: forget links to it.
    virtual void OnObjectDeleted(CCommonObject* deleted) {}
    // Every sixth tick: a proxy links itself to the object it relays, walking the list from its head.
    virtual void ResolveLinks(const CObjectList& objects) {}

    // "%s:%d" of resolved address and port.
    std::string AddressString() const;
    // Last answer time := now; what was sent up to here counts as answered, and the round trip of the
    // query that drew this answer is measured.
    void MarkAnswered();
    // The round trip is known only while the object answers (never in state 1).
    bool HasRoundTrip() const { return state != kStateTimeout && rttMicros >= 0; }
    // (Re)creates the socket, connects it and reads the peer's address back into resolved address. A
    // dotted address connects at once; a host name is looked up in the background and the socket
    // connects when the answer arrives on the main thread (until then the object sends nothing and
    // stays in state 1). A name that does not resolve, or whose lookup cannot start, gives "Connect
    // failed for %s:%d". Nothing the socket receives is read before it is connected, nor from anyone
    // but the connected address (those are strays). A socket that cannot be made is told once
    // (kCreateFailedMessage) for any number of objects in a row.
    void CreateSocket();
    // A host name whose lookup has not ended yet.
    bool LookupPending() const { return m_lookup != nullptr; }
    // Frames FF FF FF FF + text + 00 and hands it to the output queue.
    void SendOutOfBand(std::string_view text, CPacketKind kind = CPacketKind::Action, std::uint32_t purpose = 0) {
        SendOutOfBandParts({&text, 1}, kind, purpose);
    }
    // The same with a text given in pieces, joined in the frame itself.
    void SendOutOfBandParts(std::span<const std::string_view> text, CPacketKind kind = CPacketKind::Action,
                            std::uint32_t purpose = 0);
    // Hands a whole datagram (prefix included) to the output queue; nothing leaves while the socket is not
    // connected (address being looked up, connect failed, no socket): an action then leaves a console line
    // saying why it was not sent, a poll is dropped silently.
    void QueueDatagram(std::string_view bytes, CPacketKind kind, std::uint32_t purpose = 0);
    // A query of the monitoring cycle: merged with an identical one still waiting, dropped when stale.
    void SendQuery(std::string_view text) { SendOutOfBand(text, CPacketKind::Poll); }
    // An rcon command that the cycle sends as a query (status, passwords read back and the like).
    void SendRconQuery(std::string_view command);
    // An rcon command the program sends on its own (automatic record and stop): at most one of each
    // purpose waits in the queue, and it is dropped when stale.
    void SendRconAutomatic(std::string_view command, std::uint32_t purpose);
    // Counts one more try of an automatic command; false once the tries are spent. The first refusal tells
    // the operator (a console line and a message); it is told again only after ResetAutomaticNotice.
    bool TryAutomatic(CAutomaticTries& tries, const std::string& what);
    void ResetAutomaticNotice() { m_automaticTold = false; }
    // State 1 when more than ten seconds passed without an answer while one of the object's datagrams
    // had left: the time a query spends waiting in the output queue is not the server's silence.
    void CheckTimeout();
    // What one cycle of this object's queries takes on the wire, 30 bytes of overhead per datagram, and
    // the ticks of its cycle. The document sums them into the rate its layout needs.
    virtual std::int64_t CycleBytes() const { return 0; }
    virtual int CycleTicks() const { return 6; }
    // The wire cost of one out-of-band datagram of this text.
    static std::int64_t WireCost(std::string_view text) {
        return static_cast<std::int64_t>(text.size()) + 5 + COutputSocketControl::kOverhead;
    }

    CPlatform& Platform() const { return m_platform; }
    Time Now() const { return m_platform.clock.Now(); }
    CObjectSocket* Socket() const { return m_socket.get(); }
    void AppendConsole(std::string_view line, std::int32_t kind = 0) { consoleLog.Append(kind, line, Now()); }

    // The two large members come first, so that what every tick reads lies together in a few cache lines
    // at the end of the object, next to the fields of the derived kind.
    CConsoleLog consoleLog;
    std::array<std::string, kMaxPlayerNames> playerNames;
    CRect iconRect{0, 0, 48, 48};
    std::uint32_t groupId = 0;
    CGroup* group = nullptr;
    std::uint32_t port = 0;
    std::string host;
    CRect box{0, 0, 48, 48};
    std::string password;
    std::string serverName;
    std::int32_t maxPlayers = 0;
    std::uint32_t strayDatagrams = 0;
    Time viewStamp = 0;
    CSoundHolder* sound = nullptr;
    std::uint32_t icon = 130;
    std::string resolvedAddress;
    // Round trip from the moment the query left the output queue (its send on the wire, not its queuing)
    // to the answer it drew: the latest and an exponentially weighted mean (1/8 of each new sample);
    // -1 until measured and again after a time-out.
    std::int64_t rttMicros = -1;
    std::int64_t rttSmoothedMicros = -1;
    // Since the object was made: answers handled, and entries into state 1 after answering.
    std::uint64_t answersReceived = 0;
    std::uint64_t timeoutsEntered = 0;
    std::string rconPassword;

private:
    std::shared_ptr<CNameLookup> m_lookup;  // the host name being looked up
    bool m_automaticTold = false;           // the operator was told that automatic commands gave up

public:
    // Read by every tick, with the private fields at the end and the first ones of the derived kind: two
    // cache lines per object.
    alignas(64) COutputSocketControl* output = nullptr;
    Time lastAnswerTime = 0;
    std::int32_t state = kStateTimeout;
    std::int32_t pollPhase;
    std::int32_t playerNameCount = 0;

protected:
    // True while SendRconQuery or an automatic command runs: the command is one the program sends on its own.
    bool InQueryScope() const { return m_sendScope.has_value(); }
    void PlaySound(const std::string& fileName);
    // The server refused the rcon password: never repeating it keeps the operator's address from being
    // banned. The two console lines, the password cleared, state 2, the bad-rcon sound.
    void DisableRcon();
    void MatchStateChange(std::int32_t& stored, std::int32_t newState);

private:
    void DestroySocket();
    void ConnectTo(const std::string& address);
    void OnLookupDone();
    void SampleRoundTrip();
    void ForgetRoundTrip() { rttMicros = rttSmoothedMicros = -1; }

    // Read by every tick.
    CPlatform& m_platform;
    std::unique_ptr<CObjectSocket> m_socket;
    // While SendRconQuery or SendRconAutomatic runs: the kind (and purpose) its datagrams are queued as.
    std::optional<std::pair<CPacketKind, std::uint32_t>> m_sendScope;
    bool m_awaiting = false;        // something left since the last answer
    std::uint64_t m_sendsSeen = 0;  // the socket's send count when last looked at
    Time m_awaitingSince = 0;
    Time m_lastCheck = 0;
};

// The answer type byte of a Half-Life datagram (0 when the datagram ends before it).
inline std::uint8_t AnswerType(std::span<const std::uint8_t> datagram) {
    return datagram.size() > 4 ? datagram[4] : 0;
}

}  // namespace orv

// The one document: owns the layout (zones, groups, monitored objects), the modules and the UDP output
// queue, runs the one-second monitoring tick and carries out the operator's commands.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/commonobject.h"
#include "core/module.h"
#include "base/platform.h"
#include "core/zone.h"
#include "ftp/ftpengine.h"
#include "modules/modulehost.h"
#include "modules/netdetect.h"
#include "modules/vuzuved.h"
#include "net/outputcontrol.h"

namespace orv {

// Update hints sent to the views.
enum : int {
    kHintRedraw = 0,        // plain redraw
    kHintRefresh = 13,      // periodic refresh and selection change
    kHintLayoutChanged = 54 // erase and lay out again
};

// The kinds of monitored object, with the port an add dialog offers first.
enum class CObjectKind { HLServer, HLTV, Q3Server, GTV };
std::uint32_t DefaultPort(CObjectKind kind);

// What the add dialogs and the properties dialogs give the document for one object.
struct CObjectValues {
    std::string host;
    std::uint32_t port = 0;
    CGroup* group = nullptr;
    std::string rconPassword;
    // The proxies' own values.
    std::string proxyPassword;
    std::string externalHost;
    std::int32_t externalPort = 0;
    std::int32_t exportToWeb = 1;
    std::int32_t autoRecord = 0;
};

// A range of addresses that differ only in their last byte, as the range dialog checks it.
struct CAddressRange {
    bool valid = false;
    std::string prefix;  // "%d.%d.%d."
    int firstOctet = 0;
    int endOctet = 0;
    std::uint32_t firstPort = 0;
    std::uint32_t lastPort = 0;
};
// Checks a range and reports each problem through the prompter: one message for the addresses, one for
// the ports, both when both are wrong.
CAddressRange CheckAddressRange(IPrompter& prompter, const std::string& from, const std::string& to,
                                std::uint32_t firstPort, std::uint32_t lastPort);

class IDocumentView {
public:
    virtual ~IDocumentView() = default;
    virtual void OnUpdate(int hint) = 0;
    // Objects, groups or zones are about to be deleted (New, Open, a delete command): drop every pointer
    // into the layout now, before they go.
    virtual void OnLayoutDeleting() {}
    // The modified flag has just changed.
    virtual void OnModifiedChanged(bool /*modified*/) {}
};

class COrvaneDoc : public IModuleHost {
public:
    explicit COrvaneDoc(CPlatform& platform);
    ~COrvaneDoc();
    COrvaneDoc(const COrvaneDoc&) = delete;
    COrvaneDoc& operator=(const COrvaneDoc&) = delete;

    // The new-document handling: the default layout, module resets. A new layout counts as modified.
    void New();

    // One second of monitoring: modules, every object in list order, links on every sixth tick, hint 13.
    // A tick requested while one is running (from a message box opened inside it) is skipped.
    void Tick();

    // Layout operations.
    CZone* AddZone(const std::string& name, std::int32_t level);
    CGroup* AddGroup(const std::string& name, CZone* zone, std::int32_t level);
    // The first object whose address string equals "%s:%d" of host and port.
    CCommonObject* FindObject(const std::string& host, std::uint32_t port) const override;
    // Appends an object made by the caller: sets its group, output and sound, creates its socket.
    // Refused (nullptr, with the duplicate message) when find object already knows host and port.
    CCommonObject* AddObject(std::unique_ptr<CCommonObject> object, CGroup* group);

    // Creates an object of the kind with the values, unless find object already knows host and port
    // (then the duplicate message). Sets last address to the host entered.
    CCommonObject* AddObjectOfKind(CObjectKind kind, const CObjectValues& values);
    // A range of more objects than this asks first ("Add N objects?"); one of more than the cap is refused.
    static constexpr std::uint64_t kRangeAsk = 256;
    static constexpr std::uint64_t kRangeCap = 4096;
    // Adds every address of the range and, within each, every port; duplicates are reported and skipped.
    // The views lay out and repaint once, after the last object.
    void RangeAdd(CObjectKind kind, const CAddressRange& range, const CObjectValues& values);

    // Commands on the selected zone or group.
    // False (with the message) when there is no zone to put a group in.
    bool CanAddGroup();
    void DeleteSelectedZone();
    void IncreaseLayer();
    void DecreaseLayer();
    void MoveZoneUp();
    void MoveZoneDown();
    void RenameSelectedZone();  // asks "Enter new name"
    void GlobalRcon();          // asks for the command, then confirms

    // Commands on the selected object.
    void DeleteSelectedObject();
    void MoveObjectUp();
    void MoveObjectDown();
    // The properties dialog's result: rcon password and group (host and port never change), and for
    // proxies their own values.
    void ApplyObjectProperties(const CObjectValues& values);
    void AskObjectPassword();  // "Enter this object's password"
    // The HLTV proxy's commands; each acts on the selected object only when it is a CHLTV.
    void HLTVRconPassword();   // "Try another rcon password:", then a fresh challenge
    void HLTVSpecPassword();   // rcon spectatorpassword "<text>"
    void HLTVProxyPassword();  // stores the proxy password; in state 3 offers to set it remotely
    void HLTVDisconnect();     // rcon disconnect; no automatic link for 10 s

    // The GTV proxy's commands; each acts on the selected object only when it is a CGTV.
    void GTVCloseRoom();       // rcon gtv_disconnect for the selected room; its link goes
    void GTVDescription();     // "Enter new description for room #%d", then rcon gtv_description
    void GTVRconPassword();    // "Try another rcon password:"

    // Modules and preferences.
    void SetAdminBotEnabled(bool enabled);
    // The Preferences dialog's result; without a figure the limit stays exactly as it is.
    void SetPreferences(bool soundEnabled, std::optional<std::int32_t> limitKbps);
    // The "VuzuVed Config" dialog's result; the upload cycle goes on where it was.
    struct CVuzuVedSettings {
        bool enabled = false;
        std::string server, login, password, remoteFilename;
        std::int32_t interval = 30;
    };
    void SetVuzuVedSettings(const CVuzuVedSettings& settings);
    // The "GTV network Autodetection" dialog's result: the zone is kept only while the module is enabled,
    // and the module stays off without a zone.
    void SetNetworkDetectSettings(bool enabled, CZone* zone, bool exportToWeb);
    // The Preferences dialog's "kbps" figure: the limit in bits per second divided by 1024.
    std::int32_t LimitKbps() const { return output.GetLimit() / 1024; }
    // What the layout's polling needs: bytes per second (30 of overhead per datagram) from each object's
    // cycle, and the same as a limit in bits per second (at least that much is needed to keep up).
    std::int64_t NeededBytesPerSecond() const;
    std::int64_t NeededRate() const { return NeededBytesPerSecond() * 8; }
    // One line for the operator while the limit is below the needed rate (NeededRate(), which the caller
    // usually shows too), with the limit to set; empty otherwise.
    std::string OutputRateWarning(std::int64_t needed) const;

    // Layout files. Open replaces the layout only when the whole file is read ("Unexpected file format."
    // otherwise) and clears the selection; Save writes a temporary file and renames it over the old one.
    bool Open(const std::string& path);
    bool Save(const std::string& path);
    std::string SaveToBytes();
    bool LoadFromBytes(std::span<const std::uint8_t> bytes, std::string* reason = nullptr);
    // What a layout file may hold. The whole file is read and checked before any object makes its socket
    // or starts a name lookup; one beyond these bounds is refused like a malformed one. The limit's range
    // is the Preferences dialog's (2 to 100000 kbps), widened down to one byte a window (80 bits per
    // second): a limit of 0 or below could never send anything.
    static constexpr size_t kMaxLayoutBytes = 64u << 20;
    static constexpr std::uint32_t kMaxLayoutObjects = 65536;
    static constexpr std::int32_t kMinLayoutLimit = 80;
    static constexpr std::int32_t kMaxLayoutLimit = 100000 * 1024;
    // The schema of a class of the layout file, -1 for a class the program does not know.
    static int SchemaOfClass(const std::string& className);
    std::unique_ptr<CCommonObject> CreateObjectOfClass(const std::string& className);

    // Views.
    void AddView(IDocumentView* view);
    void RemoveView(IDocumentView* view);
    void UpdateAllViews(int hint) override;
    void SetModifiedFlag(bool modified = true);
    bool IsModified() const { return m_modified; }

    CPlatform& Platform() const { return m_platform; }

    // What the modules see of the document.
    const CObjectList& ObjectList() const override { return objects; }
    const CGroupObList& GroupList() const override { return groups; }
    const CZoneObList& ZoneList() const override { return zones; }
    // Adds the proxy through the add operation of its kind; last address stays as the operator left it.
    CCommonObject* AddDetectedGTV(const CDetectedGTV& values) override;
    CGroup* AppendGroup(std::unique_ptr<CGroup> group) override { return groups.Append(std::move(group)); }
    bool AdminBotEnabled() const override { return adminBot.enabled != 0; }
    CFtpEngine& FtpEngine() override { return ftp; }
    IPrompter& Prompter() override { return m_platform.prompter; }
    IClock& Clock() override { return m_platform.clock; }

    // The zone the network detection module adds proxies to cannot be deleted.
    bool IsNetworkDetectionZone(const CZone* zone) const { return zone && networkDetect.targetZone == zone; }

    // Members, in declaration order.
    CModuleNetworkDetect networkDetect;
    CModuleAdminBot adminBot;
    CFtpEngine ftp;
    CModuleVuzuVed vuzuVed;
    CCommonObject* selectedObject = nullptr;
    CZone* selectedZone = nullptr;  // a zone or a group
    std::int32_t cycleCounter = 0;
    std::string lastAddress;
    CObjectList objects;
    CGroupObList groups;
    CZoneObList zones;
    COutputSocketControl output;
    CSoundHolder sound;

private:
    void DeleteContents();
    // Tells the views that layout items are about to be deleted.
    void LayoutDeleting();
    // After loading: levels into 1..5, groups without a zone into the first zone.
    void ClampLoadedLevels();
    std::unique_ptr<CCommonObject> CreateObject(CObjectKind kind);
    void ApplyKindValues(CCommonObject& object, const CObjectValues& values, bool adding);
    // A new rcon password was entered: a Half-Life server (or proxy) forgets its challenge and, when it is
    // answering, returns to state 2, which asks for a fresh one at once.
    void RestartRconHandshake(CCommonObject& object);
    void MoveObject(int direction);
    template <class Op>
    void LayerCommand(Op op);

    CPlatform& m_platform;
    std::vector<IDocumentView*> m_views;
    bool m_modified = false;
    bool m_inTick = false;
    bool m_holdLayoutUpdates = false;  // a range add lays out once, at its end
};

}  // namespace orv

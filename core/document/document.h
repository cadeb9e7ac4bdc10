// The one document: owns the layout (zones, groups, monitored objects), the modules and the UDP output
// queue, runs the one-second monitoring tick and carries out the operator's commands.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/commonobject.h"
#include "core/module.h"
#include "core/platform.h"
#include "core/zone.h"
#include "net/outputcontrol.h"

namespace orv {

// Update hints sent to the views.
enum : int {
    kHintRedraw = 0,        // plain redraw
    kHintRefresh = 13,      // periodic refresh and selection change
    kHintLayoutChanged = 54 // erase and lay out again
};

class IDocumentView {
public:
    virtual ~IDocumentView() = default;
    virtual void OnUpdate(int hint) = 0;
};

class COrvaneDoc {
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
    CCommonObject* FindObject(const std::string& host, std::uint32_t port) const;
    // Appends an object made by the caller: sets its group, output and sound, creates its socket.
    // Refused (nullptr, with the duplicate message) when find object already knows host and port.
    CCommonObject* AddObject(std::unique_ptr<CCommonObject> object, CGroup* group);

    // Views.
    void AddView(IDocumentView* view);
    void RemoveView(IDocumentView* view);
    void UpdateAllViews(int hint);
    void SetModifiedFlag(bool modified = true) { m_modified = modified; }
    bool IsModified() const { return m_modified; }

    CPlatform& Platform() const { return m_platform; }

    // Members, in declaration order.
    CModuleAdminBot adminBot;
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

    CPlatform& m_platform;
    std::vector<IDocumentView*> m_views;
    bool m_modified = false;
    bool m_inTick = false;
};

}  // namespace orv

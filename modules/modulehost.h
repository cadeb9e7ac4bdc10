// What the document modules see of the document that ticks them: the layout, the operations they grow
// it with, the views, the AdminBot switch, the FTP engine, the prompter and the clock. The document
// implements it; the modules never include the document itself.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/commonobject.h"
#include "base/platform.h"
#include "core/zone.h"

namespace orv {

class CFtpEngine;

// A GTV proxy that the network detection adds to the layout.
struct CDetectedGTV {
    std::string host;
    std::uint32_t port = 0;
    CGroup* group = nullptr;
    std::string rconPassword;
    std::string externalHost;
    std::int32_t externalPort = 0;
    std::int32_t exportToWeb = 0;
    std::int32_t autoRecord = 0;
};

class IModuleHost {
public:
    virtual ~IModuleHost() = default;

    // Every monitored object, in layout order.
    virtual const CObjectList& ObjectList() const = 0;
    // Every group (with the highest group level) and every zone.
    virtual const CGroupObList& GroupList() const = 0;
    virtual const CZoneObList& ZoneList() const = 0;
    // The first object whose address string equals "%s:%d" of host and port.
    virtual CCommonObject* FindObject(const std::string& host, std::uint32_t port) const = 0;
    // The document's add operation for a GTV proxy; nullptr when it refused (a duplicate).
    virtual CCommonObject* AddDetectedGTV(const CDetectedGTV& values) = 0;
    // Appends a group to the group list as it is (no message, no view update).
    virtual CGroup* AppendGroup(std::unique_ptr<CGroup> group) = 0;
    // Every view updates with the hint (no sender).
    virtual void UpdateAllViews(int hint) = 0;
    // The "Enable Adminbot module" setting.
    virtual bool AdminBotEnabled() const = 0;
    virtual CFtpEngine& FtpEngine() = 0;
    virtual IPrompter& Prompter() = 0;
    virtual IClock& Clock() = 0;
};

}  // namespace orv

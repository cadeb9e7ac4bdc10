// The document knows every kind of monitored object: it creates them by kind and by class name, and
// gives each the values of the add and properties dialogs.
#include "document/document.h"
#include "monitors/halflife/hlserver.h"
#include "monitors/halflife/hltv.h"
#include "monitors/quake3/gtv.h"
#include "monitors/quake3/q3server.h"

namespace orv {

std::unique_ptr<CCommonObject> COrvaneDoc::CreateObject(CObjectKind kind) {
    switch (kind) {
        case CObjectKind::HLServer: return std::make_unique<CHLServer>(m_platform);
        case CObjectKind::Q3Server: return std::make_unique<CQ3Server>(m_platform);
        case CObjectKind::GTV: return std::make_unique<CGTV>(m_platform);
        case CObjectKind::HLTV: return std::make_unique<CHLTV>(m_platform);
    }
    return nullptr;
}

std::unique_ptr<CCommonObject> COrvaneDoc::CreateObjectOfClass(const std::string& className) {
    if (className == "CHLServer") return CreateObject(CObjectKind::HLServer);
    if (className == "CHLTV") return CreateObject(CObjectKind::HLTV);
    if (className == "CQ3Server") return CreateObject(CObjectKind::Q3Server);
    if (className == "CGTV") return CreateObject(CObjectKind::GTV);
    return nullptr;
}

void COrvaneDoc::ApplyKindValues(CCommonObject& object, const CObjectValues& values, bool adding) {
    if (auto* hltv = dynamic_cast<CHLTV*>(&object)) {
        hltv->proxyPassword = values.proxyPassword;
        hltv->externalHost = values.externalHost;
        hltv->externalPort = values.externalPort;
        hltv->exportToWeb = values.exportToWeb;
        hltv->autoRecord = values.autoRecord;
    }
    if (auto* gtv = dynamic_cast<CGTV*>(&object)) {
        gtv->externalHost = values.externalHost;
        gtv->externalPort = static_cast<std::uint32_t>(values.externalPort);
        gtv->exportToWeb = static_cast<std::uint32_t>(values.exportToWeb);
        gtv->autoRecord = static_cast<std::uint32_t>(values.autoRecord);
    }
}

void COrvaneDoc::RestartRconHandshake(CCommonObject& object) {
    if (auto* hl = dynamic_cast<CHLServer*>(&object)) hl->RestartRcon();
}

}  // namespace orv

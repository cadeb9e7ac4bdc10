#include "document/document.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "base/strutil.h"

namespace orv {

COrvaneDoc::COrvaneDoc(CPlatform& platform) : ftp(platform.prompter), sound(platform.sound), m_platform(platform) {
    ftp.Start();
    output.Start();
    output.SetLimit(COutputSocketControl::kDefaultLimit);
}

COrvaneDoc::~COrvaneDoc() {
    // Objects first: each cancels its queued datagrams while the queue still exists.
    selectedObject = nullptr;
    selectedZone = nullptr;
    objects.Clear();
    output.Stop();
}

void COrvaneDoc::LayoutDeleting() {
    const auto views = m_views;
    for (IDocumentView* v : views) v->OnLayoutDeleting();
}

void COrvaneDoc::DeleteContents() {
    LayoutDeleting();
    selectedObject = nullptr;
    selectedZone = nullptr;
    objects.Clear();
    groups.Clear();
    zones.Clear();
}

void COrvaneDoc::New() {
    std::srand(static_cast<unsigned>(m_platform.clock.Now()));
    selectedObject = nullptr;
    selectedZone = nullptr;
    output.Clear();
    DeleteContents();
    CZone* lan = AddZone("LAN Local", 1);
    AddZone("Internet", 2);
    AddGroup("Servers", lan, 1);
    AddGroup("Local TV", lan, 2);
    AddGroup("Internet TV", zones.Tail(), 1);
    cycleCounter = 0;
    vuzuVed.Reset();
    networkDetect.Reset();
    // Without its zone the module could only complain: it goes off with it.
    networkDetect.enabled = 0;
    adminBot.Reset();
    sound.sound.Reset();
}

void COrvaneDoc::Tick() {
    if (m_inTick) return;
    m_inTick = true;
    networkDetect.Tick(*this);
    vuzuVed.Tick(*this);
    for (size_t i = 0; i < objects.size(); ++i) {
        CCommonObject* object = objects[i];
        object->Tick();
        if (cycleCounter == 5) object->ResolveLinks(objects);
    }
    cycleCounter = (cycleCounter + 1) % 6;
    m_inTick = false;
    UpdateAllViews(kHintRefresh);
}

CZone* COrvaneDoc::AddZone(const std::string& name, std::int32_t level) {
    CZone* zone = zones.Append(std::make_unique<CZone>(name, level));
    SetModifiedFlag();
    UpdateAllViews(kHintRedraw);
    return zone;
}

CGroup* COrvaneDoc::AddGroup(const std::string& name, CZone* zone, std::int32_t level) {
    CGroup* group = groups.Append(std::make_unique<CGroup>(name, zone, level));
    SetModifiedFlag();
    UpdateAllViews(kHintRedraw);
    return group;
}

CCommonObject* COrvaneDoc::FindObject(const std::string& host, std::uint32_t port) const {
    const std::string address = AddressString(host, static_cast<long>(port));
    for (auto& o : objects)
        if (o->AddressString() == address) return o.get();
    // A name still being looked up has no address string yet: it is known by its host as entered.
    for (auto& o : objects)
        if (o->LookupPending() && o->host == host && o->port == port) return o.get();
    return nullptr;
}

CCommonObject* COrvaneDoc::AddObject(std::unique_ptr<CCommonObject> object, CGroup* group) {
    if (CCommonObject* existing = FindObject(object->host, object->port)) {
        const std::string groupName = existing->group ? existing->group->name : std::string();
        const std::string zoneName =
            existing->group && existing->group->zone ? existing->group->zone->name : std::string();
        m_platform.prompter.Message("This Object already exists\nGroup : " + groupName + "\nZone : " + zoneName);
        return nullptr;
    }
    object->group = group;
    object->output = &output;
    object->sound = &sound;
    CCommonObject* added = objects.Append(std::move(object));
    added->CreateSocket();
    SetModifiedFlag();
    if (!m_holdLayoutUpdates) UpdateAllViews(kHintLayoutChanged);
    return added;
}

std::int64_t COrvaneDoc::NeededBytesPerSecond() const {
    double perSecond = 0.0;
    for (auto& o : objects) perSecond += static_cast<double>(o->CycleBytes()) / std::max(1, o->CycleTicks());
    return static_cast<std::int64_t>(std::ceil(perSecond));
}

std::string COrvaneDoc::OutputRateWarning(std::int64_t needed) const {
    const std::int64_t limit = output.GetLimit();
    if (limit >= needed) return {};
    const std::int64_t kbps = (needed + 1023) / 1024;
    return Format("UDP output limit %lld bits per second is below the %lld this layout needs: servers are polled "
                  "less often; set the limit to %lld kbps (%lld bits per second) or more",
                  static_cast<long long>(limit), static_cast<long long>(needed), static_cast<long long>(kbps),
                  static_cast<long long>(kbps * 1024));
}

void COrvaneDoc::AddView(IDocumentView* view) {
    if (std::find(m_views.begin(), m_views.end(), view) == m_views.end()) m_views.push_back(view);
}

void COrvaneDoc::RemoveView(IDocumentView* view) { std::erase(m_views, view); }

void COrvaneDoc::SetModifiedFlag(bool modified) {
    if (m_modified == modified) return;
    m_modified = modified;
    const auto views = m_views;
    for (IDocumentView* v : views) v->OnModifiedChanged(modified);
}

void COrvaneDoc::UpdateAllViews(int hint) {
    const auto views = m_views;  // a view may detach itself while updating
    for (IDocumentView* v : views) v->OnUpdate(hint);
}

}  // namespace orv

namespace orv {

std::uint32_t DefaultPort(CObjectKind kind) {
    switch (kind) {
        case CObjectKind::HLServer: return 27015;
        case CObjectKind::HLTV: return 27020;
        case CObjectKind::Q3Server: return 27960;
        case CObjectKind::GTV: return 27970;
    }
    return 0;
}

namespace {
// "%d.%d.%d.%d" with each number 0..255.
bool ParseDotted(const std::string& text, int (&bytes)[4]) {
    unsigned a, b, c, d;
    char tail;
    if (std::sscanf(text.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &tail) != 4) return false;
    if (a > 255 || b > 255 || c > 255 || d > 255) return false;
    bytes[0] = static_cast<int>(a);
    bytes[1] = static_cast<int>(b);
    bytes[2] = static_cast<int>(c);
    bytes[3] = static_cast<int>(d);
    return true;
}
}  // namespace

CAddressRange CheckAddressRange(IPrompter& prompter, const std::string& from, const std::string& to,
                                std::uint32_t firstPort, std::uint32_t lastPort) {
    CAddressRange range;
    int f[4], t[4];
    const bool addressesOk =
        ParseDotted(from, f) && ParseDotted(to, t) && f[0] == t[0] && f[1] == t[1] && f[2] == t[2] && f[3] <= t[3];
    if (!addressesOk) prompter.Message("Invalid address range. Only the last byte may differ");
    const bool portsOk = firstPort <= lastPort;
    if (!portsOk) prompter.Message("Invalid port specification. PortFROM must be lower than PortTO");
    if (addressesOk && portsOk) {
        range.valid = true;
        range.prefix = Format("%d.%d.%d.", f[0], f[1], f[2]);
        range.firstOctet = f[3];
        range.endOctet = t[3];
        range.firstPort = firstPort;
        range.lastPort = lastPort;
    }
    return range;
}

CCommonObject* COrvaneDoc::AddDetectedGTV(const CDetectedGTV& detected) {
    CObjectValues values;
    values.host = detected.host;
    values.port = detected.port;
    values.group = detected.group;
    values.rconPassword = detected.rconPassword;
    values.externalHost = detected.externalHost;
    values.externalPort = detected.externalPort;
    values.exportToWeb = detected.exportToWeb;
    values.autoRecord = detected.autoRecord;
    const std::string entered = lastAddress;
    CCommonObject* added = AddObjectOfKind(CObjectKind::GTV, values);
    lastAddress = entered;
    return added;
}

CCommonObject* COrvaneDoc::AddObjectOfKind(CObjectKind kind, const CObjectValues& values) {
    lastAddress = values.host;
    auto object = CreateObject(kind);
    if (!object) return nullptr;
    object->host = values.host;
    object->port = values.port;
    object->rconPassword = values.rconPassword;
    ApplyKindValues(*object, values, true);
    return AddObject(std::move(object), values.group);
}

void COrvaneDoc::RangeAdd(CObjectKind kind, const CAddressRange& range, const CObjectValues& values) {
    if (!range.valid || range.firstOctet > range.endOctet || range.firstPort > range.lastPort) return;
    const std::uint64_t count = static_cast<std::uint64_t>(range.endOctet - range.firstOctet + 1) *
                                (std::uint64_t{range.lastPort} - range.firstPort + 1);
    if (count > kRangeCap) {
        m_platform.prompter.Message(Format("Cannot add %llu objects at once: a range adds at most %llu.",
                                           static_cast<unsigned long long>(count),
                                           static_cast<unsigned long long>(kRangeCap)));
        return;
    }
    if (count > kRangeAsk &&
        !m_platform.prompter.AskYesNo(Format("Add %llu objects?", static_cast<unsigned long long>(count))))
        return;
    const size_t before = objects.size();
    m_holdLayoutUpdates = true;
    for (int octet = range.firstOctet; octet <= range.endOctet; ++octet) {
        for (std::uint64_t port = range.firstPort; port <= range.lastPort; ++port) {
            CObjectValues one = values;
            one.host = range.prefix + std::to_string(octet);
            one.port = static_cast<std::uint32_t>(port);
            // Proxies added by range are reached from outside at their own address.
            if (values.externalHost.empty()) {
                one.externalHost = one.host;
                one.externalPort = static_cast<std::int32_t>(port);
            }
            AddObjectOfKind(kind, one);
        }
    }
    m_holdLayoutUpdates = false;
    lastAddress = range.prefix + std::to_string(range.firstOctet);
    if (objects.size() != before) UpdateAllViews(kHintLayoutChanged);
}

bool COrvaneDoc::CanAddGroup() {
    if (!zones.empty()) return true;
    m_platform.prompter.Message("You must define at least one Zone before any group creation");
    return false;
}

void COrvaneDoc::DeleteSelectedZone() {
    CZone* target = selectedZone;
    if (!target) return;
    if (IsNetworkDetectionZone(target)) {
        m_platform.prompter.Message("Cannot delete this zone, it is used by Network Detect Module");
        return;
    }
    bool used = false;
    if (target->IsGroup()) {
        for (auto& o : objects) used = used || o->group == target;
    } else {
        for (auto& g : groups) used = used || g->zone == target;
    }
    if (used) {
        m_platform.prompter.Message("Cannot delete a Zone/Group that is not empty");
        SetModifiedFlag();
        UpdateAllViews(kHintLayoutChanged);
        return;
    }
    LayoutDeleting();
    if (target->IsGroup()) groups.RemoveAt(groups.Find(static_cast<CGroup*>(target)));
    else zones.RemoveAt(zones.Find(target));
    selectedZone = nullptr;
    SetModifiedFlag();
    UpdateAllViews(kHintLayoutChanged);
}

template <class Op>
void COrvaneDoc::LayerCommand(Op op) {
    CZone* target = selectedZone;
    if (!target) return;
    // The target is looked up in the zone list first, then in the group list.
    if (zones.Find(target) >= 0) op(zones, target);
    else if (target->IsGroup() && groups.Find(static_cast<CGroup*>(target)) >= 0) op(groups, static_cast<CGroup*>(target));
    else return;
    SetModifiedFlag();
    UpdateAllViews(kHintLayoutChanged);
}

void COrvaneDoc::IncreaseLayer() {
    LayerCommand([](auto& list, auto* t) { list.IncreaseLayer(t); });
}
void COrvaneDoc::DecreaseLayer() {
    LayerCommand([](auto& list, auto* t) { list.DecreaseLayer(t); });
}
void COrvaneDoc::MoveZoneUp() {
    LayerCommand([](auto& list, auto* t) { list.MoveUp(t); });
}
void COrvaneDoc::MoveZoneDown() {
    LayerCommand([](auto& list, auto* t) { list.MoveDown(t); });
}

void COrvaneDoc::RenameSelectedZone() {
    if (!selectedZone) return;
    const auto name = m_platform.prompter.InputText("Enter new name", selectedZone->name);
    if (!name) return;
    selectedZone->name = *name;
    SetModifiedFlag();
    UpdateAllViews(kHintLayoutChanged);
}

void COrvaneDoc::GlobalRcon() {
    CZone* target = selectedZone;
    if (!target) return;
    const bool isGroup = target->IsGroup();
    const std::string kindWord = isGroup ? "group" : "zone";
    const auto command =
        m_platform.prompter.InputText("Enter the rcon command for all objects in this " + kindWord + ".", "");
    if (!command) return;
    if (!m_platform.prompter.AskYesNo("Are you sure to send the following command to the whole " + kindWord + " ?\n" +
                                      *command))
        return;
    for (size_t i = 0; i < objects.size(); ++i) {
        CCommonObject* o = objects[i];
        // An object left without a group belongs to no group and no zone.
        const bool member = isGroup ? o->group == target : (o->group && o->group->zone == target);
        if (member) o->SendRcon(*command);
    }
}

void COrvaneDoc::DeleteSelectedObject() {
    CCommonObject* target = selectedObject;
    if (!target) return;
    const int pos = objects.Find(target);
    if (pos < 0) return;
    for (size_t i = 0; i < objects.size(); ++i) objects[i]->OnObjectDeleted(target);
    LayoutDeleting();
    objects.RemoveAt(pos);  // the object cancels its queued datagrams as it goes
    selectedObject = nullptr;
    SetModifiedFlag();
    UpdateAllViews(kHintLayoutChanged);
}

void COrvaneDoc::MoveObject(int direction) {
    CCommonObject* target = selectedObject;
    if (!target) return;
    const int pos = objects.Find(target);
    if (pos >= 0) {
        for (int i = pos + direction; i >= 0 && i < static_cast<int>(objects.size()); i += direction) {
            CCommonObject* other = objects[static_cast<size_t>(i)];
            if (other->group != target->group) continue;
            auto owned = objects.RemoveAt(pos);
            const int at = objects.Find(other);
            if (direction < 0) objects.InsertBefore(at, std::move(owned));
            else objects.InsertAfter(at, std::move(owned));
            break;
        }
    }
    SetModifiedFlag();
    UpdateAllViews(kHintRedraw);
}

void COrvaneDoc::MoveObjectUp() { MoveObject(-1); }
void COrvaneDoc::MoveObjectDown() { MoveObject(+1); }

void COrvaneDoc::ApplyObjectProperties(const CObjectValues& values) {
    CCommonObject* target = selectedObject;
    if (!target) return;
    const bool newRconPassword = target->rconPassword != values.rconPassword;
    target->rconPassword = values.rconPassword;
    target->group = values.group;
    ApplyKindValues(*target, values, false);
    if (newRconPassword) RestartRconHandshake(*target);
    SetModifiedFlag();
    UpdateAllViews(kHintLayoutChanged);
}

void COrvaneDoc::AskObjectPassword() {
    CCommonObject* target = selectedObject;
    if (!target) return;
    const auto text = m_platform.prompter.InputText("Enter this object's password", target->password);
    if (!text) return;
    target->password = *text;
    SetModifiedFlag();
}

void COrvaneDoc::SetAdminBotEnabled(bool on) {
    adminBot.enabled = on ? 1 : 0;
    SetModifiedFlag();
    UpdateAllViews(kHintLayoutChanged);
}

void COrvaneDoc::SetVuzuVedSettings(const CVuzuVedSettings& settings) {
    vuzuVed.enabled = settings.enabled ? 1 : 0;
    vuzuVed.server = settings.server;
    vuzuVed.login = settings.login;
    vuzuVed.password = settings.password;
    vuzuVed.remoteFilename = settings.remoteFilename;
    vuzuVed.interval = settings.interval;
    SetModifiedFlag();
    UpdateAllViews(kHintRedraw);
}

void COrvaneDoc::SetNetworkDetectSettings(bool enabled, CZone* zone, bool exportToWeb) {
    networkDetect.enabled = enabled && zone ? 1 : 0;
    networkDetect.targetZone = networkDetect.enabled ? zone : nullptr;
    networkDetect.exportNewToWeb = exportToWeb ? 1 : 0;
    SetModifiedFlag();
}

void COrvaneDoc::SetPreferences(bool soundEnabled, std::optional<std::int32_t> limitKbps) {
    sound.sound.enabled = soundEnabled ? 1 : 0;
    if (limitKbps) output.SetLimit(*limitKbps * 1024);
    SetModifiedFlag();
}

}  // namespace orv

#include "core/document/document.h"

#include <algorithm>
#include <cstdlib>

#include "core/strutil.h"

namespace orv {

COrvaneDoc::COrvaneDoc(CPlatform& platform) : sound(platform.sound), m_platform(platform) {
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

void COrvaneDoc::DeleteContents() {
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
    adminBot.Reset();
    sound.sound.Reset();
}

void COrvaneDoc::Tick() {
    if (m_inTick) return;
    m_inTick = true;
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
    UpdateAllViews(kHintLayoutChanged);
    return added;
}

void COrvaneDoc::AddView(IDocumentView* view) {
    if (std::find(m_views.begin(), m_views.end(), view) == m_views.end()) m_views.push_back(view);
}

void COrvaneDoc::RemoveView(IDocumentView* view) { std::erase(m_views, view); }

void COrvaneDoc::UpdateAllViews(int hint) {
    const auto views = m_views;  // a view may detach itself while updating
    for (IDocumentView* v : views) v->OnUpdate(hint);
}

}  // namespace orv

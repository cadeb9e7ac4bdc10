// Feeds arbitrary text to the GTV chain-list parser, then to a detection pass over a proxy that reports
// it (through a module host that records the additions and refuses them, so the layout never grows).
// The text is handed over in a buffer of its own exact size, so any read past it is caught.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz/fuzz_env.h"
#include "ftp/ftpengine.h"
#include "modules/modulehost.h"
#include "modules/netdetect.h"
#include "monitors/quake3/gtv.h"

namespace {

struct Host : orv::fuzz::FuzzPlatform, orv::IModuleHost {
    orv::CFtpEngine ftp{prompter};  // never started
    orv::CObjectList objects;
    orv::CGroupObList groups;
    orv::CZoneObList zones;
    size_t additions = 0;

    const orv::CObjectList& ObjectList() const override { return objects; }
    const orv::CGroupObList& GroupList() const override { return groups; }
    const orv::CZoneObList& ZoneList() const override { return zones; }
    orv::CCommonObject* FindObject(const std::string& host, std::uint32_t port) const override {
        for (auto& o : objects)
            if (o->host == host && o->port == port) return o.get();
        return nullptr;
    }
    orv::CCommonObject* AddDetectedGTV(const orv::CDetectedGTV& values) override {
        if (values.host.empty() || values.port == 0 || values.port > 65535 || !values.group) std::abort();
        ++additions;
        return nullptr;
    }
    orv::CGroup* AppendGroup(std::unique_ptr<orv::CGroup> group) override { return groups.Append(std::move(group)); }
    void UpdateAllViews(int) override {}
    bool AdminBotEnabled() const override { return false; }
    orv::CFtpEngine& FtpEngine() override { return ftp; }
    orv::IPrompter& Prompter() override { return prompter; }
    orv::IClock& Clock() override { return clock; }
};

bool IsWhiteSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    static Host* host = [] {
        auto* h = new Host;
        orv::CZone* zone = h->zones.Append(std::make_unique<orv::CZone>("Target", 1));
        orv::CGroup* group = h->groups.Append(std::make_unique<orv::CGroup>("Servers", zone, 1));
        auto* reporter = static_cast<orv::CGTV*>(h->objects.Append(std::make_unique<orv::CGTV>(h->platform)));
        reporter->host = "127.0.0.1";
        reporter->port = 27970;
        reporter->group = group;
        reporter->state = orv::CCommonObject::kStateMonitor;
        return h;
    }();

    auto buffer = std::make_unique<char[]>(size ? size : 1);
    if (size) std::memcpy(buffer.get(), data, size);
    const std::string_view text(buffer.get(), size);

    const auto entries = orv::ParseChainList(text);
    size_t consumed = 0;
    size_t expected = 0;  // valid entries other than the reporter itself
    for (const auto& e : entries) {
        if (e.text.empty() || IsWhiteSpace(e.text.front()) || e.text.find(' ') != std::string::npos) std::abort();
        if (e.valid) {
            if (e.host.empty() || e.port == 0 || e.port > 65535) std::abort();
            if (!(e.host == "127.0.0.1" && e.port == 27970)) ++expected;
        }
        consumed += e.text.size();
    }
    if (consumed > size) std::abort();

    // The detection pass over a proxy reporting the text: this host adds nothing, so every valid entry
    // but the reporter's own address is offered, and the pass ends.
    auto* reporter = static_cast<orv::CGTV*>(host->objects[0]);
    reporter->chainList.assign(text);
    orv::CModuleNetworkDetect detect;
    detect.enabled = 1;
    detect.targetZone = host->zones[0];
    host->additions = 0;
    detect.DetectionPass(*host);
    if (host->additions != expected) std::abort();
    // Keep the group list from growing across runs.
    while (host->groups.size() > 1) host->groups.RemoveAt(static_cast<int>(host->groups.size()) - 1);
    return 0;
}

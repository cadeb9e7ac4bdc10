// Feeds arbitrary text to the GTV chain-list parser, then to a detection pass over a proxy that reports
// it, through a module host that refuses every addition (the layout never grows). The text is handed
// over in a buffer of its own exact size, so any read past it is caught.
#include <cctype>

#include "fuzz/fuzz_env.h"
#include "modules/netdetect.h"
#include "monitors/quake3/gtv.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    static auto* host = [] {
        auto* h = new orv::fuzz::ModuleHost;
        orv::CZone* zone = h->zones.Append(std::make_unique<orv::CZone>("Target", 1));
        auto* reporter = h->Add<orv::CGTV>();
        reporter->host = "127.0.0.1";
        reporter->port = 27970;
        reporter->group = h->groups.Append(std::make_unique<orv::CGroup>("Servers", zone, 1));
        reporter->state = orv::CCommonObject::kStateMonitor;
        return h;
    }();
    const std::vector<char> exact(data, data + size);
    const std::string_view text(exact.data(), size);

    size_t consumed = 0, expected = 0;  // valid entries other than the reporter itself
    for (const auto& e : orv::ParseChainList(text)) {
        if (e.text.empty() || std::isspace(static_cast<unsigned char>(e.text.front())) ||
            e.text.find(' ') != std::string::npos)
            __builtin_trap();
        if (e.valid && (e.host.empty() || e.port == 0 || e.port > 65535)) __builtin_trap();
        expected += e.valid && !(e.host == "127.0.0.1" && e.port == 27970);
        consumed += e.text.size();
    }
    if (consumed > size) __builtin_trap();
    // Every valid entry but the reporter's own address is offered, and the pass ends.
    static_cast<orv::CGTV*>(host->objects[0])->chainList.assign(text);
    orv::CModuleNetworkDetect detect;
    detect.enabled = 1;
    detect.targetZone = host->zones[0];
    host->additions = 0;
    detect.DetectionPass(*host);
    if (host->additions != expected) __builtin_trap();
    while (host->groups.size() > 1) host->groups.RemoveAt(static_cast<int>(host->groups.size()) - 1);
    return 0;
}

// orvane-demo-layout: writes the demo layout that matches demo/demo.json through the document itself,
// so the file is exactly what the program saves. Usage: orvane-demo-layout OUT.orv [--status-page]
// (--status-page: the status page module uploads to an FTP server on 127.0.0.1).
#include <cstring>
#include <iostream>

#include "base/pollloop.h"
#include "document/document.h"

namespace {

struct QuietPrompter : orv::IPrompter {
    void Message(const std::string& text) override { std::cerr << "orvane-demo-layout: " << text << "\n"; }
    bool AskYesNo(const std::string&) override { return false; }
    std::optional<std::string> InputText(const std::string&, const std::string&) override { return std::nullopt; }
};
struct NoSound : orv::ISoundPlayer {
    void Play(const std::string&) override {}
};

struct DemoObject {
    orv::CObjectKind kind;
    std::uint32_t port;
    const char* group;
    const char* rcon;
    std::int32_t autoRecord;
};

// The demo's objects: every peer of demo/demo.json but the two GTV proxies that network detection finds.
// The semi-final's rcon password is wrong on purpose: the operator sees rcon switch itself off.
const DemoObject kObjects[] = {
    {orv::CObjectKind::HLServer, 27015, "Servers", "secret", 0},
    {orv::CObjectKind::HLServer, 27016, "Servers", "letmein", 0},
    {orv::CObjectKind::HLServer, 27017, "Servers", "secret", 0},
    {orv::CObjectKind::HLServer, 27018, "Servers", "secret", 0},
    {orv::CObjectKind::Q3Server, 27960, "Quake 3", "secret", 0},
    {orv::CObjectKind::Q3Server, 27961, "Quake 3", "secret", 0},
    {orv::CObjectKind::HLTV, 27020, "Local TV", "secret", 1},
    {orv::CObjectKind::HLTV, 27021, "Local TV", "secret", 0},
    {orv::CObjectKind::HLTV, 27022, "Local TV", "secret", 1},
    {orv::CObjectKind::GTV, 27970, "Internet TV", "secret", 1},
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3 || (argc == 3 && std::strcmp(argv[2], "--status-page") != 0)) {
        std::cerr << "usage: orvane-demo-layout OUT.orv [--status-page]\n";
        return 2;
    }
    orv::CSystemClock clock;
    QuietPrompter prompter;
    NoSound sound;
    orv::CPollLoop loop;
    orv::CPlatform platform{clock, prompter, sound, loop};
    orv::COrvaneDoc doc(platform);
    doc.New();
    // The Quake 3 servers beside the GTV proxies that relay them.
    doc.AddGroup("Quake 3", doc.zones.Tail(), 1);
    for (const DemoObject& o : kObjects) {
        orv::CObjectValues v;
        v.host = "127.0.0.1";
        v.port = o.port;
        v.rconPassword = o.rcon;
        for (size_t i = 0; i < doc.groups.size(); ++i)
            if (doc.groups[i]->name == o.group) v.group = doc.groups[i];
        v.externalHost = "127.0.0.1";
        v.externalPort = static_cast<std::int32_t>(o.port);
        v.exportToWeb = 1;
        v.autoRecord = o.autoRecord;
        if (!doc.AddObjectOfKind(o.kind, v)) return 1;
    }
    // GTV proxies chained to the known one join the Internet zone by themselves.
    doc.SetNetworkDetectSettings(true, doc.zones.Tail(), true);
    orv::COrvaneDoc::CVuzuVedSettings page;
    page.enabled = argc == 3;
    page.server = "127.0.0.1";
    page.login = "anonymous";
    page.password = "orvane@localhost";
    page.remoteFilename = "orvane-status.html";
    page.interval = 30;
    doc.SetVuzuVedSettings(page);
    doc.SetPreferences(true, 20);
    return doc.Save(argv[1]) ? 0 : 1;
}

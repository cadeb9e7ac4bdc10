// Saving and loading a layout (.orv): the whole layout, the module settings, the bandwidth limit and the
// sound switch, in the object-archive format. A file that fails to load leaves the open layout untouched;
// a save that fails leaves the previous file in place.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "base/archive.h"
#include "base/strutil.h"
#include "document/document.h"

namespace orv {

int COrvaneDoc::SchemaOfClass(const std::string& className) {
    static const std::pair<const char*, int> kClasses[] = {
        {"CZone", 1}, {"CGroup", 1}, {"CHLServer", 10}, {"CHLTV", 101}, {"CQ3Server", 10}, {"CGTV", 11},
    };
    for (auto& [name, schema] : kClasses)
        if (className == name) return schema;
    return -1;
}

namespace {
// The module settings as a file carries them, applied only once the whole file has been read.
struct LoadedSettings {
    CModuleVuzuVed vuzuVed;
    CModule adminBot;
    CModuleNetworkDetect networkDetect;
    std::int32_t limit = 0;
    std::int32_t soundEnabled = 1;
};
}  // namespace

std::string COrvaneDoc::SaveToBytes() {
    // Zones are numbered first, the groups continue the same count.
    std::uint32_t next = 0;
    for (auto& z : zones) z->id = next++;
    for (auto& g : groups) g->id = next++;
    CArchive ar;
    zones.Serialize(ar);
    groups.Serialize(ar);
    ar.WriteCount(static_cast<std::uint32_t>(objects.size()));
    for (auto& o : objects) {
        ar.WriteClassTag(o->ClassName(), o->Schema());
        o->Serialize(ar);
    }
    vuzuVed.Serialize(ar);
    adminBot.Serialize(ar);
    networkDetect.Serialize(ar);
    output.Serialize(ar);
    sound.Serialize(ar);
    return ar.Data();
}

bool COrvaneDoc::LoadFromBytes(std::span<const std::uint8_t> bytes, std::string* reason) {
    CArchive ar(bytes);
    CZoneObList newZones;
    CGroupObList newGroups;
    CObjectList newObjects;
    LoadedSettings s;
    s.networkDetect.exportNewToWeb = networkDetect.exportNewToWeb;  // not saved: keeps its value

    if (bytes.size() > kMaxLayoutBytes) {
        if (reason) *reason = "a file of " + std::to_string(bytes.size()) + " bytes";
        return false;
    }
    newZones.Serialize(ar);
    newGroups.Serialize(ar);
    const std::uint32_t count = ar.ReadCount();
    if (count > kMaxLayoutObjects) ar.Fail(std::to_string(count) + " monitored objects");
    for (std::uint32_t i = 0; i < count && !ar.Failed(); ++i) {
        const std::string cls = ar.ReadClassTag(SchemaOfClass);
        if (ar.Failed()) break;
        auto object = CreateObjectOfClass(cls);
        if (!object) {
            ar.Fail("a " + cls + " where a monitored object belongs");
            break;
        }
        object->Serialize(ar);  // no socket yet: the file may still turn out unsound
        if (ar.Failed()) break;
        newObjects.Append(std::move(object));
    }
    s.vuzuVed.Serialize(ar);
    s.adminBot.Serialize(ar);
    s.networkDetect.Serialize(ar);
    ar.Int32(s.limit);
    ar.Int32(s.soundEnabled);
    if (!ar.Failed() && (s.limit < kMinLayoutLimit || s.limit > kMaxLayoutLimit))
        ar.Fail("a bandwidth limit of " + std::to_string(s.limit));
    if (ar.Failed()) {
        if (reason) *reason = ar.Reason();
        return false;  // the new objects go, never having made a socket; the open layout is untouched
    }

    // The file is whole: replace the layout.
    DeleteContents();
    zones = std::move(newZones);
    groups = std::move(newGroups);
    objects = std::move(newObjects);
    // An interval below one second cannot drive the upload schedule: such a file gets the default.
    if (s.vuzuVed.interval < 1) s.vuzuVed.interval = CModuleVuzuVed().interval;
    const std::int32_t tick = vuzuVed.tickCounter;  // loading does not move the upload cycle
    vuzuVed = s.vuzuVed;
    vuzuVed.tickCounter = tick;
    adminBot.enabled = s.adminBot.enabled;
    networkDetect.enabled = s.networkDetect.enabled;
    networkDetect.savedZoneId = s.networkDetect.savedZoneId;
    networkDetect.targetZone = nullptr;
    networkDetect.detectedCount = 0;  // a layout of its own: the detection cap counts again
    output.SetLimit(s.limit);
    sound.sound.enabled = s.soundEnabled;

    // Re-link by ids. A disabled module has no zone: its stored 0 does not lock the first zone.
    for (auto& z : zones) {
        for (auto& g : groups)
            if (g->zoneId == z->id) g->zone = z.get();
        if (networkDetect.enabled && static_cast<std::int32_t>(z->id) == networkDetect.savedZoneId)
            networkDetect.targetZone = z.get();
    }
    ClampLoadedLevels();
    for (auto& g : groups)
        for (auto& o : objects)
            if (o->groupId == g->id) o->group = g.get();
    // The first object without a group is named; a damaged file with many more gives one box, not one each.
    size_t groupless = 0;
    for (auto& o : objects) {
        o->output = &output;
        o->sound = &sound;
        o->CreateSocket();
        if (!o->group && groupless++ == 0)
            m_platform.prompter.Message("Omg, cannot restore the correct group for " + o->AddressString());
    }
    if (groupless > 1)
        m_platform.prompter.Message(Format("%zu more objects have no group either.", groupless - 1));
    SetModifiedFlag(false);
    UpdateAllViews(kHintLayoutChanged);
    return true;
}

void COrvaneDoc::ClampLoadedLevels() {
    // Files from before the dialogs checked their values may hold levels outside 1..5 and groups without a
    // zone: such a container would be neither drawn nor reachable. They come back where a dialog could
    // have put them: the nearest level, and a lost group in the first zone.
    auto clamp = [](CZone& z) { z.level = std::clamp<std::int32_t>(z.level, CZone::kMinLevel, CZone::kMaxLevel); };
    for (auto& z : zones) clamp(*z);
    for (auto& g : groups) {
        clamp(*g);
        if (!g->zone) g->zone = zones.Head();
    }
    zones.RecomputeMaxLevel();
    groups.RecomputeMaxLevel();
}

bool COrvaneDoc::Open(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        m_platform.prompter.Message("Unable to open " + path + ": " + std::strerror(errno));
        return false;
    }
    // Never more than one byte past the cap is read: a larger file is refused below without being held whole.
    std::string data;
    char chunk[65536];
    while (data.size() <= kMaxLayoutBytes && in.read(chunk, sizeof chunk).gcount() > 0)
        data.append(chunk, static_cast<size_t>(in.gcount()));
    if (in.bad()) {
        m_platform.prompter.Message("Unable to read " + path);
        return false;
    }
    std::string reason;
    if (!LoadFromBytes({reinterpret_cast<const std::uint8_t*>(data.data()), data.size()}, &reason)) {
        m_platform.prompter.Message("Unexpected file format.");
        return false;
    }
    return true;
}

bool COrvaneDoc::Save(const std::string& path) {
    const std::string data = SaveToBytes();
    // Write a temporary file beside the target and rename it over the target only once it is complete.
    std::string tmp = path + ".XXXXXX";
    const int fd = ::mkstemp(tmp.data());
    if (fd < 0) {
        m_platform.prompter.Message("Unable to save " + path + ": " + std::strerror(errno));
        return false;
    }
    size_t done = 0;
    int err = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            err = errno;
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (!err && ::fsync(fd) != 0) err = errno;
    if (::close(fd) != 0 && !err) err = errno;
    if (!err) {
        // Keep the permissions of the file it replaces; a new file is the owner's alone, as mkstemp made
        // it: a layout holds rcon, proxy and FTP passwords.
        struct stat st {};
        const mode_t mode = ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0600;
        ::chmod(tmp.c_str(), mode);
        if (::rename(tmp.c_str(), path.c_str()) != 0) err = errno;
    }
    if (err) {
        ::unlink(tmp.c_str());
        m_platform.prompter.Message("Unable to save " + path + ": " + std::strerror(err));
        return false;
    }
    SetModifiedFlag(false);
    return true;
}

}  // namespace orv

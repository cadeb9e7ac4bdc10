// What every fuzz target runs on: the tests' platform doubles (a settable clock reading local time as UTC,
// a poll loop never run); the cutting of an input into datagrams; a module host of its own.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/commonobject.h"
#include "core/module.h"
#include "ftp/ftpengine.h"
#include "modules/modulehost.h"
#include "net/outputcontrol.h"
#include "tests/fakes.h"

namespace orv::fuzz {

using FuzzPlatform = test::TestPlatform;

// A platform with what the document gives every monitored object: an output queue that is never started
// and a sound holder.
struct ObjectEnv : FuzzPlatform {
    COutputSocketControl output;
    CSoundHolder holder{sound};
    // o wired as the document wires it, with the rcon password "secret" when rcon; socket: at 127.0.0.1:9,
    // its socket made.
    template <class T>
    T& Wire(T& o, bool rcon, bool socket = false) {
        o.output = &output;
        o.sound = &holder;
        if (rcon) o.rconPassword = "secret";
        if (socket) {
            o.host = "127.0.0.1";
            o.port = 9;
            o.CreateSocket();
        }
        return o;
    }
};

// A target's environment, made once and never destroyed; each call begins a run, with what the last one
// left (queued datagrams, messages, sounds played) dropped.
template <class Env>
Env& Fresh() {
    static Env& env = *new Env;
    if constexpr (requires { env.output; }) env.output.Clear();
    env.prompter.messages.clear();
    env.sound.played.clear();
    return env;
}

// The datagrams of an input: each piece that starts at an FF FF FF FF prefix, up to the next one, each at
// most 2048 bytes, at most maxCount of them; each handed to f in a heap buffer of exactly its size, so
// that any read past it is caught.
inline void ForEachDatagram(const std::uint8_t* data, size_t size,
                            const std::function<void(std::span<const std::uint8_t>)>& f, size_t maxCount = 16) {
    static const std::uint8_t kPrefix[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    const std::uint8_t* end = data + size;
    for (size_t n = 0; data < end && n < maxCount; ++n) {
        const std::uint8_t* next = std::search(data + 1, end, kPrefix, kPrefix + 4);
        const size_t length = std::min<size_t>(static_cast<size_t>(next - data), 2048);
        std::vector<std::uint8_t> exact(data, data + length);
        f(std::span<const std::uint8_t>(exact.data(), exact.size()));
        data = next;
    }
}

// The pieces of the input after its control byte cut at "\n--\n" (at most eight), each behind head, at most
// one datagram long; each handed to f in a buffer of exactly its size.
inline void ForEachPiece(const std::uint8_t* data, size_t size, const std::string& head,
                         const std::function<void(std::span<const std::uint8_t>)>& f) {
    std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    for (int n = 0; n < 8; ++n) {
        const auto cut = rest.find("\n--\n");
        std::vector<std::uint8_t> datagram(head.begin(), head.end());
        const std::string_view piece = rest.substr(0, cut);
        datagram.insert(datagram.end(), piece.begin(), piece.end());
        datagram.resize(std::min<size_t>(datagram.size(), CObjectSocket::kMaxDatagram));
        f(std::span<const std::uint8_t>(datagram.data(), datagram.size()));
        if (cut == std::string_view::npos) return;
        rest.remove_prefix(cut + 4);
    }
}

// A module host with lists of its own and an FTP engine never started; it refuses every addition and
// counts those offered.
struct ModuleHost : FuzzPlatform, IModuleHost {
    CFtpEngine ftp{prompter};
    CObjectList objects;
    CGroupObList groups;
    CZoneObList zones;
    bool adminBot = false;
    size_t additions = 0;
    const CObjectList& ObjectList() const override { return objects; }
    const CGroupObList& GroupList() const override { return groups; }
    const CZoneObList& ZoneList() const override { return zones; }
    CCommonObject* FindObject(const std::string& host, std::uint32_t port) const override {
        for (auto& o : objects)
            if (o->host == host && o->port == port) return o.get();
        return nullptr;
    }
    CCommonObject* AddDetectedGTV(const CDetectedGTV& values) override {
        if (values.host.empty() || values.port == 0 || values.port > 65535 || !values.group) __builtin_trap();
        ++additions;
        return nullptr;
    }
    CGroup* AppendGroup(std::unique_ptr<CGroup> group) override { return groups.Append(std::move(group)); }
    void UpdateAllViews(int) override {}
    bool AdminBotEnabled() const override { return adminBot; }
    CFtpEngine& FtpEngine() override { return ftp; }
    IPrompter& Prompter() override { return prompter; }
    IClock& Clock() override { return clock; }
    template <class T>
    T* Add() {
        return static_cast<T*>(objects.Append(std::make_unique<T>(platform)));
    }
};

}  // namespace orv::fuzz

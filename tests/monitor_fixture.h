// What the monitor tests share: the datagram framing, the console log as lines, and a document on the
// fake platform whose output queue the test drives itself, with objects added as the document adds them
// and exchanges with loopback peers settled before the test looks.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "base/strutil.h"
#include "document/document.h"
#include "fakes.h"
#include "testutil.h"

namespace orv::test {

using namespace std::chrono_literals;
using namespace std::string_literals;

inline const std::string kOob("\xFF\xFF\xFF\xFF", 4);
// FF FF FF FF + text + the zero byte every outgoing datagram ends with.
inline std::string Framed(const std::string& text) {
    return kOob + text + std::string(1, '\0');
}
inline std::span<const std::uint8_t> Bytes(const std::string& s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}
inline std::vector<std::string> Console(const CCommonObject& o) {
    return {o.consoleLog.text.begin(), o.consoleLog.text.begin() + o.consoleLog.count};
}
inline bool Has(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}
// A datagram's text: the prefix and everything from the last zero byte on removed.
inline std::string Unframed(const std::string& d) {
    std::string t = BeginsWith(d, kOob) ? d.substr(4) : d;
    if (!t.empty() && t.back() == '\0') t.pop_back();
    return t;
}

// Data rows under tests/data/: blocks parted by blank lines, one "key: value" a line (\n \r \t \0 \\ and
// \xNN escapes), "+: value" going on with the last key's value; '#' starts a comment line.
using Row = std::map<std::string, std::string>;
inline std::string Unescape(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        const char c = s[++i];
        if (c == 'x' && i + 2 < s.size()) {
            out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c == '0' ? '\0' : c;
        }
    }
    return out;
}
inline std::vector<std::string> Split(const std::string& s, char sep) {
    std::vector<std::string> out(1);
    for (char c : s)
        if (c == sep)
            out.emplace_back();
        else
            out.back().push_back(c);
    return out;
}
inline std::string DataPath(const std::string& name) {
    return std::string(ORVANE_SOURCE_DIR) + "/tests/data/" + name;
}
inline std::vector<Row> Rows(const std::string& name) {
    std::ifstream in(DataPath(name));
    EXPECT_TRUE(in.good()) << name;
    std::vector<Row> rows(1);
    std::string line, last;
    while (std::getline(in, line)) {
        const size_t colon = line.find(':');
        if (!line.empty() && line[0] == '#') continue;
        if (colon == std::string::npos) {
            if (!rows.back().empty()) rows.emplace_back();
        } else {
            const std::string key = line.substr(0, colon);
            const std::string value = Unescape(line.substr(colon + (line[colon + 1] == ' ' ? 2 : 1)));
            if (key == "+")
                rows.back()[last] += value;
            else
                rows.back()[last = key] = value;
        }
    }
    if (rows.back().empty()) rows.pop_back();
    return rows;
}
// Rows run in order: `step` acts on each, then its "fields" is the dump expected after it (a row without
// one fails and shows the dump).
template <class Step, class Dump>
void RunScript(const std::string& file, Step step, Dump dump) {
    for (auto& row : Rows(file)) {
        step(row);
        EXPECT_EQ(dump(), row.count("fields") ? row["fields"] : "?") << file << ": " << row.begin()->second;
    }
}
// A script's verbs, each acting when a row names it (in this order; one named "" acts on every row), and
// its views, each compared with the text a row gives under its name. A row naming an unknown key or no
// view fails.
using Verbs = std::vector<std::pair<std::string, std::function<void(const std::string&)>>>;
using Views = std::map<std::string, std::function<std::string()>>;
inline void RunScript(const std::string& file, const Verbs& verbs, const Views& views) {
    int n = 0;
    for (auto& row : Rows(file)) {
        const std::string at = file + " row " + std::to_string(++n);
        for (auto& [key, value] : row)
            EXPECT_TRUE(views.count(key) ||
                        std::any_of(verbs.begin(), verbs.end(), [&](auto& v) { return v.first == key; }))
                << at << ": unknown " << key;
        for (auto& [verb, act] : verbs)
            if (verb.empty() || row.count(verb)) act(row.count(verb) ? row.at(verb) : "");
        int looked = 0;
        for (auto& [key, view] : views) {
            if (!row.count(key)) continue;
            ++looked;
            EXPECT_EQ(view(), row.at(key)) << at << ", " << key;
        }
        EXPECT_GT(looked, 0) << at << " looks at nothing";
    }
}
// Rows whose "do" holds steps parted by ';' ("verb argument"), each handed to step after before(); every
// other key of a row is a value compared with value(key) after its steps.
template <class Step, class Value>
void RunSteps(const std::string& file, const std::function<void()>& before, Step step, Value value) {
    for (auto& row : Rows(file)) {
        before();
        for (std::string s : Split(row["do"], ';')) {
            s.erase(0, s.find_first_not_of(' '));
            const size_t space = std::min(s.find(' '), s.size());
            if (!s.empty()) step(s.substr(0, space), s.substr(std::min(space + 1, s.size())));
        }
        for (auto& [key, want] : row)
            EXPECT_EQ(key == "do" ? want : value(key), want) << file << ": " << row["do"] << " => " << key;
    }
}
// n (a row's text) times f.
inline void Repeat(const std::string& n, const std::function<void()>& f) {
    for (int i = std::stoi(n); i > 0; --i) f();
}
inline std::string Joined(const std::vector<std::string>& list) {
    std::string out;
    for (auto& item : list) out += "[" + item + "]";
    return out;
}
// A whole output against its golden file; ORVANE_UPDATE_GOLDEN=1 rewrites the file (and fails), never under CI.
inline void ExpectGolden(const std::string& name, const std::string& actual) {
    const char* update = std::getenv("ORVANE_UPDATE_GOLDEN");
    const char* ci = std::getenv("CI");
    if (update && std::string(update) == "1") {
        ASSERT_FALSE(ci && std::string(ci) == "true") << "ORVANE_UPDATE_GOLDEN is refused under CI";
        WriteFile(DataPath(name), actual);
        FAIL() << "golden file rewritten: " << name;
    }
    EXPECT_EQ(actual, ReadFile(DataPath(name)).value_or("<missing " + name + ">")) << name;
}

// The update hints a document sends its views.
struct HintView : IDocumentView {
    void OnUpdate(int hint) override { hints.push_back(hint); }
    std::vector<int> hints;
};

struct DocFixture : ::testing::Test {
    TestPlatform tp;
    COrvaneDoc doc{tp.platform};
    int flushes = 0;

    DocFixture() {
        doc.New();
        doc.output.SetLimit(1'000'000);
        doc.output.Stop();  // the test runs the queue's windows itself (Settle)
    }
    CGroup* Group(const std::string& name) {
        for (auto& g : doc.groups)
            if (g->name == name) return g.get();
        return nullptr;
    }
    // Added as the document adds it, polling from phase 0.
    template <class T>
    T* Add(const std::string& host, int port, const std::string& group, const std::string& rcon = "") {
        auto o = std::make_unique<T>(tp.platform);
        o->host = host;
        o->port = static_cast<std::uint32_t>(port);
        o->rconPassword = rcon;
        auto* added = static_cast<T*>(doc.AddObject(std::move(o), Group(group)));
        EXPECT_NE(added, nullptr);
        if (added) added->pollPhase = 0;
        return added;
    }
    // Everything the object queued has reached the peer and every answer has been handled, the
    // answers' own queries included.
    template <class Peer>
    void Settle(CCommonObject& o, const Peer& p) {
        for (int round = 0; round < 8; ++round) {
            const std::string marker = Framed("flush " + std::to_string(++flushes));
            o.SendQuery(Unframed(marker));  // a poll: it leaves behind the object's own queries and actions
            while (doc.output.Count() > 0) doc.output.RunWindow();
            ASSERT_TRUE(WaitFor([&] { return Has(p.Received(), marker); }, 3s)) << Unframed(marker);
            while (tp.loop.RunOnce(0ms) > 0) {
            }
            if (doc.output.Count() == 0) return;
        }
        FAIL() << "the exchange did not settle";
    }
    // One tick of the object alone, a second later, settled; the datagrams it sent.
    template <class Peer>
    std::vector<std::string> TickSettled(CCommonObject& o, Peer& p) {
        p.ClearReceived();
        tp.clock.Advance(1);
        o.Tick();
        Settle(o, p);
        return Sent(p);
    }
    // A datagram from the peer to the object, FF FF FF FF first, handled before this returns.
    template <class Peer>
    void DeliverFrom(Peer& p, const std::string& text) {
        ASSERT_TRUE(p.SendToClient(kOob + text));
        ASSERT_EQ(tp.loop.RunOnce(2000ms), 1);
    }
    // The verbs every monitor script shares, on object o and its peer p, between `first` and `then`: what
    // reached the peer is forgotten before each row; "tick" ticks n times, "ticks" n seconds, each settled
    // (what reached the peer: the last one's).
    template <class Object, class Peer>
    Verbs ObjectVerbs(Object*& o, Peer& p, Verbs first = {}, const Verbs& then = {}) {
        first.insert(first.begin(), {"", [&](auto&) { p.ClearReceived(); }});
        Verbs verbs = {{"advance", [&](auto& v) { tp.clock.Advance(std::stoi(v)); }},
                       {"state", [&](auto& v) { o->state = std::stoi(v); }},
                       {"phase", [&](auto& v) { o->pollPhase = std::stoi(v); }},
                       {"rcon", [&](auto& v) { o->rconPassword = v; }},
                       {"answer", [&](auto& v) { o->OnPacket(Bytes(kOob + v)); }},
                       {"tick", [&](auto& v) { Repeat(v, [&] { o->Tick(); }); }},
                       {"ticks", [&](auto& v) { Repeat(v, [&] { TickSettled(*o, p); }); }},
                       {"settle", [&](auto&) { Settle(*o, p); }}};
        first.insert(first.end(), verbs.begin(), verbs.end());
        first.insert(first.end(), then.begin(), then.end());
        return first;
    }
    // What reached a peer as one line, each text ended by '|' ("unframed " before a datagram without the
    // framing), "rcon <challenge> " written "rcon C ".
    template <class Peer>
    static std::string SentLine(const Peer& p, std::uint32_t challenge) {
        std::string line;
        for (auto& d : Sent(p)) line += (d == Framed(Unframed(d)) ? "" : "unframed ") + Unframed(d) + "|";
        const std::string hide = "rcon " + std::to_string(challenge) + " ";
        for (size_t at; (at = line.find(hide)) != std::string::npos;) line.replace(at, hide.size(), "rcon C ");
        return line;
    }
    // What reached a peer, the markers left out: whole datagrams, or their texts.
    template <class Peer>
    static std::vector<std::string> Sent(const Peer& p, bool texts = false) {
        std::vector<std::string> out;
        for (auto& d : p.Received())
            if (!BeginsWith(d, kOob + "flush ")) out.push_back(texts ? Unframed(d) : d);
        return out;
    }
};

}  // namespace orv::test

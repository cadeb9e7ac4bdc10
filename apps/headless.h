// The headless front end: the same document as the window, driven from the command line, with the
// platform seam made of poll(), the system clock and standard error. Every tick prints one JSON line
// for the document and one per monitored object on standard output.
//
// Each kind of monitored object the command line can name is one entry of the kind table (Kinds()):
// its option, the values its spec accepts, a factory from the parsed spec and the emitter of its own
// live fields. Adding a kind means adding one entry with those two small functions.
#pragma once

#include <csignal>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/commonobject.h"
#include "base/platform.h"
#include "net/metricsserver.h"
#include "net/outputcontrol.h"

namespace orv {
class COrvaneDoc;
}

namespace orv::headless {

// JSON objects keep their fields in the order they were set.
using Json = nlohmann::ordered_json;

inline constexpr const char* kProgramName = "orvane-headless";
// Exit code for a bad command line.
inline constexpr int kExitUsage = 2;

// One object as named on the command line: "HOST[:PORT][,KEY=VALUE]...".
struct ObjectSpec {
    std::string option;  // the kind's option, for instance "--hl"
    std::string text;    // the description as given, password values shown as *** (for messages)
    std::string host;
    std::uint32_t port = 0;
    // KEY=VALUE settings in the order given; every key at most once.
    std::vector<std::pair<std::string, std::string>> values;

    // The value of key, or nullptr when the description does not set it.
    const std::string* Find(std::string_view key) const;
};

// A kind of monitored object the front end can name and report.
struct KindEntry {
    std::string option;     // "--hl"
    std::string className;  // the class name the object reports, "CHLServer"
    std::string group;      // group of the default layout the objects go into
    std::uint32_t defaultPort = 0;
    std::string description;  // one line for --help
    // Keys accepted after the address, each with a short description for --help.
    std::vector<std::pair<std::string, std::string>> keys;
    // Makes the object from a checked spec (host, port and the rcon password set). On a bad value:
    // nullptr and error set.
    std::function<std::unique_ptr<CCommonObject>(CPlatform&, const ObjectSpec&, std::string& error)> create;
    // Adds the kind's own live fields to the object's line.
    std::function<void(const CCommonObject&, Json&)> emit;
    // One paragraph for --help naming those fields; empty when the general text covers them.
    std::string fields;

    // "HOST[:PORT][,rcon=PASSWORD]..." for --help.
    std::string Syntax() const;
};

// Every kind, in the order --help lists them.
const std::vector<KindEntry>& Kinds();
const KindEntry* FindKindByOption(std::string_view option);
const KindEntry* FindKindByClass(std::string_view className);

// Parses one object spec for the kind. The address is HOST or HOST:PORT (the kind's default port when
// omitted); settings follow, separated by commas; a backslash takes the next character literally, so
// "rcon=a\,b" sets the password a,b. Unknown or repeated keys are refused. On error: nullopt and a
// message that names the problem.
std::optional<ObjectSpec> ParseObjectSpec(const KindEntry& kind, std::string_view text, std::string& error);

// "--rcon ADDRESS=COMMAND": sent once when the object with that address first reaches state 3.
struct RconRequest {
    std::string address;
    std::string command;
};
std::optional<RconRequest> ParseRconRequest(std::string_view text, std::string& error);

struct Options {
    std::vector<ObjectSpec> objects;                           // in command-line order
    std::int32_t limit = COutputSocketControl::kDefaultLimit;  // bits per second
    bool limitGiven = false;                                   // --limit overrides an opened layout's
    std::string openPath;                                      // a layout file to start from
    std::string savePath;                                      // where to save the layout at the end
    std::optional<std::int64_t> seconds;
    std::vector<RconRequest> rcon;
    bool noSound = false;
    std::optional<std::int32_t> ftpPort;  // the status page's upload port instead of 21 (test servers)
    std::optional<CListenAddress> metrics;  // serve GET /metrics there
};

// Bounds of --limit: those the Preferences dialog accepts, 2 to 100000 kbps of 1024 bits.
inline constexpr std::int64_t kMinLimit = 2 * 1024;
inline constexpr std::int64_t kMaxLimit = 100000LL * 1024;

// Parses the command line. When the program must stop at once, returns nullopt with exitCode set:
// 0 after --help or --version (text on out), kExitUsage after an error (message on err).
std::optional<Options> ParseCommandLine(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
                                        int& exitCode);

// Message boxes become lines on standard error; questions are answered No, text input is cancelled.
// Safe to call from the output worker: lines never interleave.
class CStderrPrompter : public IPrompter {
public:
    explicit CStderrPrompter(std::ostream& err) : m_err(err) {}
    void Message(const std::string& text) override;
    bool AskYesNo(const std::string& question) override;
    std::optional<std::string> InputText(const std::string& prompt, const std::string& initial) override;

private:
    void Write(const std::string& text);
    std::ostream& m_err;
    std::mutex m_lock;
};

// No audio: writes "sound: <file>" to standard error.
class CStderrSoundPlayer : public ISoundPlayer {
public:
    explicit CStderrSoundPlayer(std::ostream& err) : m_err(err) {}
    void Play(const std::string& fileName) override;

private:
    std::ostream& m_err;
};

// Bytes from the wire as valid UTF-8 (kept when valid, Latin-1 otherwise).
std::string Utf8(std::string_view bytes);

// The line of one object: the shared fields, then the kind's own. consoleSeen is the console log's
// appended counter at this object's previous line; the lines appended since then are reported and it
// is advanced.
Json ObjectLine(const CCommonObject& object, std::int64_t tick, std::uint64_t& consoleSeen);
// The document's line of a tick.
Json DocumentLine(const COrvaneDoc& doc, std::int64_t tick);
// One compact line; never throws on odd bytes.
std::string Dump(const Json& line);

// Runs the document: ticks at once and then every second of the steady clock, polls the sockets in
// between, prints the lines after each tick, sends the --rcon commands as objects reach state 3.
// Stops after the tick at --seconds, or when stop becomes non-zero, or when standard output fails.
class CHeadlessRunner {
public:
    CHeadlessRunner(const Options& options, std::ostream& out, std::ostream& err)
        : m_options(options), m_out(out), m_err(err) {}
    // The exit code: 0 after a normal stop, kExitUsage when an --rcon names no object, 1 when
    // standard output failed or the layout file could not be opened or saved.
    int Run(const volatile std::sig_atomic_t& stop);

private:
    struct PendingRcon {
        CCommonObject* object;
        std::string command;
        bool sent = false;
    };
    void SendPendingRcon();
    // The limit below the needed rate: one line on standard error, again only after it was enough.
    void WarnAboutRate(const COrvaneDoc& doc);
    bool Emit(const COrvaneDoc& doc, std::int64_t tick);

    const Options& m_options;
    std::ostream& m_out;
    std::ostream& m_err;
    std::vector<PendingRcon> m_pending;
    std::map<const CCommonObject*, std::uint64_t> m_consoleSeen;
    bool m_rateWarned = false;
};

}  // namespace orv::headless

#include "apps/headless.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <ostream>
#include <sstream>

#include "document/document.h"
#include "document/metrics.h"
#include "base/pollloop.h"
#include "base/strutil.h"
#include "net/udpsocket.h"

namespace orv::headless {

// ---- Object specs ----

const std::string* ObjectSpec::Find(std::string_view key) const {
    for (auto& [k, v] : values)
        if (k == key) return &v;
    return nullptr;
}

std::string KindEntry::Syntax() const {
    std::string s = "HOST[:PORT]";
    for (auto& [key, what] : keys) s += "[," + key + "=" + what + "]";
    return s;
}

const KindEntry* FindKindByOption(std::string_view option) {
    for (auto& k : Kinds())
        if (k.option == option) return &k;
    return nullptr;
}

const KindEntry* FindKindByClass(std::string_view className) {
    for (auto& k : Kinds())
        if (k.className == className) return &k;
    return nullptr;
}

namespace {

// Splits at commas that are not escaped; a backslash takes the next character as it is.
// False when the text ends in a lone backslash.
bool SplitSettings(std::string_view text, std::vector<std::string>& pieces) {
    pieces.assign(1, std::string());
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\\') {
            if (i + 1 == text.size()) return false;
            pieces.back() += text[++i];
        } else if (c == ',') {
            pieces.emplace_back();
        } else {
            pieces.back() += c;
        }
    }
    return true;
}

bool ParsePort(std::string_view text, std::uint32_t& port) {
    if (text.empty() || text.size() > 5) return false;
    std::uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
    if (value < 1 || value > 65535) return false;
    port = value;
    return true;
}

// The description as typed, each password setting's value (rcon, proxypw) shown as ***: a message never
// repeats a password. A key is read as SplitSettings reads it, backslashes taken.
std::string MaskPasswords(std::string_view text) {
    std::string out, key;
    bool inKey = false, masked = false;  // the address comes first: no key
    for (size_t i = 0; i < text.size(); ++i) {
        const bool escaped = text[i] == '\\' && i + 1 < text.size();
        const std::string_view raw = text.substr(i, escaped ? 2 : 1);
        const char c = raw.back();
        if (escaped) ++i;
        if (!escaped && c == ',') {
            inKey = true;
            masked = false;
            key.clear();
        } else if (inKey && !escaped && c == '=') {
            inKey = false;
            if (key == "rcon" || key == "proxypw") {
                out += "=***";
                masked = true;
                continue;
            }
        } else if (inKey) {
            key += c;
        }
        if (!masked) out += raw;
    }
    return out;
}

std::string AcceptedKeys(const KindEntry& kind) {
    std::string s;
    for (auto& [key, what] : kind.keys) s += (s.empty() ? "" : ", ") + key;
    return s.empty() ? "none" : s;
}

}  // namespace

std::optional<ObjectSpec> ParseObjectSpec(const KindEntry& kind, std::string_view text, std::string& error) {
    const std::string head = kind.option + " '" + MaskPasswords(text) + "': ";
    std::vector<std::string> pieces;
    if (!SplitSettings(text, pieces)) {
        error = head + "ends in a lone backslash";
        return std::nullopt;
    }
    ObjectSpec spec;
    spec.option = kind.option;
    spec.text = MaskPasswords(text);

    const std::string& address = pieces.front();
    const size_t colon = address.rfind(':');
    spec.host = address.substr(0, colon);
    if (spec.host.empty()) {
        error = head + "the address must begin with a host name or a dotted IPv4 address (HOST[:PORT])";
        return std::nullopt;
    }
    if (!CUdpSocket::IsValidHostName(spec.host)) {
        error = head + "'" + Utf8(spec.host) +
                "' is not a host name or a dotted IPv4 address (letters, digits, '-', '_' and '.')";
        return std::nullopt;
    }
    spec.port = kind.defaultPort;
    if (colon != std::string::npos && !ParsePort(std::string_view(address).substr(colon + 1), spec.port)) {
        error = head + "the port must be a number from 1 to 65535";
        return std::nullopt;
    }

    for (size_t i = 1; i < pieces.size(); ++i) {
        const std::string& piece = pieces[i];
        const size_t eq = piece.find('=');
        if (piece.empty() || eq == std::string::npos || eq == 0) {
            error = head + "expected KEY=VALUE after a comma, found '" + Utf8(piece) + "'";
            return std::nullopt;
        }
        const std::string key = piece.substr(0, eq);
        const bool known = std::any_of(kind.keys.begin(), kind.keys.end(), [&](auto& k) { return k.first == key; });
        if (!known) {
            error = head + "unknown setting '" + Utf8(key) + "' (accepted: " + AcceptedKeys(kind) + ")";
            return std::nullopt;
        }
        if (spec.Find(key)) {
            error = head + "the setting '" + key + "' is given twice";
            return std::nullopt;
        }
        spec.values.emplace_back(key, piece.substr(eq + 1));
    }
    return spec;
}

std::optional<RconRequest> ParseRconRequest(std::string_view text, std::string& error) {
    const size_t eq = text.find('=');
    RconRequest r;
    if (eq != std::string_view::npos) {
        r.address = std::string(text.substr(0, eq));
        r.command = std::string(text.substr(eq + 1));
    }
    if (eq == std::string_view::npos || r.address.empty() || r.command.empty()) {
        error = "--rcon '" + Utf8(text) + "': expected ADDRESS=COMMAND, for instance 127.0.0.1:27015=status";
        return std::nullopt;
    }
    return r;
}

// ---- Command line ----

namespace {

// The text in lines of at most width characters (words never split), each line indented.
std::string Wrap(const std::string& text, size_t width, const std::string& indent) {
    std::string out, line;
    std::istringstream words(text);
    std::string word;
    while (words >> word) {
        if (!line.empty() && line.size() + 1 + word.size() > width) {
            out += indent + line + "\n";
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
    }
    if (!line.empty()) out += indent + line + "\n";
    return out;
}

std::string HelpFooter() {
    std::ostringstream s;
    s << "\nObjects:\n"
         "  Each object option names one monitored object and may be repeated; objects are monitored in\n"
         "  the order given. The value is HOST[:PORT] followed by comma-separated KEY=VALUE settings;\n"
         "  a backslash takes the next character literally (rcon=a\\,b is the password a,b).\n"
         "  HOST is a host name or a dotted IPv4 address; PORT defaults to the kind's usual port.\n";
    for (auto& k : Kinds()) {
        s << "    " << k.option << " " << k.Syntax() << "\n"
          << "      " << k.description << " (default port " << k.defaultPort << ", group \"" << k.group << "\")\n";
        for (auto& [key, what] : k.keys) s << "      " << key << "=" << what << "\n";
    }
    s << "\nOutput (standard output, one compact JSON object per line):\n"
         "  The first tick runs at start, then one every second. After each tick, one line for the\n"
         "  document, {\"tick\":N,\"time\":...,\"queue\":...,\"limit\":...,\"needed\":...,\"sent\":...,\n"
         "  \"objects\":...} (needed: the limit in bits per second that the layout's polling needs; while\n"
         "  --limit is below it, one line on standard error says so and names the limit to set),\n"
         "  then one line per object with tick, kind, address, host, port, state (1 no answer,\n"
         "  2 answering, 3 rcon accepted), serverName, map, players, maxPlayers, playerNames,\n"
         "  console (the console lines added since the object's previous line), strays, rttMs and\n"
         "  rttSmoothedMs (the round trip of the latest answered query from the moment it left the\n"
         "  output queue, and its weighted mean, in milliseconds; null in state 1 and until measured)\n"
         "  and the kind's own fields. A Half-Life server (CHLServer) adds gameDirectory, icon, teamTags,\n"
         "  challenge, teamAName, teamBName, teamASet1, teamASet2, teamBSet1, teamBSet2, matchState,\n"
         "  matchRunning, protocol (\"classic\" for the details/players queries, \"a2s\" once the\n"
         "  server answered the binary A2S queries) and rconTransport (\"tcp\" once a present-day\n"
         "  server took its remote console's TCP connection on the same port, \"udp\" for the datagram\n"
         "  rcon, also while the TCP connection is being tried); an A2S server also adds infoPlayers\n"
         "  (the players its info reply counts), bots and vac (true when VAC secured). Text from the\n"
         "  servers is written as UTF-8 (bytes that are not valid UTF-8 are read as Latin-1).\n";
    for (auto& k : Kinds())
        if (!k.fields.empty()) s << Wrap(k.fields, 92, "  ");
    s << "  Messages (what the window shows in message boxes) and sounds (\"sound: FILE\") go to\n"
         "  standard error; questions are answered No.\n"
         "\nMetrics: with --metrics, GET /metrics answers in the Prometheus text format (0.0.4), built\n"
         "  after each tick: orvane_object_* per object (labels kind, name, address, zone, group),\n"
         "  orvane_proxy_*, orvane_gtv_rooms, orvane_output_*, orvane_ftp_jobs_waiting, orvane_build_info.\n"
         "\nStopping: after the tick at --seconds N, or on Ctrl+C (SIGINT) or SIGTERM; exit code 0.\n"
         "A bad command line exits with code 2.\n"
         "\nExample:\n"
         "  orvane-headless --hl 127.0.0.1:27015,rcon=secret --rcon 127.0.0.1:27015=status --seconds 30\n";
    return s.str();
}

}  // namespace

std::optional<Options> ParseCommandLine(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
                                        int& exitCode) {
    CLI::App app(
        "Monitors the game servers named on the command line over UDP, without a window, and "
        "prints one JSON line per object every second.",
        kProgramName);
    app.set_version_flag("--version", std::string(kProgramName) + " " + ORVANE_VERSION);
    app.footer(HelpFooter());
    app.get_formatter()->column_width(34);

    std::vector<std::vector<std::string>> raw(Kinds().size());
    std::vector<CLI::Option*> kindOptions;
    for (size_t i = 0; i < Kinds().size(); ++i) {
        const KindEntry& k = Kinds()[i];
        CLI::Option* o = app.add_option(k.option, raw[i], k.description + " (repeatable)");
        o->type_name(k.Syntax())->expected(1)->take_all()->allow_extra_args(false);
        kindOptions.push_back(o);
    }
    std::int64_t limit = COutputSocketControl::kDefaultLimit;
    app.add_option("--limit", limit, "UDP output limit in bits per second (default 10240)")
        ->type_name("BITS_PER_SECOND")
        ->check(CLI::Range(kMinLimit, kMaxLimit));
    std::int64_t seconds = -1;
    CLI::Option* secondsOption =
        app.add_option("--seconds", seconds, "Stop after the tick at N seconds (default: run until Ctrl+C)")
            ->type_name("N")
            ->check(CLI::Range(std::int64_t{0}, std::int64_t{315360000}));
    std::vector<std::string> rcon;
    app.add_option("--rcon", rcon,
                   "Send COMMAND by rcon once, when the object with ADDRESS (as given or as resolved) first "
                   "reaches state 3, over its console's transport, datagram or TCP (repeatable)")
        ->type_name("ADDRESS=COMMAND")
        ->expected(1)
        ->take_all()
        ->allow_extra_args(false);
    bool noSound = false;
    app.add_flag("--no-sound", noSound, "Disable the match-sound module (no \"sound:\" lines)");
    std::string openPath, savePath;
    app.add_option("--open", openPath,
                   "Start from this layout file (.orv): its objects, module settings, limit and sound switch; "
                   "objects named on the command line are added to it")
        ->type_name("FILE");
    app.add_option("--save", savePath, "Save the layout to this file (.orv) when the run ends")->type_name("FILE");
    std::int32_t ftpPort = CModuleVuzuVed::kFtpPort;
    CLI::Option* ftpPortOption =
        app.add_option("--ftp-port", ftpPort,
                       "Upload the VuzuVed status page to this FTP port instead of 21 (the page, its template "
                       "web_template.html in the current directory and the FTP settings come from the --open layout)")
            ->type_name("PORT")
            ->check(CLI::Range(1, 65535));
    std::string metrics;
    CLI::Option* metricsOption =
        app.add_option("--metrics", metrics,
                       "Serve GET /metrics (Prometheus text format 0.0.4) on this address: PORT alone listens "
                       "on 127.0.0.1, HOST a dotted IPv4 address; port 0 takes a free one (named on standard error)")
            ->type_name("[HOST:]PORT");

    std::vector<std::string> args;
    for (int i = argc - 1; i >= 1; --i) args.emplace_back(argv[i]);  // CLI11 takes them reversed
    try {
        app.parse(args);
    } catch (const CLI::CallForHelp& e) {
        exitCode = app.exit(e, out, err);
        return std::nullopt;
    } catch (const CLI::CallForAllHelp& e) {
        exitCode = app.exit(e, out, err);
        return std::nullopt;
    } catch (const CLI::CallForVersion& e) {
        exitCode = app.exit(e, out, err);
        return std::nullopt;
    } catch (const CLI::ParseError& e) {
        err << kProgramName << ": " << e.what() << "\nRun with --help for the options.\n";
        exitCode = kExitUsage;
        return std::nullopt;
    }

    Options options;
    options.limit = static_cast<std::int32_t>(limit);
    options.limitGiven = app.count("--limit") > 0;
    options.openPath = openPath;
    options.savePath = savePath;
    if (secondsOption->count() > 0) options.seconds = seconds;
    options.noSound = noSound;
    if (ftpPortOption->count() > 0) options.ftpPort = ftpPort;
    if (metricsOption->count() > 0) {
        std::string error;
        options.metrics = ParseListenAddress(metrics, error);
        if (!options.metrics) {
            err << kProgramName << ": --metrics " << Utf8(error) << "\n";
            exitCode = kExitUsage;
            return std::nullopt;
        }
    }

    // Objects in command-line order, across kinds: parse order lists every value as it was taken.
    std::vector<size_t> taken(Kinds().size(), 0);
    for (CLI::Option* o : app.parse_order()) {
        const auto it = std::find(kindOptions.begin(), kindOptions.end(), o);
        if (it == kindOptions.end()) continue;
        const size_t k = static_cast<size_t>(it - kindOptions.begin());
        if (taken[k] >= raw[k].size()) continue;
        std::string error;
        auto spec = ParseObjectSpec(Kinds()[k], raw[k][taken[k]++], error);
        if (!spec) {
            err << kProgramName << ": " << error << "\n";
            exitCode = kExitUsage;
            return std::nullopt;
        }
        options.objects.push_back(std::move(*spec));
    }
    for (auto& text : rcon) {
        std::string error;
        auto r = ParseRconRequest(text, error);
        if (!r) {
            err << kProgramName << ": " << error << "\n";
            exitCode = kExitUsage;
            return std::nullopt;
        }
        options.rcon.push_back(std::move(*r));
    }
    exitCode = 0;
    return options;
}

// ---- The platform seam ----

void CStderrPrompter::Write(const std::string& text) {
    std::lock_guard lk(m_lock);
    m_err << text << '\n';
    m_err.flush();
}

void CStderrPrompter::Message(const std::string& text) {
    Write(Utf8(text));
}

bool CStderrPrompter::AskYesNo(const std::string& question) {
    Write(Utf8(question) + " [answered No]");
    return false;
}

std::optional<std::string> CStderrPrompter::InputText(const std::string& prompt, const std::string& initial) {
    Write(Utf8(prompt) + " [cancelled]");
    return std::nullopt;
}

void CStderrSoundPlayer::Play(const std::string& fileName) {
    m_err << "sound: " << Utf8(fileName) << '\n';
    m_err.flush();
}

// ---- JSON ----

std::string Utf8(std::string_view bytes) {
    return ToDisplayUtf8(bytes);
}

Json ObjectLine(const CCommonObject& object, std::int64_t tick, std::uint64_t& consoleSeen) {
    Json j;
    j["tick"] = tick;
    j["kind"] = object.ClassName();
    j["address"] = Utf8(object.AddressString());
    j["host"] = Utf8(object.host);
    j["port"] = object.port;
    j["state"] = object.state;
    j["serverName"] = Utf8(object.serverName);
    j["map"] = "";  // the kinds that know a map replace it

    const std::int32_t count = std::clamp(object.GetPlayerNameCount(), 0, CCommonObject::kMaxPlayerNames);
    const auto* names = object.GetPlayerNames();
    Json list = Json::array();
    if (names)
        for (std::int32_t i = 0; i < count; ++i) list.push_back(Utf8((*names)[static_cast<size_t>(i)]));
    j["players"] = names ? count : 0;
    j["maxPlayers"] = object.maxPlayers;
    j["playerNames"] = std::move(list);

    // The log keeps its last entries; what was appended since the previous line is at its tail.
    const CConsoleLog& log = object.consoleLog;
    const std::uint64_t fresh = log.appended >= consoleSeen ? log.appended - consoleSeen : 0;
    const std::int32_t stored = std::clamp(log.count, 0, CConsoleLog::kCapacity);
    const std::int32_t shown =
        static_cast<std::int32_t>(std::min<std::uint64_t>(fresh, static_cast<std::uint64_t>(stored)));
    Json console = Json::array();
    for (std::int32_t i = stored - shown; i < stored; ++i) console.push_back(Utf8(log.text[static_cast<size_t>(i)]));
    consoleSeen = log.appended;
    j["console"] = std::move(console);
    j["strays"] = object.strayDatagrams;
    const auto ms = [&](std::int64_t micros) {
        return object.HasRoundTrip() ? Json(static_cast<double>(micros / 100) / 10.0) : Json(nullptr);
    };
    j["rttMs"] = ms(object.rttMicros);
    j["rttSmoothedMs"] = ms(object.rttSmoothedMicros);

    if (const KindEntry* kind = FindKindByClass(object.ClassName()); kind && kind->emit) kind->emit(object, j);
    return j;
}

Json DocumentLine(const COrvaneDoc& doc, std::int64_t tick) {
    Json j;
    j["tick"] = tick;
    j["time"] = doc.Platform().clock.Now();
    j["queue"] = doc.output.Count();
    j["limit"] = doc.output.GetLimit();
    j["needed"] = doc.NeededRate();
    j["sent"] = doc.output.DatagramsSent();
    j["objects"] = doc.objects.size();
    j["sound"] = doc.sound.sound.enabled != 0;
    return j;
}

std::string Dump(const Json& line) {
    return line.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// ---- The run ----

bool CHeadlessRunner::Emit(const COrvaneDoc& doc, std::int64_t tick) {
    std::string text = Dump(DocumentLine(doc, tick));
    text += '\n';
    for (auto& o : doc.objects) {
        text += Dump(ObjectLine(*o, tick, m_consoleSeen[o.get()]));
        text += '\n';
    }
    m_out << text;
    m_out.flush();
    return static_cast<bool>(m_out);
}

void CHeadlessRunner::WarnAboutRate(const COrvaneDoc& doc) {
    const std::string warning = doc.OutputRateWarning(doc.NeededRate());
    if (!warning.empty() && !m_rateWarned) m_err << kProgramName << ": " << warning << '\n';
    m_rateWarned = !warning.empty();
}

void CHeadlessRunner::SendPendingRcon() {
    for (auto& p : m_pending) {
        if (p.sent || p.object->state < CCommonObject::kStateRcon) continue;
        p.sent = true;
        p.object->SendRcon(p.command);
    }
}

int CHeadlessRunner::Run(const volatile std::sig_atomic_t& stop) {
    using Clock = std::chrono::steady_clock;
    using namespace std::chrono_literals;

    CSystemClock clock;
    CStderrPrompter prompter(m_err);
    CStderrSoundPlayer sound(m_err);
    CPollLoop loop;
    CPlatform platform{clock, prompter, sound, loop};
    COrvaneDoc doc(platform);
    doc.New();
    if (!m_options.openPath.empty() && !doc.Open(m_options.openPath)) return 1;  // the reason is on stderr
    if (m_options.limitGiven || m_options.openPath.empty()) doc.output.SetLimit(m_options.limit);
    if (m_options.noSound) doc.sound.sound.enabled = 0;
    if (m_options.ftpPort) doc.vuzuVed.local.ftpPort = *m_options.ftpPort;

    for (const ObjectSpec& spec : m_options.objects) {
        const KindEntry* kind = FindKindByOption(spec.option);
        if (!kind) continue;
        std::string error;
        std::unique_ptr<CCommonObject> object = kind->create(platform, spec, error);
        if (!object) {
            m_err << kProgramName << ": " << error << '\n';
            return kExitUsage;
        }
        CGroup* group = nullptr;
        for (auto& g : doc.groups)
            if (g->name == kind->group) group = g.get();
        if (!group && !doc.groups.empty()) group = doc.groups[0];  // an opened layout may lack the group
        doc.AddObject(std::move(object), group);  // a duplicate is refused with the document's message
    }

    // An --rcon address names an object as given on the command line or by its address string.
    m_pending.clear();
    for (const RconRequest& r : m_options.rcon) {
        CCommonObject* target = nullptr;
        for (auto& o : doc.objects) {
            if (o->Matches(r.address) || AddressString(o->host, static_cast<long>(o->port)) == r.address) {
                target = o.get();
                break;
            }
        }
        if (!target) {
            m_err << kProgramName << ": --rcon '" << Utf8(r.address) << "=" << Utf8(r.command)
                  << "': no monitored object has the address " << Utf8(r.address) << '\n';
            return kExitUsage;
        }
        m_pending.push_back(PendingRcon{target, r.command});
    }

    CMetricsServer metrics;
    if (m_options.metrics) {
        std::string error;
        if (!metrics.Start(*m_options.metrics, kMetricsContentType, error)) {
            m_err << kProgramName << ": " << error << '\n';
            return 1;
        }
        m_err << kProgramName << ": metrics at http://" << m_options.metrics->host << ':' << metrics.Port()
              << "/metrics\n";
        m_err.flush();
    }

    auto next = Clock::now();
    std::int64_t tick = 0;
    while (!stop) {
        const auto now = Clock::now();
        if (now >= next) {
            doc.Tick();
            SendPendingRcon();
            WarnAboutRate(doc);
            if (metrics.Running())
                metrics.Publish(std::make_shared<const std::string>(BuildMetricsText(doc, CUdpSocket::BytesSentTotal())));
            if (!Emit(doc, tick)) return 1;
            if (m_options.seconds && tick >= *m_options.seconds) break;
            ++tick;
            next += 1s;
            // After a long stall (the process was stopped), go on from now instead of ticking in a burst.
            const auto after = Clock::now();
            if (next + 1s <= after) next = after + 1s;
            continue;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(next - now) + 1ms;
        loop.RunOnce(std::min<std::chrono::milliseconds>(left, 100ms));
        SendPendingRcon();
    }
    if (!m_options.savePath.empty() && !doc.Save(m_options.savePath)) return 1;
    return 0;
}

}  // namespace orv::headless

// orvane-sim: plays game servers and TV proxies on 127.0.0.1 for Orvane to monitor. See --help.
#include <poll.h>

#include <chrono>
#include <fstream>
#include <iostream>
#include <sstream>

#include <CLI/CLI.hpp>

#include "sim/simulator/scenario.h"
#include "sim/simulator/simulator.h"
#include "base/stopsignal.h"

namespace {

constexpr const char* kDescription = R"(orvane-sim: plays Half-Life servers, HLTV proxies, Quake 3 servers and GTV proxies on 127.0.0.1
for Orvane to monitor. Nothing is sent anywhere but to the loopback addresses that query it.

The peers come from a scenario file and/or from counts of each kind. Once they are bound, one line per
peer is written on standard output, "KIND NAME 127.0.0.1:PORT", then the line "ready". The simulator then
runs until --seconds have passed or until Ctrl+C / SIGTERM (exit code 0). A bad command line or scenario
exits with 2, a port that cannot be bound with 1.

Scenario file (JSON): {"peers": [PEER, ...]}, each PEER an object with
  kind          "hl" (classic Half-Life server), "a2s" (present-day Half-Life server, A2S queries
                with a challenge), "hltv", "q3" (Quake 3 with OSP) or "gtv"
  name          unique name other peers refer to (default: kind and position)
  count         make N such peers (names get -1..-N, a fixed port grows by one each)
  port          UDP port on 127.0.0.1 (default 0: any free port)
  serverName    the name it reports
  map           its map (proxies report the relayed game's map)
  rcon          the rcon password it accepts (default "secret")
  console       a2s: "tcp" adds the remote console over TCP on the same port number, as present-day
                servers have it (a wrong password is refused with id -1; "cvarlist" prints about 30 KB);
                "udp" (default): the datagram rcon only
  password      the join password (sv_password, password, gtv_password)
  slots         player slots (proxies: spectator slots)
  players       list of player names
  churn         every CHURN seconds a player leaves, and comes back CHURN seconds later
  match         {"start": S, "length": L, "every": E, "teams": ["A", "B"]}: an AdminBot match
                (hl, a2s) or an OSP match clock (q3) from S seconds on for L seconds, again every E (0: once)
  silent        {"start": S, "length": L, "every": E}: answers nothing during those seconds
  relays        hltv: the name of the Half-Life server or HLTV proxy it relays
  spectators    hltv: spectators; gtv: clients (both vary a little)
  delay         hltv: the broadcast delay in seconds (default 30)
  rooms         gtv: [{"relays": NAME, "description": TEXT}, ...], one hub per room
  chains        gtv: names of the GTV proxies chained to it (Orvane's network detection finds them)
Times are whole seconds since the simulator started. A scenario file holds at most 1 MiB and makes at
most 20000 peers in all, holding at most 64 MiB of text with their counts.)";

std::string LogTime(std::chrono::steady_clock::time_point start) {
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    std::ostringstream s;
    s << ms / 1000 << '.' << (ms % 1000) / 100 << (ms % 100) / 10 << ms % 10;
    return s.str();
}

}  // namespace

int main(int argc, char** argv) {
    using namespace orv::sim;
    CLI::App app(kDescription, "orvane-sim");
    app.get_formatter()->column_width(28);
    std::string scenarioPath, logPath;
    int counts[5] = {0, 0, 0, 0, 0};
    int basePort = 0;
    std::int64_t seconds = 0;
    app.add_option("--scenario", scenarioPath, "Scenario file (JSON) to play")->check(CLI::ExistingFile);
    app.add_option("--hl", counts[0], "Add N classic Half-Life servers with players")->check(CLI::Range(0, 20000));
    app.add_option("--a2s", counts[1], "Add N present-day Half-Life servers (A2S queries with a challenge)")
        ->check(CLI::Range(0, 20000));
    app.add_option("--hltv", counts[2], "Add N HLTV proxies relaying the Half-Life servers")->check(CLI::Range(0, 20000));
    app.add_option("--q3", counts[3], "Add N Quake 3 servers with players")->check(CLI::Range(0, 20000));
    app.add_option("--gtv", counts[4], "Add N GTV proxies with a room relaying the Quake 3 servers")
        ->check(CLI::Range(0, 20000));
    app.add_option("--port", basePort, "First port of the added peers, one after another (default: any free ports)")
        ->check(CLI::Range(1, 65535));
    app.add_option("--seconds", seconds, "Stop after N seconds (default: run until stopped)")
        ->check(CLI::Range(std::int64_t{1}, std::int64_t{315360000}));
    app.add_option("--log", logPath,
                   "Log every datagram received to FILE (\"-\": standard output), one line each: seconds since "
                   "start, kind, name, port, length, bytes (\\xNN for the others)");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : 2;
    }

    Scenario scenario;
    std::string error;
    if (!scenarioPath.empty()) {
        // One byte past the limit is read, so that the reader refuses a file that is too large.
        std::ifstream in(scenarioPath, std::ios::binary);
        std::string text(kMaxScenarioBytes + 1, '\0');
        in.read(text.data(), static_cast<std::streamsize>(text.size()));
        text.resize(static_cast<size_t>(in.gcount()));
        if (!in.is_open() || in.bad() || !ParseScenario(text, scenario, error)) {
            std::cerr << "orvane-sim: " << scenarioPath << ": " << (error.empty() ? "cannot be read" : error) << "\n";
            return 2;
        }
    }
    int port = basePort;
    const char* kinds[5] = {"hl", "a2s", "hltv", "q3", "gtv"};
    for (int k = 0; k < 5; ++k) {
        if (counts[k] == 0) continue;
        if (basePort && port + counts[k] - 1 > 65535) {
            std::cerr << "orvane-sim: the ports from --port run past 65535\n";
            return 2;
        }
        AddGenerated(scenario, kinds[k], counts[k], basePort ? port : 0);
        if (basePort) port += counts[k];
    }
    if (scenario.peers.empty()) {
        std::cerr << "orvane-sim: nothing to play: give --scenario or a count of peers (see --help)\n";
        return 2;
    }
    if (!CheckScenario(scenario, error)) {
        std::cerr << "orvane-sim: " << error << "\n";
        return 2;
    }

    std::ofstream logFile;
    std::ostream* log = nullptr;
    if (logPath == "-") {
        log = &std::cout;
    } else if (!logPath.empty()) {
        if (!OpenLog(logPath, logFile)) {
            std::cerr << "orvane-sim: cannot write the log " << logPath << "\n";
            return 1;
        }
        log = &logFile;
    }

    orv::InstallStopSignals();
    CSimulator sim(scenario);
    if (!sim.Ok()) {
        std::cerr << "orvane-sim: " << sim.Error() << "\n";
        return 1;
    }
    for (const auto& p : sim.List()) std::cout << p.kind << ' ' << p.name << ' ' << p.address << '\n';
    std::cout << "ready" << std::endl;

    const auto start = std::chrono::steady_clock::now();
    std::int64_t stepped = 0;
    auto sink = [&](const std::string& kind, const std::string& name, int peerPort, const std::string& bytes) {
        *log << LogTime(start) << ' ' << kind << ' ' << name << ' ' << peerPort << ' ' << bytes.size() << ' '
             << Printable(bytes) << '\n';
    };
    while (!orv::g_stopRequested) {
        // Wakes ten times a second to hand on the log; moves the broadcast on once a second.
        ::poll(nullptr, 0, 100);
        sim.Drain(log ? CSimulator::Sink(sink) : CSimulator::Sink());
        if (log) log->flush();
        const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count();
        while (stepped < elapsed) sim.Step(++stepped);
        if (seconds && elapsed >= seconds) break;
    }
    return 0;
}

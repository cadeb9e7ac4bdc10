#include "document/metrics.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <vector>

#include "base/strutil.h"
#include "document/document.h"
#include "monitors/halflife/hlserver.h"
#include "monitors/halflife/hltv.h"
#include "monitors/quake3/gtv.h"
#include "monitors/quake3/q3server.h"

namespace orv {

namespace {

// What one object shows, read once per snapshot; -1: the family has no sample for this object.
struct ObjectFigures {
    std::string labels;  // {kind="...",...}
    std::int64_t state = 0, players = 0, maxPlayers = 0;
    std::int64_t rttMicros = -1, rttSmoothedMicros = -1;
    std::uint64_t answers = 0, timeouts = 0;
    std::int64_t matchRunning = -1, spectators = -1, recording = -1, rooms = -1;
};

void AppendLabel(std::string& out, const char* name, std::string_view value, bool first = false) {
    if (!first) out += ',';
    out += name;
    out += "=\"";
    AppendLabelValue(out, value);
    out += '"';
}

template <class T>
void AppendNumber(std::string& out, T value) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, r.ptr);
}

void AppendSeconds(std::string& out, std::int64_t micros) { AppendNumber(out, static_cast<double>(micros) / 1e6); }

void Header(std::string& out, std::string_view name, const char* type, const char* help) {
    out += "# HELP ";
    out += name;
    out += ' ';
    out += help;
    out += "\n# TYPE ";
    out += name;
    out += ' ';
    out += type;
    out += '\n';
}

// One family over the objects; value(figures) < 0 leaves the object out. No header without a sample.
template <class Value, class Write>
void ObjectFamily(std::string& out, const std::vector<ObjectFigures>& rows, std::string_view name, const char* type,
                  const char* help, Value value, Write write) {
    bool any = false;
    for (const ObjectFigures& row : rows) {
        const auto v = value(row);
        if (v < 0) continue;
        if (!any) Header(out, name, type, help);
        any = true;
        out += name;
        out += row.labels;
        out += ' ';
        write(out, v);
        out += '\n';
    }
}

template <class T>
void DocumentSample(std::string& out, std::string_view name, const char* type, const char* help, T value) {
    Header(out, name, type, help);
    out += name;
    out += ' ';
    AppendNumber(out, value);
    out += '\n';
}

ObjectFigures Figures(const CCommonObject& o) {
    ObjectFigures f;
    f.labels.reserve(128);
    f.labels += '{';
    AppendLabel(f.labels, "kind", o.ClassName(), true);
    AppendLabel(f.labels, "name", o.serverName);
    AppendLabel(f.labels, "address", o.resolvedAddress);  // AddressString(), without formatting it
    f.labels.pop_back();
    f.labels += ':';
    AppendNumber(f.labels, o.port);
    f.labels += '"';
    const CGroup* group = o.group;
    AppendLabel(f.labels, "zone", group && group->zone ? std::string_view(group->zone->name) : std::string_view());
    AppendLabel(f.labels, "group", group ? std::string_view(group->name) : std::string_view());
    f.labels += '}';

    f.state = o.state;
    f.players = o.GetPlayerNames() ? std::clamp(o.GetPlayerNameCount(), 0, CCommonObject::kMaxPlayerNames) : 0;
    f.maxPlayers = o.maxPlayers;
    if (o.HasRoundTrip()) {
        f.rttMicros = o.rttMicros;
        f.rttSmoothedMicros = o.rttSmoothedMicros;
    }
    f.answers = o.answersReceived;
    f.timeouts = o.timeoutsEntered;
    if (const auto* hltv = dynamic_cast<const CHLTV*>(&o)) {
        const CHLServer* relayed = hltv->GameServer(false);
        f.matchRunning = relayed && relayed->matchRunning == 1 ? 1 : 0;
        f.spectators = hltv->spectators;
        f.recording = hltv->recordingFile.empty() ? 0 : 1;
    } else if (const auto* hl = dynamic_cast<const CHLServer*>(&o)) {
        f.matchRunning = hl->matchRunning == 1 ? 1 : 0;
    } else if (const auto* q3 = dynamic_cast<const CQ3Server*>(&o)) {
        f.matchRunning = q3->matchRunning != 0 ? 1 : 0;
    } else if (const auto* gtv = dynamic_cast<const CGTV*>(&o)) {
        const int count = std::clamp(gtv->roomCount, 0, static_cast<int>(gtv->rooms.size()));
        f.matchRunning = f.recording = 0;
        for (int i = 0; i < count; ++i) {
            const CGTVRoom& room = gtv->rooms[static_cast<size_t>(i)];
            const auto* server = dynamic_cast<const CQ3Server*>(room.linkedServer);
            if (server && server->matchRunning != 0) f.matchRunning = 1;
            if (!room.recordingName.empty()) f.recording = 1;
        }
        f.spectators = gtv->clients;
        f.rooms = count;
    }
    return f;
}

}  // namespace

namespace {
// Runs of plain characters are appended whole. A byte beyond ASCII sends the rest through the UTF-8
// conversion first (an ASCII head does not change whether the whole is valid UTF-8).
void AppendEscaped(std::string& out, std::string_view bytes, bool utf8) {
    size_t plain = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (!utf8 && static_cast<unsigned char>(c) >= 0x80) {
            out.append(bytes.data() + plain, i - plain);
            AppendEscaped(out, ToDisplayUtf8(bytes.substr(i)), true);
            return;
        }
        if (c != '\\' && c != '"' && c != '\n') continue;
        out.append(bytes.data() + plain, i - plain);
        out += c == '\n' ? "\\n" : c == '"' ? "\\\"" : "\\\\";
        plain = i + 1;
    }
    out.append(bytes.data() + plain, bytes.size() - plain);
}
}  // namespace

void AppendLabelValue(std::string& out, std::string_view bytes) { AppendEscaped(out, bytes, false); }

std::string RoundTripText(const CCommonObject& object) {
    if (!object.HasRoundTrip()) return {};
    return Format("RTT %.1f ms, mean %.1f ms", static_cast<double>(object.rttMicros) / 1000.0,
                  static_cast<double>(object.rttSmoothedMicros) / 1000.0);
}

std::string BuildMetricsText(const COrvaneDoc& doc, std::uint64_t bytesSent) {
    std::vector<ObjectFigures> rows;
    rows.reserve(doc.objects.size());
    for (const auto& o : doc.objects) rows.push_back(Figures(*o));

    std::string out;
    out.reserve(1024 + rows.size() * (rows.empty() ? 0 : (rows.front().labels.size() + 40) * 12));
    const auto integer = [](std::string& s, std::int64_t v) { AppendNumber(s, v); };
    const auto seconds = [](std::string& s, std::int64_t v) { AppendSeconds(s, v); };
    ObjectFamily(out, rows, "orvane_object_state", "gauge",
                 "State of the monitored object: 1 no answer, 2 answering, 3 under rcon control.",
                 [](const ObjectFigures& f) { return f.state; }, integer);
    ObjectFamily(out, rows, "orvane_object_players", "gauge", "Players on the server (a GTV proxy: its selected room).",
                 [](const ObjectFigures& f) { return f.players; }, integer);
    ObjectFamily(out, rows, "orvane_object_max_players", "gauge", "Player slots the server reported.",
                 [](const ObjectFigures& f) { return f.maxPlayers; }, integer);
    ObjectFamily(out, rows, "orvane_object_rtt_seconds", "gauge",
                 "Round trip of the latest answered query, from the moment it left the output queue; none in state 1.",
                 [](const ObjectFigures& f) { return f.rttMicros; }, seconds);
    ObjectFamily(out, rows, "orvane_object_rtt_smoothed_seconds", "gauge",
                 "Exponentially weighted mean of the round trips (1/8 per sample); none in state 1.",
                 [](const ObjectFigures& f) { return f.rttSmoothedMicros; }, seconds);
    ObjectFamily(out, rows, "orvane_object_answers_total", "counter", "Answers received from the object.",
                 [](const ObjectFigures& f) { return static_cast<std::int64_t>(f.answers); }, integer);
    ObjectFamily(out, rows, "orvane_object_timeouts_total", "counter",
                 "Times the object went silent for more than 10 seconds (entered state 1) after answering.",
                 [](const ObjectFigures& f) { return static_cast<std::int64_t>(f.timeouts); }, integer);
    ObjectFamily(out, rows, "orvane_object_match_running", "gauge",
                 "1 while a match runs on the server (for a proxy: on the server it relays).",
                 [](const ObjectFigures& f) { return f.matchRunning; }, integer);
    ObjectFamily(out, rows, "orvane_proxy_spectators", "gauge",
                 "Spectators of a TV proxy (HLTV: spectators and relayed proxies; GTV: clients).",
                 [](const ObjectFigures& f) { return f.spectators; }, integer);
    ObjectFamily(out, rows, "orvane_proxy_recording", "gauge", "1 while a TV proxy records (GTV: any of its rooms).",
                 [](const ObjectFigures& f) { return f.recording; }, integer);
    ObjectFamily(out, rows, "orvane_gtv_rooms", "gauge", "Rooms a GTV proxy reports.",
                 [](const ObjectFigures& f) { return f.rooms; }, integer);

    DocumentSample(out, "orvane_output_queue_datagrams", "gauge", "Datagrams waiting in the UDP output queue.",
                   doc.output.Count());
    // The limit is set in bits per second; the base unit is the byte.
    DocumentSample(out, "orvane_output_limit_bytes_per_second", "gauge",
                   "UDP output limit (the bits per second set, divided by 8).", doc.output.GetLimit() / 8.0);
    DocumentSample(out, "orvane_output_needed_bytes_per_second", "gauge",
                   "Output limit the layout's polling needs to keep up, 30 bytes of overhead per datagram.",
                   doc.NeededBytesPerSecond());
    DocumentSample(out, "orvane_output_sent_bytes_total", "counter", "UDP payload bytes sent by the process.",
                   bytesSent);
    DocumentSample(out, "orvane_output_sent_datagrams_total", "counter", "Datagrams the output queue sent.",
                   doc.output.DatagramsSent());
    DocumentSample(out, "orvane_ftp_jobs_waiting", "gauge", "FTP uploads waiting or in progress.",
                   doc.ftp.PendingCount());
    Header(out, "orvane_build_info", "gauge", "Version of the program; always 1.");
    out += "orvane_build_info{version=\"" ORVANE_VERSION "\"} 1\n";
    return out;
}

}  // namespace orv

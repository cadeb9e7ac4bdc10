#include "modules/vuzuved.h"

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <iomanip>
#include <limits>
#include <locale>
#include <memory>
#include <sstream>
#include <utility>

#include "base/archive.h"
#include "base/strutil.h"
#include "ftp/ftpengine.h"
#include "modules/modulehost.h"
#include "monitors/halflife/hltv.h"
#include "monitors/quake3/gtv.h"

namespace orv {

namespace {

using Tag = std::pair<std::string_view, std::string_view>;

// Appends row to out with each tag replaced by its value, in one pass from left to right: a value put in
// is never searched for tags, so text from the network cannot name one. Every tag ends in ']' and holds no
// other, so at most one matches at a place.
void Substitute(std::string& out, std::string_view row, std::initializer_list<Tag> tags) {
    size_t from = 0;
    for (size_t at = row.find('['); at != std::string_view::npos; at = row.find('[', at)) {
        const auto hit =
            std::find_if(tags.begin(), tags.end(), [&](const Tag& t) { return row.substr(at).starts_with(t.first); });
        if (hit == tags.end()) {
            ++at;
            continue;
        }
        out.append(row, from, at - from);
        out.append(hit->second);
        from = at += hit->first.size();
    }
    out.append(row, from);
}

// The template is consumed from its start: the text before the first tag is returned and the tag
// dropped; a tag that does not occur gives an empty text and consumes nothing.
std::string Cut(std::string& rest, std::string_view tag) { return Tokenize(rest, tag); }

std::string Decimal(std::int64_t value) { return std::to_string(value); }

std::int32_t ToInt32(std::int64_t value) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, std::numeric_limits<std::int32_t>::min(),
                                                               std::numeric_limits<std::int32_t>::max()));
}

// Integer percentage of peak over the slot total; "-" without slots.
std::string Percent(std::int64_t peak, std::int64_t slots) {
    if (slots == 0) return "-";
    return Decimal(peak * 100 / slots);
}

}  // namespace

void CModuleVuzuVed::Reset() {
    enabled = 0;
    interval = kDefaultInterval;
    remoteFilename = "/somepath/Orvane.html";
    password.clear();
    login.clear();
    server = kDefaultServer;
    peakHlBandwidth = 0.0;
    peakHlSpectators = 0;
    peakGtvBandwidth = 0.0;
    peakGtvSpectators = 0;
    tickCounter = 0;
}

void CModuleVuzuVed::Serialize(CArchive& ar) {
    ar.Int32(enabled);
    ar.String(login);
    ar.String(password);
    ar.Int32(interval);
    ar.String(remoteFilename);
    ar.String(server);
    ar.Double(peakHlBandwidth);
    ar.Int32(peakHlSpectators);
    ar.Double(peakGtvBandwidth);
    ar.Int32(peakGtvSpectators);
}

void CModuleVuzuVed::Tick(IModuleHost& host) {
    if (enabled == 0) return;
    // The dialog only accepts 10 and more; a value below 1 (never from a file, which gets the default
    // when it holds one) must not stop the schedule or make it upload on every tick.
    const std::int64_t period = interval >= 1 ? interval : kDefaultInterval;
    if (period == 1) {
        // "Every second": from the second tick on, on every tick.
        if (tickCounter >= 1) Upload(host);
        tickCounter = 1;
        return;
    }
    if (tickCounter == 1) Upload(host);
    std::int64_t next = (static_cast<std::int64_t>(tickCounter) + 1) % period;
    if (next < 0) next = 0;
    tickCounter = static_cast<std::int32_t>(next);
}

void CModuleVuzuVed::Upload(IModuleHost& host) {
    if (enabled == 0) return;
    if (auto job = MakeJob(host)) host.FtpEngine().AddOrReplaceJob(std::move(job));
}

std::unique_ptr<FtpJob> CModuleVuzuVed::MakeJob(IModuleHost& host) {
    std::optional<std::string> page = GeneratePage(host);
    if (!page) return nullptr;
    auto job = std::make_unique<FtpJob>();
    job->server = server;
    job->port = local.ftpPort;
    job->user = login;
    job->password = password;
    job->remotePath = remoteFilename;
    job->content = std::move(*page);
    job->kind = 0;
    return job;
}

std::string CModuleVuzuVed::MatchStateText(std::int32_t matchState) {
    switch (matchState) {
        case 0: return "No match detected";
        case 1: return "still warming up";
        case 2: return "fighting 1st set";
        case 3: return "warming up the 2nd set";
        case 4: return "fighting ";
        case 5: return "match is finished";
        default: return "";
    }
}

std::string CModuleVuzuVed::TemplatePath() const {
    if (local.templateFolder.empty()) return kTemplateFileName;
    std::string path = local.templateFolder;
    if (path.back() != '/') path += '/';
    return path + kTemplateFileName;
}

std::optional<std::string> CModuleVuzuVed::ReadTemplate(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return std::nullopt;
    std::string bytes;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) bytes.append(buffer, n);
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) return std::nullopt;
    // Line by line, each without its end of line ("\n" or "\r\n"), joined with nothing between them.
    std::string joined;
    joined.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '\n') continue;
        if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
        joined += c;
    }
    return joined;
}

std::string CModuleVuzuVed::Signature(IModuleHost& host) {
    const std::tm local = host.Clock().LocalTime(host.Clock().Now());
    // The day and month names are the C library's English ones, whatever the user's locale.
    std::ostringstream date;
    date.imbue(std::locale::classic());
    date << std::put_time(&local, kDateFormat);
    return std::string("Auto-Generated by <a href='") + kSiteAddress + "'>Orvane</a> (VuzuVed module) on " + date.str() +
           "<br>Made by Dalvek, Gfx by Muro.";
}

std::optional<std::string> CModuleVuzuVed::GeneratePage(IModuleHost& host) {
    const auto text = ReadTemplate(TemplatePath());
    if (!text) {
        if (!templateMissingShown) host.Prompter().Message(kMissingTemplateMessage);
        templateMissingShown = true;
        return std::nullopt;
    }
    templateMissingShown = false;
    auto page = GeneratePageFromTemplate(host, *text);
    // Told once, until a page fits again.
    if (!page && !pageTooLargeShown) host.Prompter().Message(Format(kPageTooLargeMessage, local.pageLimit));
    pageTooLargeShown = !page;
    return page;
}

std::string CModuleVuzuVed::HtmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default: out += c; break;
        }
    }
    return out;
}

std::optional<std::string> CModuleVuzuVed::GeneratePageFromTemplate(IModuleHost& host, std::string_view templateText) {
    std::string rest(templateText);
    const std::size_t limit = local.pageLimit;

    Cut(rest, "[SECTION_ALWAYS]");
    std::string page = Cut(rest, "[/SECTION_ALWAYS]");

    // HLTV proxies: exported and under rcon control.
    Cut(rest, "[SECTION_HLTV]");
    std::string hltvBlock = Cut(rest, "[SECTION_HLTV_LOOP]");
    const std::string hltvRow = Cut(rest, "[/SECTION_HLTV_LOOP]");
    std::int64_t hlSpectators = 0, hlSlots = 0;
    double hlBandwidth = 0.0;
    int hlExported = 0;
    const bool adminBot = host.AdminBotEnabled();
    // By position: a message box of the relay-chain walk may let the list change meanwhile.
    for (size_t i = 0; i < host.ObjectList().size(); ++i) {
        const auto* tv = dynamic_cast<const CHLTV*>(host.ObjectList()[i]);
        if (!tv || tv->exportToWeb == 0 || tv->state < CCommonObject::kStateRcon) continue;
        ++hlExported;
        std::string clans, info;
        if (tv->serverAddress.empty()) {
            clans = info = "&nbsp;";
        } else {
            const CHLServer* game = tv->GameServer(true);
            const std::string players = Decimal(tv->GetPlayerNameCount());
            if (adminBot && game) {
                clans = game->matchState > 0
                            ? "<b>" + HtmlEscape(game->teamAName) + "</b> vs <b>" + HtmlEscape(game->teamBName) + "</b>"
                                             : std::string("&nbsp;");
                info = "Currently " + players + " players on " + HtmlEscape(tv->map) + ", " + MatchStateText(game->matchState) +
                       ", score is " + Decimal(game->TeamAScore()) + "-" + Decimal(game->TeamBScore()) + " (" +
                       Format("%0.1f", static_cast<double>(tv->delay)) + "s delay)";
            } else {
                clans = HtmlEscape(tv->TeamTags());
                info = players + " players on " + HtmlEscape(tv->map);
            }
        }
        Substitute(hltvBlock, hltvRow,
                   {{"[#HOSTNAME]", HtmlEscape(tv->serverName)},
                    {"[#IP]", HtmlEscape(tv->ExternalAddressString())},
                    {"[#NBSPEC]", Decimal(tv->spectators)},
                    {"[#NBSPECMAX]", Decimal(tv->spectatorSlots)},
                    {"[#CLANS]", clans},
                    {"[#INFO]", info}});
        if (page.size() + hltvBlock.size() > limit) return std::nullopt;
        hlSpectators += tv->spectators;
        hlSlots += tv->spectatorSlots;
        hlBandwidth += static_cast<double>(tv->outgoingBandwidth);
    }
    hltvBlock += Cut(rest, "[/SECTION_HLTV]");
    if (hlExported > 0) page += hltvBlock;
    if (hlSpectators > peakHlSpectators) peakHlSpectators = ToInt32(hlSpectators);
    if (hlBandwidth > peakHlBandwidth) peakHlBandwidth = hlBandwidth;

    // GTV proxies: exported and answering.
    Cut(rest, "[SECTION_GTV]");
    std::string gtvBlock = Cut(rest, "[SECTION_GTV_LOOP]");
    const std::string gtvRow = Cut(rest, "[/SECTION_GTV_LOOP]");
    std::int64_t gtvClients = 0, gtvSlots = 0;
    int gtvExported = 0;
    for (size_t i = 0; i < host.ObjectList().size(); ++i) {
        const auto* gtv = dynamic_cast<const CGTV*>(host.ObjectList()[i]);
        if (!gtv || gtv->exportToWeb == 0 || gtv->state < CCommonObject::kStateMonitor) continue;
        ++gtvExported;
        std::string info;
        const int rooms = std::clamp<std::int32_t>(gtv->roomCount, 0, CGTV::kMaxRooms);
        for (int r = 0; r < rooms; ++r) {
            const CGTVRoom& room = gtv->rooms[static_cast<size_t>(r)];
            if (room.roomState == 2) continue;
            const std::int32_t number = room.roomNumber > 0 ? room.roomNumber : room.hubNumber;
            info += "Room #" + Decimal(number) + " : " + HtmlEscape(room.description) +
                    ", POV : " + HtmlEscape(gtv->FollowedPlayerName(room)) + "<br>";
        }
        Substitute(gtvBlock, gtvRow,
                   {{"[#HOSTNAME]", HtmlEscape(gtv->serverName)},
                    {"[#IP]", HtmlEscape(gtv->ExternalAddressString())},
                    {"[#NBSPEC]", Decimal(gtv->clients)},
                    {"[#NBSPECMAX]", Decimal(gtv->clientSlots)},
                    {"[#INFO]", info}});
        if (page.size() + gtvBlock.size() > limit) return std::nullopt;
        gtvClients += gtv->clients;
        gtvSlots += gtv->clientSlots;
    }
    gtvBlock += Cut(rest, "[/SECTION_GTV]");
    if (gtvExported > 0) page += gtvBlock;
    if (gtvClients > peakGtvSpectators) peakGtvSpectators = ToInt32(gtvClients);
    if (peakGtvBandwidth < 0.0) peakGtvBandwidth = 0.0;

    // Statistics, always.
    Cut(rest, "[SECTION_STATS]");
    Substitute(page, Cut(rest, "[/SECTION_STATS]"),
               {{"[#TOTAL_HL_SLOTS]", Decimal(hlSpectators)},
                {"[#TOTAL_HL_SLOTS_MAX]", Decimal(hlSlots)},
                {"[#TOTAL_HL_SLOTS_PEAK]", Decimal(peakHlSpectators)},
                {"[#TOTAL_HL_SLOTS_PEAK_PERCENT]", Percent(peakHlSpectators, hlSlots)},
                {"[#TOTAL_HL_BANDWIDTH]", Format("%0.3f", hlBandwidth * 0.008)},
                {"[#TOTAL_HL_BANDWIDTH_PEAK]", Format("%0.3f", peakHlBandwidth * 0.008)},
                {"[#TOTAL_GTV_SLOTS]", Decimal(gtvClients)},
                {"[#TOTAL_GTV_SLOTS_MAX]", Decimal(gtvSlots)},
                {"[#TOTAL_GTV_SLOTS_PEAK]", Decimal(peakGtvSpectators)},
                {"[#TOTAL_GTV_SLOTS_PEAK_PERCENT]", Percent(peakGtvSpectators, gtvSlots)}});

    // The closing always-section with the signature; what follows it is ignored.
    Cut(rest, "[SECTION_ALWAYS]");
    const std::string tail = Cut(rest, "[/SECTION_ALWAYS]");
    if (tail.find("[#SIGN]") != std::string::npos)
        Substitute(page, tail, {{"[#SIGN]", Signature(host)}});
    else
        page += tail;
    if (page.size() > limit) return std::nullopt;
    return page;
}

}  // namespace orv

#include "ui/view/objectpainters.h"

#include <type_traits>

#include "monitors/halflife/hltv.h"
#include "monitors/quake3/gtv.h"
#include "monitors/quake3/q3server.h"
#include "ui/qtplatform.h"
#include "ui/view/paintkit.h"

namespace orv::view {

namespace {

const QColor kBlack(0, 0, 0);
const QColor kPlayers(0, 0, 255);
const QColor kSpectators(0, 255, 0);
const QColor kBandwidth(255, 0, 0);
const QColor kHighlight(220, 220, 220);
const QColor kFoldGrey(120, 120, 120);
const QColor kSelectedRoom(160, 243, 230);
const QColor kHubNumber(200, 200, 200);
const QColor kDescription(59, 28, 221);
const QColor kFollowed(223, 51, 99);

constexpr int kGaugeWidth = 7;
constexpr int kStateIcon = 32;
constexpr int kMatchBelowState = 18;

QRect GaugeAt(const CCommonObject& o, int offset) {
    const QRect icon = ToQRect(o.iconRect);
    return QRect(icon.right() + 1 + offset, icon.top(), kGaugeWidth, icon.height());
}

// The band under the icon where a game server writes its name.
void PaintServerName(QPainter& p, const CCommonObject& o) {
    const QRect band(o.box.left, o.iconRect.bottom + 3, o.box.Width(), 15);
    DrawTextInRect(p, band, ToQString(o.serverName), ArialPx(12), kBlack, Qt::AlignHCenter | Qt::AlignVCenter);
}

// What every kind draws: its icon at the top and its address line at the bottom.
void PaintCommon(QPainter& p, const CCommonObject& o) {
    DrawBitmap(p, o.icon, o.iconRect.left, o.iconRect.top);
    DrawTextInRect(p, ToQRect(o.box), ToQString(o.AddressString()), ArialPx(13), kBlack,
                   Qt::AlignHCenter | Qt::AlignBottom);
}

// The Half-Life and Quake 3 servers: name, state icon, match mark (the gauge is PaintGauges').
void PaintGameServer(QPainter& p, const CCommonObject& o, bool matchMark) {
    if (o.state != CCommonObject::kStateTimeout) PaintServerName(p, o);
    DrawBitmap(p, StateBitmap(o.state), o.box.left, o.box.top);
    if (matchMark) DrawBitmap(p, CHLServer::kMatchBitmap, o.box.left, o.box.top + kMatchBelowState);
}

void PaintPlayerGauge(QPainter& p, const CCommonObject& o, int players, int maximum) {
    if (maximum > 0) PaintGauge(p, GaugeAt(o, 2), o.iconRect.Height() * std::min(players, maximum) / maximum, kPlayers);
}

// Every kind's gauges (players, spectators, bandwidth, clients), the same in the box and on the tile.
void PaintGauges(QPainter& p, const CCommonObject& o) {
    if (o.state == CCommonObject::kStateTimeout) return;
    const int height = o.iconRect.Height();
    if (const auto* hltv = dynamic_cast<const CHLTV*>(&o)) {
        PaintGauge(p, GaugeAt(o, 2), hltv->PlayerGaugeFill(height), kPlayers);
        if (hltv->ShowsSpectatorGauge()) PaintGauge(p, GaugeAt(o, 11), hltv->SpectatorGaugeFill(height), kSpectators);
        PaintGauge(p, GaugeAt(o, 20), hltv->BandwidthGaugeFill(height), kBandwidth);
    } else if (const auto* hl = dynamic_cast<const CHLServer*>(&o)) {
        PaintPlayerGauge(p, o, hl->GaugePlayers(), CHLServer::kGaugeMaximum);
    } else if (const auto* q3 = dynamic_cast<const CQ3Server*>(&o)) {
        PaintPlayerGauge(p, o, q3->playerNameCount, q3->maxPlayers);
    } else if (const auto* gtv = dynamic_cast<const CGTV*>(&o); gtv && gtv->clientSlots != 0) {
        const int fill = static_cast<int>(std::clamp<long long>(
            static_cast<long long>(height) * gtv->clients / gtv->clientSlots, 0, height));
        PaintGauge(p, GaugeAt(o, 11), fill, kSpectators);
    }
}

// The object at a small scale: a tile in its state's colour with its gauges.
void PaintTile(QPainter& p, const CCommonObject& o, CBoxStyle style) {
    static const QColor kTimeout(220, 70, 60), kMonitor(245, 190, 50), kRcon(70, 170, 80);
    const QRect box = ToQRect(o.box);
    p.fillRect(box, o.state == CCommonObject::kStateTimeout ? kTimeout
                    : o.state == CCommonObject::kStateMonitor ? kMonitor : kRcon);
    PaintGauges(p, o);
    if (style == CBoxStyle::Highlighted) DrawFrame(p, box, 8, kBlack);
}

// A server or proxy that answers the binary queries carries a small badge in the corner of its icon.
void PaintDialectMark(QPainter& p, const CHLServer& o) {
    if (o.Dialect() != CHLDialect::A2S) return;
    const QRect badge(o.iconRect.right - 22, o.iconRect.bottom - 10, 22, 10);
    p.fillRect(badge, QColor(60, 60, 60));
    DrawTextInRect(p, badge, QStringLiteral("A2S"), ArialPx(9, 700), QColor(Qt::white), Qt::AlignCenter);
}

void PaintHLServer(QPainter& p, const CHLServer& o) {
    PaintGameServer(p, o, o.ShowsMatchMark());
    PaintDialectMark(p, o);
}

void PaintQ3Server(QPainter& p, const CQ3Server& o) {
    PaintGameServer(p, o, o.state >= CCommonObject::kStateRcon && o.matchRunning == 1);
}

void PaintHLTV(QPainter& p, const CHLTV& o) {
    if (o.state != CCommonObject::kStateTimeout) PaintServerName(p, o);
    DrawBitmap(p, StateBitmap(o.state), o.box.left, o.box.top, 16);
    if (const std::uint32_t mark = o.RecordingMark()) DrawBitmap(p, mark, o.box.left + 18, o.box.top + 3);
    PaintDialectMark(p, o);
}

void PaintRoom(QPainter& p, const CGTV& gtv, const CGTVRoom& room) {
    const QRect band = ToQRect(room.band);
    p.fillRect(band, &room == gtv.selectedRoom ? kSelectedRoom : QColor(Qt::white));
    DrawFrame(p, band, 1, kBlack);
    DrawTextInRect(p, band, QStringLiteral("#%1").arg(room.hubNumber), ArialPx(40, 800), kHubNumber, Qt::AlignCenter);
    DrawTextInRect(p, band.adjusted(1, 1, -1, 0), ToQString(room.description), ArialPx(16), kDescription,
                   Qt::AlignLeft | Qt::AlignTop);
    DrawTextInRect(p, band.adjusted(1, 0, -1, -1), ToQString(gtv.FollowedPlayerName(room)), ArialPx(20, 700),
                   kFollowed, Qt::AlignHCenter | Qt::AlignBottom);
    // The anchor of the room's link lines.
    p.setPen(Qt::NoPen);
    p.setBrush(kBlack);
    p.drawPie(QRect(room.anchor.x - 4, room.anchor.y - 4, 8, 8), -90 * 16, 180 * 16);
    p.setBrush(Qt::NoBrush);
    const int markTop = band.center().y() - 5;
    if (!room.recordingName.empty()) DrawBitmap(p, CHLTV::kMarkRecording, band.left() + 10, markTop);
    else if (gtv.autoRecord == 1) DrawBitmap(p, CHLTV::kMarkAutoRecord, band.left() + 10, markTop);
    if (room.roomNumber != 0) DrawBitmap(p, 166, band.right() + 1 - 19, markTop);
    if (room.roomState == 4 || room.roomState == 5) DrawBitmap(p, 167, band.left() + 10, markTop);
}

void PaintGTV(QPainter& p, const CGTV& o) {
    const QRect hostBand(o.box.left, o.box.bottom - 30, o.box.Width(), 15);
    DrawTextInRect(p, hostBand, ToQString(o.serverName), ArialPx(12), kBlack, Qt::AlignHCenter | Qt::AlignVCenter);
    DrawBitmap(p, StateBitmap(o.state), o.box.left, o.box.top);
    if (o.state >= CCommonObject::kStateMonitor && o.expandBox.Width() > 0) {
        const QRect box = ToQRect(o.expandBox);
        if (o.expanded) {
            DrawBitmap(p, 164, box.left(), box.top());
        } else {
            DrawFrame(p, box, 1, kFoldGrey);
            DrawTextInRect(p, box, QString::number(o.ShownRoomCount()), ArialPx(11), kFoldGrey, Qt::AlignCenter);
        }
    }
    if (!o.expanded) return;
    for (int i = 0; i < o.roomCount; ++i) {
        const CGTVRoom& room = o.rooms[static_cast<size_t>(i)];
        if (room.roomState != 2 && room.band.Width() > 0) PaintRoom(p, o, room);
    }
}

// Builds a drawn key: numbers as their bytes, texts with their length in front.
class CKey {
public:
    template <class... T>
    CKey& operator()(const T&... values) {
        (Add(values), ...);
        return *this;
    }
    std::string bytes;

private:
    void Add(const std::string& text) {
        Add(text.size());
        bytes += text;
    }
    void Add(const CRect& r) { (*this)(r.left, r.top, r.right, r.bottom); }
    template <class T>
    void Add(const T& value) {
        static_assert(std::is_arithmetic_v<T> || std::is_enum_v<T>);
        bytes.append(reinterpret_cast<const char*>(&value), sizeof value);
    }
};

void KeyOfGTV(CKey& key, const CGTV& o) {
    key(o.clients, o.clientSlots, o.expanded, o.expandBox, o.ShownRoomCount(), o.SelectedRoomIndex(), o.autoRecord);
    for (int i = 0; i < o.roomCount && o.expanded; ++i) {
        const CGTVRoom& room = o.rooms[static_cast<size_t>(i)];
        key(room.roomState, room.band, room.hubNumber, room.description, o.FollowedPlayerName(room),
            room.recordingName.empty(), room.roomNumber, room.anchor.x, room.anchor.y);
    }
}

}  // namespace

std::string DrawnKey(const CCommonObject& o, CBoxStyle style) {
    CKey key;
    key(style, o.box, o.iconRect, o.icon, o.AddressString(), o.state, o.serverName,
        o.group ? o.group->colour : 0u);
    const int height = o.iconRect.Height();
    if (const auto* hltv = dynamic_cast<const CHLTV*>(&o))
        key(hltv->PlayerGaugeFill(height), hltv->ShowsSpectatorGauge(), hltv->SpectatorGaugeFill(height),
            hltv->BandwidthGaugeFill(height), hltv->RecordingMark(), hltv->Dialect());
    else if (const auto* hl = dynamic_cast<const CHLServer*>(&o)) key(hl->GaugePlayers(), hl->ShowsMatchMark(), hl->Dialect());
    else if (const auto* q3 = dynamic_cast<const CQ3Server*>(&o)) key(q3->playerNameCount, q3->maxPlayers, q3->matchRunning);
    else if (const auto* gtv = dynamic_cast<const CGTV*>(&o)) KeyOfGTV(key, *gtv);
    return std::move(key.bytes);
}

std::uint32_t StateBitmap(std::int32_t state) {
    switch (state) {
    case CCommonObject::kStateTimeout: return 142;
    case CCommonObject::kStateMonitor: return 144;
    default: return 143;
    }
}

void PaintObject(QPainter& p, const CCommonObject& object, CBoxStyle style, bool tile) {
    const QRect box = ToQRect(object.box);
    if (box.isEmpty()) return;
    if (tile) return PaintTile(p, object, style);
    if (style == CBoxStyle::Highlighted) {
        p.fillRect(box, kHighlight);
        DrawFrame(p, box, 1, kBlack);
    }
    PaintCommon(p, object);
    PaintGauges(p, object);
    if (const auto* hltv = dynamic_cast<const CHLTV*>(&object)) PaintHLTV(p, *hltv);
    else if (const auto* hl = dynamic_cast<const CHLServer*>(&object)) PaintHLServer(p, *hl);
    else if (const auto* q3 = dynamic_cast<const CQ3Server*>(&object)) PaintQ3Server(p, *q3);
    else if (const auto* gtv = dynamic_cast<const CGTV*>(&object)) PaintGTV(p, *gtv);
}

void AppendLinkSegments(const CCommonObject& object, std::vector<CLinkSegment>& out) {
    if (object.IsGameServer()) return;  // only proxies draw lines; one call instead of two casts
    // An object the layout pass did not place (no group, or one that is not drawn) has no place on the
    // picture: no line starts or ends at the place it last had.
    auto placed = [](const CCommonObject* o) { return o && o->box.Width() > 0; };
    if (!placed(&object)) return;
    if (const auto* hltv = dynamic_cast<const CHLTV*>(&object)) {
        const CHLTVLinkLine line = hltv->LinkLine();
        if (line.style != CHLTVLinkStyle::None && placed(line.target))
            out.push_back({QLine(line.fromX, line.fromY, line.toX, line.toY), line.style == CHLTVLinkStyle::Solid});
    } else if (const auto* gtv = dynamic_cast<const CGTV*>(&object)) {
        for (const CGTVLinkLine& line : gtv->LinkLines())
            if (placed(line.target)) out.push_back({QLine(line.from.x, line.from.y, line.to.x, line.to.y), line.solid});
    }
}

void PaintLinkSegment(QPainter& p, const CLinkSegment& segment) {
    if (segment.solid) {
        p.setPen(QPen(kBlack, 4, Qt::SolidLine));
        p.drawLine(segment.line);
        return;
    }
    // Dash-dot, as pieces placed from the line's start: the pattern stays where it is whatever part of the
    // line is painted (the painter's own dashes start again where a line enters the painted area).
    static constexpr double kPattern[] = {4, 2, 1, 2};  // dash, gap, dot, gap
    const QLineF line(segment.line);
    const double length = line.length();
    if (length <= 0) return;
    std::vector<QLineF> pieces;
    double at = 0;
    for (size_t i = 0; at < length; i = (i + 1) % 4) {
        const double end = std::min(length, at + kPattern[i]);
        if (i % 2 == 0) pieces.emplace_back(line.pointAt(at / length), line.pointAt(end / length));
        at = end;
    }
    p.setPen(QPen(kBlack, 1, Qt::SolidLine, Qt::FlatCap));
    p.drawLines(pieces.data(), static_cast<int>(pieces.size()));
}

}  // namespace orv::view

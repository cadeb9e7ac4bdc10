// CHLServer (and so CHLTV) with present-day servers: the A2S info and players queries with their
// challenge, and the choice between them and the classic "details"/"players" queries.
//
// An object starts undecided: its info phase sends "details" and A2S_INFO, its players phase "players".
// The first answer that tells decides for good: 'm' or 'C' keeps the classic cycle byte for byte (later
// A2S replies are ignored); 'I' or a challenge 'A' makes both phases A2S. A server may hand out a new
// challenge at any time: the query it refused is sent once more with it, at most once per query and
// cycle, so a server that answers everything with a fresh challenge costs one datagram more per query.
// An A2S info query takes one reply: a server that answers it with both 'm' and 'I' is handled once per
// query, by the first reply until it has been seen to send 'I', by its 'I' reply from then on.
#include "monitors/halflife/hlserver.h"

namespace orv {

using Query = CA2SSession::Query;

void CHLServer::PollInfo() {
    switch (m_a2s.dialect) {
        case CHLDialect::Classic:
            QueryDetails();
            break;
        case CHLDialect::Undecided:
            // One unit of the queue: under overload the two leave together or are given up together, so
            // that a server of either dialect is asked what it answers.
            SendOutOfBand("details", CPacketKind::Poll, kDialectProbes);
            m_a2s.infoRetried = false;
            SendA2SInfo(kDialectProbes);
            break;
        case CHLDialect::A2S:
            m_a2s.infoRetried = false;
            SendA2SInfo();
            break;
    }
}

void CHLServer::PollPlayers() {
    if (m_a2s.dialect != CHLDialect::A2S) {
        QueryPlayers();
        return;
    }
    m_a2s.playersRetried = false;
    SendA2SPlayers();
}

void CHLServer::SendA2SInfo(std::uint32_t unit) {
    m_a2s.awaiting = Query::Info;
    m_a2s.infoOutstanding = true;
    thread_local std::string query;  // reused: a query of every cycle
    A2SInfoQueryInto(query, m_a2s.challenge);
    QueueDatagram(query, CPacketKind::Poll, unit);
}

void CHLServer::SendA2SPlayers() {
    m_a2s.awaiting = Query::Players;
    QueueDatagram(A2SPlayerQuery(m_a2s.challenge), CPacketKind::Poll);
}

bool CHLServer::AdmitAnswer(std::uint8_t type) {
    const bool classicInfo = type == kHLAnswerDetails || type == kHLAnswerInfo;
    const bool a2s = type == kA2SAnswerInfo || type == kA2SAnswerChallenge;
    if (m_a2s.dialect == CHLDialect::Undecided) {
        if (classicInfo) m_a2s.dialect = CHLDialect::Classic;
        if (a2s) m_a2s.dialect = CHLDialect::A2S;
    }
    if (m_a2s.dialect == CHLDialect::Classic) return !a2s;  // classic: every classic answer, as always
    if (m_a2s.dialect != CHLDialect::A2S) return true;      // undecided: players and rcon answers
    if (classicInfo || type == kA2SAnswerInfo) {
        // One reply per info query: the first one is taken, a second one for the same query is dropped.
        // Once the server has been seen to send 'I', its obsolete 'm' replies are dropped: 'I' says more.
        if (type == kA2SAnswerInfo) m_a2s.infoReplySeen = true;
        if (!m_a2s.infoOutstanding || (classicInfo && m_a2s.infoReplySeen)) return false;
        m_a2s.infoOutstanding = false;
        if (m_a2s.awaiting == Query::Info) m_a2s.awaiting = Query::None;
    }
    if (type == kHLAnswerPlayers && m_a2s.awaiting == Query::Players) m_a2s.awaiting = Query::None;
    return true;
}

void CHLServer::OnA2SInfo(std::span<const std::uint8_t> datagram) {
    const A2SInfo reply = ParseA2SInfo(datagram);
    HLServerInfo info;
    info.serverName = reply.name;
    info.map = reply.map;
    info.gameDirectory = reply.folder;
    info.description = reply.game;
    ApplyServerInfo(info);
    maxPlayers = reply.maxPlayers;
    infoPlayers = reply.players;
    bots = reply.bots;
    vac = reply.vac ? 1 : 0;
    Answered();
}

void CHLServer::OnA2SChallenge(std::span<const std::uint8_t> datagram) {
    const auto value = ParseA2SChallenge(datagram);
    if (!value) {
        ++strayDatagrams;  // a challenge reply too short to hold one
        return;
    }
    m_a2s.challenge = *value;
    // A challenge tells nothing about the server yet: it is no answer that keeps the object alive.
    if (m_a2s.awaiting == Query::Info && !m_a2s.infoRetried) {
        m_a2s.infoRetried = true;
        SendA2SInfo();
    } else if (m_a2s.awaiting == Query::Players && !m_a2s.playersRetried) {
        m_a2s.playersRetried = true;
        SendA2SPlayers();
    }
}

}  // namespace orv

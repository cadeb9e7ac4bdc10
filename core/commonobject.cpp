#include "core/commonobject.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <tuple>

#include "base/archive.h"
#include "core/module.h"
#include "base/strutil.h"
#include "net/namelookup.h"
#include "net/outputcontrol.h"

namespace orv {

CObjectSocket::~CObjectSocket() {
    if (m_watching) m_watcher.Unwatch(Fd());
}

void CObjectSocket::StartWatching() {
    if (m_watching || !IsOpen()) return;
    m_watching = true;
    m_watcher.Watch(Fd(), [this] { OnReadable(); });
}

void CObjectSocket::OnReadable() {
    // Drain what is waiting, bounded so that one flooding peer cannot starve the main thread.
    for (int i = 0; i < 256; ++i) {
        size_t length = 0;
        const Recv r = Receive(m_buffer.data(), kMaxDatagram, length);
        if (r == Recv::WouldBlock || r == Recv::Error) return;
        if (r == Recv::Oversized) continue;  // longer than 2048 bytes: dropped
        if (r == Recv::Unsolicited) {
            // Not from the object's address, or before the socket was connected to it: never an answer.
            ++m_owner.strayDatagrams;
            continue;
        }
        m_buffer[length] = 0;
        if (length >= 4 && m_buffer[0] == 0xFF && m_buffer[1] == 0xFF && m_buffer[2] == 0xFF && m_buffer[3] == 0xFF) {
            m_owner.OnPacket(std::span<const std::uint8_t>(m_buffer.data(), length));
        } else {
            ++m_owner.strayDatagrams;
        }
    }
}

CCommonObject::CCommonObject(CPlatform& platform)
    : consoleLog(platform.clock.Now()), pollPhase(std::rand() % 5), m_platform(platform) {}

CCommonObject::~CCommonObject() { DestroySocket(); }

void CCommonObject::DestroySocket() {
    if (m_lookup) {
        // Its answer is not waited for; the lookup ends on its own thread.
        if (m_lookup->Fd() >= 0) m_platform.sockets.Unwatch(m_lookup->Fd());
        m_lookup.reset();
    }
    if (!m_socket) return;
    m_socket->Shutdown();
    // After this, the output worker neither sends nor will send on the socket.
    if (output) output->CancelSocket(m_socket.get());
    m_socket.reset();
}

namespace {
// Set by a socket that could not be created, cleared by the next one that could: when descriptors run out,
// the operator is told once, not once for every object of a layout.
std::atomic<bool> g_socketsExhausted{false};
}  // namespace

void CCommonObject::CreateSocket() {
    DestroySocket();
    m_socket = std::make_unique<CObjectSocket>(*this, m_platform.sockets);
    m_sendsSeen = 0;  // the new socket counts its sends from zero
    ForgetRoundTrip();
    if (!m_socket->Create()) {
        // No socket, so no connect either: the object stays silent in state 1.
        if (!g_socketsExhausted.exchange(true)) m_platform.prompter.Message(kCreateFailedMessage);
        return;
    }
    g_socketsExhausted = false;
    m_socket->StartWatching();
    if (CUdpSocket::IsDottedAddress(host)) {
        ConnectTo(host);
        return;
    }
    // A name: never looked up on this thread, a slow name server would freeze the tick and the window.
    m_lookup = CNameLookup::Start(host);
    if (m_lookup->Fd() >= 0) m_platform.sockets.Watch(m_lookup->Fd(), [this] { OnLookupDone(); });
    else OnLookupDone();
}

void CCommonObject::OnLookupDone() {
    if (!m_lookup) return;
    const std::optional<std::string> address = m_lookup->Result();
    if (!address) return;  // not yet
    if (m_lookup->Fd() >= 0) m_platform.sockets.Unwatch(m_lookup->Fd());
    m_lookup.reset();
    ConnectTo(*address);
}

void CCommonObject::ConnectTo(const std::string& address) {
    if (address.empty() || !m_socket->Connect(address, port)) {
        m_platform.prompter.Message(Format("Connect failed for %s:%d", host.c_str(), static_cast<int>(port)));
        return;
    }
    resolvedAddress = m_socket->PeerAddress();
}

void CCommonObject::SendOutOfBandParts(std::span<const std::string_view> text, CPacketKind kind,
                                       std::uint32_t purpose) {
    size_t length = 5;  // the prefix and the closing zero
    for (std::string_view piece : text) length += piece.size();
    // The queries and rcon commands of the cycle are framed on the stack; only a long command allocates.
    char local[256];
    std::string spill;
    char* out = local;
    if (length > sizeof local) {
        spill.resize(length);
        out = spill.data();
    }
    std::memcpy(out, "\xFF\xFF\xFF\xFF", 4);
    size_t at = 4;
    for (std::string_view piece : text) {
        if (!piece.empty()) std::memcpy(out + at, piece.data(), piece.size());
        at += piece.size();
    }
    out[at] = '\0';
    if (m_sendScope) std::tie(kind, purpose) = *m_sendScope;
    QueueDatagram(std::string_view(out, length), kind, purpose);
}

void CCommonObject::QueueDatagram(std::string_view bytes, CPacketKind kind, std::uint32_t purpose) {
    if (!output) return;
    if (m_socket && m_socket->IsConnected()) {
        output->Queue(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), m_socket.get(), kind,
                      purpose);
        return;
    }
    // The cycle asks again on its own; a command is not dropped without a word.
    if (kind != CPacketKind::Action) return;
    if (m_lookup)
        AppendConsole(Format(kNotSentLookupLine, host.c_str()));
    else if (m_socket && m_socket->IsOpen())
        AppendConsole(Format(kNotSentConnectLine, host.c_str(), static_cast<int>(port)));
    else
        AppendConsole(kNotSentSocketLine);
}

void CCommonObject::SendRconQuery(std::string_view command) {
    m_sendScope.emplace(CPacketKind::Poll, 0);
    SendRcon(command);
    m_sendScope.reset();
}

void CCommonObject::SendRconAutomatic(std::string_view command, std::uint32_t purpose) {
    m_sendScope.emplace(CPacketKind::Automatic, purpose);
    SendRcon(command);
    m_sendScope.reset();
}

bool CCommonObject::TryAutomatic(CAutomaticTries& tries, const std::string& what) {
    if (tries.count < CAutomaticTries::kLimit) {
        ++tries.count;
        return true;
    }
    if (!m_automaticTold) {
        m_automaticTold = true;
        const std::string line = Format("Orvane : %s did not %s after %d attempts; it is no longer asked until the match ends.",
                                        AddressString().c_str(), what.c_str(), CAutomaticTries::kLimit);
        AppendConsole(line, 0);
        m_platform.prompter.Message(line);
    }
    return false;
}

void CCommonObject::MarkAnswered() {
    lastAnswerTime = Now();
    m_awaiting = false;
    ++answersReceived;
    if (!m_socket) return;
    m_sendsSeen = m_socket->SendCount();
    SampleRoundTrip();
}

void CCommonObject::SampleRoundTrip() {
    // Several queries of one tick may leave apart (the queue serves every object in turn): the answer is
    // the first one's. One that left a tick or more before the latest drew no answer: the latest did.
    constexpr std::int64_t kOneBurstMicros = 900000;
    const std::int64_t first = m_socket->TakeFirstSendMicros();
    if (first == 0) return;  // nothing left since the previous answer: more of the same answer
    const std::int64_t last = m_socket->LastSendMicros();
    const std::int64_t rtt = CUdpSocket::SteadyMicros() - (last - first > kOneBurstMicros ? last : first);
    if (rtt < 0) return;
    rttMicros = rtt;
    rttSmoothedMicros = rttSmoothedMicros < 0 ? rtt : rttSmoothedMicros + (rtt - rttSmoothedMicros) / 8;
}

std::string CCommonObject::AddressString() const { return orv::AddressString(resolvedAddress, static_cast<long>(port)); }

bool CCommonObject::Matches(const std::string& address) const { return AddressString() == address; }

void CCommonObject::OnDrop(CCommonObject* target) {
    if (target) m_platform.prompter.Message("Drop on " + target->AddressString());
}

void CCommonObject::CheckTimeout() {
    const Time now = Now();
    const std::uint64_t sends = m_socket ? m_socket->SendCount() : 0;
    if (sends != m_sendsSeen) {
        m_sendsSeen = sends;
        // It left after the previous check (and after the last answer): the server is waited for from then.
        if (!m_awaiting) {
            m_awaiting = true;
            m_awaitingSince = std::max(lastAnswerTime, m_lastCheck);
        }
    }
    m_lastCheck = now;
    if (m_awaiting && now - m_awaitingSince > kTimeout) {
        if (state != kStateTimeout) ++timeoutsEntered;
        ForgetRoundTrip();
        SetState(kStateTimeout);
    }
}

void CCommonObject::DisableRcon() {
    AppendConsole(kBadRconLine1, 0);
    AppendConsole(kBadRconLine2, 0);
    rconPassword.clear();
    SetState(kStateMonitor);
    PlaySound("badrcon.wav");
}

void CCommonObject::PlaySound(const std::string& fileName) {
    if (sound) sound->sound.Play(fileName);
}

void CCommonObject::MatchStateChange(std::int32_t& stored, std::int32_t newState) {
    if (sound) sound->sound.MatchStateChange(stored, newState);
    else stored = newState;
}

void CCommonObject::Serialize(CArchive& ar) {
    ar.String(host);
    ar.UInt32(port);
    if (ar.IsStoring()) {
        std::uint32_t gid = group ? group->id : 0;
        ar.UInt32(gid);
    } else {
        ar.UInt32(groupId);
    }
    ar.String(rconPassword);
    ar.String(password);
}

}  // namespace orv

// A Quake 3 game server running the OSP game module: polled with "getstatus" and "getinfo", and, with
// an rcon password, with the rcon queries "password" and "score_time" whose console answers give the
// join password and whether a match is being played.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "core/commonobject.h"

namespace orv {

class CQ3Server : public CCommonObject {
public:
    static constexpr const char* kClassName = "CQ3Server";
    static constexpr std::uint16_t kSchema = 10;
    static constexpr std::uint32_t kIcon = 159;
    static constexpr std::uint32_t kDefaultPort = 27960;
    static constexpr int kPollCycle = 6;

    // Console lines written when the server turns out to have no rcon password.
    static constexpr const char* kNoRconLine1 =
        "Orvane : No rconpassword detected on server. Internal rcon has been disabled to prevent being banned.";
    static constexpr const char* kNoRconLine2 =
        "Orvane : Please set a rconpassword on the server and re-enter the rcon_password";

    explicit CQ3Server(CPlatform& platform);

    const char* ClassName() const override { return kClassName; }
    std::uint16_t Schema() const override { return kSchema; }

    // "print", "infoResponse" or "statusResponse"; anything else is ignored.
    void OnPacket(std::span<const std::uint8_t> datagram) override;
    // Phases: 0 "getstatus", 2 rcon "password" (state 2 or more), 3 rcon "score_time", 4 "getinfo".
    void Tick() override;
    bool IsGameServer() const override { return true; }
    // getstatus, getinfo and, with an rcon password, the two rcon queries.
    std::int64_t CycleBytes() const override;
    // rcon "<rcon password>" <command>; nothing while the rcon password is empty.
    void SendRcon(std::string_view command) override;
    // rcon kick "<name>".
    // kick "<name>"; a name that cannot be pasted into a command (SafeInCommand): nothing sent, and a
    // console line that says why.
    void Kick(const std::string& playerName) override;
    static constexpr const char* kKickRefusedLine =
        "Kick not sent: the name holds a quote, a semicolon or a line break";

    // 1 while the server's OSP score clock says a match is being played.
    std::int32_t matchRunning = 0;

private:
    void HandleConsoleAnswer(const std::string& text);
    void HandleInfoAnswer(const std::string& text);
    void HandleStatusAnswer(const std::string& text);
};

}  // namespace orv

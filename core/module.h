// Optional features of the document: each module has an enabled flag and settings, is saved with the
// layout and reset when a new layout is made.
#pragma once

#include <cstdint>
#include <string>

#include "base/platform.h"

namespace orv {

class CArchive;

class CModule {
public:
    CModule() { CModule::Reset(); }
    virtual ~CModule() = default;
    // Stores and loads enabled as one 32-bit value.
    virtual void Serialize(CArchive& ar);
    // Restores the defaults.
    virtual void Reset() { enabled = 0; }

    std::int32_t enabled = 0;
};

// Enables the auto-record option of the HLTV dialogs and tells the status page to use AdminBot's teams.
class CModuleAdminBot : public CModule {};

// Plays the match and bad-rcon sounds; on by default.
class CModuleSound : public CModule {
public:
    explicit CModuleSound(ISoundPlayer& player) : m_player(player) { enabled = 1; }
    void Reset() override { enabled = 1; }

    // Starts the named wave file when enabled.
    void Play(const std::string& fileName);
    // Plays "MatchStarted.wav" when the state changes to 1, "MatchStopped.wav" when it changes to anything
    // else; stores the new state in every case.
    void MatchStateChange(std::int32_t& stored, std::int32_t newState);

private:
    ISoundPlayer& m_player;
};

// What every monitored object reaches the match-sound module through.
class CSoundHolder {
public:
    explicit CSoundHolder(ISoundPlayer& player) : sound(player) {}
    void Serialize(CArchive& ar) { sound.Serialize(ar); }

    CModuleSound sound;
};

}  // namespace orv

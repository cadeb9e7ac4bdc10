#include "core/module.h"

#include "base/archive.h"

namespace orv {

void CModule::Serialize(CArchive& ar) { ar.Int32(enabled); }

void CModuleSound::Play(const std::string& fileName) {
    if (enabled) m_player.Play(fileName);
}

void CModuleSound::MatchStateChange(std::int32_t& stored, std::int32_t newState) {
    if (stored != newState) Play(newState == 1 ? "MatchStarted.wav" : "MatchStopped.wav");
    stored = newState;
}

}  // namespace orv

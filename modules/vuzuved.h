// The VuzuVed module: an HTML status page of the exported TV proxies, made from a template and
// uploaded by FTP at a fixed interval.
#pragma once

#include <cstdint>
#include <string>

#include "core/module.h"

namespace orv {

class CModuleVuzuVed : public CModule {
public:
    static constexpr const char* kClassName = "CModuleVuzuVed";
    static constexpr std::uint16_t kSchema = 1;
    static constexpr const char* kDefaultServer = "ftp.example.com";

    CModuleVuzuVed() { CModuleVuzuVed::Reset(); }
    // enabled, login, password, interval, remoteFilename, server, the four peaks. The tick counter is
    // neither saved nor changed by loading.
    void Serialize(CArchive& ar) override;
    void Reset() override;

    std::int32_t interval = 30;
    std::string remoteFilename;
    std::string password;
    std::string login;
    std::string server;
    double peakHlBandwidth = 0.0;
    std::int32_t peakHlSpectators = 0;
    double peakGtvBandwidth = 0.0;
    std::int32_t peakGtvSpectators = 0;
    std::int32_t tickCounter = 0;
};

}  // namespace orv

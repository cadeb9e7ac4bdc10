#include "modules/vuzuved.h"

#include "core/archive.h"

namespace orv {

void CModuleVuzuVed::Reset() {
    enabled = 0;
    interval = 30;
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

}  // namespace orv

// orvane-headless: the monitoring document without a window. See --help.
#include <iostream>

#include "apps/headless.h"
#include "base/stopsignal.h"
#include "net/udpsocket.h"

int main(int argc, char** argv) {
    int exitCode = 0;
    const auto options = orv::headless::ParseCommandLine(argc, argv, std::cout, std::cerr, exitCode);
    if (!options) return exitCode;
    orv::CUdpSocket::RaiseDescriptorLimit();  // every object holds a socket: a large layout needs many
    orv::InstallStopSignals();
    orv::headless::CHeadlessRunner runner(*options, std::cout, std::cerr);
    return runner.Run(orv::g_stopRequested);
}

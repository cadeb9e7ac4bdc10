// orvane-headless: the monitoring document without a window. See --help.
#include <csignal>
#include <iostream>

#include "apps/headless.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

extern "C" void OnStopSignal(int) {
    g_stop = 1;
}

void InstallSignals() {
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;  // no restart: a waiting poll() returns at once
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    // A reader that went away makes the write fail instead of killing the process.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    int exitCode = 0;
    const auto options = orv::headless::ParseCommandLine(argc, argv, std::cout, std::cerr, exitCode);
    if (!options) return exitCode;
    InstallSignals();
    orv::headless::CHeadlessRunner runner(*options, std::cout, std::cerr);
    return runner.Run(g_stop);
}

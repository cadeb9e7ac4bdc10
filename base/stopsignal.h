// Stopping a command-line program cleanly: SIGINT and SIGTERM set a flag the program's loop reads.
#pragma once

#include <signal.h>

#include <csignal>

namespace orv {

inline volatile std::sig_atomic_t g_stopRequested = 0;

extern "C" inline void OrvaneOnStopSignal(int) { g_stopRequested = 1; }

// No restart: a waiting poll() returns at once. A reader that went away makes a write fail instead of
// killing the process.
inline void InstallStopSignals() {
    struct sigaction sa {};
    sa.sa_handler = OrvaneOnStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
}

}  // namespace orv

#pragma once

#include <csignal>

namespace os {

// The signals that ask a helper to stop in order: SIGTERM (the session ending, `kill`), SIGINT
// (Ctrl-C) and SIGHUP.
inline sigset_t stopSignalSet() {
    sigset_t signals;
    sigemptyset(&signals);
    for (const int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaddset(&signals, signal);
    return signals;
}

} // namespace os

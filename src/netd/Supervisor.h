#pragma once

#include "engine/Engine.h"
#include "netd/State.h"

#include <string>
#include <sys/types.h>

namespace netd {

struct EngineUser {
    uid_t uid = 0;
    gid_t gid = 0;
    std::string name;
};

// Runs the engine as the engine user, with no capability and no new privileges, and watches it
// from a detached process of its own. When the engine exits while the tunnel should be up, the
// supervisor blocks (the redirect chain is flushed, the refusing chains stay) and records
// "blocked": nothing leaks until the user disconnects or connects again.
class Supervisor {
public:
    // Starts the supervisor and, through it, `engine` on the document file `config`. Returns once
    // both run, or false when they could not be started.
    static bool start(const State& state, const EngineUser& user, const engine::EngineInfo& engine,
                      const std::string& config);
    // Ends the supervisor and the engine (the engine even when its supervisor is gone). Waits a
    // bounded time; the engine is killed when it does not end in time.
    static void stop(const State& state, const EngineUser& user);
};

} // namespace netd

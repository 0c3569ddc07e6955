#pragma once

#include "engine/Engine.h"
#include "netd/Rules.h"
#include "netd/State.h"

#include <string>
#include <sys/types.h>

namespace netd {

struct EngineUser {
    uid_t uid = 0;
    gid_t gid = 0;
    std::string name;
};

// What a supervisor runs and keeps: the engine, as the engine user, reading its document from
// `document` (an anonymous memory file: the credentials never touch a folder), and the rules.
struct Launch {
    EngineUser user;
    engine::EngineInfo engine;
    int document = -1;
    TableSpec table;
};

// A detached process of its own that runs the engine with no capability and no new privileges and
// watches over it and over the rules:
//  - it owns the guard table (the kill switch a firewall reload cannot remove) for its whole life;
//  - when the table "inet vemko" is gone or changed (nftables tells every change; it also looks
//    once a second) it puts it back at once, and records "blocked" (rules-lost) while it cannot;
//  - when the engine exits while the tunnel should be up, it blocks (the capture chains are
//    emptied, the refusing chains stay) and records "blocked" (engine-exited), and keeps watching:
//    nothing leaks until the user disconnects or connects again.
class Supervisor {
public:
    // Returns once the supervisor and the engine run, or false when they could not be started.
    static bool start(const State& state, const Launch& launch);
    // Ends the supervisor and the engine (the engine even when its supervisor is gone). Waits a
    // bounded time; the engine is killed when it does not end in time.
    static void stop(const State& state, const EngineUser& user);
};

} // namespace netd

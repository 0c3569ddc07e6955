#pragma once

#include "EngineOutput.h"
#include "EngineProcess.h"
#include "HostLock.h"
#include "HostLog.h"
#include "HostStatus.h"
#include "StopSignals.h"

#include <chrono>
#include <optional>
#include <string>

// One tunnel session: take over from a host that still runs, start the engine with the document
// on its stdin, report connecting → connected → disconnected into the runtime folder, and end the
// engine with the host. For the desktop-proxy mode it also opens the HTTP entry and puts the
// desktop's proxy settings back when it ends, whatever ends it: itself when it can, else a guard
// process it starts (ProxyGuard) once it is gone.
//
// One thread, one poll() over the stop signals, the engine's output and its exit, with deadlines
// for the timed steps.
class TunnelHost {
public:
    TunnelHost(std::string runtimeDir, std::string document, bool desktopProxy);

    // Runs the session to its end; the exit code.
    int run();

private:
    using Clock = std::chrono::steady_clock;

    void takeOver();
    void begin();
    void checkSocks();
    void readEngineOutput();
    void engineExited(int status);
    void stop();
    // False when the state could not be written (the host is then ending).
    bool report(HostStatus::Phase phase, const std::string& reason = {});
    void reportTrouble();
    void end(const std::string& reason, int exitCode);
    void wait();
    void log(const std::string& line);

    std::string m_runtimeDir;
    std::string m_document;
    bool m_desktopProxy = false;
    HostLock m_lock;
    std::optional<HostLog> m_log;
    StopSignals m_stopSignals;
    EngineProcess m_engine;
    EngineOutput m_output;
    std::optional<int> m_exitCode; // set: the session is over

    // Deadlines of the timed steps; nothing while a step is not due.
    std::optional<Clock::time_point> m_takeoverAt;
    std::optional<Clock::time_point> m_socksAt;
    std::optional<Clock::time_point> m_killAt;
    Clock::time_point m_takeoverSince;
    Clock::time_point m_socksSince; // the engine's start
    pid_t m_askedToStop = 0;        // the older host already sent SIGTERM
    bool m_killedOlder = false;

    std::optional<HostStatus::Time> m_connectedAt;
    std::optional<HostStatus::Time> m_troubleAt;
    Clock::time_point m_sinceTrouble;
    bool m_stopping = false;
    bool m_ended = false;
};

#include "TunnelHost.h"

#include "EngineBinary.h"
#include "HostPaths.h"
#include "ProxyGuard.h"
#include "SocksPort.h"
#include "engine/Discovery.h"
#include "engine/Document.h"
#include "os/PathParts.h"
#include "os/PrivateDir.h"
#include "os/ProxyBackup.h"
#include "os/ReplaceFile.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

constexpr auto takeoverTick = 5ms;
constexpr auto takeoverKillAfter = 5s; // of SIGTERM, before the old host gets SIGKILL
constexpr auto takeoverGiveUp = 8s;
// The engine opens its port some 10 ms after it starts, and the connect flow waits for exactly
// that moment: look often at first (besides at every line it prints), then back off for an engine
// that takes its time.
constexpr auto socksFastTick = 2ms;
constexpr auto socksFastFor = 1s;
constexpr auto socksSlowTick = 50ms;
constexpr auto socksGiveUp = 15s; // the engine opens its port in milliseconds; 15 s is lost
constexpr auto engineKillGrace = 3s;
// A dead server fails every request the user makes: one report stands for a burst of them.
constexpr auto troubleReportEvery = 1s;

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// The pid is a live process (not a zombie) of this program: a host, not whoever got its pid.
bool hostProcessRuns(pid_t pid) {
    const std::string proc = "/proc/" + std::to_string(pid);
    std::ifstream statFile(proc + "/stat");
    std::string stat;
    std::getline(statFile, stat);
    // "pid (comm) S ...": the state letter follows the last ')'.
    const auto close = stat.rfind(')');
    if (close == std::string::npos || close + 2 >= stat.size() || stat[close + 2] == 'Z' ||
        stat[close + 2] == 'X')
        return false;
    std::ifstream commandLine(proc + "/cmdline");
    std::string program;
    std::getline(commandLine, program, '\0');
    return !program.empty() && os::fileNameOf(program) == os::fileNameOf(HostPaths::selfExecutable());
}

// Where this user's engine is looked for: VEMKO_ENGINE, an Xray beside the host (the AppDir's
// bin/, the package's /usr/lib/vemko-vpn), /usr/local/bin/xray, xray and then v2ray on PATH. The
// app (TunnelEngine) looks in the same places, so both find the same engine.
engine::Places enginePlaces() {
    engine::Places places;
    places.override = environment("VEMKO_ENGINE");
    places.bundledDirs = {HostPaths::selfDir(), "/usr/lib/vemko-vpn"};
    places.path = environment("PATH");
    places.assetOverride = environment("XRAY_LOCATION_ASSET");
    if (places.assetOverride.empty())
        places.assetOverride = environment("V2RAY_LOCATION_ASSET");
    const std::string cacheDir = HostPaths::defaultCacheDir();
    if (os::ensurePrivateDir(cacheDir))
        places.cacheFile = cacheDir + "/engine-version";
    return places;
}

void wipe(std::string& secret) {
    std::fill(secret.begin(), secret.end(), '\0');
    secret.clear();
    secret.shrink_to_fit();
}

std::string exitText(int status) {
    return WIFEXITED(status) ? "code " + std::to_string(WEXITSTATUS(status))
                             : "signal " + std::to_string(WTERMSIG(status));
}

} // namespace

TunnelHost::TunnelHost(std::string runtimeDir, std::string document, bool desktopProxy)
    : m_runtimeDir(std::move(runtimeDir)), m_document(std::move(document)), m_desktopProxy(desktopProxy),
      m_lock(m_runtimeDir) {}

int TunnelHost::run() {
    if (m_lock.tryAcquire()) {
        begin();
    } else {
        m_takeoverSince = Clock::now();
        takeOver();
    }
    while (!m_exitCode)
        wait();
    return *m_exitCode;
}

void TunnelHost::wait() {
    std::optional<Clock::time_point> next;
    for (const auto& at : {m_takeoverAt, m_socksAt, m_killAt})
        if (at && (!next || *at < *next))
            next = at;
    timespec timeout{};
    if (next) {
        const auto left = std::max(Clock::duration::zero(), *next - Clock::now());
        timeout.tv_sec = std::chrono::duration_cast<std::chrono::seconds>(left).count();
        timeout.tv_nsec =
            std::chrono::duration_cast<std::chrono::nanoseconds>(left % std::chrono::seconds(1)).count();
    }
    // Descriptors that are not open (-1) are passed over by ppoll.
    pollfd events[] = {
        {m_stopSignals.fd(), POLLIN, 0}, {m_engine.output(), POLLIN, 0}, {m_engine.exitNotice(), POLLIN, 0}};
    if (::ppoll(events, std::size(events), next ? &timeout : nullptr, nullptr) < 0)
        return; // EINTR: look again
    if ((events[0].revents & POLLIN) && m_stopSignals.take())
        stop();
    if (!m_exitCode && events[1].revents)
        readEngineOutput();
    if (!m_exitCode && (events[2].revents & POLLIN))
        if (const auto status = m_engine.collect())
            engineExited(*status);
    const auto now = Clock::now();
    if (!m_exitCode && m_takeoverAt && *m_takeoverAt <= now)
        takeOver();
    if (!m_exitCode && m_socksAt && *m_socksAt <= now)
        checkSocks();
    if (!m_exitCode && m_killAt && *m_killAt <= now) {
        m_killAt.reset();
        m_engine.kill();
    }
}

// A host still runs an older document: ask it to stop and wait for its lock.
void TunnelHost::takeOver() {
    m_takeoverAt.reset();
    if (m_lock.tryAcquire())
        return begin();
    const auto previous = readPid(m_runtimeDir);
    const bool previousRuns = previous && *previous != ::getpid() && hostProcessRuns(*previous);
    const auto waited = Clock::now() - m_takeoverSince;
    if (previousRuns && *previous != m_askedToStop) {
        ::kill(*previous, SIGTERM);
        m_askedToStop = *previous;
    }
    if (previousRuns && waited >= takeoverKillAfter && !m_killedOlder) {
        ::kill(*previous, SIGKILL);
        m_killedOlder = true;
    }
    if (waited > takeoverGiveUp) {
        std::fputs("vemko-tunnel: the previous tunnel host does not give up its lock\n", stderr);
        m_exitCode = 3;
        return;
    }
    m_takeoverAt = Clock::now() + takeoverTick;
}

void TunnelHost::begin() {
    os::removeLeftoverTemporaries(HostPaths::statusFile(m_runtimeDir));
    os::removeLeftoverTemporaries(HostPaths::pidFile(m_runtimeDir));
    m_log.emplace(HostPaths::logFile(m_runtimeDir));
    if (m_desktopProxy)
        if (const std::string error = ProxyGuard::start(m_runtimeDir); !error.empty())
            log("no proxy guard: " + error);
    // The document is read through the allow-list again and written fresh for the engine that
    // runs here: the host never passes on a member it did not write itself.
    const auto server = engine::readServer(std::string_view(m_document));
    wipe(m_document); // the credentials are not kept around longer than needed
    if (const auto* refusal = std::get_if<engine::Refusal>(&server))
        return end(refusal->reason, 2);
    const engine::Discovered found = engine::discover(enginePlaces());
    if (!found.engine)
        return end(found.problem, 2);
    if (const auto why = engine::unusableReason(std::get<engine::Server>(server), *found.engine))
        return end(*why, 2);
    engine::Listeners listeners;
    if (m_desktopProxy)
        listeners.httpPort = ProxyGuard::httpPort;
    std::string document = engine::writeDocument(std::get<engine::Server>(server), *found.engine, listeners);

    // The engine first: its start-up is most of the connect time, the files below overlap with it.
    const std::string& installed = found.engine->path;
    const EngineBinary::Prepared prepared = EngineBinary::prepare(installed, HostPaths::defaultCacheDir());
    if (!prepared.error.empty())
        return end(prepared.error, 2);
    // A private copy looks for its data files where the installed binary is.
    const std::string assetDir = !found.engine->assetDir.empty() ? found.engine->assetDir : prepared.assetDir;
    EngineProcess::Launch launch{prepared.program, found.engine->runArguments(), {}, document};
    if (!assetDir.empty())
        launch.environment.push_back(std::string(found.engine->assetVariable()) + "=" + assetDir);
    m_socksSince = Clock::now();
    const std::string error = m_engine.start(launch);
    wipe(document);
    if (!error.empty())
        return end("engine " + prepared.program + " cannot be started: " + error, 2);
    if (const int failed = writePid(m_runtimeDir, ::getpid()))
        log("cannot write the pid file: " + std::string(std::strerror(failed)));
    if (!report(HostStatus::Phase::Connecting))
        return;
    const std::string name = found.engine->name();
    log(prepared.program == installed
            ? "started " + name + " " + installed
            : "started " + name + " " + prepared.program + " (capability-free copy of " + installed + ")");
    checkSocks();
}

void TunnelHost::checkSocks() {
    m_socksAt.reset();
    if (m_connectedAt || m_stopping || !m_engine.running())
        return;
    // From the kernel's socket table only: a test connection would be logged by the engine.
    if (SocksPort::listenedBy(m_engine.pid())) {
        m_connectedAt = std::chrono::system_clock::now();
        report(HostStatus::Phase::Connected);
        log("SOCKS inbound 127.0.0.1:" + std::to_string(SocksPort::port) + " is up");
        return;
    }
    const auto now = Clock::now();
    const auto waited = now - m_socksSince;
    if (waited >= socksGiveUp) {
        m_output.setFailureLine("SOCKS inbound 127.0.0.1:10808 did not open");
        m_engine.terminate();
        m_killAt = now + engineKillGrace;
        return;
    }
    m_socksAt = now + (waited < socksFastFor ? socksFastTick : socksSlowTick);
}

void TunnelHost::readEngineOutput() {
    char buffer[16384];
    while (m_engine.output() >= 0) {
        const ssize_t got = ::read(m_engine.output(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && errno == EAGAIN)
            break;
        if (got <= 0) {
            m_engine.closeOutput(); // its end of the pipe is closed
            break;
        }
        const std::string_view bytes(buffer, static_cast<std::size_t>(got));
        if (m_log)
            m_log->engineOutput(bytes);
        if (m_output.take(bytes) && m_connectedAt)
            reportTrouble();
    }
    // The engine reports "started" once its inbounds listen: look now, not at the next tick.
    if (m_socksAt)
        checkSocks();
}

void TunnelHost::engineExited(int status) {
    m_socksAt.reset();
    m_killAt.reset();
    readEngineOutput(); // what it printed last
    m_engine.closeOutput();
    m_output.finish();
    log("engine exited (" + exitText(status) + ")");
    if (m_stopping)
        return end("stopped", 0);
    std::string reason = EngineOutput::shortReason(m_output.failureLine());
    if (reason.empty())
        reason = WIFEXITED(status) ? "engine exited with code " + std::to_string(WEXITSTATUS(status))
                                   : "engine crashed";
    end(reason, 1);
}

// SIGTERM, SIGINT, SIGHUP: end the engine, report disconnected, finish.
void TunnelHost::stop() {
    if (m_stopping)
        return;
    m_stopping = true;
    if (!m_lock.held()) {
        // Still waiting for an older host: leave its report alone, it ends by itself.
        m_takeoverAt.reset();
        m_exitCode = 0;
        return;
    }
    if (!m_engine.running())
        return end("stopped", 0);
    log("stop requested");
    m_engine.terminate();
    m_killAt = Clock::now() + engineKillGrace;
}

// A tunnel the app cannot see must not run: when the state cannot be written (a full runtime
// folder, say), the engine stops and the host ends with the reason.
bool TunnelHost::report(HostStatus::Phase phase, const std::string& reason) {
    HostStatus status{phase, ::getpid(), reason, {}, {}};
    if (phase == HostStatus::Phase::Connected) {
        status.connectedDate = m_connectedAt;
        status.troubleAt = m_troubleAt;
    }
    const int error = writeStatus(m_runtimeDir, status);
    if (error == 0)
        return true;
    const std::string failure = "cannot write the status file: " + std::string(std::strerror(error));
    if (phase == HostStatus::Phase::Disconnected)
        log(failure);
    else
        end(failure, 4);
    return false;
}

// The engine could not reach the server: tell the app (at most every few seconds).
void TunnelHost::reportTrouble() {
    if (m_stopping || (m_troubleAt && Clock::now() - m_sinceTrouble < troubleReportEvery))
        return;
    m_troubleAt = std::chrono::system_clock::now();
    m_sinceTrouble = Clock::now();
    report(HostStatus::Phase::Connected);
}

void TunnelHost::end(const std::string& reason, int exitCode) {
    if (m_ended)
        return;
    m_ended = true;
    m_socksAt.reset();
    m_killAt.reset();
    if (m_engine.running()) {
        m_engine.kill();
        m_engine.waitFor(engineKillGrace);
    }
    m_engine.closeOutput();
    log("disconnected: " + reason);
    // Before the report: nothing would answer at the entries the settings name, and a connect the
    // report lets the app start must find them put back already.
    if (m_desktopProxy)
        os::restoreDesktopProxy(os::proxyStateDir());
    report(HostStatus::Phase::Disconnected, reason);
    if (readPid(m_runtimeDir) == ::getpid())
        ::unlink(HostPaths::pidFile(m_runtimeDir).c_str());
    m_exitCode = exitCode;
}

void TunnelHost::log(const std::string& line) {
    if (m_log)
        m_log->line(line);
}

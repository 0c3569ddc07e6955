#pragma once

// What the tunnel benchmarks share: a private home with the real tunnel host and engine behind a
// Vpn controller, a loopback vmess server and the test service that answers the probe and the
// exit lookup; the figures' helpers.

#include "Figures.h"
#include "device/Store.h"
#include "platform/Clock.h"
#include "platform/Defaults.h"
#include "platform/LinuxExtensionManager.h"
#include "platform/LinuxTunnelSystem.h"
#include "platform/MainTask.h"
#include "platform/TunnelHostState.h"
#include "support/FakeDesktop.h"
#include "support/FakeDeviceFacts.h"
#include "support/TestService.h"
#include "tunnel-host/EngineFixture.h"
#include "tunnel/Vpn.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace bench {

using namespace std::chrono_literals;

// Runs the event loop until the task ends. A plain loop, not the tests' drive(): its polling would
// take a core from the engine being timed.
inline bool runOnLoop(QCoro::Task<> task, std::chrono::milliseconds limit = 60s) {
    QEventLoop loop;
    bool done = false;
    startMainTask([](QCoro::Task<> body, QEventLoop* quit, bool* flag) -> QCoro::Task<> {
        co_await std::move(body);
        *flag = true;
        quit->quit();
    }(std::move(task), &loop, &done));
    if (!done) {
        QTimer::singleShot(limit, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return done;
}

inline void waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 30s) {
    QElapsedTimer waited;
    waited.start();
    while (!done() && waited.elapsed() < limit.count())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

// Built after the QCoreApplication; exits the program when port 10808 is taken.
struct TunnelRig {
    QTemporaryDir home;
    QString runtimeDir = home.path() + "/run/vemko-vpn";
    QString host = hostProgram(home);
    engine_fixture::V2rayServer server;
    TestService service;
    LinuxTunnelSystem system{host, home.path() + "/config/vemko-vpn/tunnel.json", runtimeDir};
    LinuxExtensionManager extensions{host};
    MemoryDefaults defaults;
    FakeDeviceFacts facts;
    Store store{defaults, facts};
    FakeDesktop desktop;
    QNetworkAccessManager lookup;
    Vpn vpn{system,
            extensions,
            store,
            Clock::system(),
            desktop,
            lookup,
            service.origin(),
            service.origin() + "/json"};

    TunnelRig() {
        lookup.setProxy(QNetworkProxy::NoProxy);
        waitUntil([&] { return server.ready(); });
        service.on("GET", "/api/v1/ip",
                   ScriptedReply::text(200, R"({"exit":"127.0.0.1"})", "application/json"));
        service.on("GET", "/json", ScriptedReply::text(200, R"({"ip":"127.0.0.1","city":"Loopback"})"));
    }

    // Connects `profile` (falling over within `servers`, when given); the milliseconds until it is
    // on, or -1.
    double connect(const ServerProfile& profile, const QList<ServerProfile>& servers = {}) {
        if (!servers.isEmpty())
            vpn.setProfiles(servers);
        QElapsedTimer took;
        took.start();
        runOnLoop(vpn.connect(profile));
        return vpn.status() == VpnStatus::On ? static_cast<double>(took.nsecsElapsed()) / 1e6 : -1;
    }
    void disconnect() {
        vpn.disconnect();
        waitUntil([&] { return !HostFiles::hostRunning(runtimeDir) && !engine_fixture::portAccepts(10808); });
    }

private:
    // The private home's folders, and the tunnel host (VEMKO_TUNNEL_HOST, else this build's).
    static QString hostProgram(const QTemporaryDir& home) {
        QDir(home.path()).mkpath("run");
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(home.path() + "/run"));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path() + "/config"));
        qputenv("XDG_CACHE_HOME", QFile::encodeName(home.path() + "/cache"));
        QString host = qEnvironmentVariable("VEMKO_TUNNEL_HOST");
        if (host.isEmpty())
            host = QCoreApplication::applicationDirPath() + "/../bin/vemko-tunnel";
        qputenv("VEMKO_TUNNEL_HOST", QFile::encodeName(host));
        if (engine_fixture::portAccepts(10808)) {
            std::fprintf(stderr, "port 10808 is in use\n");
            std::exit(1);
        }
        return host;
    }
};

} // namespace bench

// Time from Vpn::connect to a passed traffic probe over the real tunnel host and engine, on
// loopback, beside a bare baseline in the same run: v2ray started directly with the same document,
// then the first GET that succeeds through its SOCKS port. BENCH_TRACE=1 prints where each run
// spends its time (tunnel status changes and requests, in ms from the connect call).

#include "device/Store.h"
#include "platform/Clock.h"
#include "platform/Defaults.h"
#include "platform/TunnelEngine.h"
#include "platform/LinuxExtensionManager.h"
#include "platform/LinuxTunnelSystem.h"
#include "platform/TunnelHostState.h"
#include "support/Drive.h"
#include "support/FakeDesktop.h"
#include "support/FakeDeviceFacts.h"
#include "support/TestService.h"
#include "tunnel-host/EngineFixture.h"
#include "tunnel/TunnelConfig.h"
#include "tunnel/Vpn.h"

#include <QCoreApplication>
#include <QCoroNetworkReply>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

using namespace engine_fixture;
using namespace std::chrono_literals;

namespace {

constexpr int kRuns = 10;

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// One GET through the SOCKS port; true when the probe's answer came back.
QCoro::Task<bool> getOnce(QNetworkAccessManager* network, QUrl url) {
    QNetworkRequest request(url);
    request.setTransferTimeout(7000);
    const std::unique_ptr<QNetworkReply> reply(network->get(request));
    co_await reply.get();
    co_return reply->error() == QNetworkReply::NoError && reply->readAll().contains("\"exit\":\"");
}

QCoro::Task<> untilFirstSuccess(QUrl url) {
    QNetworkAccessManager network;
    network.setProxy(Vpn::tunnelSocksProxy());
    while (!co_await getOnce(&network, url)) {
    }
}

void waitUntil(const std::function<bool()>& done) {
    drive(done, nullptr, 15s);
}

double baselineRun(const QString& document, const QUrl& url) {
    QProcess engine;
    engine.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    engine.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer took;
    took.start();
    engine.start(QStringLiteral("v2ray"), {QStringLiteral("-config"), QStringLiteral("stdin:")});
    engine.write(document.toUtf8());
    engine.closeWriteChannel();
    runTask(untilFirstSuccess(url), nullptr, 15s);
    const double ms = took.nsecsElapsed() / 1e6;
    engine.kill();
    engine.waitForFinished();
    waitUntil([] { return !portAccepts(10808); });
    return ms;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir home;
    QDir(home.path()).mkpath("run");
    const QString runtimeDir = home.path() + "/run/vemko-vpn";
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(home.path() + "/run"));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path() + "/config"));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(home.path() + "/cache"));
    QString host = qEnvironmentVariable("VEMKO_TUNNEL_HOST");
    if (host.isEmpty())
        host = QCoreApplication::applicationDirPath() + "/../bin/vemko-tunnel";
    qputenv("VEMKO_TUNNEL_HOST", QFile::encodeName(host));
    if (portAccepts(10808)) {
        std::fprintf(stderr, "port 10808 is in use\n");
        return 1;
    }

    V2rayServer server;
    waitUntil([&] { return server.ready(); });
    TestService service;
    service.on("GET", "/api/v1/ip", ScriptedReply::text(200, R"({"exit":"127.0.0.1"})", "application/json"));
    service.on("GET", "/json", ScriptedReply::text(200, R"({"ip":"127.0.0.1","city":"Loopback"})"));
    const ServerProfile profile = serverAt("Амстердам", server.port(), server.uuid());
    const QString document = makeConfig(profile, *TunnelEngine::found().engine);
    const QUrl url(service.origin() + "/api/v1/ip");

    LinuxTunnelSystem system(host, home.path() + "/config/vemko-vpn/tunnel.json", runtimeDir);
    LinuxExtensionManager extensions(host);
    MemoryDefaults defaults;
    FakeDeviceFacts facts;
    Store store(defaults, facts);
    FakeDesktop desktop;
    QNetworkAccessManager lookup;
    lookup.setProxy(QNetworkProxy::NoProxy);
    Vpn vpn(system, extensions, store, Clock::system(), desktop, lookup, service.origin(),
            service.origin() + "/json");

    std::vector<double> baseline, connects;
    for (int run = 0; run < kRuns; ++run) {
        baseline.push_back(baselineRun(document, url));

        QElapsedTimer took;
        took.start();
        QStringList marks;
        auto c1 = QObject::connect(&system.connection(), &TunnelConnection::statusChanged, &app, [&] {
            marks << QString("status %1 @%2").arg(int(system.connection().status())).arg(took.elapsed());
        });
        auto c2 =
            QObject::connect(&service, &TestService::requestReceived, &app, [&](const RecordedRequest& r) {
                marks << QString("%1 @%2").arg(QString(r.path)).arg(took.elapsed());
            });
        runTask(vpn.connect(profile), nullptr, 60s);
        if (qEnvironmentVariableIsSet("BENCH_TRACE"))
            std::printf("%s | done @%lld\n", qPrintable(marks.join(", ")), took.elapsed());
        QObject::disconnect(c1);
        QObject::disconnect(c2);
        const double ms = took.nsecsElapsed() / 1e6;
        if (vpn.status() != VpnStatus::On) {
            std::fprintf(stderr, "run %d: the tunnel did not come up (%s)\n", run,
                         qPrintable(vpn.error().value_or("no message")));
            return 1;
        }
        connects.push_back(ms);
        vpn.disconnect();
        waitUntil([&] { return !HostFiles::hostRunning(runtimeDir) && !portAccepts(10808); });
    }

    const double bare = median(baseline), full = median(connects);
    std::printf("connect to passed probe, median of %d: %.1f ms\n", kRuns, full);
    std::printf("bare v2ray start to first GET, median of %d: %.1f ms\n", kRuns, bare);
    std::printf("ratio: %.2f (goal <= 1.5)\n", full / bare);
    return 0;
}

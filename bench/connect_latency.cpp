// Time from Vpn::connect to a passed traffic probe over the real tunnel host and engine, on
// loopback, beside a bare baseline in the same run: v2ray started directly with the same document,
// then the first GET that succeeds through its SOCKS port; the same to the first byte a program of
// its own gets through the port; and the connected stack's memory against the bare engine and a
// bare window. BENCH_TRACE=1 prints where each run spends its time (tunnel status changes and
// requests, in ms from the connect call); BENCH_ROUNDS sets the rounds (10).

#include "TunnelBenchRig.h"
#include "platform/TunnelEngine.h"
#include "tunnel/TunnelConfig.h"

#include <QCoroNetworkReply>
#include <QCoroTimer>
#include <QProcess>
#include <optional>
#include <unistd.h>

using namespace engine_fixture;
using namespace bench;
using namespace std::chrono_literals;

namespace {

const int kRuns = qEnvironmentVariableIntValue("BENCH_ROUNDS") > 0
                      ? qEnvironmentVariableIntValue("BENCH_ROUNDS")
                      : 10;

// One GET through the SOCKS port; true when the probe's answer came back.
QCoro::Task<bool> getOnce(QNetworkAccessManager* network, QUrl url) {
    QNetworkRequest request(url);
    request.setTransferTimeout(7000);
    const std::unique_ptr<QNetworkReply> reply(network->get(request));
    co_await reply.get();
    co_return reply->error() == QNetworkReply::NoError && reply->readAll().contains("\"exit\":\"");
}

// Asks through the tunnel's SOCKS port until an answer comes back; the time it did, on `clock`.
QCoro::Task<> untilFirstByte(QUrl url, const QElapsedTimer* clock, double* at) {
    QNetworkAccessManager network;
    network.setProxy(Vpn::tunnelSocksProxy());
    // A millisecond between tries, the same for the bare engine and ours: asking flat out would
    // take the CPU the engine needs to start.
    while (!co_await getOnce(&network, url))
        co_await QCoro::sleepFor(1ms);
    *at = static_cast<double>(clock->nsecsElapsed()) / 1e6;
}

// The user's program asking through the SOCKS port from the moment connect is pressed: a process
// of its own (this bench with --ask), started and ready before the clock starts, so its tries
// take nothing from the app's event loop.
class Asker {
public:
    explicit Asker(const QUrl& url) {
        m_child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--ask"), url.toString()});
        m_child.waitForReadyRead(30000);
        m_child.readLine(); // "ready"
    }
    void go() {
        m_child.write("g");
        m_child.waitForBytesWritten(1000);
    }
    // Milliseconds from go() to the first answer through the port.
    double firstByteMs() {
        waitUntil([&] { return m_child.canReadLine() || m_child.state() == QProcess::NotRunning; }, 60s);
        return m_child.readLine().trimmed().toDouble();
    }

private:
    QProcess m_child;
};

int askChild(const QUrl& url) {
    std::printf("ready\n");
    std::fflush(stdout);
    char go = 0;
    if (::read(STDIN_FILENO, &go, 1) != 1)
        return 1;
    QElapsedTimer took;
    took.start();
    double at = 0;
    runOnLoop(untilFirstByte(url, &took, &at));
    std::printf("%.3f\n", at);
    return 0;
}

struct BareRun {
    double firstByteMs = 0;
    double engineMb = 0;
};

// The bare engine started with the same document; the first answer through its port, asked from
// this process (as the app's probe asks) or from a process of its own (as the user's programs do).
BareRun bareRun(const QString& document, const QUrl& url, bool fromOutside) {
    std::optional<Asker> asker;
    if (fromOutside)
        asker.emplace(url);
    QProcess engine;
    engine.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    engine.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer took;
    took.start();
    if (asker)
        asker->go();
    engine.start(QStringLiteral("v2ray"), {QStringLiteral("-config"), QStringLiteral("stdin:")});
    engine.write(document.toUtf8());
    engine.closeWriteChannel();
    BareRun run;
    if (asker)
        run.firstByteMs = asker->firstByteMs();
    else
        runOnLoop(untilFirstByte(url, &took, &run.firstByteMs));
    run.engineMb = rssMb(engine.processId());
    engine.kill();
    engine.waitForFinished();
    waitUntil([] { return !portAccepts(10808); });
    return run;
}

// The window's resident memory after start, from the GUI bench's own child (signed in, 20 servers).
double windowMb(const QString& mode) {
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationDirPath() + QStringLiteral("/bench_gui_footprint"),
                {QStringLiteral("--child"), mode});
    double mb = 0;
    while (mb == 0 && (child.canReadLine() || child.waitForReadyRead(60000)))
        while (child.canReadLine()) {
            const QByteArray line = child.readLine().trimmed();
            if (line.startsWith("rss="))
                mb = line.mid(4).toDouble();
        }
    child.kill();
    child.waitForFinished();
    return mb;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc == 3 && QByteArray(argv[1]) == "--ask")
        return askChild(QUrl(QString::fromLocal8Bit(argv[2])));
    TunnelRig rig;
    const ServerProfile profile = serverAt("Амстердам", rig.server.port(), rig.server.uuid());
    const QString document = makeConfig(profile, *TunnelEngine::found().engine);
    const QUrl url(rig.service.origin() + "/api/v1/ip");
    LinuxTunnelSystem& system = rig.system;
    Vpn& vpn = rig.vpn;
    TestService& service = rig.service;
    const QString& runtimeDir = rig.runtimeDir;

    // Each round: the bare engine to its first answer (asked from here, then from another process),
    // then connect to the passed probe, then connect again with another process asking through the
    // port from the moment connect is pressed.
    std::vector<double> bare, bareOutside, proven, firstByte, provenRatio, firstByteRatio;
    double bareEngineMb = 0, hostMb = 0, engineMb = 0;
    for (int run = 0; run < kRuns; ++run) {
        const BareRun baseline = bareRun(document, url, false);
        const BareRun outside = bareRun(document, url, true);
        bare.push_back(baseline.firstByteMs);
        bareOutside.push_back(outside.firstByteMs);
        bareEngineMb = std::max(bareEngineMb, baseline.engineMb);

        for (const bool askAlong : {false, true}) {
            QElapsedTimer took;
            QStringList marks;
            auto onStatus =
                QObject::connect(&system.connection(), &TunnelConnection::statusChanged, &app, [&] {
                    marks << QString("status %1 @%2")
                                 .arg(int(system.connection().status()))
                                 .arg(took.elapsed());
                });
            auto onRequest = QObject::connect(
                &service, &TestService::requestReceived, &app, [&](const RecordedRequest& r) {
                    marks << QString("%1 @%2").arg(QString(r.path)).arg(took.elapsed());
                });
            std::optional<Asker> asker;
            if (askAlong) {
                asker.emplace(url);
                asker->go();
            }
            took.start();
            runOnLoop(vpn.connect(profile));
            const double ms = static_cast<double>(took.nsecsElapsed()) / 1e6;
            const double firstByteAt = asker ? asker->firstByteMs() : 0;
            if (qEnvironmentVariableIsSet("BENCH_TRACE"))
                std::printf("%s | done @%lld\n", qPrintable(marks.join(", ")), took.elapsed());
            QObject::disconnect(onStatus);
            QObject::disconnect(onRequest);
            if (vpn.status() != VpnStatus::On) {
                std::fprintf(stderr, "run %d: the tunnel did not come up (%s)\n", run,
                             qPrintable(vpn.error().value_or("no message")));
                return 1;
            }
            if (askAlong) {
                firstByte.push_back(firstByteAt);
                firstByteRatio.push_back(firstByteAt / outside.firstByteMs);
            } else {
                proven.push_back(ms);
                provenRatio.push_back(ms / baseline.firstByteMs);
                const qint64 hostPid = HostFiles::readPid(runtimeDir).value_or(0);
                const QList<qint64> engines = childProcesses(hostPid);
                hostMb = std::max(hostMb, rssMb(hostPid));
                engineMb = std::max(engineMb, engines.isEmpty() ? 0.0 : rssMb(engines.first()));
            }
            vpn.disconnect();
            waitUntil([&] { return !HostFiles::hostRunning(runtimeDir) && !portAccepts(10808); });
        }
    }

    const auto line = [](const char* what, const std::vector<double>& ours, const std::vector<double>& ratios,
                         const Spread& baseline, const char* goal) {
        const Spread figures = spread(ours), ratio = spread(ratios);
        std::printf("%s: %.1f ms median (%.1f–%.1f), bare %.1f ms (%.1f–%.1f); ratio of the medians %.2f "
                    "(goal %s); round by round %.2f / %.2f / %.2f (min/median/max)\n",
                    what, figures.median, figures.min, figures.max, baseline.median, baseline.min,
                    baseline.max, figures.median / baseline.median, goal, ratio.min, ratio.median, ratio.max);
    };
    std::printf("load average %s; %d rounds\n", qPrintable(loadAverage()), kRuns);
    const Spread baseline = spread(bare);
    line("connect to passed probe vs bare engine + first GET", proven, provenRatio, baseline, "<= 1.15");
    line(
        "connect to first byte through SOCKS vs bare engine start to first byte (asked from another process)",
        firstByte, firstByteRatio, spread(bareOutside), "<= 1.3");

    const double window = windowMb(QStringLiteral("app")), bareWindow = windowMb(QStringLiteral("bare"));
    const double stack = window + hostMb + engineMb, bareStack = bareEngineMb + bareWindow;
    std::printf("connected stack: %.1f MB (window %.1f + host %.1f + engine %.1f) vs bare engine %.1f + bare "
                "window %.1f MB: %.2f× (goal <= 1.3)\n",
                stack, window, hostMb, engineMb, bareEngineMb, bareWindow,
                bareStack > 0 ? stack / bareStack : 0);
    std::printf("load average %s\n", qPrintable(loadAverage()));
    return 0;
}

// A full load cycle (AppModel::load: me, referral, plans, configs, version) against the real
// reference service, and five bare QNetworkAccessManager GETs of the same paths in the same run:
// what the app's state layer adds to a round trip with the service.
#include "device/Keychain.h"
#include "device/Store.h"
#include "model/AppModel.h"
#include "platform/Clock.h"
#include "platform/Defaults.h"
#include "service/Api.h"
#include "support/FakeDesktop.h"
#include "support/FakeDeviceFacts.h"
#include "support/FakeExtensionManager.h"
#include "support/FakeSecureStore.h"
#include "support/FakeTunnel.h"
#include "tunnel/Vpn.h"

#include <QCoreApplication>
#include <QCoroNetworkReply>
#include <QElapsedTimer>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kCycles = 200;

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

QCoro::Task<> bareCycle(QNetworkAccessManager* network, QString origin, QByteArray token) {
    for (const char* path : {"/api/v1/me", "/api/v1/referral", "/api/v1/plans", "/api/v1/configs",
                             "/api/v1/app/version?platform=linux"}) {
        QNetworkRequest request(QUrl(origin + QLatin1String(path)));
        request.setRawHeader("Authorization", "Bearer " + token);
        request.setRawHeader("X-Hwid", "0123456789abcdef0123456789abcdef");
        QNetworkReply* reply = network->get(request);
        co_await reply;
        if (reply->readAll().isEmpty())
            std::abort();
        reply->deleteLater();
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir data;
    QFile servers(data.filePath("servers.json"));
    servers.open(QIODevice::WriteOnly);
    servers.write(
        R"([{"name":"Европа авто","address":"127.0.0.1","port":20001,"id":"0b8e6a43-5c1f-4f0e-9a3d-1b2c3d4e5f60"}])");
    servers.close();
    const QString binary = QCoreApplication::applicationDirPath() + "/../bin/vemko-devservice";
    QProcess service;
    service.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    service.start(binary,
                  {"--port", "0", "--data", data.filePath("service"), "--demo-servers", servers.fileName()});
    while (!service.canReadLine() && service.waitForReadyRead(10000)) {
    }
    const quint16 port = quint16(service.readLine().trimmed().toUInt());
    if (port == 0) {
        std::fprintf(stderr, "vemko-devservice did not start (%s)\n", qPrintable(binary));
        return 1;
    }
    const QString origin = QStringLiteral("http://127.0.0.1:%1").arg(port);

    MemoryDefaults defaults;
    FakeDeviceFacts facts;
    FakeSecureStore secure;
    Store store(defaults, facts);
    Keychain keychain(secure);
    QNetworkAccessManager network, bare, lookup;
    Api api(network, store, keychain, origin);
    SystemClock clock;
    FakeTunnelSystem tunnels(clock);
    FakeExtensionManager extensions;
    FakeDesktop desktop;
    Vpn vpn(tunnels, extensions, store, clock, desktop, lookup, origin);

    // An active account with one server: every call of the cycle does its full work.
    const QString token = QCoro::waitFor(api.registerAccount("bench@vemko.test", "bench-password"));
    secure.items.insert("token", token);
    QCoro::waitFor(api.promo("VEMKO7"));
    AppModel model(api, store, keychain, vpn, clock);

    std::vector<double> cycle, plain;
    for (int i = 0; i < kCycles + 5; ++i) {
        QElapsedTimer timer;
        timer.start();
        QCoro::waitFor(model.load());
        const double loadUs = double(timer.nsecsElapsed()) / 1e3;
        if (model.profiles().size() != 1)
            std::abort();
        timer.restart();
        QCoro::waitFor(bareCycle(&bare, origin, token.toUtf8()));
        const double bareUs = double(timer.nsecsElapsed()) / 1e3;
        if (i >= 5) { // warm-up: connections, first allocations
            cycle.push_back(loadUs);
            plain.push_back(bareUs);
        }
    }
    service.terminate();
    service.waitForFinished();
    std::printf("cycles: %d (alternating)\n", kCycles);
    std::printf("five bare GETs:   %8.1f us median per cycle\n", median(plain));
    std::printf("AppModel::load(): %8.1f us median per cycle\n", median(cycle));
    std::printf("ratio: %.3f (goal <= 1.2)\n", median(cycle) / median(plain));
    return 0;
}

// 500 sequential Api::plans() against the local test service, and 500 bare QNetworkAccessManager
// GETs of the same path in the same run: the cost the service client adds per request.

#include "device/Keychain.h"
#include "device/Store.h"
#include "platform/Defaults.h"
#include "service/Api.h"
#include "support/FakeDeviceFacts.h"
#include "support/FakeSecureStore.h"
#include "support/TestService.h"

#include <QCoreApplication>
#include <QCoroNetworkReply>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int kRequests = 500;
constexpr int kRounds = 7;

QJsonObject plansJson() {
    QJsonArray plans;
    for (int i = 0; i < 4; ++i)
        plans.append(QJsonObject{{"code", QStringLiteral("p%1").arg(i)},
                                 {"days", 30 * (i + 1)},
                                 {"devices", 3},
                                 {"price", 199 + i}});
    QJsonArray tiers;
    for (int i = 1; i <= 3; ++i)
        tiers.append(QJsonObject{{"devices", i * 2}, {"monthly", 2.99 * i}, {"yearly", 29.9 * i}});
    return QJsonObject{{"plans", plans},
                       {"payments", true},
                       {"card", true},
                       {"stripe_tiers", tiers},
                       {"stripe_trial_days", 3}};
}

struct Times {
    std::vector<double> api;
    std::vector<double> bare;
};

// Per-request times in microseconds. The two kinds alternate request by request, so the load of
// the machine at any moment weighs on both alike.
QCoro::Task<Times> alternate(Api* api, QNetworkAccessManager* network, QString url) {
    Times times;
    for (int i = 0; i < kRequests; ++i) {
        QElapsedTimer timer;
        timer.start();
        const auto plans = co_await api->plans();
        times.api.push_back(double(timer.nsecsElapsed()) / 1e3);
        if (plans.plans.size() != 4)
            std::abort();

        timer.restart();
        std::unique_ptr<QNetworkReply, void (*)(QNetworkReply*)> reply(
            network->get(QNetworkRequest(QUrl(url))), [](QNetworkReply* r) { r->deleteLater(); });
        co_await reply.get();
        const auto body = reply->readAll();
        times.bare.push_back(double(timer.nsecsElapsed()) / 1e3);
        if (body.isEmpty())
            std::abort();
    }
    co_return times;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    MemoryDefaults defaults;
    FakeDeviceFacts facts;
    FakeSecureStore secure;
    secure.items.insert(QStringLiteral("token"), QStringLiteral("bench-token"));
    Store store(defaults, facts);
    Keychain keychain(secure);
    TestService service;
    service.on("GET", "/api/v1/plans", ScriptedReply::json(200, plansJson()));
    QNetworkAccessManager apiNetwork;
    QNetworkAccessManager bareNetwork;
    apiNetwork.setProxy(QNetworkProxy::NoProxy);
    bareNetwork.setProxy(QNetworkProxy::NoProxy);
    Api api(apiNetwork, store, keychain, service.origin());
    const auto url = service.origin() + QStringLiteral("/api/v1/plans");

    std::vector<double> apiTimes;
    std::vector<double> bareTimes;
    for (int round = 0; round < kRounds; ++round) {
        // A plain nested event loop: no polling between events to blur the figures.
        auto times = QCoro::waitFor(alternate(&api, &bareNetwork, url));
        if (round == 0)
            continue; // warm-up: connection set-up, first allocations
        apiTimes.insert(apiTimes.end(), times.api.begin(), times.api.end());
        bareTimes.insert(bareTimes.end(), times.bare.begin(), times.bare.end());
    }
    const double apiMedian = median(apiTimes);
    const double bareMedian = median(bareTimes);
    std::printf("requests per side: %d x %d rounds\n", kRequests, kRounds - 1);
    std::printf("bare QNetworkAccessManager GET: %8.1f us median per request\n", bareMedian);
    std::printf("Api::plans():                   %8.1f us median per request\n", apiMedian);
    std::printf("ratio: %.3f\n", apiMedian / bareMedian);
    return 0;
}

#pragma once

#include "device/Keychain.h"
#include "device/Store.h"
#include "service/Api.h"
#include "support/Drive.h"
#include "support/FakeDefaults.h"
#include "support/FakeDeviceFacts.h"
#include "support/FakeSecureStore.h"
#include "support/TestService.h"

#include <QNetworkAccessManager>
#include <QNetworkProxy>

// A ready Api against a fresh TestService, over in-memory defaults (FakeDefaults), fixed device facts and an
// in-memory secure store. Header-only so that vemko_test_support does not depend on the service
// library; a test that includes it links vemko_service (directly or through its own library).
//
//     ApiFixture f;
//     f.service.on("GET", "/api/v1/plans", ScriptedReply::json(200, plans));
//     f.signIn("tok");
//     auto result = runTask(f.api.plans());
struct ApiFixture {
    static BundleInfo defaultBundle() {
        return BundleInfo{QStringLiteral("1.2.3"), QStringLiteral("42"), false};
    }

    explicit ApiFixture(BundleInfo bundle = defaultBundle())
        : store(defaults, facts, std::move(bundle)), keychain(secure),
          api(network, store, keychain, service.origin()) {
        // A proxy from the environment must never sit between the test and its own service.
        network.setProxy(QNetworkProxy::NoProxy);
    }

    // Stores a sign-in token, as a completed sign-in would.
    void signIn(const QString& token = QStringLiteral("test-token")) {
        secure.items.insert(QStringLiteral("token"), token);
    }

    FakeDefaults defaults;
    FakeDeviceFacts facts;
    FakeSecureStore secure;
    Store store;
    Keychain keychain;
    QNetworkAccessManager network;
    TestService service;
    Api api;
};

// The error of type `Error` a call ends with; nothing when it ends otherwise (another error is rethrown).
template <typename Error, typename T> std::optional<Error> errorOf(QCoro::Task<T> task) {
    try {
        runTask(std::move(task));
    } catch (const Error& error) {
        return error;
    }
    return std::nullopt;
}

#pragma once

#include <QByteArray>
#include <QCoroTask>
#include <QNetworkRequest>
#include <chrono>
#include <optional>

class Clock;
class QNetworkAccessManager;

// What came back from a GET: the HTTP status and body, or no status when no HTTP reply arrived
// (refused, reset, proxy failure, time-out).
struct HttpResult {
    std::optional<int> status;
    QByteArray body;
};

// A GET that the clock cuts off after `timeout`, so the waits of the tunnel flows are all on the
// same clock. Never throws.
QCoro::Task<HttpResult> timedGet(QNetworkAccessManager* network, QNetworkRequest request, Clock* clock,
                                 std::chrono::milliseconds timeout);

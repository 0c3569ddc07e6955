#pragma once

#include <QJsonArray>
#include <QString>
#include <optional>

// What the service sells: one-off plans for 1 to 10 devices at 30/90/180/365 days in roubles, and
// card subscription tiers for 1 to 5 devices in US dollars.
namespace catalogue {

struct PlanOffer {
    QString code; // "d<devices>-<days>", e.g. "d2-90"
    qint64 days;
    qint64 devices;
    qint64 price; // roubles
};

struct CardTier {
    qint64 devices;
    double monthly;
    double yearly;
};

constexpr qint64 cardTrialDays = 3;

QList<PlanOffer> plans();
std::optional<PlanOffer> plan(const QString& code);
QList<CardTier> tiers();
std::optional<CardTier> tier(qint64 devices);

QJsonArray plansJson();
QJsonArray tiersJson();

} // namespace catalogue

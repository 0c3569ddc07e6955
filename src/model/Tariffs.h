#pragma once

#include "service/Records.h"

#include <QList>
#include <QString>
#include <optional>

// The tariff texts and choices shared by the tariffs screen and `vemkoctl plans`.

// The one-off plans for `devices` devices, shortest term first; equal terms keep the service's order.
QList<Plan> plansForDevices(const QList<Plan>& plans, qint64 devices);

// The card tiers, fewest devices first (stable).
QList<StripeTier> sortedTiers(const QList<StripeTier>& tiers);

// Roubles a month: price × 30 ÷ days, truncated. Nothing for a plan without days.
std::optional<qint64> monthlyEquivalent(const Plan& plan);

// "30 дней", "1 день", "2 дня".
QString planTerm(const Plan& plan);
// "1000 ₽ · 333 ₽ за месяц"; "1000 ₽" alone for a plan without days.
QString planPriceLine(const Plan& plan);

// "3 устройства".
QString tierDevices(const StripeTier& tier);
// "$4.50 в месяц", or "$48.00 в год · $4.00 в месяц" when `yearly`.
QString tierPriceLine(const StripeTier& tier, bool yearly);

#include "Catalogue.h"

#include <QJsonObject>
#include <cmath>

namespace catalogue {

QList<PlanOffer> plans() {
    // 199 ₽ a month for one device, 100 ₽ for each further one; longer periods are cheaper a month.
    struct Period {
        qint64 days;
        double months;
        double discount;
    };
    constexpr Period periods[] = {{30, 1, 0}, {90, 3, 0.05}, {180, 6, 0.10}, {365, 12, 0.20}};
    QList<PlanOffer> offers;
    for (qint64 devices = 1; devices <= 10; ++devices)
        for (const Period& period : periods) {
            const double monthly = 199 + 100 * double(devices - 1);
            offers << PlanOffer{QStringLiteral("d%1-%2").arg(devices).arg(period.days), period.days, devices,
                                qint64(std::lround(monthly * period.months * (1 - period.discount)))};
        }
    return offers;
}

std::optional<PlanOffer> plan(const QString& code) {
    for (const PlanOffer& offer : plans())
        if (offer.code == code)
            return offer;
    return std::nullopt;
}

QList<CardTier> tiers() {
    QList<CardTier> list;
    for (qint64 devices = 1; devices <= 5; ++devices) {
        const double monthly = 2.99 + 1.5 * double(devices - 1);
        list << CardTier{devices, monthly, std::round(monthly * 10 * 100) / 100};
    }
    return list;
}

std::optional<CardTier> tier(qint64 devices) {
    for (const CardTier& entry : tiers())
        if (entry.devices == devices)
            return entry;
    return std::nullopt;
}

QJsonArray plansJson() {
    QJsonArray list;
    for (const PlanOffer& offer : plans())
        list << QJsonObject{
            {"code", offer.code}, {"days", offer.days}, {"devices", offer.devices}, {"price", offer.price}};
    return list;
}

QJsonArray tiersJson() {
    QJsonArray list;
    for (const CardTier& entry : tiers())
        list << QJsonObject{{"devices", entry.devices}, {"monthly", entry.monthly}, {"yearly", entry.yearly}};
    return list;
}

} // namespace catalogue

#include "model/Tariffs.h"

#include "format/Format.h"

#include <algorithm>
#include <limits>

QList<Plan> plansForDevices(const QList<Plan>& plans, qint64 devices) {
    QList<Plan> chosen;
    for (const Plan& plan : plans)
        if (plan.devices == devices)
            chosen.append(plan);
    std::stable_sort(chosen.begin(), chosen.end(),
                     [](const Plan& a, const Plan& b) { return a.days < b.days; });
    return chosen;
}

QList<StripeTier> sortedTiers(const QList<StripeTier>& tiers) {
    QList<StripeTier> sorted = tiers;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const StripeTier& a, const StripeTier& b) { return a.devices < b.devices; });
    return sorted;
}

std::optional<qint64> monthlyEquivalent(const Plan& plan) {
    if (plan.days <= 0)
        return std::nullopt;
    // Integer division truncates toward zero, as the screen shows it; a price too large to take
    // the factor 30 is outside anything the service sends and is clamped instead of overflowing.
    constexpr qint64 limit = std::numeric_limits<qint64>::max() / 30;
    const qint64 price = std::clamp(plan.price, -limit, limit);
    return price * 30 / plan.days;
}

QString planTerm(const Plan& plan) {
    return QString::number(plan.days) + u' ' +
           plural(plan.days, QStringLiteral("день"), QStringLiteral("дня"), QStringLiteral("дней"));
}

QString planPriceLine(const Plan& plan) {
    QString line = QString::number(plan.price) + QStringLiteral(" ₽");
    if (const auto monthly = monthlyEquivalent(plan))
        line += QStringLiteral(" · ") + QString::number(*monthly) + QStringLiteral(" ₽ за месяц");
    return line;
}

QString tierDevices(const StripeTier& tier) {
    return QString::number(tier.devices) + u' ' +
           plural(tier.devices, QStringLiteral("устройство"), QStringLiteral("устройства"),
                  QStringLiteral("устройств"));
}

QString tierPriceLine(const StripeTier& tier, bool yearly) {
    if (!yearly)
        return QString::asprintf("$%.2f в месяц", tier.monthly);
    return QString::asprintf("$%.2f в год · $%.2f в месяц", tier.yearly, tier.yearly / 12.0);
}

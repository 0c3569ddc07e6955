#include "model/SameValue.h"

#include <tuple>

namespace same {

bool value(const Me& a, const Me& b) {
    return std::tie(a.email, a.telegram, a.active, a.expire_at, a.devices_limit, a.devices_used, a.devices,
                    a.trial_available, a.promo_available, a.support_url) ==
           std::tie(b.email, b.telegram, b.active, b.expire_at, b.devices_limit, b.devices_used, b.devices,
                    b.trial_available, b.promo_available, b.support_url);
}

bool value(const Referral& a, const Referral& b) {
    return std::tie(a.code, a.link, a.invited, a.paid, a.days, a.days_invite, a.days_paid, a.days_friend) ==
           std::tie(b.code, b.link, b.invited, b.paid, b.days, b.days_invite, b.days_paid, b.days_friend);
}

bool value(const AppVersion& a, const AppVersion& b) {
    return sameVersion(a, b);
}

bool value(const ServerProfile& a, const ServerProfile& b) {
    return sameServer(a, b);
}

} // namespace same

#include "Palette.h"

namespace Palette {

namespace {

using Set = std::array<QColor, 3>;

const Set amber{QColor(180, 83, 9), QColor(245, 158, 11), QColor(217, 119, 6)};
const Set teal{QColor(10, 102, 90), QColor(15, 159, 138), QColor(19, 78, 74)};
const Set green{QColor(11, 127, 110), QColor(18, 179, 154), QColor(10, 102, 90)};
const Set red{QColor(153, 27, 27), QColor(239, 68, 68), QColor(185, 28, 28)};
const Set slate{QColor(51, 65, 85), QColor(71, 85, 105), QColor(30, 41, 59)};

} // namespace

std::array<QColor, 3> statusColors(VpnStatus status, bool active, qint64 days, bool limited) {
    if (status != VpnStatus::On && limited)
        return amber;
    if (status == VpnStatus::Connecting)
        return teal;
    if (status == VpnStatus::On)
        return green;
    if (!active)
        return red;
    return days <= 3 ? amber : slate;
}

} // namespace Palette

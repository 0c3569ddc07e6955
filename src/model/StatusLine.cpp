#include "model/StatusLine.h"

QString statusLine(VpnStatus status, const std::optional<QString>& profileName, const std::optional<Me>& me) {
    switch (status) {
    case VpnStatus::On:
        return QStringLiteral("Подключено · ") + profileName.value_or(QString());
    case VpnStatus::Connecting:
        return QStringLiteral("Подключаюсь…");
    case VpnStatus::Off:
        break;
    }
    return me && me->active ? QStringLiteral("Отключено") : QStringLiteral("Подписка не активна");
}

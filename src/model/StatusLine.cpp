#include "model/StatusLine.h"

#include "tunnel/Texts.h"

QString statusLine(VpnStatus status, const std::optional<QString>& profileName, const std::optional<Me>& me,
                   bool recovering) {
    switch (status) {
    case VpnStatus::On:
        return QStringLiteral("Подключено · ") + profileName.value_or(QString());
    case VpnStatus::Connecting:
        return recovering ? tunnel_texts::connectionLost : QStringLiteral("Подключаюсь…");
    case VpnStatus::Off:
        break;
    }
    return me && me->active ? QStringLiteral("Отключено") : QStringLiteral("Подписка не активна");
}

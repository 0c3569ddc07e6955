#pragma once

#include "service/Records.h"
#include "tunnel/Vpn.h"

#include <QString>
#include <optional>

// The one-line tunnel state of the tray menu and of `vemkoctl status`: "Подключено · <server>",
// "Подключаюсь…" (or, while a dead server is being replaced, "Связь пропала — переключаюсь…"),
// "Отключено" (subscribed) or "Подписка не активна".
QString statusLine(VpnStatus status, const std::optional<QString>& profileName, const std::optional<Me>& me,
                   bool recovering = false);

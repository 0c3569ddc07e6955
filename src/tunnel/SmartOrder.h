#pragma once

#include "service/ServerProfile.h"

#include <QList>
#include <optional>

// The servers connect tries, in order, for the user's choice: the choice itself, then (in the
// "Европа" group only) the server that last passed, the "Wi-Fi", "авто" and "резерв" servers.
// Never empty, the choice always first, no name twice.
QList<ServerProfile> smartOrder(const ServerProfile& selected, const QList<ServerProfile>& profiles,
                                const std::optional<QString>& lastGood);

#pragma once

#include "engine/Engine.h"
#include "service/ServerProfile.h"

#include <QString>
#include <optional>

// Why the server cannot run on `engine` ("нужен Xray: REALITY"), or nothing when it can: its
// entry is read through the allow-list and checked against what the engine implements.
std::optional<QString> unusableReason(const ServerProfile& profile, const engine::EngineInfo& engine);

// The document the tunnel runs, written fresh for `engine` from what the allow-list read of the
// server's entry: the local SOCKS entry 127.0.0.1:10808 as the only inbound, log level "warning",
// nothing the entry said beyond its outbounds, routing and DNS. Throws Fail naming the server and
// the reason when the server cannot run on this engine.
QString makeConfig(const ServerProfile& profile, const engine::EngineInfo& engine);

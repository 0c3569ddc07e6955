#pragma once

#include <QJsonObject>

// The tunnel document is written for xray; v2ray 4.34 refuses a few of its values outright.
// Returns the document with exactly those values removed: "quic" in an inbound's sniffing
// "destOverride" (v2ray: "unknown protocol: quic"). Its "log" is replaced whatever it says: access
// log off, level "warning", everything to the engine's output (which the host keeps).
QJsonObject adaptForEngine(QJsonObject document);

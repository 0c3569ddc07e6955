#pragma once

#include <QJsonObject>

// The tunnel document is written for xray; v2ray 4.34 refuses a few of its values outright.
// Returns the document with exactly those values removed and everything else untouched:
// "quic" in an inbound's sniffing "destOverride" (v2ray: "unknown protocol: quic").
QJsonObject adaptForEngine(QJsonObject document);

#pragma once

#include <QJsonObject>
#include <QString>
#include <QUuid>

// One selectable server: a fresh id per parse (list identity only), the display name, and the
// whole configuration object. Equal and hashed by name, so a selection survives a re-parse.
struct ServerProfile {
    QUuid id;
    QString name;
    QJsonObject config;

    bool operator==(const ServerProfile& other) const { return name == other.name; }
};

// Same server with the same settings: what decides whether a fresh list replaces the one in use
// (equality by name alone would keep a server's old settings after they changed).
inline bool sameServer(const ServerProfile& a, const ServerProfile& b) {
    return a.name == b.name && a.config == b.config;
}

inline size_t qHash(const ServerProfile& profile, size_t seed = 0) noexcept {
    return qHash(profile.name, seed);
}

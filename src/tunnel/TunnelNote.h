#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <optional>

// What one process of the app tells the others about the tunnel (kept by the tunnel service):
// either a connect run under way (in which process, which server it tries, whether it replaces
// a server that died), or the proof that the tunnel now up carries traffic (through which server,
// since when). The window, the tray and vemkoctl all show the tunnel through it.
struct TunnelNote {
    QString server; // "пробую: " + name while a later candidate is tried
    // A proof: the platform's connected date of the tunnel it proves, and when it passed.
    std::optional<QDateTime> connected;
    std::optional<QDateTime> since;
    // A run: its process and the controller in it that runs (tests hold several in one).
    qint64 runPid = 0;
    QString runner;
    bool recovering = false;

    static TunnelNote proof(QString server, std::optional<QDateTime> connected, QDateTime since);
    static TunnelNote run(QString runner, QString server, bool recovering);

    // The tunnel connected at `connected` is the proven one.
    bool proves(const std::optional<QDateTime>& connected) const;
    // A run by another controller, in a process that is still alive.
    bool runsElsewhere(const QString& self) const;

    QJsonObject toJson() const;
    // Anything unreadable gives an empty note (no run, no proof).
    static TunnelNote fromJson(const QJsonObject& object);
};

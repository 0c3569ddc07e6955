#pragma once

#include "platform/TunnelManager.h"

#include <QList>
#include <QMap>
#include <QPointer>
#include <chrono>

class Clock;
class FakeTunnelSystem;

// A tunnel connection that follows a script on the test's clock: start goes to connecting at
// once and to connected after the script's delay (or never); stop goes to disconnecting at once
// and to disconnected after its delay (or never). Records every start and stop.
class FakeTunnelConnection final : public TunnelConnection {
    Q_OBJECT
public:
    explicit FakeTunnelConnection(FakeTunnelSystem& system);

    TunnelStatus status() const override { return m_status; }
    std::optional<QDateTime> connectedDate() const override { return m_connectedDate; }
    void start(const QJsonObject& options) override;
    void stop() override;

    // Moves to `status` now (connected dates it with the clock unless the script says not to).
    void setStatus(TunnelStatus status);
    bool awaitingApproval() const override { return awaiting; }
    bool blocked() const override { return holdsKillSwitch; }
    void askAgain() override { ++asksAgain; }

    bool awaiting = false;        // an administrator prompt is up
    bool holdsKillSwitch = false; // set before a setStatus that reports it
    int asksAgain = 0;

    QList<QJsonObject> starts;  // the options of every start
    QStringList startedServers; // the saved server name at every start
    int stops = 0;

private:
    void after(std::optional<std::chrono::milliseconds> delay, TunnelStatus status);

    FakeTunnelSystem& m_system;
    TunnelStatus m_status = TunnelStatus::Disconnected;
    std::optional<QDateTime> m_connectedDate;
    quint64 m_generation = 0; // a later start or stop voids the earlier one's pending change
};

// One saved configuration. Its connection exists once it has been saved.
class FakeTunnelManager final : public TunnelManager, public std::enable_shared_from_this<FakeTunnelManager> {
public:
    explicit FakeTunnelManager(FakeTunnelSystem& system) : m_system(system) {}

    QCoro::Task<> save() override;
    QCoro::Task<> load() override;
    TunnelConnection* connection() override { return m_connection.get(); }
    FakeTunnelConnection* fakeConnection() { return m_connection.get(); }
    // The platform lost track of this configuration's connection.
    void forgetConnection() { m_connection.reset(); }

private:
    friend class FakeTunnelSystem;
    FakeTunnelSystem& m_system;
    std::unique_ptr<FakeTunnelConnection> m_connection;
};

// The tunnel service: the saved configurations, the script every connection follows, and the
// status notification (fired, like the platform's, for every connection's change).
class FakeTunnelSystem final : public TunnelSystem {
    Q_OBJECT
public:
    explicit FakeTunnelSystem(Clock& clock) : m_clock(clock) {}

    QCoro::Task<std::vector<std::shared_ptr<TunnelManager>>> loadAll() override;
    std::shared_ptr<TunnelManager> create() override;
    const engine::Discovered& engine() const override { return discovered; }

    // The engine the tunnels "run": Debian's v2ray unless a test says otherwise.
    engine::Discovered discovered{engine::identify("V2Ray 4.34.0 (V2Fly)"), {}};

    // The one saved configuration, or none.
    FakeTunnelManager* saved() const { return m_saved.empty() ? nullptr : m_saved.front().get(); }
    FakeTunnelConnection* connection() const { return saved() ? saved()->fakeConnection() : nullptr; }
    // Puts a configuration in place as if saved by an earlier run of the app.
    FakeTunnelManager& preload();

    // The script. Delays are on the test's clock; nothing means "never".
    std::optional<std::chrono::milliseconds> connectAfter = std::chrono::seconds(1);
    QMap<QString, std::optional<std::chrono::milliseconds>> connectAfterByServer; // by saved server name
    std::optional<std::chrono::milliseconds> stopAfter = std::chrono::milliseconds(500);
    std::optional<std::chrono::milliseconds> dropAfter; // a started tunnel falls back to disconnected
    bool datesConnections = true;
    QString loadAllError; // non-empty: loadAll fails with it
    QString saveError;    // non-empty: every save fails with it, leaving what was saved
    QString startError;   // non-empty: start fails with it

    int created = 0;

private:
    friend class FakeTunnelConnection;
    friend class FakeTunnelManager;
    Clock& m_clock;
    std::vector<std::shared_ptr<FakeTunnelManager>> m_saved;
};

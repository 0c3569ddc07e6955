#include "support/FakeTunnel.h"

#include "platform/Clock.h"
#include "platform/MainTask.h"
#include "platform/PlatformError.h"

#include <QCoroTimer>

namespace {

// Platform calls answer on a later turn of the event loop, never from inside the call.
QCoro::Task<> nextTurn() {
    co_await QCoro::sleepFor(std::chrono::milliseconds(0));
}

} // namespace

FakeTunnelConnection::FakeTunnelConnection(FakeTunnelSystem& system) : m_system(system) {}

void FakeTunnelConnection::start(const QJsonObject& options) {
    if (!m_system.startError.isEmpty())
        throw PlatformError(m_system.startError);
    starts.append(options);
    const QString server = m_system.saved() && m_system.saved()->protocolConfiguration
                               ? m_system.saved()->protocolConfiguration->serverAddress
                               : QString();
    startedServers.append(server);
    ++m_generation;
    setStatus(TunnelStatus::Connecting);
    after(m_system.connectAfterByServer.value(server, m_system.connectAfter), TunnelStatus::Connected);
    after(m_system.dropAfter, TunnelStatus::Disconnected);
}

void FakeTunnelConnection::stop() {
    ++stops;
    ++m_generation;
    if (!m_system.stopAfter)
        return; // a tunnel that ignores the stop
    setStatus(TunnelStatus::Disconnecting);
    after(m_system.stopAfter, TunnelStatus::Disconnected);
}

void FakeTunnelConnection::setStatus(TunnelStatus status) {
    if (status == TunnelStatus::Connected)
        m_connectedDate = m_system.datesConnections ? std::optional(m_system.m_clock.now()) : std::nullopt;
    else if (status != TunnelStatus::Reasserting)
        m_connectedDate.reset();
    if (m_status == status)
        return;
    m_status = status;
    emit statusChanged();
    emit m_system.statusChanged();
}

void FakeTunnelConnection::after(std::optional<std::chrono::milliseconds> delay, TunnelStatus status) {
    if (!delay)
        return;
    startMainTask([](QPointer<FakeTunnelConnection> self, Clock* clock, std::chrono::milliseconds wait,
                     quint64 generation, TunnelStatus next) -> QCoro::Task<> {
        co_await clock->sleep(wait);
        if (self && self->m_generation == generation)
            self->setStatus(next);
    }(this, &m_system.m_clock, *delay, m_generation, status));
}

QCoro::Task<> FakeTunnelManager::save() {
    co_await nextTurn();
    if (!m_system.saveError.isEmpty())
        throw PlatformError(m_system.saveError);
    if (!m_connection)
        m_connection = std::make_unique<FakeTunnelConnection>(m_system);
    m_system.m_saved = {shared_from_this()};
}

QCoro::Task<> FakeTunnelManager::load() {
    co_await nextTurn();
}

QCoro::Task<std::vector<std::shared_ptr<TunnelManager>>> FakeTunnelSystem::loadAll() {
    co_await nextTurn();
    if (!loadAllError.isEmpty())
        throw PlatformError(loadAllError);
    co_return std::vector<std::shared_ptr<TunnelManager>>(m_saved.begin(), m_saved.end());
}

std::shared_ptr<TunnelManager> FakeTunnelSystem::create() {
    ++created;
    return std::make_shared<FakeTunnelManager>(*this);
}

FakeTunnelManager& FakeTunnelSystem::preload() {
    auto manager = std::make_shared<FakeTunnelManager>(*this);
    manager->m_connection = std::make_unique<FakeTunnelConnection>(*this);
    m_saved = {manager};
    return *manager;
}

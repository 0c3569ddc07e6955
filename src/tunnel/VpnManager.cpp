#include "platform/TunnelManager.h"
#include "tunnel/Run.h"
#include "tunnel/Vpn.h"

QCoro::Task<std::shared_ptr<TunnelManager>> Vpn::prepareManager(QString config, QString server, Run run) {
    const auto saved = co_await m_tunnels.loadAll();
    run.check();
    // The app keeps one saved configuration and rewrites it for every attempt.
    std::shared_ptr<TunnelManager> manager = saved.empty() ? m_tunnels.create() : saved.front();

    TunnelProtocol protocol;
    protocol.providerBundleIdentifier = tunnelBundleId();
    protocol.serverAddress = server;
    protocol.providerConfiguration =
        QJsonObject{{QStringLiteral("config"), config}, {QStringLiteral("server"), server}};
    protocol.excludeLocalNetworks = true;
    manager->protocolConfiguration = protocol;
    manager->localizedDescription = QStringLiteral("Vemko VPN");
    manager->isEnabled = true;

    co_await manager->save();
    run.check();
    co_await manager->load(); // start from what is saved
    run.check();
    m_manager = manager;
    co_return manager;
}

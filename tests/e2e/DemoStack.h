#pragma once

// The demo stack the end-to-end test runs against, as `make run` starts it: the real
// vemko-devservice over its own data folder, and v2ray vmess servers on loopback that send their
// traffic from their own loopback addresses. A dead entry (nothing listens) and a placeholder
// ("0.0.0.0") complete the configs document.

#include "tunnel-host/EngineFixture.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QUuid>
#include <algorithm>
#include <memory>

namespace demo {

using engine_fixture::V2rayServer;

// A listed server: a running engine, or (without an exit address) a dead entry nothing listens on.
struct Server {
    QString name, exit, city;
    std::unique_ptr<V2rayServer> engine = exit.isEmpty() ? nullptr : std::make_unique<V2rayServer>(exit);
    quint16 port = engine ? engine->port() : engine_fixture::freePort();
    QString id = engine ? engine->uuid() : QUuid::createUuid().toString(QUuid::WithoutBraces);
};

class Stack {
public:
    explicit Stack(QString folder) : m_folder(std::move(folder)) {}
    ~Stack() {
        m_service.terminate();
        if (!m_service.waitForFinished(5000))
            m_service.kill();
        m_service.waitForFinished();
    }

    // Starts the service over the servers; false with `m_failure` set when something did not come up.
    bool start(const QString& serviceBinary) {
        QJsonArray entries;
        for (const Server& server : m_servers)
            entries << QJsonObject{{"name", server.name}, {"address", "127.0.0.1"}, {"port", server.port},
                                   {"id", server.id},     {"exit", server.exit},    {"city", server.city}};
        entries << QJsonObject{{"name", "Нидерланды (скоро)"},
                               {"address", "0.0.0.0"},
                               {"port", 443},
                               {"id", QUuid::createUuid().toString(QUuid::WithoutBraces)}};
        QFile file(serversFile());
        if (!QDir().mkpath(m_folder) || !file.open(QIODevice::WriteOnly) ||
            file.write(QJsonDocument(entries).toJson()) < 0) {
            m_failure = u"cannot write the demo-servers file"_qs;
            return false;
        }
        file.close();
        m_service.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_service.start(serviceBinary, {u"--port"_qs, u"0"_qs, u"--data"_qs, m_folder + u"/service"_qs,
                                        u"--demo-servers"_qs, serversFile()});
        // The first line is the port it listens on.
        while (!m_service.canReadLine() && m_service.waitForReadyRead(30000)) {
        }
        m_port = quint16(m_service.readLine().trimmed().toUInt());
        if (m_port == 0)
            m_failure = u"vemko-devservice did not start"_qs;
        return m_port != 0;
    }

    bool serversReady() const {
        return std::all_of(std::begin(m_servers), std::end(m_servers),
                           [](const Server& server) { return !server.engine || server.engine->ready(); });
    }
    QString origin() const { return u"http://127.0.0.1:%1"_qs.arg(m_port); }
    QString failure() const { return m_failure; }

private:
    QString serversFile() const { return m_folder + u"/demo-servers.json"_qs; }

    QString m_folder;
    const Server m_servers[4]{{u"Европа Wi-Fi 1"_qs, {}, {}},
                              {u"Европа авто"_qs, u"127.0.0.2"_qs, u"Франкфурт"_qs},
                              {u"Европа резерв"_qs, u"127.0.0.3"_qs, u"Варшава"_qs},
                              {u"Амстердам"_qs, u"127.0.0.4"_qs, u"Амстердам"_qs}};
    QProcess m_service;
    quint16 m_port = 0;
    QString m_failure;
};

} // namespace demo

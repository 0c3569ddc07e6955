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
#include <memory>
#include <vector>

namespace demo {

using engine_fixture::freePort;

struct Server {
    QString name;
    QString exit; // empty: a dead entry
    QString city;
    quint16 port = freePort();
    QString id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    std::unique_ptr<QProcess> engine;
};

class Stack {
public:
    explicit Stack(QString folder) : m_folder(std::move(folder)) {
        m_servers.push_back({u"Европа Wi-Fi 1"_qs, {}, {}});
        m_servers.push_back({u"Европа авто"_qs, u"127.0.0.2"_qs, u"Франкфурт"_qs});
        m_servers.push_back({u"Европа резерв"_qs, u"127.0.0.3"_qs, u"Варшава"_qs});
        m_servers.push_back({u"Амстердам"_qs, u"127.0.0.4"_qs, u"Амстердам"_qs});
    }
    ~Stack() {
        stopService();
        for (Server& server : m_servers)
            if (server.engine) {
                server.engine->kill();
                server.engine->waitForFinished();
            }
    }

    // Starts the engines and the service; false with `m_failure` set when something did not come up.
    bool start(const QString& serviceBinary) {
        m_binary = serviceBinary;
        QJsonArray entries;
        for (Server& server : m_servers) {
            entries << QJsonObject{{"name", server.name}, {"address", "127.0.0.1"}, {"port", server.port},
                                   {"id", server.id},     {"exit", server.exit},    {"city", server.city}};
            if (server.exit.isEmpty())
                continue;
            const QJsonObject config{
                {"log", QJsonObject{{"loglevel", "warning"}}},
                {"inbounds",
                 QJsonArray{QJsonObject{
                     {"listen", "127.0.0.1"},
                     {"port", server.port},
                     {"protocol", "vmess"},
                     {"settings", QJsonObject{{"clients", QJsonArray{QJsonObject{{"id", server.id}}}}}}}}},
                {"outbounds",
                 QJsonArray{QJsonObject{
                     {"protocol", "freedom"}, {"sendThrough", server.exit}, {"settings", QJsonObject{}}}}}};
            server.engine = std::make_unique<QProcess>();
            server.engine->setProcessChannelMode(QProcess::ForwardedErrorChannel);
            server.engine->setStandardOutputFile(QProcess::nullDevice());
            server.engine->start(u"v2ray"_qs, {u"-config"_qs, u"stdin:"_qs});
            server.engine->waitForStarted();
            server.engine->write(QJsonDocument(config).toJson());
            server.engine->closeWriteChannel();
        }
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
        return startService(0);
    }

    // Stops the service and starts it again on the same port over the same data.
    bool restartService() {
        stopService();
        return startService(m_port);
    }

    bool serversReady() const {
        for (const Server& server : m_servers)
            if (server.engine &&
                (server.engine->state() != QProcess::Running || !engine_fixture::portAccepts(server.port)))
                return false;
        return true;
    }
    QString origin() const { return u"http://127.0.0.1:%1"_qs.arg(m_port); }
    QString failure() const { return m_failure; }

private:
    QString serversFile() const { return m_folder + u"/demo-servers.json"_qs; }

    bool startService(quint16 port) {
        m_service = std::make_unique<QProcess>();
        m_service->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_service->start(m_binary, {u"--port"_qs, QString::number(port), u"--data"_qs,
                                    m_folder + u"/service"_qs, u"--demo-servers"_qs, serversFile()});
        // The first line is the port it listens on.
        while (!m_service->canReadLine() && m_service->waitForReadyRead(30000)) {
        }
        m_port = quint16(m_service->readLine().trimmed().toUInt());
        if (m_port == 0)
            m_failure = u"vemko-devservice did not start"_qs;
        return m_port != 0;
    }
    void stopService() {
        if (!m_service)
            return;
        m_service->terminate();
        if (!m_service->waitForFinished(5000)) {
            m_service->kill();
            m_service->waitForFinished();
        }
        m_service.reset();
    }

    QString m_folder;
    QString m_binary;
    std::vector<Server> m_servers;
    std::unique_ptr<QProcess> m_service;
    quint16 m_port = 0;
    QString m_failure;
};

} // namespace demo

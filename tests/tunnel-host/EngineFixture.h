#pragma once

// Real processes for the tunnel tests: a v2ray vmess server on loopback, a GET through the
// tunnel's SOCKS port, and /proc look-ups for the processes left behind.

#include "service/ServerProfile.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QUuid>

namespace engine_fixture {

// A free port below the ephemeral range (32768 and up): a port that some connection holds as its
// own end, even in TIME-WAIT, makes v2ray's bind fail.
inline quint16 freePort() {
    for (;;) {
        QTcpServer probe;
        if (probe.listen(QHostAddress::LocalHost,
                         quint16(20000 + QRandomGenerator::global()->bounded(12000))))
            return probe.serverPort();
    }
}

inline bool portAccepts(quint16 port) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(200);
}

// A vmess server with a freedom outbound: the far end of a real tunnel, all on loopback. With
// `sendThrough` its traffic leaves from that (loopback) address.
class V2rayServer {
public:
    static constexpr const char* tunnelOnlyHost = "ipinfo.test";

    explicit V2rayServer(const QString& sendThrough = {})
        : m_port(freePort()), m_uuid(QUuid::createUuid().toString(QUuid::WithoutBraces)) {
        QJsonObject freedom{{"protocol", "freedom"}, {"settings", QJsonObject{{"domainStrategy", "UseIP"}}}};
        if (!sendThrough.isEmpty())
            freedom.insert("sendThrough", sendThrough);
        const QJsonObject config{
            {"log", QJsonObject{{"loglevel", "warning"}}},
            // A name only this server resolves: a request that reaches it came through the tunnel.
            {"dns", QJsonObject{{"hosts", QJsonObject{{tunnelOnlyHost, "127.0.0.1"}}}}},
            {"inbounds",
             QJsonArray{QJsonObject{
                 {"listen", "127.0.0.1"},
                 {"port", m_port},
                 {"protocol", "vmess"},
                 {"settings", QJsonObject{{"clients", QJsonArray{QJsonObject{{"id", m_uuid}}}}}}}}},
            {"outbounds", QJsonArray{freedom}}};
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.start(QStringLiteral("v2ray"), {QStringLiteral("-config"), QStringLiteral("stdin:")});
        m_process.waitForStarted();
        m_process.write(QJsonDocument(config).toJson());
        m_process.closeWriteChannel();
    }
    ~V2rayServer() {
        m_process.kill();
        m_process.waitForFinished();
    }
    bool ready() const { return m_process.state() == QProcess::Running && portAccepts(m_port); }
    quint16 port() const { return m_port; }
    QString uuid() const { return m_uuid; }

private:
    QProcess m_process;
    quint16 m_port;
    QString m_uuid;
};

// A server entry as the configs document carries it: a vmess outbound to 127.0.0.1:`port`.
inline ServerProfile serverAt(const QString& name, quint16 port, const QString& uuid) {
    const QJsonObject user{{"id", uuid}, {"alterId", 0}};
    const QJsonObject vnext{{"address", "127.0.0.1"}, {"port", port}, {"users", QJsonArray{user}}};
    const QJsonObject outbound{{"protocol", "vmess"},
                               {"settings", QJsonObject{{"vnext", QJsonArray{vnext}}}}};
    return ServerProfile{QUuid::createUuid(), name,
                         QJsonObject{{"remarks", name}, {"outbounds", QJsonArray{outbound}}}};
}

// The tunnel document the app would write: one SOCKS inbound on 10808 with xray's sniffing list
// (which v2ray refuses as it stands) and the server's vmess outbound.
inline QJsonObject clientDocument(const V2rayServer& server) {
    return QJsonObject{
        {"log", QJsonObject{{"loglevel", "warning"}}},
        {"inbounds", QJsonArray{QJsonObject{
                         {"tag", "socks"},
                         {"port", 10808},
                         {"listen", "127.0.0.1"},
                         {"protocol", "socks"},
                         {"settings", QJsonObject{{"udp", true}, {"auth", "noauth"}}},
                         {"sniffing", QJsonObject{{"enabled", true},
                                                  {"routeOnly", false},
                                                  {"destOverride", QJsonArray{"http", "tls", "quic"}}}}}}},
        {"outbounds", serverAt({}, server.port(), server.uuid()).config.value("outbounds")}};
}

inline QString text(const QJsonObject& document) {
    return QString::fromUtf8(QJsonDocument(document).toJson(QJsonDocument::Compact));
}

// A GET through SOCKS5 127.0.0.1:10808; the body, or empty on failure.
inline QByteArray getThroughTunnel(const QUrl& url) {
    QNetworkAccessManager network;
    network.setProxy(QNetworkProxy(QNetworkProxy::Socks5Proxy, QStringLiteral("127.0.0.1"), 10808));
    QNetworkRequest request(url);
    request.setTransferTimeout(20000);
    QNetworkReply* reply = network.get(request);
    QSignalSpy finished(reply, &QNetworkReply::finished);
    finished.wait(30000);
    const QByteArray answer = reply->error() == QNetworkReply::NoError ? reply->readAll() : QByteArray();
    reply->deleteLater();
    return answer;
}

// Live processes whose parent is `pid`.
inline QList<qint64> childProcesses(qint64 pid) {
    QList<qint64> found;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool numeric = false;
        const qint64 candidate = entry.toLongLong(&numeric);
        if (!numeric)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(candidate));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[1].toLongLong() == pid && fields[0] != "Z")
            found << candidate;
    }
    return found;
}

// Gone, or a zombie nobody has reaped yet (it runs no code and holds no port).
inline bool processGone(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    return close < 0 || line.mid(close + 2, 1) == "Z" || line.mid(close + 2, 1) == "X";
}

} // namespace engine_fixture

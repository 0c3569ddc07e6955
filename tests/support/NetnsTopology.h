#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

// The namespace test network of the system-wide tunnel (tests/netd/topology.sh): a client,
// a router that is also "the internet", and two VPN servers, with a leak watch on the router.
// Needs root. Nothing of it touches the machine's own network.
namespace NetnsTopology {

inline const QString client = QStringLiteral("vemko-t-client");
inline const QString router = QStringLiteral("vemko-t-inet");
inline const QString container = QStringLiteral("vemko-t-ctr"); // behind the client's bridge
inline const QString httpHost = QStringLiteral("10.203.0.1");
inline const QString publicResolver = QStringLiteral("10.203.0.53");
inline const QString vpnServer1 = QStringLiteral("10.202.0.2");
inline const QString vpnServer2 = QStringLiteral("10.202.0.3");
inline const QString clientAddress = QStringLiteral("10.201.0.2");

struct Result {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// Runs a program (inside `ns` when given) with `input` on its stdin; bounded by `timeoutMs`.
Result run(const QStringList& command, const QByteArray& input = {}, std::optional<QString> ns = client,
           int timeoutMs = 30000);

// Why these tests cannot run here (not root, no network namespaces), or nothing when they can.
std::optional<QString> unavailable();

// The system user the helper runs the engine as, made when missing.
bool ensureEngineUser();

// Builds the topology, removing the remains of an earlier run first; false with a message on
// failure. down() removes every namespace and process of it.
bool up(QString* message);
void down();

// The helper's state folder for a namespace (/run/vemko-netd/<its key>); its published status is
// that name with ".status".
QString helperStateFolder(const QString& ns = client);
// The engine the helper runs in the client namespace; 0 when none.
qint64 helperEnginePid();

// Router counters: "tunnel", "leak4", "leak6", "lan_dns"; reset() zeroes them and the DNS logs.
qint64 counter(const QString& name);
void reset();
QByteArray publicResolverLog();

// The tunnel document for the VPN server at `address`, as the app would send it (one SOCKS
// inbound on 127.0.0.1:10808), with `listen` for that inbound.
QByteArray clientDocument(const QString& address = vpnServer1, const QString& listen = "127.0.0.1");

// curl from the client (or `ns`): the body, or the exit code as "rc=N".
QString curl(const QStringList& arguments, const QString& ns = client);

} // namespace NetnsTopology

#include "support/NetnsTopology.h"

#include "netd/NetnsKey.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace NetnsTopology {

namespace {

QString script() {
    return QStringLiteral(VEMKO_TESTS_SOURCE_DIR "/netd/topology.sh");
}

QString workDir() {
    return QDir::tempPath() + "/vemko-netns-test";
}

} // namespace

Result run(const QStringList& command, const QByteArray& input, std::optional<QString> ns, int timeoutMs) {
    QStringList full = command;
    if (ns)
        full = QStringList{"ip", "netns", "exec", *ns} + command;
    QProcess process;
    process.start(full.first(), full.mid(1));
    Result result;
    if (!process.waitForStarted(timeoutMs))
        return result;
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

std::optional<QString> unavailable() {
    if (::geteuid() != 0)
        return QStringLiteral("needs root to build network namespaces");
    const QString probe = QStringLiteral("vemko-t-probe");
    run({"ip", "netns", "del", probe}, {}, std::nullopt);
    const Result added = run({"ip", "netns", "add", probe}, {}, std::nullopt);
    // `ip netns exec` also needs a mount namespace whose root is a mount point (not so in a chroot).
    const Result entered =
        added.exitCode == 0 ? run({"ip", "netns", "exec", probe, "true"}, {}, std::nullopt) : Result{};
    run({"ip", "netns", "del", probe}, {}, std::nullopt);
    if (added.exitCode != 0)
        return QStringLiteral("the kernel refuses network namespaces here: ") + QString::fromUtf8(added.err);
    if (entered.exitCode != 0)
        return QStringLiteral("network namespaces cannot be entered here (a chroot?): ") +
               QString::fromUtf8(entered.err);
    return std::nullopt;
}

bool ensureEngineUser() {
    return run({"id", "vemko-engine"}, {}, std::nullopt).exitCode == 0 ||
           run({"useradd", "--system", "--no-create-home", "--shell", "/usr/sbin/nologin", "vemko-engine"},
               {}, std::nullopt)
                   .exitCode == 0;
}

bool up(QString* message) {
    const Result result = run({"bash", script(), "up", workDir()}, {}, std::nullopt, 60000);
    if (message)
        *message = QString::fromUtf8(result.out + result.err);
    return result.exitCode == 0;
}

void down() {
    const QString folder = helperStateFolder();
    run({"bash", script(), "down", workDir()}, {}, std::nullopt, 60000);
    if (!folder.isEmpty()) {
        QDir(folder).removeRecursively();
        QFile::remove(folder + ".status");
    }
}

QString helperStateFolder(const QString& ns) {
    // The key is asked inside the namespace, by a thread that enters it for the moment.
    std::string key;
    std::thread([&] {
        const int fd = ::open(QFile::encodeName("/run/netns/" + ns).constData(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0 && ::setns(fd, CLONE_NEWNET) == 0)
            key = netd::netnsKey();
        if (fd >= 0)
            ::close(fd);
    }).join();
    return key.empty() ? QString() : QStringLiteral("/run/vemko-netd/") + QString::fromStdString(key);
}

qint64 helperEnginePid() {
    QFile file(helperStateFolder() + "/engine.pid");
    return file.open(QIODevice::ReadOnly) ? file.readAll().split(' ').value(0).toLongLong() : 0;
}

qint64 counter(const QString& name) {
    const Result result = run({"nft", "list", "counter", "inet", "leakwatch", name}, {}, router);
    const auto match = QRegularExpression("packets (\\d+)").match(QString::fromUtf8(result.out));
    return match.hasMatch() ? match.captured(1).toLongLong() : -1;
}

void reset() {
    run({"nft", "reset", "counters", "table", "inet", "leakwatch"}, {}, router);
    for (const char* log : {"dns-public.log", "dns-router.log"})
        QFile(workDir() + "/" + log).resize(0);
}

QByteArray publicResolverLog() {
    QFile file(workDir() + "/dns-public.log");
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray clientDocument(const QString& address, const QString& listen) {
    const QJsonObject user{
        {"id", "6c0b2f44-6a3e-4d1b-9d0f-3f4c1d2e5a77"}, {"alterId", 0}, {"security", "aes-128-gcm"}};
    const QJsonObject proxy{
        {"tag", "proxy"},
        {"protocol", "vmess"},
        {"settings",
         QJsonObject{{"vnext", QJsonArray{QJsonObject{
                                   {"address", address}, {"port", 10086}, {"users", QJsonArray{user}}}}}}}};
    const QJsonObject socks{{"tag", "socks"},
                            {"port", 10808},
                            {"listen", listen},
                            {"protocol", "socks"},
                            {"settings", QJsonObject{{"udp", true}, {"auth", "noauth"}}}};
    const QJsonObject document{
        {"inbounds", QJsonArray{socks}},
        {"outbounds", QJsonArray{proxy, QJsonObject{{"tag", "direct"}, {"protocol", "freedom"}}}},
        {"dns", QJsonObject{{"servers", QJsonArray{publicResolver}}}},
        {"log", QJsonObject{{"loglevel", "warning"}}}};
    return QJsonDocument(document).toJson(QJsonDocument::Compact);
}

QString curl(const QStringList& arguments, const QString& ns) {
    const Result result = run(QStringList{"curl", "-sS", "-m", "5"} + arguments, {}, ns);
    return result.exitCode == 0 ? QString::fromUtf8(result.out).trimmed()
                                : QStringLiteral("rc=%1").arg(result.exitCode);
}

} // namespace NetnsTopology

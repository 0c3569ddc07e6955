#include "platform/DesktopProxy.h"

#include "os/ProxyBackup.h"
#include "os/Spawn.h"
#include "os/Tool.h"
#include "platform/PlatformError.h"
#include "platform/ReplaceFile.h"
#include "platform/TunnelPaths.h"

#include <QFile>

namespace {

const QString schema = QStringLiteral("org.gnome.system.proxy");
const QString dconfPath = QString::fromLatin1(os::gnomeProxyPath);
const QStringList kdeKeys{"ProxyType", "socksProxy", "httpProxy", "httpsProxy", "NoProxyFor"};

// A desktop tool, waited for with a deadline (this runs on the connection's worker thread).
os::ToolResult tool(const QString& program, const QStringList& arguments, const QByteArray& input = {}) {
    std::vector<std::string> words;
    for (const QString& argument : arguments)
        words.push_back(argument.toStdString());
    return os::runTool(program.toStdString(), words,
                       std::string_view(input.constData(), size_t(input.size())));
}

QByteArray output(const os::ToolResult& result) {
    return QByteArray::fromStdString(result.out);
}

bool found(const QString& program) {
    return !os::findExecutable(program.toStdString()).empty();
}

QString kdeTool(const char* verb) {
    return QString::fromStdString(os::kdeConfigTool(verb));
}

QStringList kdeGroup(const QString& key) {
    return {"--file", "kioslaverc", "--group", "Proxy Settings", "--key", key};
}

// The settings GNOME programs must see, in the order they are written: the switch comes last,
// when everything it turns on is in place.
QList<std::pair<QStringList, QString>> gnomeValues(int socksPort, int httpPort) {
    const QString host = QStringLiteral("'127.0.0.1'");
    return {
        {{schema + ".socks", "host"}, host},
        {{schema + ".socks", "port"}, QString::number(socksPort)},
        {{schema + ".http", "host"}, host},
        {{schema + ".http", "port"}, QString::number(httpPort)},
        {{schema + ".https", "host"}, host},
        {{schema + ".https", "port"}, QString::number(httpPort)},
        {{schema, "ignore-hosts"}, QStringLiteral("['localhost', '127.0.0.0/8', '::1']")},
        {{schema, "mode"}, QStringLiteral("'manual'")},
    };
}

} // namespace

DesktopProxy::DesktopProxy(QString stateDir) : m_stateDir(std::move(stateDir)) {}

QString DesktopProxy::defaultStateDir() {
    return QFile::decodeName(QByteArray::fromStdString(os::proxyStateDir()));
}

QString DesktopProxy::gnomeBackup() const {
    return QFile::decodeName(
        QByteArray::fromStdString(os::gnomeProxyBackup(QFile::encodeName(m_stateDir).toStdString())));
}

QString DesktopProxy::kdeBackup() const {
    return QFile::decodeName(
        QByteArray::fromStdString(os::kdeProxyBackup(QFile::encodeName(m_stateDir).toStdString())));
}

bool DesktopProxy::backupPresent() const {
    return QFile::exists(gnomeBackup()) || QFile::exists(kdeBackup());
}

void DesktopProxy::apply(int socksPort, int httpPort) {
    if (!TunnelPaths::ensurePrivateDir(m_stateDir))
        throw PlatformError(QStringLiteral("Не удалось создать папку %1").arg(m_stateDir));
    const bool gnome = applyGnome(socksPort, httpPort);
    const bool kde = applyKde(socksPort, httpPort);
    if (!gnome && !kde)
        throw PlatformError(QStringLiteral("Не удалось включить системный прокси: настройки GNOME не "
                                           "сохраняются (нет сеанса D-Bus), KDE не найден"));
}

bool DesktopProxy::applyGnome(int socksPort, int httpPort) {
    if (!found("gsettings") || !found("dconf") || !tool("gsettings", {"list-keys", schema}).ok)
        return false;
    // The first backup is the user's own: a second apply after a crash must not save ours.
    if (!QFile::exists(gnomeBackup())) {
        const os::ToolResult dump = tool("dconf", {"dump", dconfPath});
        if (!dump.ok)
            return false;
        replaceFile(gnomeBackup(), output(dump));
    }
    bool took = true;
    for (const auto& [where, value] : gnomeValues(socksPort, httpPort)) {
        tool("gsettings", QStringList{"set"} + where + QStringList{value});
        // Without a session bus the write "succeeds" and changes nothing: believe only a read.
        took = took &&
               QString::fromUtf8(output(tool("gsettings", QStringList{"get"} + where))).trimmed() == value;
    }
    if (!took) {
        restoreGnome();
        // Nothing took (no session bus): the backup is no longer needed, unless something changed.
        QFile backup(gnomeBackup());
        if (backup.open(QIODevice::ReadOnly) &&
            backup.readAll() == output(tool("dconf", {"dump", dconfPath})))
            QFile::remove(gnomeBackup());
        return false;
    }
    return true;
}

bool DesktopProxy::applyKde(int socksPort, int httpPort) {
    const QString write = kdeTool("write");
    const QString read = kdeTool("read");
    if (write.isEmpty() || read.isEmpty())
        return false;
    if (!QFile::exists(kdeBackup())) {
        QByteArray saved;
        for (const QString& key : kdeKeys)
            saved += key.toUtf8() + '=' + output(tool(read, kdeGroup(key))).trimmed() + '\n';
        replaceFile(kdeBackup(), saved);
    }
    const QString http = QStringLiteral("http://127.0.0.1:%1").arg(httpPort);
    const QList<std::pair<QString, QString>> values{
        {"socksProxy", QStringLiteral("socks://127.0.0.1:%1").arg(socksPort)},
        {"httpProxy", http},
        {"httpsProxy", http},
        {"NoProxyFor", "localhost,127.0.0.0/8,::1"},
        {"ProxyType", "1"}}; // manual, last
    for (const auto& [key, value] : values)
        if (!tool(write, kdeGroup(key) << value).ok)
            return false;
    os::reparseKdeProxy();
    return true;
}

// The restore is shared with the tunnel host and its guard, which put the settings back too.
void DesktopProxy::restore() {
    restoreGnome();
    restoreKde();
}

void DesktopProxy::restoreGnome() {
    os::restoreGnomeProxy(QFile::encodeName(m_stateDir).toStdString());
}

void DesktopProxy::restoreKde() {
    os::restoreKdeProxy(QFile::encodeName(m_stateDir).toStdString());
}

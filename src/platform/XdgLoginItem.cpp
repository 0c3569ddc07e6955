#include "LoginItem.h"
#include "PlatformError.h"
#include "ReplaceFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

namespace {

const QString entryName = QStringLiteral("autostart/vemko-vpn.desktop");

QString quoteExec(const QString& program) {
    // Inside double quotes " ` $ \ take a backslash, % doubles; the key's string escaping then
    // doubles every backslash.
    QString quoted;
    for (const QChar c : program) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
    }
    quoted.replace(u'%', QStringLiteral("%%"));
    quoted.replace(u'\\', QStringLiteral("\\\\"));
    return u'"' + quoted + u'"';
}

QString execLine(const QString& executable) {
    return QStringLiteral("Exec=") + quoteExec(executable) + QStringLiteral(" --hidden");
}

} // namespace

XdgLoginItem::XdgLoginItem(QString executable, QString configHome)
    : m_executable(std::move(executable)), m_configHome(std::move(configHome)) {}

XdgLoginItem& XdgLoginItem::forThisApp() {
    static XdgLoginItem item = [] {
        QString home = qEnvironmentVariable("XDG_CONFIG_HOME");
        if (home.isEmpty())
            home = QDir::home().filePath(QStringLiteral(".config"));
        return XdgLoginItem(QCoreApplication::applicationFilePath(), home);
    }();
    return item;
}

QString XdgLoginItem::path() const {
    return QDir(m_configHome).filePath(entryName);
}

QString XdgLoginItem::entryText() const {
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Vemko VPN\n"
                          "Comment=VPN по подписке Vemko\n"
                          "Icon=vemko-vpn\n"
                          "%1\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(execLine(m_executable));
}

bool XdgLoginItem::enabled() const {
    QFile file(path());
    if (!file.open(QIODevice::ReadOnly))
        return false;
    bool inEntry = false;
    bool runsUs = false;
    bool off = false;
    const QString exec = execLine(m_executable);
    for (const QByteArray& raw : file.readAll().split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.startsWith(u'[')) {
            inEntry = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!inEntry)
            continue;
        const qsizetype equals = line.indexOf(u'=');
        if (equals < 0)
            continue;
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        if (key == QLatin1String("Exec"))
            runsUs = QStringLiteral("Exec=") + value == exec;
        else if (key == QLatin1String("Hidden"))
            off = off || value == QLatin1String("true");
        else if (key == QLatin1String("X-GNOME-Autostart-enabled"))
            off = off || value == QLatin1String("false");
    }
    return runsUs && !off;
}

void XdgLoginItem::setEnabled(bool on) {
    const QString entry = path();
    if (on) {
        const QString folder = QFileInfo(entry).absolutePath();
        if (!QDir().mkpath(folder))
            throw PlatformError(folder + QStringLiteral(": cannot create the folder"));
        replaceFile(entry, entryText().toUtf8());
        return;
    }
    QFile file(entry);
    if (file.exists() && !file.remove())
        throw PlatformError(entry + QStringLiteral(": ") + file.errorString());
}

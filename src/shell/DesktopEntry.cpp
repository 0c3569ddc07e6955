#include "DesktopEntry.h"

#include "screens/Mascot.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>

namespace DesktopEntry {

namespace {
const QString fileName = QStringLiteral("vemko-vpn.desktop");
const QString iconName = QStringLiteral("vemko-vpn");
} // namespace

QString quoteExec(const QString& program) {
    // Desktop entry rules: inside double quotes, escape " ` $ \ with a backslash; a literal %
    // is %%. The key's own string escaping then doubles every backslash.
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

QString text(const QString& executable) {
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Vemko VPN\n"
                          "Comment=VPN по подписке Vemko\n"
                          "Icon=%1\n"
                          "Exec=%2 -- %u\n"
                          "Terminal=false\n"
                          "Categories=Network;\n"
                          "MimeType=x-scheme-handler/vemko;\n"
                          "StartupWMClass=vemko-vpn\n")
        .arg(iconName, quoteExec(executable));
}

QString defaultDataHome() {
    const QString set = qEnvironmentVariable("XDG_DATA_HOME");
    return set.isEmpty() ? QDir::home().filePath(QStringLiteral(".local/share")) : set;
}

bool install(const QString& executable, const QString& dataHome) {
    const QString folder = QDir(dataHome).filePath(QStringLiteral("applications"));
    const QString path = QDir(folder).filePath(fileName);
    const QString wanted = text(executable);
    QFile current(path);
    if (current.open(QIODevice::ReadOnly) && QString::fromUtf8(current.readAll()) == wanted)
        return false;
    current.close();

    QDir().mkpath(folder);
    QSaveFile entry(path);
    if (!entry.open(QIODevice::WriteOnly))
        return false;
    entry.write(wanted.toUtf8());
    if (!entry.commit())
        return false;

    const QString icons = QDir(dataHome).filePath(QStringLiteral("icons/hicolor/256x256/apps"));
    QDir().mkpath(icons);
    Mascot::picture(256).save(QDir(icons).filePath(iconName + QStringLiteral(".png")), "PNG");

    const QString xdgMime = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
    if (!xdgMime.isEmpty())
        QProcess::startDetached(
            xdgMime, {QStringLiteral("default"), fileName, QStringLiteral("x-scheme-handler/vemko")});
    return true;
}

} // namespace DesktopEntry

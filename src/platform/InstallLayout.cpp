#include "platform/InstallLayout.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace InstallLayout {

QString helperDirFor(const QString& appDir) {
    const QDir here(appDir);
    if (QFileInfo(here.filePath(QStringLiteral("vemko-tunnel"))).isFile())
        return appDir;
    const QString system = QDir::cleanPath(here.filePath(QStringLiteral("../lib/vemko-vpn")));
    if (QFileInfo(QDir(system).filePath(QStringLiteral("vemko-tunnel"))).isFile())
        return system;
    return appDir;
}

QString helperDir() {
    return helperDirFor(QCoreApplication::applicationDirPath());
}

bool isPackageManaged(const QString& appDir) {
    return QDir::cleanPath(appDir).startsWith(QLatin1String("/usr/"));
}

} // namespace InstallLayout

#include "platform/DefaultsWatcher.h"

#include "platform/TunnelPaths.h"

#include <QFile>
#include <QFileInfo>
#include <sys/stat.h>

// A replaced file has a new inode; a rewritten one a new time.
DefaultsWatcher::Stamp DefaultsWatcher::stampOf(const QString& file) {
    struct stat info {};
    if (::stat(QFile::encodeName(file).constData(), &info) != 0)
        return {};
    return {static_cast<quint64>(info.st_ino), info.st_mtim.tv_sec * 1'000'000'000 + info.st_mtim.tv_nsec};
}

DefaultsWatcher::DefaultsWatcher(QString file, QObject* parent)
    : QObject(parent), m_file(std::move(file)), m_stamp(stampOf(m_file)) {
    const QString folder = QFileInfo(m_file).absolutePath();
    if (QFileInfo::exists(folder) || TunnelPaths::ensurePrivateDir(folder))
        m_watcher.addPath(folder);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, &DefaultsWatcher::look);
}

void DefaultsWatcher::look() {
    const Stamp stamp = stampOf(m_file);
    if (stamp == m_stamp)
        return;
    m_stamp = stamp;
    emit changed();
}

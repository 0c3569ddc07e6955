#include "platform/LinuxTunnelSystem.h"

#include "platform/LinuxTunnelManager.h"
#include "platform/OwnFile.h"
#include "platform/PlatformError.h"
#include "platform/ProcessFiles.h"
#include "platform/ReplaceFile.h"

#include <QJsonDocument>

namespace {
constexpr qint64 noteLimitBytes = 64 * 1024;
} // namespace

LinuxTunnelSystem::LinuxTunnelSystem(QString hostExecutable, QString configFile, QString runtimeDir,
                                     QObject* parent)
    : TunnelSystem(parent), m_configFile(configFile), m_noteFile(runtimeDir + QStringLiteral("/note.json")),
      m_connection(std::move(hostExecutable), std::move(configFile), std::move(runtimeDir)) {
    ProcessFiles::removeLeftoverTemporaries(m_configFile);
    // The desktop-proxy connection follows the host's and tells the same changes.
    connect(&m_desktopProxy, &TunnelConnection::statusChanged, this, &TunnelSystem::statusChanged);
    connect(&m_connection, &TunnelConnection::trafficTrouble, this, &TunnelSystem::trafficTrouble);
    // The note is replaced by rename, which ends a watch on the file: watch its folder (which
    // the host connection has made).
    m_noteWatcher.addPath(m_connection.runtimeDir());
    connect(&m_noteWatcher, &QFileSystemWatcher::directoryChanged, this, &LinuxTunnelSystem::readNote);
    readNote();
    setSystemConnection(
        std::make_unique<SystemTunnelConnection>(SystemTunnelConnection::defaultCommand(), m_configFile));
}

void LinuxTunnelSystem::setSystemConnection(std::unique_ptr<SystemTunnelConnection> connection) {
    m_system = std::move(connection);
    connect(m_system.get(), &TunnelConnection::statusChanged, this, &TunnelSystem::statusChanged);
}

TunnelConnection* LinuxTunnelSystem::activeConnection() {
    if (m_mode() == TunnelMode::System)
        return m_system.get();
    if (m_mode() == TunnelMode::DesktopProxy)
        return &m_desktopProxy;
    return &m_connection;
}

QCoro::Task<std::vector<std::shared_ptr<TunnelManager>>> LinuxTunnelSystem::loadAll() {
    auto manager = std::make_shared<LinuxTunnelManager>(m_configFile, activeConnection(), false);
    try {
        manager->readFile();
    } catch (const PlatformError&) {
        co_return std::vector<std::shared_ptr<TunnelManager>>{};
    }
    co_return std::vector<std::shared_ptr<TunnelManager>>{manager};
}

std::shared_ptr<TunnelManager> LinuxTunnelSystem::create() {
    return std::make_shared<LinuxTunnelManager>(m_configFile, activeConnection(), false);
}

void LinuxTunnelSystem::readNote() {
    const auto bytes = OwnFile::read(m_noteFile, noteLimitBytes);
    const QJsonObject note = bytes ? QJsonDocument::fromJson(*bytes).object() : QJsonObject();
    if (note == m_note)
        return;
    m_note = note;
    emit statusChanged();
}

void LinuxTunnelSystem::setSharedNote(const QJsonObject& note) {
    if (note == m_note)
        return;
    m_note = note;
    try {
        replaceFile(m_noteFile, QJsonDocument(note).toJson(QJsonDocument::Compact));
    } catch (const PlatformError&) {
        // Other processes then see the tunnel as the platform reports it, without the note.
    }
}

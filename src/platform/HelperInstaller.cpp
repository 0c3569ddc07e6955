#include "platform/HelperInstaller.h"

#include "platform/Pkexec.h"
#include "platform/SystemTunnelConnection.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

namespace texts {
const QString missing = QStringLiteral("Не найден файл %1 рядом с приложением: установите помощник "
                                       "пакетом Вемко VPN или из сборки (см. README)");
const QString stageFailed = QStringLiteral("Не удалось подготовить установку помощника: нет места во "
                                           "временной папке");
const QString dismissed = QStringLiteral("Установка помощника отменена. Ничего не изменено.");
const QString notAuthorized = QStringLiteral("Нет прав администратора: пароль не принят или подтвердить "
                                             "его негде. Ничего не изменено.");
const QString failed = QStringLiteral("Не удалось установить помощник vemko-netd: %1. Ничего не изменено.");
const QString notStarted = QStringLiteral("Не удалось запустить pkexec (%1). Ничего не изменено.");
const QString notInPlace = QStringLiteral("Установка завершилась, но помощник vemko-netd не появился в "
                                          "/usr/libexec/vemko-vpn");
} // namespace texts

QString lastLine(const QByteArray& errors) {
    const QString line = pkexec::lastErrorLine(errors, QStringLiteral("vemko-netd-install: "));
    return line.isEmpty() ? QStringLiteral("без объяснения") : line;
}

} // namespace

HelperInstaller::HelperInstaller(QStringList elevate, QString folder, std::function<bool()> installed,
                                 QObject* parent)
    : QObject(parent), m_elevate(std::move(elevate)), m_folder(std::move(folder)),
      m_installed(std::move(installed)) {}

HelperInstaller::~HelperInstaller() {
    if (m_process) {
        m_process->disconnect(this);
        m_process->waitForFinished(2000); // the staged files stay until the step has read them
    }
}

QString HelperInstaller::bundledFolder() {
    return QCoreApplication::applicationDirPath();
}

std::function<bool()> HelperInstaller::defaultInstalled() {
    return &SystemTunnelConnection::helperInstalled;
}

const QStringList& HelperInstaller::files() {
    static const QStringList names{QStringLiteral("vemko-netd"), QStringLiteral("app.vemko.vpn.netd.policy"),
                                   QStringLiteral("vemko-netd-install")};
    return names;
}

void HelperInstaller::install() {
    if (m_process)
        return;
    m_failure.reset();
    // A private copy: root may not read the app's own folder (an AppImage's mount), and the files
    // the administrator approves stay the ones that get installed.
    m_stage = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/vemko-netd-XXXXXX"));
    for (const QString& name : files()) {
        const QString from = QDir(m_folder).filePath(name);
        if (!QFileInfo(from).isFile()) {
            m_failure = texts::missing.arg(name);
            break;
        }
        if (!m_stage->isValid() || !QFile::copy(from, QDir(m_stage->path()).filePath(name))) {
            m_failure = texts::stageFailed;
            break;
        }
    }
    if (m_failure) {
        m_stage.reset();
        emit changed();
        return;
    }
    auto* process = new QProcess(this);
    m_process = process;
    process->setProgram(m_elevate.first());
    process->setArguments(m_elevate.mid(1)
                          << QStringLiteral("/bin/sh")
                          << QDir(m_stage->path()).filePath(QStringLiteral("vemko-netd-install"))
                          << m_stage->path());
    process->setStandardInputFile(QProcess::nullDevice());
    connect(process, &QProcess::finished, this, &HelperInstaller::finished);
    connect(process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            finished();
    });
    process->start();
    emit changed();
}

void HelperInstaller::finished() {
    QProcess* process = m_process;
    if (!process)
        return;
    const int code = process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1;
    if (process->error() == QProcess::FailedToStart)
        m_failure = texts::notStarted.arg(process->errorString());
    else if (code == pkexec::dismissed)
        m_failure = texts::dismissed;
    else if (code == pkexec::notAuthorized)
        m_failure = texts::notAuthorized;
    else if (code != 0)
        m_failure = texts::failed.arg(lastLine(process->readAllStandardError()));
    else if (!installed())
        m_failure = texts::notInPlace; // never reported as done when it is not
    m_process = nullptr;
    process->deleteLater();
    m_stage.reset();
    emit changed();
}

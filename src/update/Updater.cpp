#include "update/Updater.h"

#include "device/Store.h"
#include "platform/Desktop.h"
#include "platform/InstallLayout.h"
#include "platform/PlatformError.h"
#include "platform/TunnelPaths.h"
#include "service/Api.h"
#include "service/Errors.h"
#include "update/Download.h"
#include "update/InstallScript.h"
#include "update/Tool.h"
#include "update/UpdateLog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QProcess>
#include <QSaveFile>
#include <cerrno>
#include <unistd.h>

namespace {

const QString archiveName = QStringLiteral("vemko-update.zip");
const QString unpackName = QStringLiteral("vemko-update");
const QString scriptName = QStringLiteral("vemko-update.sh");
const QString damaged = QStringLiteral("архив повреждён");
const QString tooLarge = QStringLiteral("архив обновления слишком велик");

} // namespace

QString UpdaterSetup::defaultInstallPath() {
    return QDir::homePath() + QStringLiteral("/.local/opt/Vemko VPN.AppDir");
}

UpdaterSetup UpdaterSetup::defaults() {
    const QDir helpers(InstallLayout::helperDir());
    return UpdaterSetup{
        .installPath = defaultInstallPath(),
        .publicKey = helpers.filePath(QStringLiteral("vemko-update-key.pem")),
        .codesign = helpers.filePath(QStringLiteral("vemko-codesign")),
        // The shared temp dir is writable by everyone: a folder there owned by someone else could
        // swap the verified bundle before the script copies it. Ours, 0700, per user.
        .tempDir = QDir::tempPath() + QStringLiteral("/vemko-vpn-update-%1").arg(getuid()),
        .waitPid = QCoreApplication::applicationPid(),
        .packageManaged = InstallLayout::isPackageManaged(QCoreApplication::applicationDirPath()),
    };
}

Updater::Updater(Api& api, const Store& store, Desktop& desktop, QNetworkAccessManager& network, Clock& clock,
                 UpdaterSetup setup, QObject* parent)
    : QObject(parent), m_api(api), m_store(store), m_desktop(desktop), m_network(network), m_clock(clock),
      m_setup(std::move(setup)) {}

Updater::~Updater() = default;

QCoro::Task<> Updater::check(bool automatic) {
    QPointer<Updater> self(this);
    Api& api = m_api;
    std::optional<AppVersion> latest;
    QString failure;
    try {
        latest = co_await api.appVersion();
    } catch (...) {
        failure = describeError(std::current_exception());
    }
    if (!self)
        co_return;
    if (!latest) {
        qCCritical(lcUpdater).noquote() << QStringLiteral("проверка не удалась: %1").arg(failure);
        emit checkFailed(failure);
        co_return;
    }
    const qint64 ours = m_store.appBuild();
    qCInfo(lcUpdater).noquote()
        << QStringLiteral("проверка: на сервере %1, у нас %2").arg(latest->version_code).arg(ours);
    if (ours >= latest->version_code)
        co_return; // an older or equal answer never withdraws an offer already made
    setAvailable(*latest);
    if (automatic && m_store.autoUpdate())
        co_await install();
}

QCoro::Task<> Updater::install() {
    if (!m_available || m_progress >= 0 || m_setup.packageManaged)
        co_return;
    const QUrl url(m_available->url, QUrl::StrictMode);
    if (url.isEmpty() || !url.isValid())
        co_return;

    QPointer<Updater> self(this);
    setProgress(0);
    setMessage(std::nullopt);
    qCInfo(lcUpdater).noquote() << QStringLiteral("качаю обновление");
    QString failure;
    try {
        const QString archive = co_await download(url);
        if (!self)
            co_return;
        const QString bundle = co_await unpack(archive);
        if (!self)
            co_return;
        co_await verify(bundle);
        if (!self)
            co_return;
        qCInfo(lcUpdater).noquote() << QStringLiteral("подменяю приложение и перезапускаюсь");
        replaceAndRelaunch(bundle);
        co_return;
    } catch (...) {
        failure = describeError(std::current_exception());
    }
    if (!self)
        co_return;
    setProgress(-1);
    setMessage(QStringLiteral("Не удалось обновиться: ") + failure);
    qCCritical(lcUpdater).noquote() << QStringLiteral("обновление не удалось: %1").arg(failure);
}

QCoro::Task<QString> Updater::download(QUrl url) {
    QPointer<Updater> self(this);
    if (!TunnelPaths::ensurePrivateDir(m_setup.tempDir))
        throw PlatformError(m_setup.tempDir + QStringLiteral(": not a private folder of this user"));
    const QString archive = QDir(m_setup.tempDir).filePath(archiveName);
    co_await downloadToFile(m_network, std::move(url), archive, m_setup.downloadLimit);
    if (self)
        setProgress(60);
    co_return archive;
}

QCoro::Task<QString> Updater::unpack(QString archive) {
    QPointer<Updater> self(this);
    const QString folder = QDir(m_setup.tempDir).filePath(unpackName);
    QDir(folder).removeRecursively(); // leftovers of an earlier attempt; a failure shows below
    if (!QDir().mkpath(folder))
        throw PlatformError(folder + QStringLiteral(": ") + qt_error_string(errno));

    // Our own unpacker holds the archive to the limits as it writes, whatever the archive declares;
    // it reports "DONE TOTAL" after each entry, which moves the progress on towards 80.
    const QStringList arguments{QStringLiteral("unpack"),
                                QStringLiteral("--max-bytes"),
                                QString::number(m_setup.unpackedLimit),
                                QStringLiteral("--max-entries"),
                                QString::number(m_setup.entryLimit),
                                archive,
                                folder};
    const auto onLine = [self](const QByteArray& line) {
        const QList<QByteArray> counts = line.split(' ');
        const qint64 done = counts.value(0).toLongLong();
        const qint64 total = counts.value(1).toLongLong();
        if (self && total > 0 && done >= 0 && done <= total)
            self->setProgress(60 + int(19 * done / total));
    };
    const ToolResult unpacked =
        co_await runTool(m_clock, m_setup.codesign, arguments, m_setup.toolLimit, onLine);
    if (unpacked.exitCode == 3)
        throw Fail(tooLarge);
    if (unpacked.exitCode != 0)
        throw Fail(damaged);

    const QDir unpackedDir(folder);
    if (!unpackedDir.isReadable())
        throw PlatformError(folder + QStringLiteral(": ") + qt_error_string(EACCES));
    // The first AppDir in the order the folder lists, as an archive's author would expect.
    const QStringList entries = unpackedDir.entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QString& name : entries) {
        const QFileInfo entry(name);
        if (entry.suffix() == QLatin1String("AppDir") && !entry.completeBaseName().isEmpty()) {
            if (self)
                setProgress(80);
            co_return unpackedDir.filePath(name);
        }
    }
    throw Fail(damaged);
}

QCoro::Task<> Updater::verify(QString bundle) {
    QPointer<Updater> self(this);
    const QStringList arguments{QStringLiteral("verify"), QStringLiteral("--key"), m_setup.publicKey, bundle};
    if ((co_await runTool(m_clock, m_setup.codesign, arguments, m_setup.toolLimit)).exitCode != 0)
        throw Fail(QStringLiteral("подпись обновления не подтверждена"));
    if (self)
        setProgress(90);
}

void Updater::replaceAndRelaunch(const QString& bundle) {
    const QString scriptPath = QDir(m_setup.tempDir).filePath(scriptName);
    QSaveFile script(scriptPath);
    if (!script.open(QIODevice::WriteOnly) ||
        script.write(installScript(m_setup.waitPid, bundle, m_setup.installPath).toUtf8()) < 0 ||
        !script.commit())
        throw PlatformError(scriptPath + QStringLiteral(": ") + script.errorString());
    const auto executable = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                            QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther |
                            QFileDevice::ExeOther;
    if (!QFile::setPermissions(scriptPath, executable))
        throw PlatformError(scriptPath + QStringLiteral(": ") + qt_error_string(errno));

    // Detached: the script must outlive the app it is about to replace.
    QProcess starter;
    starter.setProgram(QStringLiteral("/bin/bash"));
    starter.setArguments({scriptPath});
    if (!starter.startDetached())
        throw PlatformError(QStringLiteral("/bin/bash: ") + starter.errorString());

    setProgress(100);
    m_desktop.terminate();
}

void Updater::setAvailable(const AppVersion& version) {
    if (m_available && sameVersion(*m_available, version))
        return;
    m_available = version;
    emit availableChanged();
}

void Updater::setProgress(int progress) {
    if (m_progress == progress)
        return;
    m_progress = progress;
    emit progressChanged();
}

void Updater::setMessage(std::optional<QString> message) {
    if (m_message == message)
        return;
    m_message = std::move(message);
    emit messageChanged();
}

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
#include <QRegularExpression>
#include <QSaveFile>
#include <cerrno>
#include <limits>
#include <unistd.h>

namespace {

const QString archiveName = QStringLiteral("vemko-update.zip");
const QString unpackName = QStringLiteral("vemko-update");
const QString scriptName = QStringLiteral("vemko-update.sh");
const QString damaged = QStringLiteral("архив повреждён");
const QString tooLarge = QStringLiteral("архив обновления слишком велик");

// "12 files, 3456 bytes uncompressed, 789 bytes compressed:  77.2%", the last line of
// `unzip -Zt`: the entry count and unpacked size the archive's own directory states.
std::optional<std::pair<qint64, qint64>> archiveTotals(const QByteArray& listing) {
    static const QRegularExpression totals(QStringLiteral("^(\\d+) files?, (\\d+) bytes? uncompressed"),
                                           QRegularExpression::MultilineOption);
    const auto match = totals.match(QString::fromUtf8(listing));
    if (!match.hasMatch())
        return std::nullopt;
    bool entriesOk = false;
    bool bytesOk = false;
    const qint64 entries = match.captured(1).toLongLong(&entriesOk);
    const qint64 bytes = match.captured(2).toLongLong(&bytesOk);
    if (!entriesOk || !bytesOk)
        return std::pair{std::numeric_limits<qint64>::max(), std::numeric_limits<qint64>::max()};
    return std::pair{entries, bytes};
}

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
        .unzip = QStringLiteral("/usr/bin/unzip"),
        .waitPid = QCoreApplication::applicationPid(),
        .packageManaged = InstallLayout::isPackageManaged(QCoreApplication::applicationDirPath()),
    };
}

Updater::Updater(Api& api, const Store& store, Desktop& desktop, QNetworkAccessManager& network,
                 UpdaterSetup setup, QObject* parent)
    : QObject(parent), m_api(api), m_store(store), m_desktop(desktop), m_network(network),
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
        const QString bundle = unpack(archive);
        verify(bundle);
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

QString Updater::unpack(const QString& archive) {
    const QString folder = QDir(m_setup.tempDir).filePath(unpackName);
    QDir(folder).removeRecursively(); // leftovers of an earlier attempt; a failure shows below
    if (!QDir().mkpath(folder))
        throw PlatformError(folder + QStringLiteral(": ") + qt_error_string(errno));

    // What the archive unpacks to, from its directory, before a byte of it is written out.
    const ToolResult listing = runTool(m_setup.unzip, {QStringLiteral("-Zt"), archive},
                                       QProcess::SeparateChannels, m_setup.toolLimit);
    const auto totals = listing.exitCode == 0 ? archiveTotals(listing.output) : std::nullopt;
    if (!totals)
        throw Fail(damaged);
    if (totals->first > m_setup.entryLimit || totals->second > m_setup.unpackedLimit)
        throw Fail(tooLarge);

    const QStringList arguments{QStringLiteral("-q"), archive, QStringLiteral("-d"), folder};
    if (runTool(m_setup.unzip, arguments, QProcess::ForwardedChannels, m_setup.toolLimit).exitCode != 0)
        throw Fail(damaged);

    const QDir unpacked(folder);
    if (!unpacked.isReadable())
        throw PlatformError(folder + QStringLiteral(": ") + qt_error_string(EACCES));
    // The first AppDir in the order the folder lists, as an archive's author would expect.
    const QStringList entries = unpacked.entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QString& name : entries) {
        const QFileInfo entry(name);
        if (entry.suffix() == QLatin1String("AppDir") && !entry.completeBaseName().isEmpty()) {
            setProgress(80);
            return unpacked.filePath(name);
        }
    }
    throw Fail(damaged);
}

void Updater::verify(const QString& bundle) {
    const QStringList arguments{QStringLiteral("verify"), QStringLiteral("--key"), m_setup.publicKey, bundle};
    if (runTool(m_setup.codesign, arguments, QProcess::ForwardedOutputChannel, m_setup.toolLimit).exitCode !=
        0)
        throw Fail(QStringLiteral("подпись обновления не подтверждена"));
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

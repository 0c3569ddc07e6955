#include "platform/HelperInstaller.h"

#include "platform/Pkexec.h"
#include "platform/SystemTunnelConnection.h"

#include <QCoreApplication>
#include <QCryptographicHash>
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
const QString swapped = QStringLiteral("Файлы помощника изменились, пока шло подтверждение: установка "
                                       "отменена. Ничего не изменено.");
} // namespace texts

// What root runs (the text travels in pkexec's arguments, so nothing the user can write is run):
// the staged files are copied into a folder of root's own, checked there against the SHA-256 taken
// before the prompt appeared, and only then is the install step run, from that copy.
//   sh -c SCRIPT vemko-netd-verify STAGE NAME=SHA256...
const QString verifyScript = QStringLiteral(R"sh(set -eu
umask 077
PATH=/usr/sbin:/usr/bin:/sbin:/bin
from=$1
shift
copy=$(mktemp -d)
trap 'rm -rf "$copy"' EXIT
for pair in "$@"; do
    name=${pair%%=*}
    case $name in vemko-netd | vemko-netd-install | app.vemko.vpn.netd.policy) ;; *) exit 1 ;; esac
    [ -f "$from/$name" ] && [ ! -L "$from/$name" ] || { echo "vemko-netd-install: no $name" >&2; exit 1; }
    head -c 67108864 -- "$from/$name" >"$copy/$name"
    [ "$(sha256sum <"$copy/$name" | cut -d' ' -f1)" = "${pair#*=}" ] ||
        { echo "vemko-netd-install: $name changed after it was checked" >&2; exit 3; }
done
[ -f "$copy/vemko-netd" ] && [ -f "$copy/vemko-netd-install" ] && [ -f "$copy/app.vemko.vpn.netd.policy" ] || exit 1
chmod 0755 "$copy/vemko-netd"
sh "$copy/vemko-netd-install" "$copy"
)sh");
constexpr int verifySwapped = 3;

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
    // Fixed now, before the prompt: what the administrator approves is what gets installed.
    QStringList arguments = m_elevate.mid(1)
                            << QStringLiteral("/bin/sh") << QStringLiteral("-c") << verifyScript
                            << QStringLiteral("vemko-netd-verify") << m_stage->path();
    for (const QString& name : files()) {
        QFile staged(QDir(m_stage->path()).filePath(name));
        QCryptographicHash hash(QCryptographicHash::Sha256);
        if (!staged.open(QIODevice::ReadOnly) || !hash.addData(&staged)) {
            m_failure = texts::stageFailed;
            m_stage.reset();
            emit changed();
            return;
        }
        arguments << name + QLatin1Char('=') + QString::fromLatin1(hash.result().toHex());
    }
    auto* process = new QProcess(this);
    m_process = process;
    process->setProgram(m_elevate.first());
    process->setArguments(arguments);
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
    else if (code == verifySwapped)
        m_failure = texts::swapped;
    else if (code != 0)
        m_failure = texts::failed.arg(lastLine(process->readAllStandardError()));
    else if (!installed())
        m_failure = texts::notInPlace; // never reported as done when it is not
    m_process = nullptr;
    process->deleteLater();
    m_stage.reset();
    emit changed();
}

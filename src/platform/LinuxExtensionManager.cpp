#include "platform/LinuxExtensionManager.h"

#include "platform/TunnelEngine.h"

#include <QFileInfo>
#include <QPointer>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QTimer>

namespace {

constexpr int engineCheckTimeoutMs = 5000;

const QString hostMissing = QStringLiteral("Не найден компонент vemko-tunnel. Переустановите Вемко VPN.");
const QString engineMissing = QStringLiteral("Не найден движок туннеля: установите Xray или пакет v2ray "
                                             "(sudo apt install v2ray) и повторите.");
const QString engineBroken =
    QStringLiteral("Движок туннеля не запускается. Переустановите Xray или пакет v2ray "
                   "(sudo apt install --reinstall v2ray) и повторите.");

// The delegate is usually a QObject (the tunnel controller): a gone delegate gets no callback.
class DelegateRef {
public:
    explicit DelegateRef(ExtensionRequestDelegate& delegate)
        : m_delegate(&delegate), m_object(dynamic_cast<QObject*>(&delegate)), m_isObject(m_object) {}
    ExtensionRequestDelegate* get() const { return m_isObject && !m_object ? nullptr : m_delegate; }

private:
    ExtensionRequestDelegate* m_delegate;
    QPointer<QObject> m_object;
    bool m_isObject;
};

void deliver(const DelegateRef& ref, const QString& identifier, const std::optional<QString>& failure) {
    ExtensionRequestDelegate* delegate = ref.get();
    if (!delegate)
        return;
    if (failure)
        delegate->requestDidFail(identifier, *failure);
    else
        delegate->requestDidFinish(identifier, ExtensionRequestDelegate::Result::Completed);
}

bool isExecutableFile(const QString& path) {
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

// Engines whose version check passed in this process, by file identity: running it again for every
// connection attempt cost ~12 ms of each connect. A replaced binary (an upgrade, a broken
// reinstall) reads as another file and is checked again.
QSet<QString>& enginesThatRan() {
    static QSet<QString> engines;
    return engines;
}

QString engineIdentity(const QString& path) {
    const QFileInfo info(path);
    return QStringLiteral("%1|%2|%3|%4")
        .arg(info.canonicalFilePath())
        .arg(info.size())
        .arg(info.lastModified().toMSecsSinceEpoch())
        .arg(info.metadataChangeTime().toMSecsSinceEpoch());
}

} // namespace

LinuxExtensionManager::LinuxExtensionManager(QString hostExecutable, QString engineProgram)
    : m_hostExecutable(std::move(hostExecutable)), m_engineProgram(std::move(engineProgram)) {}

LinuxExtensionManager::~LinuxExtensionManager() {
    // A check still running is abandoned: no answer, and no child left behind.
    for (QProcess* check : m_context->findChildren<QProcess*>()) {
        check->disconnect();
        check->kill();
        check->waitForFinished(1000);
    }
}

void LinuxExtensionManager::submitActivation(const QString& identifier, ExtensionRequestDelegate& delegate) {
    const DelegateRef ref(delegate);
    const QString engine =
        m_engineProgram.contains('/') ? m_engineProgram : QStandardPaths::findExecutable(m_engineProgram);
    std::optional<QString> failure;
    if (!isExecutableFile(m_hostExecutable))
        failure = hostMissing;
    else if (engine.isEmpty() || !isExecutableFile(engine))
        failure = engineMissing;
    const QString identity = failure ? QString() : engineIdentity(engine);
    // The engine search asked this very file for its version already (now or in an earlier run):
    // it runs, and another check would only delay the first connect by a process start.
    if (failure || enginesThatRan().contains(identity) || TunnelEngine::answeredBefore(engine)) {
        QMetaObject::invokeMethod(
            m_context.get(), [ref, identifier, failure] { deliver(ref, identifier, failure); },
            Qt::QueuedConnection);
        return;
    }

    // The binary is there; make sure it really runs (a broken package, a wrong architecture).
    auto* check = new QProcess(m_context.get());
    auto* timeout = new QTimer(check);
    timeout->setSingleShot(true);
    QObject::connect(timeout, &QTimer::timeout, check, &QProcess::kill);
    // finished() and a failed start are exclusive; either way the answer is posted, never given
    // from inside start().
    QObject* context = m_context.get();
    auto finish = [check, context, ref, identifier, identity](bool ran) {
        check->deleteLater();
        if (ran)
            enginesThatRan().insert(identity);
        const std::optional<QString> failure = ran ? std::nullopt : std::optional<QString>(engineBroken);
        QMetaObject::invokeMethod(
            context, [ref, identifier, failure] { deliver(ref, identifier, failure); }, Qt::QueuedConnection);
    };
    QObject::connect(check, &QProcess::finished, check, [finish](int code, QProcess::ExitStatus status) {
        finish(status == QProcess::NormalExit && code == 0);
    });
    QObject::connect(check, &QProcess::errorOccurred, check, [finish](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            finish(false);
    });
    check->setProcessChannelMode(QProcess::MergedChannels);
    check->setStandardOutputFile(QProcess::nullDevice());
    timeout->start(engineCheckTimeoutMs);
    // Xray answers "version", v2ray 4 "-version".
    const bool xray = QFileInfo(engine).fileName().startsWith(QLatin1String("xray"));
    check->start(engine, {xray ? QStringLiteral("version") : QStringLiteral("-version")});
}

#include "platform/DeviceFacts.h"

#include <QFile>
#include <QStringDecoder>
#include <QStringList>
#include <QSysInfo>

namespace {

// These files hold a line or two; a limit keeps a mis-pointed path (a device, a huge file) harmless.
constexpr qint64 maxFactBytes = 4096;

// The file's text, or nothing when it cannot be read or is not UTF-8.
std::optional<QString> readText(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.read(maxFactBytes);
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

} // namespace

LinuxDeviceFacts::LinuxDeviceFacts()
    : LinuxDeviceFacts({QStringLiteral("/etc/machine-id"), QStringLiteral("/var/lib/dbus/machine-id")},
                       QStringLiteral("/sys/class/dmi/id/product_name")) {}

LinuxDeviceFacts::LinuxDeviceFacts(QStringList machineIdPaths, QString productNamePath)
    : m_machineIdPaths(std::move(machineIdPaths)), m_productNamePath(std::move(productNamePath)),
      m_osVersionText(QSysInfo::prettyProductName() + QLatin1Char(' ') + QSysInfo::kernelVersion()) {}

QString LinuxDeviceFacts::platformUuid() const {
    for (const QString& path : m_machineIdPaths) {
        QString id = readText(path).value_or(QString()).trimmed();
        if (!id.isEmpty())
            return id;
    }
    return {};
}

// Read on every call, as the model query is: nothing about the machine is cached.
QString LinuxDeviceFacts::model() const {
    return readText(m_productNamePath).value_or(QString());
}

QString LinuxDeviceFacts::osVersionText() const {
    return m_osVersionText;
}

#include "device/Store.h"

#include "device/Sha256.h"
#include "platform/Defaults.h"
#include "platform/DeviceFacts.h"
#include "platform/SystemTunnelConnection.h"

#include <limits>

namespace {

const QString kHwid = QStringLiteral("hwid");

// An optional sign, then ASCII digits only, fitting in 64 bits; nothing else is a build number.
std::optional<qint64> parseBuild(const QString& text) {
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    if (i == text.size())
        return std::nullopt;
    const quint64 limit = negative ? quint64(std::numeric_limits<qint64>::max()) + 1
                                   : quint64(std::numeric_limits<qint64>::max());
    quint64 value = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        const quint64 digit = c - u'0';
        if (value > (limit - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    return negative ? qint64(0 - value) : qint64(value);
}

} // namespace

Store::Store(Defaults& defaults, const DeviceFacts& facts, BundleInfo bundle)
    : m_defaults(defaults), m_facts(facts), m_bundle(std::move(bundle)) {}

QString Store::hwid() const {
    if (auto stored = m_defaults.string(kHwid))
        return *stored;
    auto derived = sha256(QStringLiteral("vemko:") + m_facts.platformUuid());
    m_defaults.setString(kHwid, derived);
    return derived;
}

QString Store::deviceModel() const {
    const auto model = m_facts.model().trimmed();
    return model.isEmpty() ? QStringLiteral("PC") : model;
}

QString Store::appVersion() const {
    // An empty version would send "VemkoVPN/ Linux"; it counts as missing.
    const auto& version = m_bundle.shortVersion;
    return version && !version->isEmpty() ? *version : QStringLiteral("1.0.0");
}

qint64 Store::appBuild() const {
    return parseBuild(m_bundle.version.value_or(QStringLiteral("1"))).value_or(1);
}

bool Store::autoConnect() const {
    return m_defaults.boolean(QStringLiteral("auto_connect")).value_or(true);
}

bool Store::autoUpdate() const {
    return m_defaults.boolean(QStringLiteral("auto_update")).value_or(true);
}

QString Store::osWord() const {
    return m_facts.osWord();
}

QString Store::osVersionText() const {
    return m_facts.osVersionText();
}

QString Store::platformQuery() const {
    return m_facts.platformQuery();
}

TunnelMode Store::tunnelMode() const {
    if (const auto stored = m_defaults.string(QStringLiteral("tunnel_mode")))
        if (const auto mode = tunnel_mode::parse(*stored))
            return *mode;
    return tunnel_mode::fallback(SystemTunnelConnection::helperInstalled(), tunnel_mode::desktopSession());
}

bool Store::setTunnelMode(TunnelMode mode) {
    return m_defaults.setString(QStringLiteral("tunnel_mode"), tunnel_mode::name(mode));
}

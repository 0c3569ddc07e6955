#include "tunnel/TunnelConfig.h"

#include "engine/Document.h"
#include "service/Errors.h"
#include "tunnel/Texts.h"

#include <QJsonDocument>

namespace {

std::variant<engine::Server, engine::Refusal> read(const ServerProfile& profile) {
    const QByteArray entry = QJsonDocument(profile.config).toJson(QJsonDocument::Compact);
    return engine::readServer(std::string_view(entry.constData(), size_t(entry.size())));
}

} // namespace

std::optional<QString> unusableReason(const ServerProfile& profile, const engine::EngineInfo& engine) {
    const auto server = read(profile);
    if (const auto* refusal = std::get_if<engine::Refusal>(&server))
        return QString::fromStdString(refusal->reason);
    if (const auto why = engine::unusableReason(std::get<engine::Server>(server), engine))
        return QString::fromStdString(*why);
    return std::nullopt;
}

QString makeConfig(const ServerProfile& profile, const engine::EngineInfo& engine) {
    const auto server = read(profile);
    std::optional<std::string> why;
    if (const auto* refusal = std::get_if<engine::Refusal>(&server))
        why = refusal->reason;
    else
        why = engine::unusableReason(std::get<engine::Server>(server), engine);
    if (why)
        throw Fail(tunnel_texts::unusable(profile.name, QString::fromStdString(*why)));
    return QString::fromStdString(engine::writeDocument(std::get<engine::Server>(server), engine, {}));
}

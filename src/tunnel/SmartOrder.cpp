#include "tunnel/SmartOrder.h"

#include <QSet>

namespace {

const QString group = QStringLiteral("Европа");

QList<ServerProfile> withWord(const QList<ServerProfile>& servers, const QString& word) {
    QList<ServerProfile> found;
    for (const ServerProfile& server : servers)
        if (server.name.contains(word))
            found.append(server);
    return found;
}

} // namespace

QList<ServerProfile> smartOrder(const ServerProfile& selected, const QList<ServerProfile>& profiles,
                                const std::optional<QString>& lastGood) {
    if (!selected.name.contains(group) || profiles.isEmpty())
        return {selected};

    const QList<ServerProfile> members = withWord(profiles, group);
    QList<ServerProfile> joined{selected};
    if (lastGood) {
        const auto last = std::find_if(members.begin(), members.end(),
                                       [&](const ServerProfile& server) { return server.name == *lastGood; });
        if (last != members.end())
            joined.append(*last);
    }
    for (const QString& role : {QStringLiteral("Wi-Fi"), QStringLiteral("авто"), QStringLiteral("резерв")})
        joined.append(withWord(members, role));

    QList<ServerProfile> ordered;
    QSet<QString> seen;
    for (const ServerProfile& server : joined) {
        if (seen.contains(server.name))
            continue;
        seen.insert(server.name);
        ordered.append(server);
    }
    return ordered;
}

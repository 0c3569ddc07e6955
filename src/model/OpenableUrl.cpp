#include "model/OpenableUrl.h"

#include <QStringList>

std::optional<QUrl> openableUrl(const QString& text) {
    static const QStringList schemes{QStringLiteral("https"), QStringLiteral("http"), QStringLiteral("tg")};
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.isRelative() || url.host().isEmpty() || !schemes.contains(url.scheme()))
        return std::nullopt;
    return url;
}

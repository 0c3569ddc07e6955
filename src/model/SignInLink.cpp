#include "model/SignInLink.h"

#include "model/AppModel.h"
#include "platform/MainTask.h"

#include <QUrlQuery>
#include <algorithm>

namespace {

const QString scheme = QStringLiteral("vemko");
const QString host = QStringLiteral("auth");
const QString tokenItem = QStringLiteral("token");

// The host exactly as written in the link, before any normalisation.
QString writtenHost(const QString& link) {
    const QString prefix = scheme + QStringLiteral("://");
    if (!link.startsWith(prefix))
        return {};
    QString authority = link.mid(prefix.size());
    for (const QChar stop : {u'/', u'?', u'#'}) {
        if (const auto at = authority.indexOf(stop); at >= 0)
            authority.truncate(at);
    }
    authority = authority.mid(authority.lastIndexOf(u'@') + 1);
    return authority.left(authority.indexOf(u':'));
}

// The token goes into the Authorization header: control characters could forge other headers.
bool headerSafe(const QString& token) {
    return std::none_of(token.begin(), token.end(),
                        [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7f; });
}

} // namespace

std::optional<QString> signInLinkToken(const QString& link) {
    const QUrl url(link, QUrl::StrictMode);
    if (!url.isValid() || url.scheme() != scheme || url.host() != host || writtenHost(link) != host)
        return std::nullopt;
    const QUrlQuery query(url);
    const auto items = query.queryItems(QUrl::FullyDecoded);
    const auto found =
        std::find_if(items.begin(), items.end(), [](const auto& item) { return item.first == tokenItem; });
    if (found == items.end() || found->second.isEmpty() || !headerSafe(found->second))
        return std::nullopt;
    return found->second;
}

std::optional<QString> signInLinkToken(const QUrl& url) {
    return signInLinkToken(url.toString(QUrl::FullyEncoded));
}

bool handleSignInLink(AppModel& model, const QString& link) {
    const auto token = signInLinkToken(link);
    if (!token)
        return false;
    startMainTask(model.signInWithToken(*token));
    return true;
}

bool handleSignInLink(AppModel& model, const QUrl& url) {
    return handleSignInLink(model, url.toString(QUrl::FullyEncoded));
}

#pragma once

#include <QString>
#include <QUrl>
#include <optional>

class AppModel;

// The token of a sign-in link "vemko://auth?token=…" (the first "token" item); nothing for any
// other link, for a link without a token, or for a token that could not travel in a request header.
// The text form is judged exactly as written; a QUrl has already lower-cased its scheme and host.
std::optional<QString> signInLinkToken(const QString& link);
std::optional<QString> signInLinkToken(const QUrl& url);

// Starts a token sign-in for a sign-in link without waiting for it; ignores any other link.
// True when a sign-in was started.
bool handleSignInLink(AppModel& model, const QString& link);
bool handleSignInLink(AppModel& model, const QUrl& url);

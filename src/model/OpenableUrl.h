#pragma once

#include <QString>
#include <QUrl>
#include <optional>

// A link the service sent for the user to open (the Telegram bot, a checkout or payment page):
// a well-formed absolute web or Telegram address, else nothing. Anything else (a local file, some
// other program's scheme) is never handed to the desktop, whoever sent it.
std::optional<QUrl> openableUrl(const QString& text);

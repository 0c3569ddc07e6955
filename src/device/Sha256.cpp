#include "device/Sha256.h"

#include <QCryptographicHash>

QString sha256(const QString& text) {
    const auto digest = QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha256);
    return QString::fromLatin1(digest.toHex().left(32));
}

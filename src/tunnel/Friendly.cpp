#include "tunnel/Friendly.h"

#include "service/Errors.h"
#include "tunnel/Texts.h"

QString friendly(std::exception_ptr error) {
    QString message = describeError(std::move(error));
    if (message.contains(QStringLiteral("permission"), Qt::CaseInsensitive) ||
        message.contains(QStringLiteral("denied"), Qt::CaseInsensitive))
        return tunnel_texts::allowConfiguration;
    return message;
}

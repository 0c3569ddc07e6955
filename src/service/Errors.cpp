#include "service/Errors.h"

ApiError::ApiError(qint64 code, QString message, QString apiCode)
    : code(code), message(std::move(message)), apiCode(std::move(apiCode)), m_what(this->message.toUtf8()) {}

Fail::Fail(QString text) : text(std::move(text)), m_what(this->text.toUtf8()) {}

TransportError::TransportError(QNetworkReply::NetworkError code, QString description)
    : code(code), description(std::move(description)), m_what(this->description.toUtf8()) {}

DecodingError::DecodingError(QString field, QString reason)
    : field(std::move(field)), reason(std::move(reason)),
      m_what((this->field.isEmpty() ? this->reason : this->field + QStringLiteral(": ") + this->reason)
                 .toUtf8()) {}

#include "service/Errors.h"

#include "platform/PlatformError.h"

ApiError::ApiError(qint64 code, QString message, QString apiCode)
    : code(code), message(std::move(message)), apiCode(std::move(apiCode)), m_what(this->message.toUtf8()) {}

Fail::Fail(QString text) : text(std::move(text)), m_what(this->text.toUtf8()) {}

TransportError::TransportError(QNetworkReply::NetworkError code, QString description)
    : code(code), description(std::move(description)), m_what(this->description.toUtf8()) {}

DecodingError::DecodingError(QString field, QString reason)
    : field(std::move(field)), reason(std::move(reason)),
      m_what((this->field.isEmpty() ? this->reason : this->field + QStringLiteral(": ") + this->reason)
                 .toUtf8()) {}

QString describeError(std::exception_ptr error) {
    try {
        std::rethrow_exception(std::move(error));
    } catch (const Fail& fail) {
        return fail.text;
    } catch (const ApiError& refusal) {
        return refusal.message;
    } catch (const TransportError& transport) {
        return transport.description;
    } catch (const PlatformError& platform) {
        return platform.description;
    } catch (const std::exception& other) {
        return QString::fromUtf8(other.what());
    } catch (...) {
        return {};
    }
}

#include "tunnel/Friendly.h"

#include "platform/PlatformError.h"
#include "service/Errors.h"
#include "tunnel/Texts.h"

namespace {

QString messageOf(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const Fail& fail) {
        return fail.text;
    } catch (const PlatformError& platform) {
        return platform.description;
    } catch (const ApiError& api) {
        return api.message;
    } catch (const TransportError& transport) {
        return transport.description;
    } catch (const std::exception& other) {
        return QString::fromUtf8(other.what());
    } catch (...) {
        return {};
    }
}

} // namespace

QString friendly(std::exception_ptr error) {
    const QString message = messageOf(std::move(error));
    if (message.contains(QStringLiteral("permission"), Qt::CaseInsensitive) ||
        message.contains(QStringLiteral("denied"), Qt::CaseInsensitive))
        return tunnel_texts::allowConfiguration;
    return message;
}

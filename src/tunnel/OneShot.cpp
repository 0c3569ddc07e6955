#include "tunnel/OneShot.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace vpn_detail {

void completeLater(std::shared_ptr<OneShot> shot, std::exception_ptr error) {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [shot = std::move(shot), error = std::move(error)] { shot->complete(error); }, Qt::QueuedConnection);
}

} // namespace vpn_detail

#include "platform/BundleInfo.h"

BundleInfo BundleInfo::compiled() {
    return BundleInfo{QStringLiteral(VEMKO_VERSION), QStringLiteral(VEMKO_BUILD), VEMKO_PREVIEW};
}

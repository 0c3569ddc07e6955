#include "update/UpdateLog.h"

Q_LOGGING_CATEGORY(lcUpdater, "app.vemko.vpn.updater", QtInfoMsg)

#pragma once

#include <QLoggingCategory>

// The self-update's log: the only part of the app that logs.
Q_DECLARE_LOGGING_CATEGORY(lcUpdater)

#pragma once

#include <QString>
#include <QStringList>

// Runs an executable (no shell) and returns its standard output as UTF-8 text; "" when it cannot
// start or its output is not valid UTF-8. Standard error is discarded. Blocks until it exits.
QString shellOut(const QString& path, const QStringList& arguments);

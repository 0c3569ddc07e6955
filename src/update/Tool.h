#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// Runs an external tool with nothing on its standard input and blocks until it exits; its exit status (a
// crash counts as -1). Throws PlatformError when it cannot be started.
int runTool(const QString& program, const QStringList& arguments, QProcess::ProcessChannelMode channels);

#pragma once

#include <QByteArray>
#include <QString>

// Replaces `path` with `bytes` atomically: a private temporary file (mode 0600) next to it, renamed
// over the old one, so readers see the old file or the new one, never half of either. No fsync:
// these files are rewritten before every connection (the tunnel configuration) or describe a
// running process (the host's state), so surviving a power loss is worth nothing while a sync
// on the connect path costs milliseconds. Throws PlatformError; a failure leaves the old file.
void replaceFile(const QString& path, const QByteArray& bytes);

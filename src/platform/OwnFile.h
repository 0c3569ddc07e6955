#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// Opening the app's and the host's own state files, which must be plain files: never a link
// (a write would land on its target), never a FIFO or device (a read or an open would hang).
namespace OwnFile {

// A descriptor for reading a regular file (close-on-exec, blocking cleared), or -1: missing,
// a link, or not a regular file.
int openForReading(const QString& path);

// Reads at most `limit` bytes of a regular file; nothing when it cannot be read that way.
std::optional<QByteArray> read(const QString& path, qint64 limit);

// A descriptor for writing a regular file of ours, created 0600 when missing (close-on-exec;
// `flags` adds O_TRUNC, O_RDWR...). Anything else in its place (a link, a FIFO) is removed and
// a fresh file made. -1 with errno set when that fails.
int openForWriting(const QString& path, int flags);

} // namespace OwnFile

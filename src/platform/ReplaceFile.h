#pragma once

#include <QByteArray>
#include <QString>

// How far a replacement goes before it returns.
enum class Durability {
    // Renamed into place: readers see the old file or the new one, never half of either. Enough for
    // files rewritten before every connection (the tunnel configuration) or describing a running
    // process (the host's state): surviving a power loss is worth nothing there, while a sync on
    // the connect path costs milliseconds.
    Atomic,
    // Also on disk before it returns (the file synced before the rename, the folder after it): the
    // user's settings survive a crash right after a change.
    Synced,
};

// Replaces `path` with `bytes`: a private temporary file (mode 0600) next to it, every byte of it
// written and checked, renamed over the old one. A failure leaves the old file untouched and no
// temporary behind. Throws PlatformError with the system's description.
void replaceFile(const QString& path, const QByteArray& bytes, Durability durability = Durability::Atomic);
// The same, returning 0 or the errno of the step that failed.
int replaceFileErrno(const QString& path, const QByteArray& bytes, Durability durability) noexcept;

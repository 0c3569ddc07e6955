#pragma once

#include "os/ReplaceFile.h"

#include <QByteArray>
#include <QString>

// How far a replacement goes before it returns (os/ReplaceFile.h).
using Durability = os::Durability;

// Replaces `path` with `bytes`: a private temporary file (mode 0600) next to it, every byte of it
// written and checked, renamed over the old one. A failure leaves the old file untouched and no
// temporary behind. Throws PlatformError with the system's description.
void replaceFile(const QString& path, const QByteArray& bytes, Durability durability = Durability::Atomic);
// The same, returning 0 or the errno of the step that failed.
int replaceFileErrno(const QString& path, const QByteArray& bytes, Durability durability) noexcept;

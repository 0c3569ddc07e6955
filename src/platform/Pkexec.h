#pragma once

// What the app needs to know of pkexec, shared by the system tunnel and the helper's install.

#include <QByteArray>
#include <QList>
#include <QString>

namespace pkexec {

inline const QString program = QStringLiteral("/usr/bin/pkexec");

// Exit codes: the prompt dismissed; not authorized (or no prompt possible).
constexpr int dismissed = 126;
constexpr int notAuthorized = 127;

// The last line a root-run step wrote to its standard error, without its own `prefix`.
inline QString lastErrorLine(const QByteArray& errors, const QString& prefix) {
    const QList<QByteArray> lines = errors.trimmed().split('\n');
    return QString::fromUtf8(lines.isEmpty() ? QByteArray() : lines.last()).remove(prefix);
}

} // namespace pkexec

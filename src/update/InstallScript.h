#pragma once

#include <QString>

// `text` as one bash word that stands for itself: wrapped in single quotes, each ' written as '\''.
// Nothing inside ($, `, \, line breaks) is interpreted.
QString shellQuote(const QString& text);

// The bash script that replaces the AppDir at `installed` by a copy of `incoming` and starts its
// AppRun, once process `pid` has exited. The new copy is made next to the installed one and
// swapped in by rename, so the user is never left without an app: when any step fails the old
// bundle stays (or is put back), the script exits non-zero and starts nothing. Works for a first
// installation too (no installed bundle, no parent folder yet).
QString installScript(qint64 pid, const QString& incoming, const QString& installed);

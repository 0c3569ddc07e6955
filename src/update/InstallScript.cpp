#include "update/InstallScript.h"

#include <QStringList>

QString shellQuote(const QString& text) {
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

QString installScript(qint64 pid, const QString& incoming, const QString& installed) {
    const QStringList lines{
        QStringLiteral("#!/bin/bash"),
        QStringLiteral("while kill -0 %1 2>/dev/null; do sleep 0.3; done").arg(pid),
        QStringLiteral("incoming=") + shellQuote(incoming),
        QStringLiteral("installed=") + shellQuote(installed),
        // Siblings of the installed bundle: same file system, so both renames are atomic.
        QStringLiteral(R"(fresh="$installed.incoming-$$")"),
        QStringLiteral(R"(previous="$installed.previous-$$")"),
        QStringLiteral(R"(mkdir -p -- "$(dirname -- "$installed")" || exit 1) "),
        QStringLiteral(R"(if ! cp -a -- "$incoming" "$fresh"; then rm -rf -- "$fresh"; exit 1; fi)"),
        QStringLiteral(R"(if [ -e "$installed" ] || [ -L "$installed" ]; then)"),
        QStringLiteral(R"(    if ! mv -T -- "$installed" "$previous"; then rm -rf -- "$fresh"; exit 1; fi)"),
        QStringLiteral("fi"),
        QStringLiteral(R"(if ! mv -T -- "$fresh" "$installed"; then)"),
        QStringLiteral(
            R"(    if [ -e "$previous" ] || [ -L "$previous" ]; then mv -T -- "$previous" "$installed"; fi)"),
        QStringLiteral(R"(    rm -rf -- "$fresh")"),
        QStringLiteral("    exit 1"),
        QStringLiteral("fi"),
        QStringLiteral(R"(rm -rf -- "$previous")"),
        QStringLiteral(R"(cd -- "$HOME" 2>/dev/null || cd /)"),
        QStringLiteral(R"(exec setsid -f "$installed/AppRun" </dev/null >/dev/null 2>&1)"),
    };
    return lines.join(QLatin1Char('\n'));
}

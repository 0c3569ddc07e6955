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
        QStringLiteral(R"sh(fresh="$installed.incoming-$$")sh"),
        QStringLiteral(R"sh(previous="$installed.previous-$$")sh"),
        QStringLiteral(R"sh(mkdir -p -- "$(dirname -- "$installed")" || exit 1)sh"),
        // A folder of that name left by an interrupted run would take the copy one level down.
        QStringLiteral(R"sh(rm -rf -- "$fresh" || exit 1)sh"),
        QStringLiteral(R"sh(if ! cp -a -T -- "$incoming" "$fresh"; then rm -rf -- "$fresh"; exit 1; fi)sh"),
        QStringLiteral(
            R"sh(if [ ! -f "$fresh/AppRun" ] || [ ! -x "$fresh/AppRun" ]; then rm -rf -- "$fresh"; exit 1; fi)sh"),
        QStringLiteral(R"sh(if [ -e "$installed" ] || [ -L "$installed" ]; then)sh"),
        QStringLiteral(
            R"sh(    if ! mv -T -- "$installed" "$previous"; then rm -rf -- "$fresh"; exit 1; fi)sh"),
        QStringLiteral("fi"),
        QStringLiteral(R"sh(if ! mv -T -- "$fresh" "$installed"; then)sh"),
        QStringLiteral(
            R"sh(    if [ -e "$previous" ] || [ -L "$previous" ]; then mv -T -- "$previous" "$installed"; fi)sh"),
        QStringLiteral(R"sh(    rm -rf -- "$fresh")sh"),
        QStringLiteral("    exit 1"),
        QStringLiteral("fi"),
        QStringLiteral(R"sh(rm -rf -- "$previous")sh"),
        QStringLiteral(R"sh(cd -- "$HOME" 2>/dev/null || cd /)sh"),
        QStringLiteral(R"sh(exec setsid -f "$installed/AppRun" </dev/null >/dev/null 2>&1)sh"),
    };
    return lines.join(QLatin1Char('\n'));
}

#pragma once

// Test helpers for update bundles: key pairs, AppDirs with a marker-writing AppRun, signing
// with the real vemko-codesign, ZIP archives made with the zip tool.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace bundlekit {

inline QString codesignPath() {
    return qEnvironmentVariable("VEMKO_BUILD_DIR") + QStringLiteral("/src/codesign/vemko-codesign");
}

// Runs a tool to its end (a watchdog of 30 s, never a timing assertion); its exit code, -1 when
// it could not start or crashed.
inline int run(const QString& program, const QStringList& arguments, const QString& workingDir = {}) {
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    if (!workingDir.isEmpty())
        process.setWorkingDirectory(workingDir);
    process.start(program, arguments);
    if (!process.waitForStarted() || !process.waitForFinished(30'000))
        return -1;
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

inline int codesign(const QString& command, const QString& key, const QString& bundle) {
    return run(codesignPath(), {command, QStringLiteral("--key"), key, bundle});
}

struct KeyPair {
    QString privatePem;
    QString publicPem;
};

// A fresh Ed25519 pair, written as the release instructions write it.
inline KeyPair makeKeyPair(const QString& dir, const QString& name) {
    KeyPair pair{dir + '/' + name + QStringLiteral(".pem"), dir + '/' + name + QStringLiteral(".pub.pem")};
    run(QStringLiteral("openssl"), {QStringLiteral("genpkey"), QStringLiteral("-algorithm"),
                                    QStringLiteral("ed25519"), QStringLiteral("-out"), pair.privatePem});
    run(QStringLiteral("openssl"), {QStringLiteral("pkey"), QStringLiteral("-in"), pair.privatePem,
                                    QStringLiteral("-pubout"), QStringLiteral("-out"), pair.publicPem});
    return pair;
}

inline bool writeFile(const QString& path, const QByteArray& content, bool executable = false) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size())
        return false;
    file.close();
    if (executable)
        file.setPermissions(file.permissions() | QFileDevice::ExeOwner | QFileDevice::ExeGroup |
                            QFileDevice::ExeOther);
    return true;
}

inline QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline QByteArray shellWord(const QString& text) {
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    return (QLatin1Char('\'') + quoted + QLatin1Char('\'')).toUtf8();
}

// An AppDir whose AppRun writes its version and its own path to `marker`, with a nested
// program, an empty folder and a relative symlink, as real AppDirs have.
inline void makeBundle(const QString& path, const QString& version, const QString& marker = {}) {
    QDir().mkpath(path + QStringLiteral("/usr/share/empty"));
    writeFile(path + QStringLiteral("/VERSION"), version.toUtf8());
    writeFile(path + QStringLiteral("/usr/bin/vemko-vpn"), "#!/bin/sh\necho " + version.toUtf8() + '\n',
              true);
    const QByteArray target = marker.isEmpty() ? QByteArray("/dev/null") : shellWord(marker);
    writeFile(path + QStringLiteral("/AppRun"),
              "#!/bin/sh\nprintf '%s %s\\n' " + shellWord(version) + " \"$0\" > " + target + '\n', true);
    QFile::link(QStringLiteral("usr/bin/vemko-vpn"), path + QStringLiteral("/vemko-vpn"));
}

// Zips the contents of `folder` (symlinks kept as links) and returns the archive's bytes.
inline QByteArray zipFolder(const QString& folder, const QString& archive) {
    QFile::remove(archive);
    run(QStringLiteral("zip"), {QStringLiteral("-qry"), archive, QStringLiteral(".")}, folder);
    return readFile(archive);
}

} // namespace bundlekit

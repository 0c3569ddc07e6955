#pragma once

#include "support/FileChecks.h"

// Test helpers for update bundles: key pairs, AppDirs with a marker-writing AppRun, signing
// with the real vemko-codesign, ZIP archives made with the zip tool.

#include <QDir>
#include <QFile>
#include <QProcess>

namespace bundlekit {

inline QString codesignPath() {
    return qEnvironmentVariable("VEMKO_BUILD_DIR") + u"/bin/vemko-codesign"_qs;
}

// Runs a tool to its end (a watchdog of 30 s, never a timing assertion); its exit code, -1 when
// it could not start or crashed.
inline int run(const QString& program, const QStringList& arguments, const QString& workingDir = {}) {
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.setWorkingDirectory(workingDir.isEmpty() ? QDir::currentPath() : workingDir);
    process.start(program, arguments);
    const bool ran = process.waitForStarted() && process.waitForFinished(30'000);
    return ran && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

inline int codesign(const QString& command, const QString& key, const QString& bundle) {
    return run(codesignPath(), {command, u"--key"_qs, key, bundle});
}

struct KeyPair {
    QString privatePem;
    QString publicPem;
};

// A fresh Ed25519 pair, written as the release instructions write it.
inline KeyPair makeKeyPair(const QString& dir, const QString& name) {
    KeyPair pair{dir + '/' + name + u".pem"_qs, dir + '/' + name + u".pub.pem"_qs};
    run(u"openssl"_qs, {u"genpkey"_qs, u"-algorithm"_qs, u"ed25519"_qs, u"-out"_qs, pair.privatePem});
    run(u"openssl"_qs, {u"pkey"_qs, u"-in"_qs, pair.privatePem, u"-pubout"_qs, u"-out"_qs, pair.publicPem});
    return pair;
}

// The shared file helpers under this kit's older name.
inline QByteArray readFile(const QString& path) {
    return readAll(path);
}

inline QByteArray shellWord(QString text) {
    return ('\'' + text.replace('\'', u"'\\''"_qs) + '\'').toUtf8();
}

// An AppDir whose AppRun writes its version and its own path to `marker`, with a nested
// program, an empty folder and a relative symlink, as real AppDirs have.
inline void makeBundle(const QString& path, const QString& version, const QString& marker = {}) {
    QDir().mkpath(path + u"/usr/share/empty"_qs);
    writeFile(path + u"/VERSION"_qs, version.toUtf8());
    writeFile(path + u"/usr/bin/vemko-vpn"_qs, "#!/bin/sh\necho " + shellWord(version) + '\n', true);
    writeFile(path + u"/AppRun"_qs,
              "#!/bin/sh\nprintf '%s %s\\n' " + shellWord(version) + " \"$0\" > " +
                  (marker.isEmpty() ? QByteArray("/dev/null") : shellWord(marker)) + '\n',
              true);
    QFile::link(u"usr/bin/vemko-vpn"_qs, path + u"/vemko-vpn"_qs);
}

// Zips the contents of `folder` (symlinks kept as links) and returns the archive's bytes.
inline QByteArray zipFolder(const QString& folder, const QString& archive) {
    QFile::remove(archive);
    run(u"zip"_qs, {u"-qry"_qs, archive, u"."_qs}, folder);
    return readAll(archive);
}

} // namespace bundlekit

#pragma once

#include "platform/Pkexec.h"

#include <QObject>
#include <QPointer>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <optional>

// The one-time install of the system-wide tunnel's helper from a per-user install: the helper,
// its polkit action and the install step (vemko-netd-install, all beside the app's executables)
// are copied into a private folder and hashed; through pkexec, root copies them into a folder of
// its own, checks them there against those hashes and only then runs the step from that copy (a
// file swapped while the prompt was up is refused). The step puts the helper root-owned where
// SystemTunnelConnection looks for it, the polkit action beside polkit's own and creates the
// system user vemko-engine, all or nothing.
class HelperInstaller : public QObject {
    Q_OBJECT
public:
    // `elevate` runs the step as root (pkexec by default; tests put a fake there), `folder` holds
    // the files to install, `installed` tells whether the helper is in place.
    explicit HelperInstaller(QStringList elevate = {pkexec::program}, QString folder = bundledFolder(),
                             std::function<bool()> installed = defaultInstalled(), QObject* parent = nullptr);
    ~HelperInstaller() override;

    static QString bundledFolder(); // the app's own executables' folder
    static std::function<bool()> defaultInstalled();
    // The files a folder must hold to install from it.
    static const QStringList& files();

    bool installed() const { return m_installed(); }
    bool running() const { return m_process != nullptr; }
    // Why the last install did not finish; nothing once it did, or while one runs.
    std::optional<QString> failure() const { return m_failure; }
    // Starts the install (the administrator prompt shows); `changed` follows its end.
    void install();

signals:
    void changed();

private:
    void finished();

    QStringList m_elevate;
    QString m_folder;
    std::function<bool()> m_installed;
    QPointer<QProcess> m_process;
    std::unique_ptr<QTemporaryDir> m_stage;
    std::optional<QString> m_failure;
};

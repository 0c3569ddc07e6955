#pragma once

#include "platform/ExtensionManager.h"
#include "platform/TunnelPaths.h"

#include <QObject>
#include <memory>

// On Linux nothing is installed into the system: "activation" checks that vemko-tunnel and the
// engine are there and that the engine runs (once per process and engine file), and reports the
// outcome later on the main thread.
class LinuxExtensionManager final : public ExtensionManager {
public:
    explicit LinuxExtensionManager(QString hostExecutable = TunnelPaths::defaultHostExecutable(),
                                   QString engineProgram = TunnelPaths::engineProgram());
    ~LinuxExtensionManager() override;

    void submitActivation(const QString& identifier, ExtensionRequestDelegate& delegate) override;
    QList<QUrl> settingsLocations() const override { return {}; }

private:
    QString m_hostExecutable;
    QString m_engineProgram;
    // Parent of the running checks; going away with the manager cancels their callbacks.
    std::unique_ptr<QObject> m_context = std::make_unique<QObject>();
};

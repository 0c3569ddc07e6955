#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

// Receives the outcome of a tunnel-extension activation request. Every callback arrives later on
// the main thread, never from inside submitActivation().
class ExtensionRequestDelegate {
public:
    enum class ReplacementAction { Cancel, Replace };
    enum class Result { Completed, WillCompleteAfterReboot };

    virtual ~ExtensionRequestDelegate() = default;
    virtual ReplacementAction actionForReplacingExtension(const QString& identifier) = 0;
    virtual void requestNeedsUserApproval(const QString& identifier) = 0;
    virtual void requestDidFinish(const QString& identifier, Result result) = 0;
    virtual void requestDidFail(const QString& identifier, const QString& error) = 0;
};

// Activation of the component that carries the tunnel.
class ExtensionManager {
public:
    virtual ~ExtensionManager() = default;
    virtual void submitActivation(const QString& identifier, ExtensionRequestDelegate& delegate) = 0;
    // The system settings locations where the user approves extensions, in the order to try.
    virtual QList<QUrl> settingsLocations() const = 0;
};

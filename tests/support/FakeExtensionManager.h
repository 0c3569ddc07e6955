#pragma once

#include "platform/ExtensionManager.h"

#include <QObject>
#include <QStringList>
#include <functional>

// Records activation requests. By default each one finishes on a later turn of the event loop;
// with `autoFinish` off the test answers the last request itself. Answers are always queued.
class FakeExtensionManager final : public ExtensionManager {
public:
    void submitActivation(const QString& identifier, ExtensionRequestDelegate& delegate) override;
    QList<QUrl> settingsLocations() const override { return locations; }

    void needsApproval();
    void finish();
    void fail(const QString& error);

    bool autoFinish = true;
    QString failWith; // non-empty: every request fails with this text instead of finishing
    QStringList submissions;
    QList<QUrl> locations;

private:
    void later(std::function<void(ExtensionRequestDelegate&, const QString&)> answer);

    ExtensionRequestDelegate* m_delegate = nullptr;
    QObject m_context; // queued answers die with the fake
};

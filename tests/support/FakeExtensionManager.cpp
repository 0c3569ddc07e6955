#include "support/FakeExtensionManager.h"

#include <QTimer>

void FakeExtensionManager::submitActivation(const QString& identifier, ExtensionRequestDelegate& delegate) {
    submissions.append(identifier);
    m_delegate = &delegate;
    if (!failWith.isEmpty())
        fail(failWith);
    else if (autoFinish)
        finish();
}

void FakeExtensionManager::needsApproval() {
    later(
        [](ExtensionRequestDelegate& delegate, const QString& id) { delegate.requestNeedsUserApproval(id); });
}

void FakeExtensionManager::finish() {
    later([](ExtensionRequestDelegate& delegate, const QString& id) {
        delegate.requestDidFinish(id, ExtensionRequestDelegate::Result::Completed);
    });
}

void FakeExtensionManager::fail(const QString& error) {
    later([error](ExtensionRequestDelegate& delegate, const QString& id) {
        delegate.requestDidFail(id, error);
    });
}

void FakeExtensionManager::later(std::function<void(ExtensionRequestDelegate&, const QString&)> answer) {
    ExtensionRequestDelegate* delegate = m_delegate;
    const QString identifier = submissions.isEmpty() ? QString() : submissions.last();
    QTimer::singleShot(0, &m_context, [delegate, identifier, answer = std::move(answer)] {
        if (delegate)
            answer(*delegate, identifier);
    });
}

#pragma once

#include <QObject>
#include <functional>
#include <memory>

class QSocketNotifier;

// Ctrl-C (SIGINT), SIGTERM and SIGHUP turned into a call on the main thread, so a wait can end
// cleanly (the terminal restored, a connect in progress stopped). A blocking read is interrupted
// too: the handler is installed without SA_RESTART.
class Interrupts final : public QObject {
    Q_OBJECT
public:
    explicit Interrupts(std::function<void()> onInterrupt);
    ~Interrupts() override;

private:
    std::function<void()> m_onInterrupt;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

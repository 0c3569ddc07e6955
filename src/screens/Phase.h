#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <functional>

// The one phase value a custom-painted animation draws from: seconds since it started. A timer
// moves it on at most `framesPerSecond` times a second while running and calls `changed`; a
// stopped phase keeps its value, so a screenshot set with setSeconds() is exact. The owner starts
// it when shown and stops it when hidden.
class Phase final : public QObject {
    Q_OBJECT
public:
    Phase(QObject* owner, int framesPerSecond, std::function<void()> changed);

    double seconds() const { return m_seconds; }
    void setSeconds(double seconds);
    bool running() const { return m_timer.isActive(); }

    // Runs on from 0 (or from the current value with `keep`).
    void start(bool keep = false);
    void stop();

private:
    void tick();

    QTimer m_timer;
    QElapsedTimer m_elapsed;
    double m_base = 0;
    double m_seconds = 0;
    std::function<void()> m_changed;
};

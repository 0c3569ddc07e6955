#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <functional>

class QWidget;
class QWindow;

// The one phase value a custom-painted animation draws from: seconds since it started. A timer
// moves it on at most `framesPerSecond` times a second while running and calls `changed`; a
// stopped phase keeps its value, so a screenshot set with setSeconds() is exact. The owner starts
// it when shown and stops it when hidden. In between, the phase rests by itself while no frame of
// it could be seen (the owner's window minimised or not exposed) and catches up when it can.
class Phase final : public QObject {
    Q_OBJECT
public:
    Phase(QWidget* owner, int framesPerSecond, std::function<void()> changed);

    double seconds() const { return m_seconds; }
    void setSeconds(double seconds);
    // Started and not stopped, whether or not it is moving on at the moment.
    bool running() const { return m_running; }
    // Running and moving on: the owner is on screen.
    bool ticking() const { return m_timer.isActive(); }

    // Runs on from 0 (or from the current value with `keep`).
    void start(bool keep = false);
    void stop();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void tick();
    void scheduleNext();
    bool seen() const;
    void rest();
    void unwatch();

    QWidget* m_owner;
    int m_interval;
    QTimer m_timer;
    QElapsedTimer m_elapsed;
    double m_base = 0;
    double m_seconds = 0;
    bool m_running = false;
    // While resting: what may bring the owner back on screen.
    QList<QPointer<QObject>> m_watched;
    std::function<void()> m_changed;
};

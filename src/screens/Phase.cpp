#include "Phase.h"

Phase::Phase(QObject* owner, int framesPerSecond, std::function<void()> changed)
    : QObject(owner), m_changed(std::move(changed)) {
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(1000 / qMax(1, framesPerSecond));
    connect(&m_timer, &QTimer::timeout, this, &Phase::tick);
}

void Phase::setSeconds(double seconds) {
    m_seconds = seconds;
    m_base = seconds;
    m_elapsed.restart();
    if (m_changed)
        m_changed();
}

void Phase::start(bool keep) {
    m_base = keep ? m_seconds : 0.0;
    m_seconds = m_base;
    m_elapsed.start();
    m_timer.start();
    if (m_changed)
        m_changed();
}

void Phase::stop() {
    m_timer.stop();
}

void Phase::tick() {
    m_seconds = m_base + static_cast<double>(m_elapsed.nsecsElapsed()) / 1e9;
    if (m_changed)
        m_changed();
}

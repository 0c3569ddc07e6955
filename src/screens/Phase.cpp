#include "Phase.h"

#include <QEvent>
#include <QWidget>
#include <QWindow>

namespace {

// Milliseconds since the first phase ticked. Every phase's frames fall on multiples of its own
// interval counted from this one moment, so animations side by side (the drifting panel and the
// rings on it) change in the same frame and the window repaints once, not once for each.
qint64 sinceEpoch() {
    static const QElapsedTimer epoch = [] {
        QElapsedTimer started;
        started.start();
        return started;
    }();
    return epoch.elapsed();
}

} // namespace

Phase::Phase(QWidget* owner, int framesPerSecond, std::function<void()> changed)
    : QObject(owner), m_owner(owner), m_interval(1000 / qMax(1, framesPerSecond)),
      m_changed(std::move(changed)) {
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setSingleShot(true);
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
    m_running = true;
    unwatch();
    scheduleNext();
    if (m_changed)
        m_changed();
}

void Phase::stop() {
    m_running = false;
    m_timer.stop();
    unwatch();
}

void Phase::scheduleNext() {
    m_timer.start(m_interval - int(sinceEpoch() % m_interval));
}

void Phase::tick() {
    if (!m_running)
        return;
    if (!seen()) {
        rest();
        return;
    }
    unwatch();
    scheduleNext();
    m_seconds = m_base + static_cast<double>(m_elapsed.nsecsElapsed()) / 1e9;
    if (m_changed)
        m_changed();
}

bool Phase::seen() const {
    if (!m_owner->isVisible())
        return false;
    const QWidget* top = m_owner->window();
    if (top->isMinimized())
        return false;
    const QWindow* window = top->windowHandle();
    return window && window->isExposed();
}

// No timer while resting: the owner, its window or the window's surface says when it may be seen.
void Phase::rest() {
    m_timer.stop();
    unwatch();
    QWidget* top = m_owner->window();
    for (QObject* watched : {static_cast<QObject*>(m_owner), static_cast<QObject*>(top),
                             static_cast<QObject*>(top->windowHandle())}) {
        if (watched && !m_watched.contains(watched)) {
            watched->installEventFilter(this);
            m_watched.append(watched);
        }
    }
}

void Phase::unwatch() {
    for (const QPointer<QObject>& watched : std::as_const(m_watched))
        if (watched)
            watched->removeEventFilter(this);
    m_watched.clear();
}

bool Phase::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::Show:
    case QEvent::WindowStateChange:
    case QEvent::Expose:
        // Looked at once the event has been handled and the state it brings is in place.
        if (m_running && !m_timer.isActive())
            m_timer.start(0);
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

#pragma once

#include <QCoroTask>
#include <QWidget>

class AppModel;
class Clock;
class Phase;

// The passing note at the bottom of the window: the model's message, or else its error. Four
// seconds after it first appears both are cleared; a new text meanwhile only replaces the words.
class Toast : public QWidget {
    Q_OBJECT
public:
    Toast(AppModel& model, Clock& clock, QWidget* parent);
    QString text() const;
    bool shown() const { return m_shown; }
    // Places it 70 above the bottom edge of the parent, slid by the current phase.
    void place();

private:
    void refresh();
    QCoro::Task<> expire(quint64 showing);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    AppModel& m_model;
    Clock& m_clock;
    QString m_text;
    double m_opacity = 1.0;
    Phase* m_slide;
    bool m_shown = false;
    quint64 m_showing = 0; // which showing the running wait belongs to
};

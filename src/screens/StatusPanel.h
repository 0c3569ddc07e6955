#pragma once

#include "PanelBackground.h"

#include <QColor>
#include <QPointF>
#include <QWidget>
#include <array>
#include <utility>

class Phase;
class PowerButton;
class QLabel;

// The coloured panel at the top of the home screen: the power button over the title and the
// subtitle, on a slowly drifting gradient of the status colours with a white glow in the top
// trailing corner.
class StatusPanel : public QWidget {
    Q_OBJECT
public:
    explicit StatusPanel(QWidget* parent = nullptr);

    PowerButton* powerButton() const { return m_power; }
    void setColors(const std::array<QColor, 3>& colors);
    void setTexts(const QString& title, const QString& subtitle);
    // The gradient's start and end in the unit square, `seconds` into the drift.
    static std::pair<QPointF, QPointF> gradientLine(double seconds);
    Phase* drift() const { return m_drift; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    PowerButton* m_power;
    QLabel* m_title;
    QLabel* m_subtitle;
    std::array<QColor, 3> m_colors;
    Phase* m_drift;
    // Kept while the drift stands still: the power button's rings repaint the part under them 10
    // times a second, and that part is then a copy, not a redraw.
    PanelBackground m_background;
};

#pragma once

#include "tunnel/Vpn.h"

#include <QAbstractButton>
#include <QImage>
#include <QPixmap>

class Phase;

// The round power button of the status panel. While the tunnel is not off two rings expand and
// fade around it; under the pointer it grows to 1.04 on a critically damped spring.
class PowerButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit PowerButton(QWidget* parent = nullptr);

    void setStatus(VpnStatus status);
    VpnStatus status() const { return m_status; }

    QSize sizeHint() const override;
    // The scale `seconds` after the pointer arrived (or left, with `entering` false), starting
    // from `from`, moving at `velocity` per second.
    static double springScale(double seconds, double from, double velocity, bool entering);
    Phase* rings() const { return m_rings; }
    Phase* spring() const { return m_spring; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void updateRings();
    void hover(bool entering);
    double scale() const;
    // The two rings at the current phase around the disc at `factor` times the normal size.
    const QImage& rings(double factor);
    // The disc, its border and the glyph at `factor` times the normal size, drawn once for each size and
    // focus: the rings pass under it many times a second.
    const QPixmap& face(double factor);

    VpnStatus m_status = VpnStatus::Off;
    Phase* m_rings;
    Phase* m_spring;
    bool m_entering = false;
    double m_springFrom = 1.0;
    double m_springVelocity = 0.0;
    QImage m_ringPicture;
    double m_ringSeconds = -1;
    double m_ringScale = 0;
    QPixmap m_face;
    double m_faceScale = 0;
    bool m_faceFocused = false;
};

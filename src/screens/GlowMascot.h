#pragma once

#include <QPixmap>
#include <QWidget>

class Phase;

// The mascot with a soft brand-coloured glow, floating up and down between −5 and +5 over 2.6 s,
// eased, reversing each time, for as long as it is shown.
class GlowMascot : public QWidget {
    Q_OBJECT
public:
    explicit GlowMascot(int size, QWidget* parent = nullptr);

    // The vertical offset at `seconds` since the float started (the rest position is 0).
    static double offsetAt(double seconds);
    Phase* phase() const { return m_phase; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // The device-pixel row the mascot's top lands on `seconds` into the float: the painter puts an
    // unscaled picture on whole pixels, so most frames of the slow float change nothing on screen.
    int pictureRow(double seconds) const;
    void moved();
    // The glow behind the mascot, drawn once at the screen's pixel ratio.
    const QPixmap& glow();

    int m_size;
    QPixmap m_picture;
    QPixmap m_glow;
    Phase* m_phase;
    int m_shownRow = -1;
};

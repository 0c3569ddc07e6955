#pragma once

#include <QColor>
#include <QImage>
#include <QPointF>
#include <QSize>
#include <array>

// The status panel's rounded gradient with a white glow in the top trailing corner, on the colour
// around the panel, so the picture is opaque and the panel hides what lies under it. What never
// drifts (the glow, the corners' mask) is drawn once per size; a drift frame is then one gradient
// fill and a few copies.
class PanelBackground {
public:
    // The background at `size` and `ratio`, the gradient running from `from` to `to` (the unit
    // square stretched over the panel) through `colors`, its rounded corners cut out of `around`.
    const QImage& picture(QSize size, qreal ratio, const std::array<QColor, 3>& colors, QPointF from,
                          QPointF to, const QColor& around);

private:
    void makeLayers(QSize size, qreal ratio);

    QImage m_picture;
    QImage m_glow; // the glow's reach only: the square at the top trailing corner
    // The rounded corners, opaque where the panel shows: top leading, top trailing, bottom leading,
    // bottom trailing.
    std::array<QImage, 4> m_corners;
    QSize m_size;
    qreal m_ratio = 0;
    std::array<QColor, 3> m_colors;
    QColor m_around;
    QPointF m_from;
    QPointF m_to;
};

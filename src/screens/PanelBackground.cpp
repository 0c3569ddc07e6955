#include "PanelBackground.h"

#include "Brand.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <algorithm>
#include <cmath>

namespace {
constexpr qreal cornerRadius = 26;
constexpr qreal glowRadius = 300;
// Qt's raster engine hands a fill of 96 rows or more to its thread pool and waits; for a gradient
// this size the hand-off costs twice the fill itself. Bands below that stay on this thread.
constexpr int bandRows = 64;
} // namespace

// Every layer is drawn in device pixels; the picture carries the ratio.
void PanelBackground::makeLayers(QSize size, qreal ratio) {
    m_size = size;
    m_ratio = ratio;
    const QSize pixels = (QSizeF(size) * ratio).toSize();
    m_picture = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
    m_picture.setDevicePixelRatio(ratio);

    // Beyond its radius the glow adds nothing: only the square it reaches is kept and blended.
    const int reach = int(std::ceil(glowRadius * ratio));
    m_glow = QImage(std::min(reach, pixels.width()), std::min(reach, pixels.height()),
                    QImage::Format_ARGB32_Premultiplied);
    m_glow.fill(Qt::transparent);
    {
        QPainter painter(&m_glow);
        QRadialGradient glow(QPointF(m_glow.width(), 0), glowRadius * ratio);
        glow.setColorAt(0.0, Brand::tinted(Qt::white, 0.18));
        glow.setColorAt(1.0, Brand::tinted(Qt::white, 0.0));
        painter.fillRect(m_glow.rect(), glow);
    }

    QImage shape(pixels, QImage::Format_ARGB32_Premultiplied);
    shape.fill(Qt::transparent);
    {
        QPainter painter(&shape);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(ratio, ratio);
        QPainterPath rounded;
        rounded.addRoundedRect(QRectF(QPointF(), QSizeF(size)), cornerRadius, cornerRadius);
        painter.fillPath(rounded, Qt::black);
    }
    const int corner = std::min({int(std::ceil(cornerRadius * ratio)), pixels.width(), pixels.height()});
    const int right = pixels.width() - corner;
    const int bottom = pixels.height() - corner;
    m_corners = {shape.copy(0, 0, corner, corner), shape.copy(right, 0, corner, corner),
                 shape.copy(0, bottom, corner, corner), shape.copy(right, bottom, corner, corner)};
    m_colors = {};
}

const QImage& PanelBackground::picture(QSize size, qreal ratio, const std::array<QColor, 3>& colors,
                                       QPointF from, QPointF to, const QColor& around) {
    if (size != m_size || ratio != m_ratio)
        makeLayers(size, ratio);
    else if (colors == m_colors && from == m_from && to == m_to && around == m_around)
        return m_picture;
    m_colors = colors;
    m_around = around;
    m_from = from;
    m_to = to;

    const QSizeF pixels(m_picture.size());
    m_picture.setDevicePixelRatio(1);
    QPainter painter(&m_picture);
    // The gradient replaces the last frame outright, so nothing needs clearing first.
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    QLinearGradient gradient(QPointF(from.x() * pixels.width(), from.y() * pixels.height()),
                             QPointF(to.x() * pixels.width(), to.y() * pixels.height()));
    gradient.setColorAt(0.0, colors[0]);
    gradient.setColorAt(0.5, colors[1]);
    gradient.setColorAt(1.0, colors[2]);
    for (int top = 0; top < m_picture.height(); top += bandRows)
        painter.fillRect(QRect(0, top, m_picture.width(), std::min(bandRows, m_picture.height() - top)),
                         gradient);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.drawImage(m_picture.width() - m_glow.width(), 0, m_glow);
    const int corner = m_corners[0].width();
    const int right = m_picture.width() - corner;
    const int bottom = m_picture.height() - corner;
    const std::array<QPoint, 4> corners = {QPoint(0, 0), QPoint(right, 0), QPoint(0, bottom),
                                           QPoint(right, bottom)};
    for (std::size_t i = 0; i < corners.size(); ++i) {
        // The panel's shape cut out, then the colour around it under what is left.
        painter.setCompositionMode(QPainter::CompositionMode_DestinationIn);
        painter.drawImage(corners[i], m_corners[i]);
        painter.setCompositionMode(QPainter::CompositionMode_DestinationOver);
        painter.fillRect(QRect(corners[i], m_corners[i].size()), around);
    }
    painter.end();
    m_picture.setDevicePixelRatio(ratio);
    return m_picture;
}

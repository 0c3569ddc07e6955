#pragma once

#include <QColor>
#include <QImage>
#include <QPointF>

// Draws a thin antialiased ring of `width` around `centre` onto `image` (premultiplied ARGB32,
// device pixels), source-over, touching only the pixels the ring covers. QPainter strokes the
// same ring at many times the cost: its raster engine hands every fill of 96 spans or more to
// Qt's thread pool and waits, and for a ring redrawn many times a second that hand-off is most of
// the work.
void drawRing(QImage& image, QPointF centre, qreal radius, qreal width, const QColor& color);

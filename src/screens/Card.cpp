#include "Card.h"

#include "Brand.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmapCache>
#include <QVBoxLayout>
#include <qdrawutil.h>

namespace {
constexpr int shadowRoom = 6; // around the panel, for the shadow
constexpr qreal radius = 16;
// The rounded corners and their shadow lie within this many pixels of the card's edges; between
// them every row, and every column, of the frame is the same.
constexpr int cornerReach = 32;
constexpr int smallestSide = 2 * cornerReach + 1;

// The panel in `area` with its soft shadow (black at 6 %, radius 8, 2 down), built from widening
// translucent outlines, and its faint border.
void drawCardFrame(QPainter& painter, const QRectF& area) {
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF panel = area.adjusted(shadowRoom, shadowRoom - 2, -shadowRoom, -shadowRoom - 2);
    painter.setPen(Qt::NoPen);
    for (int step = 6; step >= 1; --step) {
        const qreal grow = step;
        painter.setBrush(QColor(0, 0, 0, 8 / step + 1));
        painter.drawRoundedRect(panel.translated(0, 2).adjusted(-grow, -grow, grow, grow), radius + grow,
                                radius + grow);
    }
    painter.setBrush(Qt::white);
    painter.setPen(QPen(Brand::tinted(Brand::primaryText(), 0.07), 1));
    painter.drawRoundedRect(panel.adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
}

// The frame of the smallest card with a straight middle, drawn once: a card of any size is its
// corners with the middle rows and columns repeated. Blending the shadow's layers over a long card
// took a millisecond and more on every paint.
QPixmap smallestFrame() {
    const QString key = QStringLiteral("vemko-card-frame");
    QPixmap frame;
    if (QPixmapCache::find(key, &frame))
        return frame;
    QImage image(smallestSide, smallestSide, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    drawCardFrame(painter, QRectF(0, 0, smallestSide, smallestSide));
    painter.end();
    frame = QPixmap::fromImage(image);
    QPixmapCache::insert(key, frame);
    return frame;
}

} // namespace

Card::Card(QWidget* parent) : QFrame(parent), m_body(new QVBoxLayout(this)) {
    m_body->setContentsMargins(18 + shadowRoom, 18 + shadowRoom - 2, 18 + shadowRoom, 18 + shadowRoom + 2);
    m_body->setSpacing(10);
    // As tall as its text takes at the width it gets (a wrapped line may need more than its size hint).
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

void Card::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (width() < smallestSide || height() < smallestSide || devicePixelRatio() != 1) {
        drawCardFrame(painter, rect());
        return;
    }
    // The corners as they are, the straight middle stretched (nearest pixel: exact copies).
    qDrawBorderPixmap(&painter, rect(), QMargins(cornerReach, cornerReach, cornerReach, cornerReach),
                      smallestFrame());
}

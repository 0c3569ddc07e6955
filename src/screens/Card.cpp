#include "Card.h"

#include "Brand.h"

#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace {
constexpr int shadowRoom = 6; // around the panel, for the shadow
constexpr qreal radius = 16;
} // namespace

Card::Card(QWidget* parent) : QFrame(parent), m_body(new QVBoxLayout(this)) {
    m_body->setContentsMargins(18 + shadowRoom, 18 + shadowRoom - 2, 18 + shadowRoom, 18 + shadowRoom + 2);
    m_body->setSpacing(10);
    // As tall as its text takes at the width it gets (a wrapped line may need more than its size hint).
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

void Card::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF panel = QRectF(rect()).adjusted(shadowRoom, shadowRoom - 2, -shadowRoom, -shadowRoom - 2);
    // A soft shadow (black at 6 %, radius 8, 2 down) built from widening translucent outlines.
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

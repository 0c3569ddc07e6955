#include "BrandButton.h"

#include "Brand.h"

#include <QPainter>
#include <QStyleOptionFocusRect>

BrandButton::BrandButton(const QString& text, Fill fill, QWidget* parent)
    : QPushButton(text, parent), m_fill(fill) {
    setFont(Brand::font(14, QFont::DemiBold));
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize BrandButton::sizeHint() const {
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(text()) + 32, 40};
}

void BrandButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor brand = Brand::brand();
    const bool filled = m_fill == Fill::Filled;
    QColor background = filled ? brand : Brand::tinted(brand, 0.12);
    if (isDown())
        background = filled ? brand.darker(115) : Brand::tinted(brand, 0.22);
    painter.setOpacity(isEnabled() ? 1.0 : 0.45);
    painter.setPen(Qt::NoPen);
    painter.setBrush(background);
    const QRectF area = QRectF(rect()).adjusted(1, 1, -1, -1);
    painter.drawRoundedRect(area, 12, 12);
    if (hasFocus()) {
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(Brand::tinted(brand.darker(140), 0.8), 2));
        painter.drawRoundedRect(area.adjusted(1, 1, -1, -1), 11, 11);
    }
    painter.setPen(filled ? QColor(Qt::white) : brand.darker(110));
    painter.drawText(rect(), Qt::AlignCenter, text());
}

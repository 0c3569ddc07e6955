#include "ServerRow.h"

#include "Brand.h"

#include <QPainter>

ServerRow::ServerRow(const ServerProfile& profile, bool selected, QWidget* parent)
    : QAbstractButton(parent), m_profile(profile) {
    setObjectName(QStringLiteral("serverRow"));
    setText(profile.name);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFont(Brand::font(13));
    setSelected(selected);
}

void ServerRow::setSelected(bool selected) {
    m_selected = selected;
    setAccessibleName(selected ? m_profile.name + QStringLiteral(", выбран") : m_profile.name);
    update();
}

QSize ServerRow::sizeHint() const {
    return {200, 36};
}

void ServerRow::enterEvent(QEnterEvent* event) {
    QAbstractButton::enterEvent(event);
    m_hover = true;
    update();
}

void ServerRow::leaveEvent(QEvent* event) {
    QAbstractButton::leaveEvent(event);
    m_hover = false;
    update();
}

void ServerRow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QColor background = Qt::transparent;
    if (m_selected)
        background = Brand::tinted(Brand::brand(), 0.14);
    else if (m_hover)
        background = Brand::tinted(Brand::primaryText(), 0.05);
    painter.setPen(hasFocus() ? QPen(Brand::tinted(Brand::brand(), 0.8), 1.5) : QPen(Qt::NoPen));
    painter.setBrush(background);
    painter.drawRoundedRect(area, 10, 10);
    painter.setPen(Brand::primaryText());
    painter.drawText(area.adjusted(12, 0, -40, 0), Qt::AlignVCenter | Qt::AlignLeft,
                     painter.fontMetrics().elidedText(text(), Qt::ElideRight, width() - 52));
    if (m_selected) {
        constexpr int mark = 18;
        painter.drawPixmap(QPointF(width() - 12 - mark, (height() - mark) / 2.0),
                           Brand::symbol(QStringLiteral("checkmark.circle.fill"), Brand::brand(), mark,
                                         devicePixelRatioF()));
    }
}

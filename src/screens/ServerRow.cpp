#include "ServerRow.h"

#include "Brand.h"

#include <QPainter>

ServerRow::ServerRow(const ServerProfile& profile, bool selected, std::optional<QString> unusable,
                     QWidget* parent)
    : QAbstractButton(parent), m_profile(profile), m_unusable(std::move(unusable)) {
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
    updateAccessibleName();
}

void ServerRow::setCarrying(bool carrying) {
    m_carrying = carrying;
    updateAccessibleName();
}

void ServerRow::updateAccessibleName() {
    QString name = m_profile.name;
    if (m_selected)
        name += QStringLiteral(", выбран");
    if (m_carrying)
        name += QStringLiteral(", подключено");
    if (m_unusable)
        name += QStringLiteral(", недоступен: ") + *m_unusable;
    setAccessibleName(name);
    update();
}

QSize ServerRow::sizeHint() const {
    return {200, m_unusable ? 50 : 36};
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
    // Beside a chosen server the check mark says it all; beside another one the word is needed.
    const bool mark = m_carrying && !m_selected;
    const QString word = QStringLiteral("подключено");
    QFont small = font();
    small.setPixelSize(11);
    const int wordWidth = mark ? QFontMetrics(small).horizontalAdvance(word) + 12 : 0;
    painter.setPen(m_unusable ? Brand::tinted(Brand::primaryText(), 0.45) : Brand::primaryText());
    const QRectF nameArea = m_unusable ? area.adjusted(12, 6, -40 - wordWidth, -area.height() / 2)
                                       : area.adjusted(12, 0, -40 - wordWidth, 0);
    painter.drawText(nameArea, Qt::AlignVCenter | Qt::AlignLeft,
                     painter.fontMetrics().elidedText(text(), Qt::ElideRight, width() - 52 - wordWidth));
    if (m_unusable) {
        painter.setFont(Brand::font(11));
        painter.setPen(Brand::secondaryText());
        painter.drawText(area.adjusted(12, area.height() / 2, -40, -6), Qt::AlignVCenter | Qt::AlignLeft,
                         painter.fontMetrics().elidedText(*m_unusable, Qt::ElideRight, width() - 52));
    }
    if (mark) {
        painter.setFont(small);
        painter.setPen(Brand::brand());
        painter.drawText(area.adjusted(0, 0, -12, 0), Qt::AlignVCenter | Qt::AlignRight, word);
    }
    if (m_selected) {
        constexpr int size = 18;
        painter.drawPixmap(QPointF(width() - 12 - size, (height() - size) / 2.0),
                           Brand::symbol(QStringLiteral("checkmark.circle.fill"), Brand::brand(), size,
                                         devicePixelRatioF()));
    }
}

#include "TabBar.h"

#include "Brand.h"

#include <QHBoxLayout>
#include <QPainter>

namespace {

struct TabFace {
    const char* name;
    const char* title;
    const char* symbol;
};

TabFace face(Tab tab) {
    switch (tab) {
    case Tab::Home:
        return {"home", "Главная", "shield"};
    case Tab::Tariffs:
        return {"tariffs", "Тариф", "creditcard"};
    case Tab::Devices:
        return {"devices", "Устройства", "laptopcomputer"};
    case Tab::More:
        return {"more", "Ещё", "slider.horizontal.3"};
    }
    return {"home", "Главная", "shield"};
}

} // namespace

TabButton::TabButton(Tab tab, QWidget* parent) : QAbstractButton(parent), m_tab(tab) {
    setObjectName(QStringLiteral("tab_") + QString::fromLatin1(face(tab).name));
    setText(title());
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setSelected(false);
}

QString TabButton::title() const {
    return QString::fromUtf8(face(m_tab).title);
}

void TabButton::setSelected(bool selected) {
    m_selected = selected;
    setAccessibleName(title());
    setAccessibleDescription(selected ? QStringLiteral("выбрана") : QString());
    update();
}

QSize TabButton::sizeHint() const {
    return {100, 48};
}

void TabButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor ink = m_selected ? Brand::brand() : Brand::secondaryText();
    const QRectF area = QRectF(rect()).adjusted(4, 3, -4, -3);
    if (m_selected) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(Brand::tinted(Brand::brand(), 0.12));
        painter.drawRoundedRect(area, 10, 10);
    }
    if (hasFocus()) {
        painter.setPen(QPen(Brand::tinted(Brand::brand(), 0.8), 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(area, 10, 10);
    }
    constexpr int glyph = 17;
    painter.drawPixmap(
        QPointF((width() - glyph) / 2.0, area.top() + 5),
        Brand::symbol(QString::fromLatin1(face(m_tab).symbol), ink, glyph, devicePixelRatioF()));
    painter.setFont(Brand::font(10, QFont::Medium));
    painter.setPen(ink);
    painter.drawText(QRectF(area.left(), area.top() + 24, area.width(), 16), Qt::AlignHCenter | Qt::AlignTop,
                     title());
}

TabBar::TabBar(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("tabBar"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(6, 5, 6, 5);
    row->setSpacing(2);
    for (Tab tab : {Tab::Home, Tab::Tariffs, Tab::Devices, Tab::More}) {
        auto* button = new TabButton(tab, this);
        connect(button, &QAbstractButton::clicked, this, [this, tab] { emit chosen(tab); });
        row->addWidget(button, 1);
        m_buttons.append(button);
    }
}

void TabBar::setCurrent(Tab tab) {
    for (TabButton* button : std::as_const(m_buttons))
        button->setSelected(button->tab() == tab);
}

TabButton* TabBar::button(Tab tab) const {
    return m_buttons.at(static_cast<int>(tab));
}

void TabBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor(250, 250, 252, 235));
    painter.fillRect(QRect(0, 0, width(), 1), Brand::tinted(Brand::primaryText(), 0.10));
}

#include "StatusPanel.h"

#include "Brand.h"
#include "PanelLabel.h"
#include "Phase.h"
#include "PowerButton.h"

#include <QLabel>
#include <QPaintEvent>
#include <QPainter>
#include <QVBoxLayout>
#include <cmath>

namespace {
// The gradient's ends move by under ten pixels a frame at this rate, a shift of a level or two in
// any pixel's colour: the eye sees a smooth drift, and each frame fills the whole panel again.
constexpr int driftFrames = 5;
} // namespace

StatusPanel::StatusPanel(QWidget* parent)
    : QWidget(parent), m_power(new PowerButton(this)), m_title(new PanelLabel(this)),
      m_subtitle(new PanelLabel(this)), m_drift(new Phase(this, driftFrames, [this] { update(); })) {
    setObjectName(QStringLiteral("statusPanel"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    // Its picture covers all of it, the corners in the colour around: a drift frame paints the
    // panel alone, not the screens under it.
    setAttribute(Qt::WA_OpaquePaintEvent);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(16, 4, 16, 20);
    column->setSpacing(2);
    column->addWidget(m_power, 0, Qt::AlignHCenter);
    m_title->setObjectName(QStringLiteral("statusTitle"));
    m_title->setFont(Brand::font(20, QFont::DemiBold));
    m_subtitle->setObjectName(QStringLiteral("statusSubtitle"));
    m_subtitle->setFont(Brand::font(13));
    for (QLabel* label : {m_title, m_subtitle}) {
        label->setAlignment(Qt::AlignHCenter);
        label->setTextInteractionFlags(Qt::NoTextInteraction);
        column->addWidget(label);
    }
    QPalette white = m_title->palette();
    white.setColor(QPalette::WindowText, Qt::white);
    m_title->setPalette(white);
    white.setColor(QPalette::WindowText, Brand::tinted(Qt::white, 0.85));
    m_subtitle->setPalette(white);
    setFixedHeight(sizeHint().height());
}

void StatusPanel::setColors(const std::array<QColor, 3>& colors) {
    if (colors == m_colors)
        return;
    m_colors = colors;
    update();
}

void StatusPanel::setTexts(const QString& title, const QString& subtitle) {
    m_title->setText(title);
    m_subtitle->setText(subtitle);
    setAccessibleName(title);
    setAccessibleDescription(subtitle);
}

std::pair<QPointF, QPointF> StatusPanel::gradientLine(double seconds) {
    const double s = (std::sin(seconds / 4.5) + 1) / 2;
    return {QPointF(s, 0), QPointF(1 - 0.6 * s, 1)};
}

void StatusPanel::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (Brand::animationsEnabled(this))
        m_drift->start(true);
}

void StatusPanel::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    m_drift->stop();
}

void StatusPanel::paintEvent(QPaintEvent* event) {
    const auto [from, to] = gradientLine(m_drift->seconds());
    const QImage& background = m_background.picture(size(), devicePixelRatioF(), m_colors, from, to,
                                                    palette().color(QPalette::Window));
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    const QRect area = event->rect();
    const qreal ratio = background.devicePixelRatio();
    painter.drawImage(area, background, QRectF(QPointF(area.topLeft()) * ratio, QSizeF(area.size()) * ratio));
}

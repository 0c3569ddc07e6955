#include "GlowMascot.h"

#include "Brand.h"
#include "Mascot.h"
#include "Phase.h"

#include <QEasingCurve>
#include <QPainter>
#include <QRadialGradient>
#include <algorithm>
#include <cmath>

namespace {
constexpr double halfCycle = 2.6;
constexpr double amplitude = 5.0;
constexpr double restPhase = halfCycle / 2; // the middle of a swing: offset 0
} // namespace

GlowMascot::GlowMascot(int size, QWidget* parent)
    : QWidget(parent), m_size(size), m_picture(Mascot::picture(size)),
      m_phase(new Phase(this, 30, [this] { moved(); })) {
    const int glow = size / 4;
    setFixedSize(size + 2 * glow, size + 2 * glow + 2 * static_cast<int>(amplitude));
    m_phase->setSeconds(restPhase);
}

double GlowMascot::offsetAt(double seconds) {
    // A triangle wave over two half cycles, eased in and out on each half.
    const double position = std::fmod(std::max(0.0, seconds), 2 * halfCycle) / halfCycle;
    const double swing = position <= 1 ? position : 2 - position;
    return -amplitude + 2 * amplitude * QEasingCurve(QEasingCurve::InOutSine).valueForProgress(swing);
}

void GlowMascot::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (Brand::animationsEnabled(this))
        m_phase->start();
}

void GlowMascot::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    m_phase->stop();
}

int GlowMascot::pictureRow(double seconds) const {
    const double top = QRectF(rect()).center().y() - m_size / 2.0 + offsetAt(seconds);
    return qRound(top * devicePixelRatioF());
}

void GlowMascot::moved() {
    if (pictureRow(m_phase->seconds()) != m_shownRow)
        update();
}

const QPixmap& GlowMascot::glow() {
    const qreal ratio = devicePixelRatioF();
    const QSize pixels = (QSizeF(size()) * ratio).toSize();
    if (m_glow.size() == pixels && m_glow.devicePixelRatio() == ratio)
        return m_glow;
    m_glow = QPixmap(pixels);
    m_glow.setDevicePixelRatio(ratio);
    m_glow.fill(Qt::transparent);
    QPainter painter(&m_glow);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPointF centre = QRectF(rect()).center();
    QRadialGradient glow(centre, m_size * 0.75);
    glow.setColorAt(0.0, Brand::tinted(Brand::brand(), 0.35));
    glow.setColorAt(0.6, Brand::tinted(Brand::brand(), 0.15));
    glow.setColorAt(1.0, Brand::tinted(Brand::brand(), 0.0));
    painter.setPen(Qt::NoPen);
    painter.setBrush(glow);
    painter.drawEllipse(centre, m_size * 0.75, m_size * 0.75);
    return m_glow;
}

void GlowMascot::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawPixmap(0, 0, glow());
    m_shownRow = pictureRow(m_phase->seconds());
    const double left = QRectF(rect()).center().x() - m_size / 2.0;
    painter.drawPixmap(QPointF(left, m_shownRow / devicePixelRatioF()), m_picture);
}

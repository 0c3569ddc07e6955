#include "PowerButton.h"

#include "Brand.h"
#include "Phase.h"
#include "Ring.h"

#include <QLinearGradient>
#include <QPainter>
#include <cmath>
#include <numbers>

namespace {
constexpr int side = 150;
constexpr double circle = 100;
constexpr double ringCycle = 1.8;
// A faint ring grows by about a pixel a frame at this rate (12.5 px a second, fading as it goes);
// every other frame falls on the panel's drift, so both repaint together. Twice the rate looked the
// same and cost a third more CPU while the window is shown.
constexpr int ringFrames = 10;
constexpr double hoverScale = 1.04;
constexpr double response = 0.25;
const QString connectText = QStringLiteral("Подключить");
const QString disconnectText = QStringLiteral("Отключить");

// How far `ring` (0 or 1, half a cycle apart) has expanded and faded, 0…1, `seconds` in.
double ringProgress(double seconds, int ring) {
    return std::fmod(seconds / ringCycle + ring * 0.5, 1.0);
}
} // namespace

PowerButton::PowerButton(QWidget* parent)
    : QAbstractButton(parent), m_rings(new Phase(this, ringFrames, [this] { update(); })),
      m_spring(new Phase(this, 60, [this] {
          update();
          const double elapsed = m_spring->seconds();
          if (elapsed > 1.5 * response * 4)
              m_spring->stop();
      })) {
    setObjectName(QStringLiteral("powerButton"));
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    setFixedSize(side, side);
    setStatus(VpnStatus::Off);
    // Resting: no spring running, the normal size.
    m_spring->setSeconds(10);
}

QSize PowerButton::sizeHint() const {
    return {side, side};
}

void PowerButton::setStatus(VpnStatus status) {
    m_status = status;
    const QString name = status == VpnStatus::Off ? connectText : disconnectText;
    setText(name);
    setAccessibleName(name);
    if (status == VpnStatus::Off)
        m_ringPicture = QImage(); // no rings to draw until the next connection
    updateRings();
    update();
}

void PowerButton::updateRings() {
    const bool wanted = m_status != VpnStatus::Off && isVisible() && Brand::animationsEnabled(this);
    if (wanted && !m_rings->running())
        m_rings->start();
    else if (!wanted)
        m_rings->stop();
}

void PowerButton::showEvent(QShowEvent* event) {
    QAbstractButton::showEvent(event);
    updateRings();
}

void PowerButton::hideEvent(QHideEvent* event) {
    QAbstractButton::hideEvent(event);
    m_rings->stop();
    m_spring->stop();
}

double PowerButton::springScale(double seconds, double from, double velocity, bool entering) {
    // x(t) = target + (x0 + (v0 + ω·x0)·t)·e^(−ωt) with x0 = from − target: critically damped.
    const double target = entering ? hoverScale : 1.0;
    const double omega = 2 * std::numbers::pi / response;
    const double x0 = from - target;
    return target + (x0 + (velocity + omega * x0) * seconds) * std::exp(-omega * seconds);
}

double PowerButton::scale() const {
    return springScale(m_spring->seconds(), m_springFrom, m_springVelocity, m_entering);
}

void PowerButton::hover(bool entering) {
    const double now = scale();
    // The velocity at this moment, so a quick in-and-out stays smooth.
    constexpr double dt = 1e-3;
    const double t = m_spring->seconds();
    m_springVelocity = (springScale(t + dt, m_springFrom, m_springVelocity, m_entering) - now) / dt;
    m_springFrom = now;
    m_entering = entering;
    if (Brand::animationsEnabled(this)) {
        m_spring->start();
    } else {
        m_springFrom = entering ? hoverScale : 1.0;
        m_springVelocity = 0;
        m_spring->setSeconds(10);
    }
}

void PowerButton::enterEvent(QEnterEvent* event) {
    QAbstractButton::enterEvent(event);
    hover(true);
}

void PowerButton::leaveEvent(QEvent* event) {
    QAbstractButton::leaveEvent(event);
    hover(false);
}

void PowerButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const double factor = scale();
    if (m_status != VpnStatus::Off)
        painter.drawImage(0, 0, rings(factor));
    painter.drawPixmap(0, 0, face(factor));
}

const QImage& PowerButton::rings(double factor) {
    const qreal ratio = devicePixelRatioF();
    const QSize pixels = (QSizeF(size()) * ratio).toSize();
    const double seconds = m_rings->seconds();
    if (m_ringPicture.size() == pixels && m_ringPicture.devicePixelRatio() == ratio &&
        m_ringSeconds == seconds && m_ringScale == factor)
        return m_ringPicture;
    m_ringSeconds = seconds;
    m_ringScale = factor;
    if (m_ringPicture.size() != pixels)
        m_ringPicture = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
    m_ringPicture.setDevicePixelRatio(ratio);
    m_ringPicture.fill(Qt::transparent);
    const QPointF centre = QRectF(rect()).center() * ratio;
    const double radius = circle / 2 * factor;
    for (int ring = 0; ring < 2; ++ring) {
        const double progress = ringProgress(seconds, ring);
        drawRing(m_ringPicture, centre, radius * (1.0 + 0.45 * progress) * ratio, 2 * ratio,
                 Brand::tinted(Qt::white, 0.55 * (1.0 - progress)));
    }
    return m_ringPicture;
}

const QPixmap& PowerButton::face(double factor) {
    const qreal ratio = devicePixelRatioF();
    const QSize pixels = (QSizeF(size()) * ratio).toSize();
    if (!m_face.isNull() && m_faceScale == factor && m_faceFocused == hasFocus() &&
        m_face.devicePixelRatio() == ratio && m_face.size() == pixels)
        return m_face;
    m_faceScale = factor;
    m_faceFocused = hasFocus();
    m_face = QPixmap(pixels);
    m_face.setDevicePixelRatio(ratio);
    m_face.fill(Qt::transparent);
    QPainter painter(&m_face);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPointF centre = QRectF(rect()).center();
    const double radius = circle / 2 * factor;
    QLinearGradient fill(centre.x(), centre.y() - radius, centre.x(), centre.y() + radius);
    fill.setColorAt(0, Brand::tinted(Qt::white, 0.30));
    fill.setColorAt(1, Brand::tinted(Qt::white, 0.12));
    painter.setBrush(fill);
    painter.setPen(QPen(Brand::tinted(Qt::white, m_faceFocused ? 0.8 : 0.25), m_faceFocused ? 2 : 1));
    painter.drawEllipse(centre, radius, radius);

    const int glyph = qRound(42 * factor);
    const QPixmap power = Brand::symbol(QStringLiteral("power"), Qt::white, glyph, ratio);
    painter.drawPixmap(QPointF(centre.x() - glyph / 2.0, centre.y() - glyph / 2.0), power);
    return m_face;
}

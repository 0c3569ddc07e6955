#include "Toast.h"

#include "Brand.h"
#include "Phase.h"
#include "model/AppModel.h"
#include "platform/Clock.h"
#include "platform/MainTask.h"

#include <QEasingCurve>
#include <QPainter>
#include <QPointer>
#include <chrono>

using namespace std::chrono_literals;

namespace {
constexpr double slideTime = 0.25;
constexpr int aboveBottom = 70;
} // namespace

Toast::Toast(AppModel& model, Clock& clock, QWidget* parent)
    : QWidget(parent), m_model(model), m_clock(clock), m_slide(new Phase(this, 60, [this] {
          place();
          if (m_slide->seconds() >= slideTime) {
              m_slide->stop();
              if (!m_shown)
                  hide();
          }
      })) {
    setObjectName(QStringLiteral("toast"));
    setFont(Brand::font(13, QFont::Medium));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    hide();
    m_slide->setSeconds(slideTime);
    connect(&m_model, &AppModel::messageChanged, this, &Toast::refresh);
    connect(&m_model, &AppModel::errorChanged, this, &Toast::refresh);
    refresh();
}

QString Toast::text() const {
    return m_shown ? m_text : QString();
}

void Toast::refresh() {
    const auto text = m_model.message() ? m_model.message() : m_model.error();
    if (!text) {
        if (m_shown) {
            m_shown = false;
            ++m_showing; // the running wait ends without clearing anything more
            if (Brand::animationsEnabled(this))
                m_slide->start();
            else
                m_slide->setSeconds(slideTime);
        }
        return;
    }
    m_text = *text;
    setAccessibleName(*text);
    if (m_shown) {
        place();
        update();
        return;
    }
    m_shown = true;
    show();
    raise();
    if (Brand::animationsEnabled(this))
        m_slide->start();
    else
        m_slide->setSeconds(slideTime);
    startMainTask(expire(++m_showing));
}

QCoro::Task<> Toast::expire(quint64 showing) {
    const QPointer<Toast> self(this);
    co_await m_clock.sleep(4s);
    if (!self || self->m_showing != showing)
        co_return;
    self->m_model.clearNotices();
}

void Toast::place() {
    if (!parentWidget())
        return;
    const int maxWidth = parentWidget()->width() - 48;
    const QRect words = fontMetrics().boundingRect(QRect(0, 0, maxWidth - 36, 1000),
                                                   Qt::AlignCenter | Qt::TextWordWrap, m_text);
    const int w = words.width() + 36;
    const int h = words.height() + 22;
    const double progress = QEasingCurve(QEasingCurve::OutCubic)
                                .valueForProgress(qBound(0.0, m_slide->seconds() / slideTime, 1.0));
    const double visible = m_shown ? progress : 1.0 - progress;
    const int restY = parentWidget()->height() - aboveBottom - h;
    const int hiddenY = parentWidget()->height();
    setGeometry((parentWidget()->width() - w) / 2, qRound(hiddenY + (restY - hiddenY) * visible), w, h);
    m_opacity = visible;
    update();
}

void Toast::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(m_opacity);
    const QRectF capsule = QRectF(rect()).adjusted(3, 2, -3, -4);
    painter.setPen(Qt::NoPen);
    for (int step = 3; step >= 1; --step) {
        painter.setBrush(QColor(0, 0, 0, 10));
        painter.drawRoundedRect(capsule.translated(0, 1.5).adjusted(-step, -step, step, step),
                                qMin(capsule.height() / 2, 20.0) + step,
                                qMin(capsule.height() / 2, 20.0) + step);
    }
    painter.setBrush(QColor(255, 255, 255, 242));
    painter.setPen(QPen(Brand::tinted(Brand::primaryText(), 0.08), 1));
    const qreal corner = qMin(capsule.height() / 2, 20.0);
    painter.drawRoundedRect(capsule, corner, corner);
    painter.setPen(Brand::primaryText());
    painter.drawText(capsule.adjusted(15, 0, -15, 0), Qt::AlignCenter | Qt::TextWordWrap, m_text);
}

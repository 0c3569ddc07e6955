#include "PanelLabel.h"

#include <QEvent>
#include <QPainter>
#include <QTextDocument>
#include <QTextLayout>

// The case QLabel draws as one line at the top of its rectangle, centred across it.
bool PanelLabel::plain() const {
    const bool plainText =
        textFormat() == Qt::PlainText || (textFormat() == Qt::AutoText && !Qt::mightBeRichText(text()));
    return plainText && alignment() == Qt::AlignHCenter && !wordWrap() && margin() == 0 &&
           frameWidth() == 0 && layoutDirection() == Qt::LeftToRight && isEnabled() && !text().isEmpty() &&
           !text().contains(u'\n') && fontMetrics().leading() == 0;
}

void PanelLabel::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        m_laidOutText.clear();
}

void PanelLabel::paintEvent(QPaintEvent* event) {
    if (!plain()) {
        QLabel::paintEvent(event);
        return;
    }
    if (m_laidOutText != text() || m_laidOutFont != font()) {
        m_laidOutText = text();
        m_laidOutFont = font();
        m_laidOut = QStaticText(m_laidOutText);
        m_laidOut.setTextFormat(Qt::PlainText);
        // The width QPainter::drawText centres by: the line's advance.
        QTextLayout layout(m_laidOutText, m_laidOutFont, this);
        layout.beginLayout();
        QTextLine line = layout.createLine();
        line.setLineWidth(0x01000000);
        layout.endLayout();
        m_advance = line.horizontalAdvance();
    }
    const QRect area = contentsRect();
    if (m_advance > area.width() || fontMetrics().height() > area.height()) {
        QLabel::paintEvent(event); // clipped as QLabel clips it
        return;
    }
    QPainter painter(this);
    painter.setPen(QPen(palette().brush(foregroundRole()), painter.pen().widthF()));
    painter.drawStaticText(QPointF(area.x() + (area.width() - m_advance) / 2, area.y()), m_laidOut);
}

#include "Mascot.h"

#include <QPainter>

Mascot::Mascot(int size, QWidget* parent) : QWidget(parent), m_picture(picture(size)) {
    setFixedSize(size, size);
    setAttribute(Qt::WA_TranslucentBackground);
}

QPixmap Mascot::picture(int size, const QString& resource) {
    const QPixmap source(resource);
    if (source.isNull()) {
        QPixmap empty(size, size);
        empty.fill(Qt::transparent);
        return empty;
    }
    return source.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

void Mascot::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_picture);
}

#include "Mascot.h"

#include <QPainter>
#include <QPixmapCache>

Mascot::Mascot(int size, QWidget* parent) : QWidget(parent), m_picture(picture(size)) {
    setFixedSize(size, size);
    setAttribute(Qt::WA_TranslucentBackground);
}

QPixmap Mascot::picture(int size, const QString& resource) {
    // Every screen's header shows the mascot: it is loaded and scaled once per size.
    const QString key = QStringLiteral("vemko-mascot:%1:%2").arg(resource).arg(size);
    QPixmap result;
    if (QPixmapCache::find(key, &result))
        return result;
    // The sizes the screens use come from the build already scaled (":/mascot-40.png").
    if (const qsizetype dot = resource.lastIndexOf(u'.'); dot > 0)
        result = QPixmap(resource.left(dot) + QStringLiteral("-%1").arg(size) + resource.mid(dot));
    if (result.size() != QSize(size, size)) {
        const QPixmap source(resource);
        if (source.isNull()) {
            result = QPixmap(size, size);
            result.fill(Qt::transparent);
        } else {
            result = source.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        }
    }
    QPixmapCache::insert(key, result);
    return result;
}

void Mascot::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_picture);
}

#include "Mascot.h"

#include <QFile>
#include <QImageReader>
#include <QPainter>
#include <QPixmapCache>

namespace {

// A PNG read by Qt's own reader: asked to guess, Qt would first load every image plugin installed
// (JPEG, GIF, ICO, SVG and their libraries) to ask each whether it reads PNG. A missing file is
// no picture (the reader itself would complain of the unopened file on the log).
QPixmap readPng(const QString& path) {
    if (!QFile::exists(path))
        return {};
    QImageReader reader(path, "png");
    reader.setAutoDetectImageFormat(false);
    return QPixmap::fromImage(reader.read());
}

} // namespace

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
        result = readPng(resource.left(dot) + QStringLiteral("-%1").arg(size) + resource.mid(dot));
    if (result.size() != QSize(size, size)) {
        const QPixmap source = readPng(resource);
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

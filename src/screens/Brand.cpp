#include "Brand.h"

#include "KeyActivation.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QFile>
#include <QFontDatabase>
#include <QPainter>
#include <QPixmapCache>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QSvgRenderer>
#include <QWidget>

namespace Brand {

QColor brand() {
    return QColor::fromRgbF(0.059f, 0.624f, 0.541f);
}
QColor primaryText() {
    return QColor(29, 29, 31);
}
QColor secondaryText() {
    return QColor(110, 110, 115);
}

QColor tinted(QColor color, qreal opacity) {
    color.setAlphaF(static_cast<float>(opacity));
    return color;
}

QFont font(int pixels, QFont::Weight weight) {
    QFont result = QApplication::font();
    result.setPixelSize(pixels);
    result.setWeight(weight);
    return result;
}

QPixmap symbol(const QString& name, const QColor& color, int pixels, qreal devicePixelRatio) {
    // Widgets ask for their symbols on every paint; the SVG is parsed and drawn once per look.
    const QString key = QStringLiteral("vemko-symbol:%1:%2:%3:%4")
                            .arg(name)
                            .arg(color.rgba(), 0, 16)
                            .arg(pixels)
                            .arg(devicePixelRatio);
    QPixmap result;
    if (QPixmapCache::find(key, &result))
        return result;
    const int side = qMax(1, qRound(pixels * devicePixelRatio));
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    const QString path = QStringLiteral(":/icons/%1.svg").arg(name);
    if (QFile::exists(path)) {
        QSvgRenderer renderer(path);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter, QRectF(0, 0, side, side));
        // The artwork is drawn in black; the shape keeps its coverage and takes the colour.
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(image.rect(), color);
    }
    result = QPixmap::fromImage(image);
    result.setDevicePixelRatio(devicePixelRatio);
    QPixmapCache::insert(key, result);
    return result;
}

QIcon symbolIcon(const QString& name, const QColor& color) {
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64})
        icon.addPixmap(symbol(name, color, size));
    return icon;
}

bool animationsEnabled(const QWidget* widget) {
    const QStyle* style = widget ? widget->style() : QApplication::style();
    return style->styleHint(QStyle::SH_Widget_Animate, nullptr, widget) != 0 &&
           style->styleHint(QStyle::SH_Widget_Animation_Duration, nullptr, widget) >= 1;
}

void makeBordered(QPushButton* button) {
    button->setCursor(Qt::PointingHandCursor);
    button->setStyleSheet(QStringLiteral(
        "QPushButton { border: 1px solid rgba(29, 29, 31, 46); border-radius: 8px; padding: 5px 14px;"
        " background: white; color: #1d1d1f; }"
        "QPushButton:hover { background: #f5f5f7; }"
        "QPushButton:pressed { background: #e8e8ed; }"
        "QPushButton:focus { border: 2px solid rgba(15, 159, 138, 204); padding: 4px 13px; }"
        "QPushButton:disabled { color: rgba(29, 29, 31, 100); }"));
}

void makeQuietScrolling(QAbstractScrollArea* area) {
    area->verticalScrollBar()->setStyleSheet(QStringLiteral(
        "QScrollBar:vertical { width: 8px; background: transparent; margin: 2px; }"
        "QScrollBar::handle:vertical { background: rgba(0, 0, 0, 50); border-radius: 2px; min-height: 32px; }"
        "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
        "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: transparent; }"));
}

void applyLook(QApplication& app) {
    app.setStyle(QStringLiteral("Fusion"));
    QPalette colours = app.style()->standardPalette();
    colours.setColor(QPalette::Window, QColor(242, 242, 246));
    colours.setColor(QPalette::WindowText, primaryText());
    colours.setColor(QPalette::Text, primaryText());
    colours.setColor(QPalette::ButtonText, primaryText());
    colours.setColor(QPalette::Base, Qt::white);
    colours.setColor(QPalette::Button, QColor(250, 250, 252));
    colours.setColor(QPalette::Highlight, brand());
    colours.setColor(QPalette::PlaceholderText, secondaryText());
    app.setPalette(colours);
    QFont text = app.font();
    text.setPixelSize(13);
    app.setFont(text);
    installKeyActivation(app);
}

std::jthread warmUpFonts() {
    // The first text measured waits for the system's font list, and fontconfig reads its whole
    // configuration to make it: several milliseconds.
    return std::jthread([] { QFontDatabase::families(); });
}

} // namespace Brand

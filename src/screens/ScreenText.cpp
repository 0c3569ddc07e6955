#include "ScreenText.h"

#include "Brand.h"

#include <QLabel>

QLabel* screenLabel(QWidget* parent, const QString& name, int pixels, QFont::Weight weight,
                    const QColor& color) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setWordWrap(true);
    label->setFont(Brand::font(pixels, weight));
    if (color.isValid()) {
        QPalette colours = label->palette();
        colours.setColor(QPalette::WindowText, color);
        label->setPalette(colours);
    }
    return label;
}

QColor failureRed() {
    return QColor(215, 0, 21);
}

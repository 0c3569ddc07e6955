#include "Label2.h"

#include "Brand.h"

Label2::Label2(const QString& text, QWidget* parent) : QLabel(parent) {
    QFont caption = Brand::font(10, QFont::Medium);
    caption.setLetterSpacing(QFont::AbsoluteSpacing, 0.8);
    setFont(caption);
    QPalette colours = palette();
    colours.setColor(QPalette::WindowText, Brand::secondaryText());
    setPalette(colours);
    setCaption(text);
}

void Label2::setCaption(const QString& text) {
    setText(text.toUpper());
    setAccessibleName(text);
}

#include "ScrollScreen.h"

#include <QScrollArea>
#include <QVBoxLayout>

QVBoxLayout* scrollColumn(QWidget* screen) {
    auto* outer = new QVBoxLayout(screen);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea(screen);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->viewport()->setAutoFillBackground(false);
    outer->addWidget(scroll);

    auto* content = new QWidget(scroll);
    content->setAutoFillBackground(false);
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(14, 16, 14, 16);
    column->setSpacing(8);
    scroll->setWidget(content);
    return column;
}

void addInset(QVBoxLayout* column, QWidget* widget) {
    auto* inset = new QVBoxLayout;
    inset->setContentsMargins(6, 0, 6, 0);
    inset->addWidget(widget);
    column->addLayout(inset);
}

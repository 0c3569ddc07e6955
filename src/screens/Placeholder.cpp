#include "Placeholder.h"

#include "Brand.h"
#include "GlowMascot.h"

#include <QLabel>
#include <QVBoxLayout>

Placeholder::Placeholder(const QString& objectName, const QString& title, QWidget* parent) : QWidget(parent) {
    setObjectName(objectName);
    auto* column = new QVBoxLayout(this);
    column->addStretch(1);
    column->addWidget(new GlowMascot(128, this), 0, Qt::AlignHCenter);
    auto* label = new QLabel(title, this);
    label->setObjectName(QStringLiteral("placeholderTitle"));
    label->setFont(Brand::font(22, QFont::DemiBold));
    label->setAlignment(Qt::AlignHCenter);
    column->addWidget(label);
    column->addStretch(2);
}

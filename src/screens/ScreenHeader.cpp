#include "ScreenHeader.h"

#include "Brand.h"
#include "Mascot.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

ScreenHeader::ScreenHeader(const QString& title, const QString& subtitle, QWidget* parent)
    : QWidget(parent), m_title(new QLabel(title, this)), m_subtitle(new QLabel(subtitle, this)) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);
    row->addWidget(new Mascot(40, this));
    auto* texts = new QVBoxLayout;
    texts->setSpacing(1);
    m_title->setObjectName(QStringLiteral("headerTitle"));
    m_title->setFont(Brand::font(15, QFont::DemiBold));
    m_subtitle->setObjectName(QStringLiteral("headerSubtitle"));
    m_subtitle->setFont(Brand::font(11));
    QPalette grey = m_subtitle->palette();
    grey.setColor(QPalette::WindowText, Brand::secondaryText());
    m_subtitle->setPalette(grey);
    texts->addWidget(m_title);
    texts->addWidget(m_subtitle);
    row->addLayout(texts, 1);
}

void ScreenHeader::setTitle(const QString& title) {
    m_title->setText(title);
}
void ScreenHeader::setSubtitle(const QString& subtitle) {
    m_subtitle->setText(subtitle);
}
QString ScreenHeader::title() const {
    return m_title->text();
}
QString ScreenHeader::subtitle() const {
    return m_subtitle->text();
}

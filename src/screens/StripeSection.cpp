#include "StripeSection.h"

#include "Brand.h"
#include "Card.h"
#include "Label2.h"
#include "ScreenText.h"
#include "ScrollScreen.h"
#include "Segmented.h"
#include "model/AppModel.h"
#include "model/Tariffs.h"
#include "platform/Desktop.h"
#include "platform/MainTask.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QUrl>
#include <QVBoxLayout>

StripeSection::StripeSection(AppModel& model, Desktop& desktop, const QString& apiOrigin, QWidget* parent)
    : QWidget(parent), m_model(model), m_desktop(desktop),
      m_billing(
          new Segmented({QStringLiteral("Помесячно"), QStringLiteral("На год · дешевле")}, {0, 1}, this)),
      m_tiers(new QVBoxLayout) {
    setObjectName(QStringLiteral("stripeSection"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);
    addInset(column, new Label2(QStringLiteral("Карта любой страны (кроме РФ)"), this));
    m_billing->setObjectName(QStringLiteral("billingControl"));
    m_billing->setValue(0);
    addInset(column, m_billing);
    m_tiers->setSpacing(0);
    column->addLayout(m_tiers);
    QLabel* footnote =
        screenLabel(this, QStringLiteral("stripeFootnote"), 11, QFont::Normal, Brand::secondaryText());
    footnote->setText(
        QStringLiteral("Подписка продлевается автоматически, отменить можно в любой момент в кабинете на ") +
        QUrl(apiOrigin).host() + u'.');
    addInset(column, footnote);

    connect(m_billing, &Segmented::chosen, this, [this](int value) {
        m_yearly = value == 1;
        rebuild();
    });
    rebuild();
    for (auto signal : {&AppModel::stripeTiersChanged, &AppModel::stripeTrialChanged})
        connect(&m_model, signal, this, &StripeSection::rebuild);
}

void StripeSection::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (event->spontaneous())
        return;
    m_yearly = false;
    m_billing->setValue(0);
    rebuild();
}

void StripeSection::rebuild() {
    while (QLayoutItem* item = m_tiers->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    const qint64 trial = m_model.stripeTrial();
    for (const StripeTier& tier : sortedTiers(m_model.stripeTiers())) {
        auto* card = new Card(this);
        card->setObjectName(QStringLiteral("tier_%1").arg(tier.devices));
        auto* row = new QHBoxLayout;
        auto* texts = new QVBoxLayout;
        texts->setSpacing(2);
        QLabel* devices = screenLabel(card, QStringLiteral("tierDevices"), 15, QFont::DemiBold);
        devices->setText(tierDevices(tier));
        QLabel* price =
            screenLabel(card, QStringLiteral("tierPrice"), 12, QFont::Normal, Brand::secondaryText());
        price->setText(tierPriceLine(tier, m_yearly));
        texts->addWidget(devices);
        texts->addWidget(price);
        if (trial > 0) {
            QLabel* line =
                screenLabel(card, QStringLiteral("tierTrial"), 11, QFont::Normal, Brand::brand().darker(115));
            line->setText(QString::number(trial) +
                          QStringLiteral(" дня бесплатно, списание только после них"));
            texts->addWidget(line);
        }
        row->addLayout(texts, 1);
        auto* subscribe = new QPushButton(
            trial > 0 ? QStringLiteral("Попробовать бесплатно") : QStringLiteral("Подписаться"), card);
        subscribe->setObjectName(QStringLiteral("subscribeButton"));
        subscribe->setMinimumWidth(subscribe->sizeHint().width() + 14); // room around the longer title
        const qint64 count = tier.devices;
        connect(subscribe, &QPushButton::clicked, this, [this, count] {
            startMainTask(m_model.subscribeStripe(count,
                                                  m_yearly ? QStringLiteral("year") : QStringLiteral("month"),
                                                  [this](QUrl url) { m_desktop.openUrl(url); }));
        });
        row->addWidget(subscribe, 0, Qt::AlignVCenter);
        card->body()->addLayout(row);
        m_tiers->addWidget(card);
    }
}

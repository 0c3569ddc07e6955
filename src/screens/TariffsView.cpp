#include "TariffsView.h"

#include "Brand.h"
#include "Card.h"
#include "Label2.h"
#include "PaymentWaiting.h"
#include "ScreenHeader.h"
#include "ScreenText.h"
#include "ScrollScreen.h"
#include "Segmented.h"
#include "StripeSection.h"
#include "model/AppModel.h"
#include "model/Tariffs.h"
#include "platform/Desktop.h"
#include "platform/MainTask.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QShowEvent>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

QStringList deviceLabels() {
    QStringList labels;
    for (int n = 1; n <= 10; ++n)
        labels.append(QString::number(n));
    return labels;
}

QList<int> deviceValues() {
    QList<int> values;
    for (int n = 1; n <= 10; ++n)
        values.append(n);
    return values;
}

} // namespace

TariffsView::TariffsView(AppModel& model, Desktop& desktop, const QString& apiOrigin, QWidget* parent)
    : QWidget(parent), m_model(model), m_desktop(desktop) {
    setObjectName(QStringLiteral("tariffsScreen"));
    QVBoxLayout* column = scrollColumn(this);
    QWidget* content = column->parentWidget();
    auto* header = new ScreenHeader(QStringLiteral("Тариф и оплата"),
                                    QStringLiteral("платите только за нужное число устройств"), content);
    addInset(column, header);
    column->addSpacing(6);
    column->addWidget(new PaymentWaiting(m_model, m_desktop, content));

    m_stripe = new StripeSection(m_model, m_desktop, apiOrigin, content);
    column->addWidget(m_stripe);
    m_oneOffCaption = new Label2(QStringLiteral("Разовая оплата в рублях или криптовалютой"), content);
    m_oneOffCaption->setObjectName(QStringLiteral("oneOffCaption"));
    column->addSpacing(4);
    addInset(column, m_oneOffCaption);

    addInset(column, new Label2(QStringLiteral("Сколько устройств"), content));
    m_control = new Segmented(deviceLabels(), deviceValues(), content);
    m_control->setObjectName(QStringLiteral("devicesControl"));
    addInset(column, m_control);
    m_plans = new QVBoxLayout;
    m_plans->setSpacing(0);
    column->addLayout(m_plans);
    QLabel* footnote =
        screenLabel(content, QStringLiteral("plansFootnote"), 11, QFont::Normal, Brand::secondaryText());
    footnote->setText(QStringLiteral("Дни прибавляются к текущей подписке, автосписаний нет."));
    addInset(column, footnote);
    column->addStretch(1);

    connect(m_control, &Segmented::chosen, this, [this](int value) {
        m_devices = value;
        rebuildPlans();
    });
    m_control->setValue(int(m_devices));
    refreshStripe();
    rebuildPlans();
    connect(&m_model, &AppModel::plansChanged, this, &TariffsView::rebuildPlans);
    for (auto signal : {&AppModel::cardChanged, &AppModel::stripeTiersChanged})
        connect(&m_model, signal, this, &TariffsView::refreshStripe);
}

void TariffsView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (event->spontaneous())
        return;
    const auto me = m_model.me();
    m_devices = me ? me->devices_limit : 1;
    m_control->setValue(int(m_devices));
    rebuildPlans();
}

void TariffsView::refreshStripe() {
    const bool offered = m_model.card() && !m_model.stripeTiers().isEmpty();
    m_stripe->setVisible(offered);
    m_oneOffCaption->setVisible(offered);
}

void TariffsView::rebuildPlans() {
    while (QLayoutItem* item = m_plans->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    QWidget* content = m_control->parentWidget();
    for (const Plan& plan : plansForDevices(m_model.plans(), m_devices)) {
        auto* card = new Card(content);
        card->setObjectName(QStringLiteral("plan_") + plan.code);
        auto* row = new QHBoxLayout;
        auto* texts = new QVBoxLayout;
        texts->setSpacing(2);
        QLabel* term = screenLabel(card, QStringLiteral("planTerm"), 17, QFont::DemiBold);
        term->setText(planTerm(plan));
        QLabel* price =
            screenLabel(card, QStringLiteral("planPrice"), 12, QFont::Normal, Brand::secondaryText());
        price->setText(planPriceLine(plan));
        texts->addWidget(term);
        texts->addWidget(price);
        row->addLayout(texts, 1);

        auto* pay = new QToolButton(card);
        pay->setObjectName(QStringLiteral("payButton"));
        pay->setText(QStringLiteral("Оплатить"));
        pay->setAccessibleName(pay->text());
        pay->setPopupMode(QToolButton::InstantPopup);
        pay->setToolButtonStyle(Qt::ToolButtonTextOnly);
        pay->setAutoRaise(true);
        pay->setCursor(Qt::PointingHandCursor);
        pay->setFont(Brand::font(13, QFont::DemiBold));
        pay->setStyleSheet(QStringLiteral("QToolButton { color: %1; padding: 4px 8px; border: none; }"
                                          "QToolButton::menu-indicator { image: none; width: 0; }")
                               .arg(Brand::brand().darker(115).name()));
        auto* menu = new QMenu(pay);
        menu->setObjectName(QStringLiteral("payMenu"));
        const QString code = plan.code;
        for (const auto& [label, method] :
             {std::pair{QStringLiteral("СБП"), QStringLiteral("sbp")},
              std::pair{QStringLiteral("Криптовалютой"), QStringLiteral("crypto")}}) {
            QAction* action = menu->addAction(label);
            action->setObjectName(method);
            connect(action, &QAction::triggered, this, [this, code, method = method] {
                startMainTask(m_model.pay(code, method, [this](QUrl url) { m_desktop.openUrl(url); }));
            });
        }
        pay->setMenu(menu);
        row->addWidget(pay, 0, Qt::AlignVCenter);
        card->body()->addLayout(row);
        m_plans->addWidget(card);
    }
}

#include "PaymentWaiting.h"

#include "Brand.h"
#include "ScreenText.h"
#include "model/AppModel.h"
#include "platform/Desktop.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

PaymentWaiting::PaymentWaiting(AppModel& model, Desktop& desktop, QWidget* parent)
    : Card(parent), m_model(model),
      m_title(screenLabel(this, QStringLiteral("paymentWaitingTitle"), 15, QFont::DemiBold)),
      m_reopen(new QPushButton(QStringLiteral("Открыть страницу оплаты"), this)) {
    setObjectName(QStringLiteral("paymentWaiting"));
    QLabel* text =
        screenLabel(this, QStringLiteral("paymentWaitingText"), 12, QFont::Normal, Brand::secondaryText());
    text->setText(QStringLiteral("Оплатите на открывшейся странице: подписка продлится, как только платёж "
                                 "пройдёт. Приложение проверяет это каждые несколько секунд."));
    m_reopen->setObjectName(QStringLiteral("reopenPayment"));
    auto* stop = new QPushButton(QStringLiteral("Не ждать"), this);
    stop->setObjectName(QStringLiteral("stopWaiting"));
    for (QPushButton* button : {m_reopen, stop}) {
        button->setCursor(Qt::PointingHandCursor);
        button->setMinimumWidth(button->sizeHint().width() + 14);
    }
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_reopen);
    buttons->addWidget(stop);
    buttons->addStretch(1);
    body()->addWidget(m_title);
    body()->addWidget(text);
    body()->addLayout(buttons);

    connect(m_reopen, &QPushButton::clicked, this, [this, &desktop] {
        if (const auto page = m_model.paymentPage())
            desktop.openUrl(*page);
    });
    connect(stop, &QPushButton::clicked, this, [this] { m_model.stopWaitingForPayment(); });
    connect(&m_model, &AppModel::pendingOrderChanged, this, &PaymentWaiting::refresh);
    refresh();
}

void PaymentWaiting::refresh() {
    const auto order = m_model.pendingOrder();
    setVisible(order.has_value());
    m_title->setText(QStringLiteral("Ждём оплату заказа № %1…").arg(order.value_or(0)));
    m_reopen->setVisible(m_model.paymentPage().has_value());
}

#pragma once

#include "Card.h"

class AppModel;
class Desktop;
class QLabel;
class QPushButton;

// The tariffs screen's card while a one-off payment is pending: which order the app waits for,
// the payment page to open again, and a way to stop waiting. Hidden with nothing pending.
class PaymentWaiting : public Card {
    Q_OBJECT
public:
    PaymentWaiting(AppModel& model, Desktop& desktop, QWidget* parent = nullptr);

private:
    void refresh();

    AppModel& m_model;
    QLabel* m_title;
    QPushButton* m_reopen;
};

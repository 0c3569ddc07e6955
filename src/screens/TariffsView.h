#pragma once

#include <QWidget>

class AppModel;
class Desktop;
class QLabel;
class QVBoxLayout;
class Segmented;
class StripeSection;

// The tariffs tab: while a payment is pending, the card that says the app waits for it; the card
// subscription when offered; then the one-off plans for the chosen number of devices with their
// payment menus.
class TariffsView : public QWidget {
    Q_OBJECT
public:
    TariffsView(AppModel& model, Desktop& desktop, const QString& apiOrigin, QWidget* parent = nullptr);
    qint64 devices() const { return m_devices; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void refreshStripe();
    void rebuildPlans();

    AppModel& m_model;
    Desktop& m_desktop;
    qint64 m_devices = 1;
    StripeSection* m_stripe;
    QLabel* m_oneOffCaption;
    Segmented* m_control;
    QVBoxLayout* m_plans;
};

#pragma once

#include <QWidget>

class AppModel;
class Desktop;
class QLabel;
class QVBoxLayout;
class Segmented;

// The card subscription: monthly or yearly billing, one card per tier with its subscribe button.
class StripeSection : public QWidget {
    Q_OBJECT
public:
    StripeSection(AppModel& model, Desktop& desktop, const QString& apiOrigin, QWidget* parent = nullptr);
    bool yearly() const { return m_yearly; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void rebuild();

    AppModel& m_model;
    Desktop& m_desktop;
    bool m_yearly = false;
    Segmented* m_billing;
    QVBoxLayout* m_tiers;
};

#pragma once

#include <QDateTime>
#include <QPointer>
#include <QWidget>

class AppModel;
class Card;
class Clock;
class Phase;
class QLabel;
class QPushButton;
class QVBoxLayout;
class ScreenHeader;
class ServerRow;
class StatusPanel;
class Vpn;

// The home tab: the subscription at a glance, the tunnel's state on a coloured panel with the
// power button, the cards that need the user (approval, device limit, connect error), the server
// list and the subscription card. Everything shown follows the model and the tunnel controller.
class HomeView : public QWidget {
    Q_OBJECT
public:
    HomeView(AppModel& model, Vpn& vpn, Clock& clock, QWidget* parent = nullptr);

    StatusPanel* statusPanel() const { return m_panel; }
    // The status panel's texts at a moment (the connected clock runs on it).
    QString title() const;
    QString subtitle(const QDateTime& at) const;
    Phase* tick() const { return m_tick; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void refresh();
    void refreshSubtitle();
    void rebuildServers();
    void updateTick();
    void pressPower();
    bool subscribed() const;

    AppModel& m_model;
    Vpn& m_vpn;
    Clock& m_clock;

    ScreenHeader* m_header;
    StatusPanel* m_panel;
    Card* m_approvalCard;
    Card* m_limitCard;
    QLabel* m_limitText;
    Card* m_errorCard;
    QLabel* m_errorText;
    QLabel* m_serversEmpty;
    QVBoxLayout* m_rows;
    QList<ServerRow*> m_serverRows;
    QLabel* m_headline;
    QLabel* m_detail;
    QPushButton* m_trial;
    Phase* m_tick;
};

#pragma once

#include <QString>
#include <QWidget>
#include <functional>

class AppModel;
class Card;
class Desktop;
class LoginItem;
class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class ScreenHeader;
class Store;
class Updater;
class HelperInstaller;
class QButtonGroup;
class QRadioButton;
class Vpn;

// The last tab: referral programme, promo code, behaviour switches, help links and the
// application's own version with its update controls.
class MoreView : public QWidget {
    Q_OBJECT
public:
    MoreView(AppModel& model, Updater& updater, Store& store, Desktop& desktop, LoginItem& loginItem,
             QString apiOrigin, QWidget* parent = nullptr);

    // The behaviour card takes one switch per setting: `read` is asked on every refresh, `write`
    // gets the user's choice.
    QCheckBox* addBehaviourSwitch(const QString& name, const QString& text, std::function<bool()> read,
                                  std::function<void(bool)> write);

    // The choice of what the tunnel carries (Vpn::tunnelMode), at the top of the behaviour card.
    // Choosing the whole system without the helper installs it first through `installer`; the
    // mode changes only once the helper is in place.
    void addTunnelModeChoice(Vpn& vpn, HelperInstaller& installer);

protected:
    void showEvent(QShowEvent* event) override;

private:
    Card* makeReferralCard(QWidget* content);
    Card* makePromoCard(QWidget* content);
    Card* makeHelpCard(QWidget* content);
    Card* makeApplicationCard(QWidget* content);
    void refresh();
    void refreshTunnelMode();
    void refreshEngine();
    void chooseTunnelMode(const QString& mode);
    // Stores a switch's setting; a write that fails says so, and the switch shows what holds.
    void storeSwitch(const QString& key, bool on);
    void submitPromo();

    AppModel& m_model;
    Updater& m_updater;
    Store& m_store;
    Desktop& m_desktop;
    LoginItem& m_loginItem;
    QString m_apiOrigin;

    struct Switch {
        QCheckBox* box;
        std::function<bool()> read;
    };
    QList<Switch> m_switches;

    Vpn* m_vpn = nullptr;
    QLabel* m_engineLine = nullptr;
    QLabel* m_engineAdvice = nullptr;
    HelperInstaller* m_installer = nullptr;
    QButtonGroup* m_modes = nullptr;
    QLabel* m_helperNote = nullptr;
    QWidget* m_helperProgress = nullptr;
    QLabel* m_helperError = nullptr;

    ScreenHeader* m_header;
    Card* m_referral;
    QLabel* m_badge;
    QLabel* m_referralText;
    QLabel* m_code;
    QLabel* m_invited;
    QLabel* m_paid;
    QLabel* m_days;
    Card* m_promo;
    QLineEdit* m_promoField;
    QPushButton* m_promoButton;
    Card* m_behaviour;
    QLabel* m_updateTitle;
    QLabel* m_updateNotes;
    QPushButton* m_install;
    QLabel* m_packageNote;
    QWidget* m_progressRow;
    QProgressBar* m_progress;
    QLabel* m_progressText;
    QLabel* m_current;
    QPushButton* m_check;
    QLabel* m_updateMessage;
    QCheckBox* m_autoUpdate;
};

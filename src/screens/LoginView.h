#pragma once

#include <QWidget>

class AppModel;
class BrandButton;
class Desktop;
class QLabel;
class QLineEdit;
class QPushButton;
class Store;

// The screen while no account is signed in: e-mail and password to sign in or create an account,
// or sign-in through the Telegram bot.
class LoginView : public QWidget {
    Q_OBJECT
public:
    LoginView(AppModel& model, Store& store, Desktop& desktop, QWidget* parent = nullptr);

    bool creating() const { return m_creating; }

    // Characters as a reader counts them: one per grapheme cluster, so "ё" typed as two code
    // points or an emoji with a skin tone is one.
    static qsizetype perceivedLength(const QString& text);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void refresh();
    void pressMain();
    bool mainEnabled() const;

    AppModel& m_model;
    Desktop& m_desktop;
    bool m_creating = false;
    QLabel* m_title;
    QLabel* m_subtitle;
    QLineEdit* m_email;
    QLineEdit* m_password;
    BrandButton* m_main;
    BrandButton* m_telegram;
    QPushButton* m_mode;
    QLabel* m_error;
};

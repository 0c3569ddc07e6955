#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class AppModel;
class QMessageBox;
class QWidget;

// Sign-in links ("vemko://auth?token=…") as they arrive from the desktop. Signed out, a link signs
// in at once. Signed in, a link would replace the account, so the user is asked first
// ("Войти как другой пользователь?"), shown the account it would replace; declining changes nothing.
class LinkSignIn : public QObject {
    Q_OBJECT
public:
    LinkSignIn(AppModel& model, QWidget& window, QObject* parent = nullptr);
    // False when `link` is not a sign-in link.
    bool handle(const QString& link);

private:
    void ask();

    AppModel& m_model;
    QWidget& m_window;
    QPointer<QMessageBox> m_prompt;
    QString m_token; // the token the open prompt is about (the latest link's)
};

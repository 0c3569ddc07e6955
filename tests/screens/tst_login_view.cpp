// The sign-in screen over the real model: the main button's enable rule, the Telegram button,
// the two modes, the error line and Enter in the password field.

#include "AccountRig.h"
#include "LoginView.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace {

struct LoginRig : AccountRig {
    LoginView& login() {
        if (!view) {
            serveAccount();
            make();
            show(makeSignInScreen(context(), nullptr));
        }
        return *static_cast<LoginView*>(view.get());
    }
    void type(const QString& email, const QString& password) {
        login();
        find<QLineEdit>("emailField")->setText(email);
        find<QLineEdit>("passwordField")->setText(password);
    }
};

} // namespace

class LoginViewTest : public QObject {
    Q_OBJECT
private slots:
    void enableRule_data() {
        QTest::addColumn<QString>("email");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("enabled");
        const auto row = [](const char* tag, const char* email, const QString& password, bool enabled) {
            QTest::newRow(tag) << QString(email) << password << enabled;
        };
        row("no @", "user.example.com", "longenough1", false);
        row("7 latin", "u@x", "1234567", false);
        row("8 latin", "u@x", "12345678", true);
        row("8 cyrillic", "u@x", "пароль12", true);
        row("7 cyrillic", "u@x", "парольй", false);
        // Each is several UTF-16 units but one character to a reader.
        row("8 emoji with tone", "u@x", QString("👍🏽").repeated(8), true);
        row("7 emoji with tone", "u@x", QString("👍🏽").repeated(7), false);
        row("7 combined letters", "u@x", QString("е\u0308").repeated(7), false);
        row("spaces count", "@", "        ", true);
    }
    void enableRule() {
        QFETCH(QString, email);
        QFETCH(QString, password);
        QFETCH(bool, enabled);
        LoginRig rig;
        rig.type(email, password);
        QCOMPARE(rig.find<QPushButton>("mainButton")->isEnabled(), enabled);
        QVERIFY(rig.find<QPushButton>("telegramButton")->isEnabled());
    }

    void startsFromStoredEmail() {
        LoginRig rig;
        rig.api.defaults.setString("email", "me@vemko.app");
        rig.login();
        QCOMPARE(rig.find<QLineEdit>("emailField")->text(), "me@vemko.app");
        QCOMPARE(rig.find<QLineEdit>("passwordField")->echoMode(), QLineEdit::Password);
        QVERIFY(!rig.find<QPushButton>("mainButton")->isEnabled());
        QCOMPARE(misnamedControls(rig.view.get()), QStringList());
    }

    // Both buttons wait while a flow runs; the Telegram button needs no fields at all.
    void telegramWithEmptyFields() {
        LoginRig rig;
        rig.service().on(
            "POST", "/api/v1/auth/tg/start",
            ScriptedReply::json(200, QJsonObject{{"key", "k1"}, {"url", "https://t.me/vemko_bot?start=k1"}}));
        rig.service().on("GET", "/api/v1/auth/tg/poll", ScriptedReply::empty(204)); // not confirmed yet
        rig.type("u@x", "12345678");
        rig.find<QLineEdit>("emailField")->clear();
        rig.find<QLineEdit>("passwordField")->clear();
        QVERIFY(rig.find<QPushButton>("telegramButton")->isEnabled());
        QTest::mouseClick(rig.find<QPushButton>("telegramButton"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(rig.desktop.opened, QList{QUrl("https://t.me/vemko_bot?start=k1")}, 20000);
        QVERIFY(rig.model->busy() && !rig.find<QPushButton>("telegramButton")->isEnabled());
        rig.type("u@x", "12345678");
        QVERIFY(!rig.find<QPushButton>("mainButton")->isEnabled());
    }

    void modeSwitchKeepsFieldsAndError() {
        LoginRig rig;
        rig.service().on("POST", "/api/v1/auth/login", refusal(401, "Неверный пароль"));
        rig.type("u@x", "12345678");
        QTest::mouseClick(rig.find<QPushButton>("mainButton"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(rig.find<QLabel>("loginError")->isVisible(), 20000);
        QCOMPARE(rig.text("loginError"), "Неверный пароль");
        QCOMPARE(rig.text("loginTitle"), "С возвращением");

        QTest::mouseClick(rig.find<QPushButton>("modeButton"), Qt::LeftButton);
        QCOMPARE(rig.text("loginTitle"), "Заводим нору");
        QCOMPARE(rig.find<QLineEdit>("emailField")->text(), "u@x");
        QCOMPARE(rig.find<QLineEdit>("passwordField")->text(), "12345678");
        QVERIFY(rig.find<QLabel>("loginError")->isVisible());

        // The main button now creates the account with the same fields.
        rig.service().on("POST", "/api/v1/auth/register", refusal(409, "Почта занята"));
        QTest::mouseClick(rig.find<QPushButton>("mainButton"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(rig.text("loginError"), QString("Почта занята"), 20000);
        QCOMPARE(rig.service().requests("POST", "/api/v1/auth/register").value(0).json().toObject(),
                 (QJsonObject{{"email", "u@x"}, {"password", "12345678"}}));
    }

    void enterInPasswordField() {
        LoginRig rig;
        rig.service().on("POST", "/api/v1/auth/login", refusal(401, "Неверный пароль"));
        rig.type("u@x", "1234567");
        QTest::keyClick(rig.find<QLineEdit>("passwordField"), Qt::Key_Return);
        rig.settle();
        QCOMPARE(rig.count("auth/login"), 0);
        rig.find<QLineEdit>("passwordField")->setText("12345678");
        QTest::keyClick(rig.find<QLineEdit>("passwordField"), Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(rig.count("auth/login") > 0, 20000);
    }
};

QTEST_MAIN(LoginViewTest)
#include "tst_login_view.moc"

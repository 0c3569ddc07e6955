#include "LinkSignIn.h"

#include "model/AppModel.h"
#include "model/SignInLink.h"
#include "platform/MainTask.h"

#include <QMessageBox>
#include <QPushButton>

namespace {

// Who is signed in, as the user knows the account.
QString accountName(const std::optional<Me>& me) {
    if (me && me->email && !me->email->isEmpty())
        return *me->email;
    if (me && me->telegram && !me->telegram->isEmpty())
        return u'@' + *me->telegram;
    return {};
}

} // namespace

LinkSignIn::LinkSignIn(AppModel& model, QWidget& window, QObject* parent)
    : QObject(parent), m_model(model), m_window(window) {}

bool LinkSignIn::handle(const QString& link) {
    const auto token = signInLinkToken(link);
    if (!token)
        return false;
    if (!m_model.signedIn()) {
        startMainTask(m_model.signInWithToken(*token));
        return true;
    }
    m_token = *token;
    ask();
    return true;
}

void LinkSignIn::ask() {
    const QString name = accountName(m_model.me());
    const QString replaced =
        name.isEmpty()
            ? QStringLiteral("Ссылка заменит аккаунт, в который вы сейчас вошли, другим.")
            : QStringLiteral("Сейчас вы вошли как %1. Ссылка заменит этот аккаунт другим.").arg(name);
    if (m_prompt) { // a newer link while the question is open: the question is now about it
        m_prompt->setInformativeText(replaced);
        return;
    }
    auto* prompt =
        new QMessageBox(QMessageBox::Question, QStringLiteral("Вход по ссылке"),
                        QStringLiteral("Войти как другой пользователь?"), QMessageBox::NoButton, &m_window);
    prompt->setObjectName(QStringLiteral("switchAccountPrompt"));
    prompt->setAttribute(Qt::WA_DeleteOnClose);
    prompt->setWindowModality(Qt::WindowModal);
    prompt->setInformativeText(replaced);
    QPushButton* signIn = prompt->addButton(QStringLiteral("Войти"), QMessageBox::AcceptRole);
    signIn->setObjectName(QStringLiteral("switchAccount"));
    QPushButton* keep = prompt->addButton(QStringLiteral("Отмена"), QMessageBox::RejectRole);
    keep->setObjectName(QStringLiteral("keepAccount"));
    prompt->setDefaultButton(keep);
    connect(signIn, &QPushButton::clicked, this, [this] { startMainTask(m_model.signInWithToken(m_token)); });
    m_prompt = prompt;
    prompt->open();
}

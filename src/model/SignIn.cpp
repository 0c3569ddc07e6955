// The sign-in flows of AppModel: e-mail, new account, Telegram bot, and a token from a link.

#include "device/Keychain.h"
#include "device/Store.h"
#include "model/AppModel.h"
#include "model/OpenableUrl.h"
#include "platform/Clock.h"
#include "platform/Defaults.h"
#include "service/Api.h"

#include <QPointer>
#include <chrono>

using namespace std::chrono_literals;

namespace {

namespace text {
const QString signInFailed = QStringLiteral("Не удалось войти");
const QString signUpFailed = QStringLiteral("Не удалось создать аккаунт");
const QString telegramFailed = QStringLiteral("Не получилось начать вход");
const QString telegramNotConfirmed = QStringLiteral("Вход не подтверждён, попробуйте ещё раз");
const QString signedIn = QStringLiteral("Вход выполнен");
const QString linkFailed = QStringLiteral("Ссылка входа не сработала");
const QString tokenNotSaved =
    QStringLiteral("Не удалось сохранить вход: нет доступа к хранилищу паролей системы (Secret Service). "
                   "Установите или разблокируйте его (например, gnome-keyring) и войдите снова.");
} // namespace text

const QString tokenKey = QStringLiteral("token");
const QString emailKey = QStringLiteral("email");

// The bot confirms within about 5 minutes or not at all.
constexpr auto telegramPollInterval = 2s;
constexpr int telegramPolls = 150;

// The token goes only to the secure store: a sign-in that cannot keep it has not happened.
void keepToken(Keychain& keychain, const QString& token) {
    if (!keychain.write(tokenKey, token))
        throw Fail(text::tokenNotSaved);
}

// Only spaces and tabs: a pasted line break is left for the service to refuse.
QString trimSpacesAndTabs(const QString& text) {
    const auto blank = [](QChar c) {
        return c == u' ' || c == u'\t';
    };
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && blank(text[begin]))
        ++begin;
    while (end > begin && blank(text[end - 1]))
        --end;
    return text.mid(begin, end - begin);
}

} // namespace

QCoro::Task<> AppModel::signIn(QString email, QString password) {
    Action action = [this, email, password] {
        return accountSignIn(false, email, password);
    };
    co_await run(text::signInFailed, std::move(action));
}

QCoro::Task<> AppModel::signUp(QString email, QString password) {
    Action action = [this, email, password] {
        return accountSignIn(true, email, password);
    };
    co_await run(text::signUpFailed, std::move(action));
}

QCoro::Task<> AppModel::accountSignIn(bool create, QString email, QString password) {
    const QPointer<AppModel> self(this);
    const QString address = trimSpacesAndTabs(email);
    QString token;
    if (create)
        token = co_await m_api.registerAccount(address, password);
    else
        token = co_await m_api.login(address, password);
    if (!self)
        co_return;
    keepToken(m_keychain, token);
    // The field shows again exactly what the user typed.
    m_store.d().setString(emailKey, email);
    signedInAnew();
    co_await load();
}

QCoro::Task<> AppModel::signInWithTelegram(OpenUrl open) {
    Action action = [this, open] {
        return telegramSignIn(open);
    };
    co_await run(text::telegramFailed, std::move(action));
}

QCoro::Task<> AppModel::telegramSignIn(OpenUrl open) {
    const QPointer<AppModel> self(this);
    const TgStart attempt = co_await m_api.tgStart();
    if (!self)
        co_return;
    // A link that does not parse opens nothing; the user may still confirm from the bot itself.
    if (const auto url = openableUrl(attempt.url); url && open)
        open(*url);

    for (int polls = 0;;) {
        co_await m_clock.sleep(telegramPollInterval);
        if (!self)
            co_return;
        const std::optional<QString> token = co_await m_api.tgPoll(attempt.key);
        if (!self)
            co_return;
        if (token) {
            keepToken(m_keychain, *token);
            signedInAnew();
            setMessage(text::signedIn);
            co_await load();
            co_return;
        }
        if (++polls == telegramPolls) {
            // Not a failure: run leaves this text in place.
            setError(text::telegramNotConfirmed);
            emit actionFailed(text::telegramNotConfirmed);
            co_return;
        }
    }
}

QCoro::Task<> AppModel::signInWithToken(QString token) {
    const QPointer<AppModel> self(this);
    const std::optional<QString> earlier = m_keychain.read(tokenKey);
    // Written first so that the account request below carries it; undone when it is refused.
    if (!m_keychain.write(tokenKey, token)) {
        setError(text::tokenNotSaved);
        emit actionFailed(text::tokenNotSaved);
        co_return;
    }

    std::optional<Me> account;
    QString failure;
    try {
        account = co_await m_api.me();
    } catch (const ApiError& refusal) {
        failure = refusal.message;
    } catch (...) {
        failure = text::linkFailed;
    }
    if (!self)
        co_return;

    if (account) {
        setMe(std::move(account));
        signedInAnew();
        setMessage(text::signedIn);
        co_await load();
        co_return;
    }

    // Undo the tentative write, unless another sign-in has stored its own token meanwhile.
    if (m_keychain.read(tokenKey) == token) {
        if (earlier)
            (void)m_keychain.write(tokenKey, *earlier);
        else
            m_keychain.remove(tokenKey);
    }
    setSignedIn(m_keychain.read(tokenKey).has_value());
    setError(failure);
    emit actionFailed(failure);
}

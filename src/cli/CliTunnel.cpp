// The tunnel and the server list: status, servers, select, connect, disconnect, mode.

#include "cli/Cli.h"
#include "cli/Console.h"
#include "device/Store.h"
#include "format/Format.h"
#include "model/AppModel.h"
#include "model/StatusLine.h"
#include "platform/Clock.h"
#include "platform/Defaults.h"
#include "platform/SystemTunnelConnection.h"
#include "tunnel/Texts.h"
#include "tunnel/Vpn.h"

#include <QJsonArray>
#include <algorithm>

using namespace std::chrono_literals;

namespace {

QString statusWord(VpnStatus status) {
    switch (status) {
    case VpnStatus::On:
        return QStringLiteral("on");
    case VpnStatus::Connecting:
        return QStringLiteral("connecting");
    case VpnStatus::Off:
        break;
    }
    return QStringLiteral("off");
}

// Edits to turn one text into the other (letters compared case-folded).
int distance(const QString& a, const QString& b) {
    const QString x = a.toCaseFolded();
    const QString y = b.toCaseFolded();
    QList<int> row(y.size() + 1);
    for (qsizetype j = 0; j <= y.size(); ++j)
        row[j] = static_cast<int>(j);
    for (qsizetype i = 1; i <= x.size(); ++i) {
        int diagonal = row[0];
        row[0] = static_cast<int>(i);
        for (qsizetype j = 1; j <= y.size(); ++j) {
            const int above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (x[i - 1] == y[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[y.size()];
}

// How long a fresh status waits for the exit address of a tunnel that is on.
constexpr auto exitLookupWait = 5s;

} // namespace

std::optional<ServerProfile> Cli::profileNamed(const QString& name) const {
    for (const ServerProfile& profile : m_c.model.profiles())
        if (profile.name == name)
            return profile;
    return std::nullopt;
}

QStringList Cli::closeNames(const QString& name) const {
    QStringList close;
    const QString wanted = name.toCaseFolded();
    for (const ServerProfile& profile : m_c.model.profiles()) {
        const QString candidate = profile.name.toCaseFolded();
        const bool similar = candidate.contains(wanted) || wanted.contains(candidate) ||
                             distance(profile.name, name) <= std::max<qsizetype>(2, name.size() / 3);
        if (similar && !close.contains(profile.name))
            close.append(profile.name);
    }
    return close;
}

// One shape in every state: every member is there, null only where there is nothing to tell
// (see the man page).
QCoro::Task<int> Cli::status(const Invocation& in) {
    co_await m_c.vpn.load();
    // Whether the subscription is active is part of every answer, whatever the tunnel does.
    if (m_c.model.signedIn())
        co_await m_c.model.load();
    if (m_c.vpn.status() == VpnStatus::On && !m_c.vpn.exit())
        co_await waitUntil([this] { return m_c.vpn.exit().has_value(); }, exitLookupWait);

    const VpnStatus state = m_c.vpn.status();
    // The note of the process that brought the tunnel up names its server; a tunnel without one
    // (started by an older version) ran through the last good one.
    std::optional<QString> server = state == VpnStatus::Off ? std::nullopt : m_c.vpn.profileName();
    if (!server && state == VpnStatus::On)
        server = m_c.store.d().string(QStringLiteral("lastGood"));
    const QString line = statusLine(state, server, m_c.model.me(), m_c.vpn.recovering());
    const auto since = state == VpnStatus::On ? m_c.vpn.since() : std::nullopt;
    const auto exitAddress = state == VpnStatus::On ? m_c.vpn.exit() : std::nullopt;
    const auto me = m_c.model.me();
    const auto orNull = [](const std::optional<QString>& text) {
        return text && !text->isEmpty() ? QJsonValue(*text) : QJsonValue();
    };
    const QString connected = since ? clock(since, m_c.clock.now()) : QString();
    const QJsonObject facts{
        {"status", statusWord(state)},
        {"line", line},
        {"recovering", m_c.vpn.recovering()},
        {"signed_in", m_c.model.signedIn()},
        {"active", me ? QJsonValue(me->active) : QJsonValue()},
        {"server", orNull(server)},
        {"exit", orNull(exitAddress)},
        {"since", since ? QJsonValue(since->toUTC().toString(Qt::ISODate)) : QJsonValue()},
        {"connected", orNull(connected)},
        {"engine", orNull(m_c.vpn.engineName())},
    };
    QStringList lines{line};
    // A connect under way (here or in the window) says which server it tries.
    if (state == VpnStatus::Connecting && server)
        lines.append(*server);
    if (since)
        lines.append(QStringLiteral("Подключено: ") + connected);
    if (exitAddress && !exitAddress->isEmpty())
        lines.append(QStringLiteral("Адрес выхода: ") + *exitAddress);
    co_return report(in, true, facts, lines);
}

QCoro::Task<int> Cli::servers(const Invocation& in) {
    if (!in.cached) {
        startProgress(QStringLiteral("Загружаю серверы…"));
        co_await refresh();
    }
    const auto selected = m_c.model.selected();
    QJsonArray list;
    QStringList lines;
    for (const ServerProfile& profile : m_c.model.profiles()) {
        const bool chosen = selected && selected->name == profile.name;
        const auto unusable = m_c.vpn.unusableReason(profile.name);
        list.append(QJsonObject{{"name", profile.name},
                                {"selected", chosen},
                                {"unusable", unusable ? QJsonValue(*unusable) : QJsonValue()}});
        lines.append((chosen ? QStringLiteral("✓ ") : QStringLiteral("  ")) + profile.name +
                     (unusable ? QStringLiteral(" (недоступен: %1)").arg(*unusable) : QString()));
    }
    QJsonObject facts{{"servers", list}, {"selected", selected ? QJsonValue(selected->name) : QJsonValue()}};
    if (list.isEmpty() && !in.json)
        m_console.err(QStringLiteral("Серверов пока нет: список приходит с активной подпиской"));
    co_return report(in, true, facts, lines, in.cached ? std::nullopt : m_c.model.error());
}

int Cli::serverNames() {
    for (const ServerProfile& profile : m_c.model.profiles())
        m_console.out(profile.name);
    return exitcode::ok;
}

QCoro::Task<int> Cli::select(const Invocation& in) {
    const QString name = in.words.join(u' ');
    co_await refresh();
    const auto profile = profileNamed(name);
    if (!profile) {
        const QStringList close = closeNames(name);
        QString text = QStringLiteral("Нет сервера «%1»").arg(name);
        if (!close.isEmpty())
            text += QStringLiteral(". Похожие: ") + close.join(QStringLiteral(", "));
        co_return fail(in, text, {{"close", QJsonArray::fromStringList(close)}});
    }
    const bool running = m_c.vpn.status() != VpnStatus::Off;
    m_c.model.select(*profile);
    if (!running)
        co_return report(in, true, {{"selected", profile->name}},
                         {QStringLiteral("Выбран сервер ") + profile->name});
    // The model has started moving the tunnel over; our own run takes its place and shows it.
    const bool connected = co_await connectTo(*profile);
    const QString line = statusLine(m_c.vpn.status(), m_c.vpn.profileName(), m_c.model.me());
    co_return report(
        in, connected,
        {{"selected", profile->name}, {"status", statusWord(m_c.vpn.status())}, {"line", line}}, {line},
        connected
            ? std::nullopt
            : std::optional<QString>(m_c.vpn.error().value_or(QStringLiteral("Не удалось подключиться"))));
}

QCoro::Task<int> Cli::connect(const Invocation& in) {
    if (const auto problem = needsAccount())
        co_return fail(in, *problem);
    startProgress(QStringLiteral("Загружаю аккаунт…"));
    co_await refresh();
    stopProgress();
    const auto me = m_c.model.me();
    if (!me)
        co_return fail(in, m_c.model.error().value_or(
                               QStringLiteral("Не удалось загрузить аккаунт: нет связи с сервисом")));
    if (!me->active)
        co_return fail(in, QStringLiteral("Подписка не активна"));

    std::optional<ServerProfile> profile = m_c.model.selected();
    if (!in.words.isEmpty()) {
        const QString name = in.words.join(u' ');
        profile = profileNamed(name);
        if (!profile) {
            const QStringList close = closeNames(name);
            QString text = QStringLiteral("Нет сервера «%1»").arg(name);
            if (!close.isEmpty())
                text += QStringLiteral(". Похожие: ") + close.join(QStringLiteral(", "));
            co_return fail(in, text, {{"close", QJsonArray::fromStringList(close)}});
        }
        m_c.model.select(*profile);
    }
    if (!profile)
        co_return fail(in, QStringLiteral("Нет серверов: список пуст"));

    const bool connected = co_await connectTo(*profile);
    const VpnStatus state = m_c.vpn.status();
    const QString line = statusLine(state, m_c.vpn.profileName(), m_c.model.me());
    QJsonObject facts{{"status", statusWord(state)},
                      {"line", line},
                      {"server", m_c.vpn.profileName() ? QJsonValue(*m_c.vpn.profileName()) : QJsonValue()}};
    std::optional<QString> error;
    if (!connected)
        error =
            m_c.vpn.error().value_or(QStringLiteral("Не удалось подключиться: сервер не пропустил трафик"));
    co_return report(in, connected, facts, {line}, error);
}

QCoro::Task<bool> Cli::connectTo(ServerProfile profile) {
    m_connecting = true;
    std::optional<QString> shown; // the last message already on the terminal
    const auto steps = QObject::connect(&m_c.vpn, &Vpn::profileNameChanged, this, [this] {
        if (const auto name = m_c.vpn.profileName(); name && m_c.vpn.status() != VpnStatus::On)
            startProgress(name->startsWith(QStringLiteral("пробую: "))
                              ? *name
                              : QStringLiteral("Подключаюсь · ") + *name);
    });
    const auto messages = QObject::connect(&m_c.vpn, &Vpn::errorChanged, this, [this, &shown] {
        const auto error = m_c.vpn.error();
        if (!error || !m_console.terminal())
            return;
        m_console.err(*error);
        shown = error;
        if (m_spinner.isActive())
            startProgress(m_progressText);
    });
    startProgress(QStringLiteral("Подключаюсь · ") + profile.name);
    co_await m_c.vpn.connect(profile);
    stopProgress();
    QObject::disconnect(steps);
    QObject::disconnect(messages);
    m_connecting = false;
    const bool connected = m_c.vpn.status() == VpnStatus::On;
    // The closing message goes out once: the caller's report writes it unless it is already up.
    if (!connected && shown && shown == m_c.vpn.error())
        m_suppressError = true;
    co_return connected;
}

QCoro::Task<int> Cli::disconnect(const Invocation& in) {
    co_await m_c.vpn.load();
    m_c.vpn.disconnect();
    co_return report(in, true, {{"status", statusWord(m_c.vpn.status())}},
                     {QStringLiteral("Туннель отключён")});
}

// The mode alone is shown or stored: the next connection follows it, a running tunnel stays as it is.
QCoro::Task<int> Cli::mode(const Invocation& in) {
    co_await m_c.vpn.load();
    if (!in.words.isEmpty() && !m_c.vpn.setTunnelMode(in.words.first()))
        co_return fail(in, m_c.store.d().notSavedText());
    const QString mode = m_c.vpn.tunnelMode();
    QStringList lines;
    for (const tunnel_mode_texts::Choice& choice : tunnel_mode_texts::choices)
        if (choice.mode == mode)
            lines = QStringList{QStringLiteral("Режим: %1 (%2)").arg(choice.title, mode), choice.covers};
    if (!in.words.isEmpty() && m_c.vpn.status() != VpnStatus::Off)
        lines.append(QStringLiteral("Режим сменится при следующем подключении"));
    const bool helper = SystemTunnelConnection::helperInstalled();
    std::optional<QString> warning;
    if (mode == QLatin1String("system") && !helper)
        warning = QStringLiteral("Помощник vemko-netd не установлен: установите его на экране «Ещё» "
                                 "в окне Вемко VPN, иначе подключение не начнётся");
    co_return report(in, true, {{"mode", mode}, {"helper_installed", helper}}, lines, warning);
}

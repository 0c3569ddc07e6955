// The command dispatch and what every command shares: refreshing state, running a model action,
// progress, links and the report at the end.

#include "cli/Cli.h"

#include "cli/Console.h"
#include "model/AppModel.h"
#include "platform/Clock.h"
#include "platform/Desktop.h"
#include "tunnel/Vpn.h"

#include <QJsonDocument>

using namespace std::chrono_literals;

namespace {
const QStringList spinnerFrames{"⠋", "⠙", "⠹", "⠸", "⠼", "⠴", "⠦", "⠧", "⠇", "⠏"};
} // namespace

Cli::Cli(Controllers controllers, Console& console) : m_c(controllers), m_console(console) {
    m_spinner.setInterval(100ms);
    QObject::connect(&m_spinner, &QTimer::timeout, this, [this] {
        m_frame = (m_frame + 1) % spinnerFrames.size();
        m_console.progress(spinnerFrames[m_frame] + u' ' + m_progressText);
    });
}

Cli::~Cli() = default;

QCoro::Task<int> Cli::run(Invocation in) {
    m_json = in.json;
    const QString& c = in.command;
    if (c == QLatin1String("status"))
        co_return co_await status(in);
    if (c == QLatin1String("login") || c == QLatin1String("signup"))
        co_return co_await signInWithPassword(in, c == QLatin1String("signup"));
    if (c == QLatin1String("telegram"))
        co_return co_await telegram(in);
    if (c == QLatin1String("link"))
        co_return co_await link(in);
    if (c == QLatin1String("account"))
        co_return co_await account(in);
    if (c == QLatin1String("servers"))
        co_return co_await servers(in);
    if (c == QLatin1String("_servers"))
        co_return serverNames();
    if (c == QLatin1String("select"))
        co_return co_await select(in);
    if (c == QLatin1String("connect"))
        co_return co_await connect(in);
    if (c == QLatin1String("disconnect"))
        co_return co_await disconnect(in);
    if (c == QLatin1String("trial"))
        co_return co_await trial(in);
    if (c == QLatin1String("promo"))
        co_return co_await promo(in);
    if (c == QLatin1String("devices"))
        co_return co_await devices(in);
    if (c == QLatin1String("unbind"))
        co_return co_await unbind(in);
    if (c == QLatin1String("plans"))
        co_return co_await plans(in);
    if (c == QLatin1String("pay"))
        co_return co_await pay(in);
    if (c == QLatin1String("subscribe"))
        co_return co_await subscribe(in);
    if (c == QLatin1String("update"))
        co_return co_await update(in);
    m_console.err(QStringLiteral("vemkoctl: неизвестная команда «%1»").arg(c));
    co_return exitcode::usage;
}

int Cli::interrupt() {
    stopProgress();
    if (m_connecting) {
        m_c.vpn.disconnect();
        m_console.err(QStringLiteral("Прервано: подключение остановлено"));
    } else {
        m_console.err(QStringLiteral("Прервано"));
    }
    return exitcode::interrupted;
}

QCoro::Task<> Cli::refresh() {
    co_await m_c.vpn.load();
    if (m_c.model.signedIn())
        co_await m_c.model.load();
}

QCoro::Task<bool> Cli::action(const Flow& start, QString progressText) {
    bool failed = false;
    const auto watch =
        QObject::connect(&m_c.model, &AppModel::actionFailed, this, [&failed] { failed = true; });
    startProgress(progressText);
    QCoro::Task<> flow = start();
    co_await std::move(flow);
    stopProgress();
    QObject::disconnect(watch);
    co_return !failed;
}

QCoro::Task<> Cli::waitUntil(std::function<bool()> done, std::chrono::milliseconds limit) {
    const QDateTime until = m_c.clock.now().addMSecs(limit.count());
    while (!done() && m_c.clock.now() < until)
        co_await m_c.clock.sleep(100ms);
}

std::optional<QString> Cli::needsAccount() const {
    if (m_c.model.signedIn())
        return std::nullopt;
    return QStringLiteral("Вы не вошли. Войдите: vemkoctl login ЭЛ.ПОЧТА (или vemkoctl telegram)");
}

void Cli::offerLink(const QUrl& url, const QString& caption) {
    const QString line = caption + QStringLiteral(": ") + url.toString();
    // Standard output of --json holds the one object only.
    if (m_json)
        m_console.err(line);
    else
        m_console.out(line);
    if (m_console.hasDesktop())
        m_c.desktop.openUrl(url);
}

int Cli::report(const Invocation& in, bool ok, QJsonObject facts, const QStringList& lines,
                const std::optional<QString>& error) {
    stopProgress();
    if (in.json) {
        facts.insert(QStringLiteral("ok"), ok);
        // A complaint after a successful action (a load cycle's) is a warning, not the failure.
        if (error)
            facts.insert(ok ? QStringLiteral("warning") : QStringLiteral("error"), *error);
        m_console.out(QString::fromUtf8(QJsonDocument(facts).toJson(QJsonDocument::Compact)));
    } else {
        for (const QString& line : lines)
            m_console.out(line);
    }
    if (error && !std::exchange(m_suppressError, false))
        m_console.err(*error);
    m_suppressError = false;
    return ok ? exitcode::ok : exitcode::failed;
}

int Cli::fail(const Invocation& in, const QString& error, QJsonObject facts) {
    return report(in, false, std::move(facts), {}, error);
}

void Cli::startProgress(const QString& text) {
    if (!m_console.terminal())
        return;
    m_progressText = text;
    m_console.progress(spinnerFrames[m_frame] + u' ' + text);
    m_spinner.start();
}

void Cli::stopProgress() {
    if (!m_spinner.isActive())
        return;
    m_spinner.stop();
    m_console.progress(QString());
}

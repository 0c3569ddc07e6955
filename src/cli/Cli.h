#pragma once

#include "cli/CommandLine.h"
#include "service/ServerProfile.h"

#include <QCoroTask>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <optional>

class AppModel;
class Clock;
class Console;
class Desktop;
class Store;
class Updater;
class Vpn;

// The controllers the commands drive: the very objects the window drives.
struct Controllers {
    AppModel& model;
    Vpn& vpn;
    Updater& updater;
    Store& store;
    Desktop& desktop;
    Clock& clock;
};

// Runs one command over the app's controllers and says how it ended (an exit status).
class Cli final : public QObject {
    Q_OBJECT
public:
    Cli(Controllers controllers, Console& console);
    ~Cli() override;

    QCoro::Task<int> run(Invocation invocation);
    // Ctrl-C: ends the wait in progress (stopping a connect that runs) and gives the exit status.
    int interrupt();

private:
    QCoro::Task<int> status(const Invocation& in);
    QCoro::Task<int> signInWithPassword(const Invocation& in, bool create);
    QCoro::Task<int> telegram(const Invocation& in);
    QCoro::Task<int> link(const Invocation& in);
    QCoro::Task<int> account(const Invocation& in);
    QCoro::Task<int> servers(const Invocation& in);
    int serverNames();
    QCoro::Task<int> select(const Invocation& in);
    QCoro::Task<int> connect(const Invocation& in);
    QCoro::Task<int> disconnect(const Invocation& in);
    QCoro::Task<int> trial(const Invocation& in);
    QCoro::Task<int> promo(const Invocation& in);
    QCoro::Task<int> devices(const Invocation& in);
    QCoro::Task<int> unbind(const Invocation& in);
    QCoro::Task<int> plans(const Invocation& in);
    QCoro::Task<int> pay(const Invocation& in);
    QCoro::Task<int> subscribe(const Invocation& in);
    QCoro::Task<int> update(const Invocation& in);

    // Brings tunnel and account up to date (the account only when signed in).
    QCoro::Task<> refresh();
    // Starts one of the model's user actions and waits for it; false when it did not reach its end.
    // Callers name the starter in a local: gcc 12 mishandles temporaries inside a co_await expression.
    using Flow = std::function<QCoro::Task<>()>;
    QCoro::Task<bool> action(const Flow& start, QString progressText);
    // Connects `profile`, showing each step on a terminal; true when the traffic probe passed.
    QCoro::Task<bool> connectTo(ServerProfile profile);
    // Waits (on the app's clock) until `done` holds or `limit` passes.
    QCoro::Task<> waitUntil(std::function<bool()> done, std::chrono::milliseconds limit);

    // The failure of a command that needs a signed-in account, or nothing.
    std::optional<QString> needsAccount() const;
    std::optional<ServerProfile> profileNamed(const QString& name) const;
    QStringList closeNames(const QString& name) const;
    // Shows a link the user should open and opens it on a desktop.
    void offerLink(const QUrl& url, const QString& caption);

    // The end of a reporting command: the facts as JSON or as lines, the error on standard error.
    int report(const Invocation& in, bool ok, QJsonObject facts, const QStringList& lines,
               const std::optional<QString>& error = std::nullopt);
    int fail(const Invocation& in, const QString& error, QJsonObject facts = {});

    void startProgress(const QString& text);
    void stopProgress();

    Controllers m_c;
    Console& m_console;
    QTimer m_spinner;
    QString m_progressText;
    int m_frame = 0;
    bool m_json = false;
    bool m_connecting = false;
    bool m_suppressError = false; // the closing error is already on the terminal // a connect of ours runs:
                                  // an interrupt stops the tunnel
};

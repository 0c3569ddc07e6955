// Every command through the real command-line parsing, over the app's controllers: the test
// service, the fake tunnel service, the virtual clock.

#include "cli/CliRig.h"
#include "tunnel/TunnelNote.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

namespace {

// What the service and the machine hold before a command runs.
void prepare(CliRig& rig, const QString& scenario) {
    TestService& service = rig.service();
    if (scenario == u"signed out") {
        rig.cache(configs({"Амстердам", "Рига"}));
        return;
    }
    rig.api.signIn();
    rig.serveAccount(scenario != u"inactive");
    rig.api.defaults.setString(u"hwid"_qs, u"abc"_qs); // the account's one device is this computer
    service.on("POST", "/api/v1/auth/login", ok(R"({"token":"fresh"})"));
    service.on("POST", "/api/v1/trial", ok("{}"));
    service.on("POST", "/api/v1/promo", ok(R"({"ok":false,"message":"Код не найден"})"));
    service.on("POST", "/api/v1/devices/delete", ok("{}"));
    service.on("POST", "/api/v1/pay", ok(R"({"order_id":77,"amount":299,"url":"https://pay.example/77"})"));
    service.on("GET", "/api/v1/pay/77", ok(R"({"status":"paid"})"));
    service.on("POST", "/api/v1/subscribe/stripe", ok(R"({"url":"https://checkout.example/s"})"));
    service.on("POST", "/api/v1/auth/tg/start",
               ok(R"({"key":"k1","url":"https://t.me/vemko_bot?start=k1"})"));
    service.enqueue("GET", "/api/v1/auth/tg/poll", ScriptedReply::empty(204));
    service.on("GET", "/api/v1/auth/tg/poll", ok(R"({"token":"tg"})"));
    if (scenario == u"refusing") {
        service.on("POST", "/api/v1/auth/login", refusal(401, u"Неверный пароль"_qs));
        service.on("GET", "/api/v1/pay/77", ok(R"({"status":"pending"})"));
        service.on("POST", "/api/v1/subscribe/stripe", ok(R"({"url":"not a link"})"));
        service.on("GET", "/api/v1/ip", ScriptedReply::empty(500)); // the tunnel carries nothing
        service.on("GET", "/api/v1/app/version", ScriptedReply::empty(503));
        service.on("GET", "/api/v1/auth/tg/poll", refusal(410, u"Ссылка для входа устарела"_qs));
    }
    if (scenario.startsWith(u"tunnel")) {
        // Brought up by an earlier process: this one sees the running tunnel and, once proved, the note.
        rig.tunnels.preload();
        rig.tunnels.connection()->setStatus(scenario == u"tunnel on" ? TunnelStatus::Connected
                                                                     : TunnelStatus::Connecting);
        rig.api.defaults.setString(u"lastGood"_qs, u"Рига"_qs);
        if (scenario == u"tunnel on")
            rig.tunnels.setSharedNote(
                TunnelNote::proof(u"Рига"_qs, rig.tunnels.connection()->connectedDate(), rig.clock.now())
                    .toJson());
    }
    if (scenario == u"newer build")
        service.on("GET", "/api/v1/app/version", version(CliRig::build + 1));
}

} // namespace

class CliCommandsTest : public QObject {
    Q_OBJECT

private slots:
    void commands_data() {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("password"); // the one line a prompt reads
        QTest::addColumn<int>("exit");
        QTest::addColumn<QString>("out"); // in standard output
        QTest::addColumn<QString>("err"); // in standard error ("" : nothing there)

        const QString none;
        QTest::newRow("status on, from another process")
            << "tunnel on" << QStringList{"status"} << none << 0
            << "Подключено · Рига\nПодключено: 00:00\nАдрес выхода: Riga · 5.6.7.8" << none;
        QTest::newRow("account") << "active" << QStringList{"account"} << none << 0
                                 << "Аккаунт: u@example.com\nПодписка: активна до 01.03.2026, осталось 44 "
                                    "дня 12 ч\nУстройства: 1 из 3"
                                 << none;
        QTest::newRow("servers") << "active" << QStringList{"servers"} << none << 0 << "✓ Амстердам\n  Рига"
                                 << none;
        QTest::newRow("servers cached, signed out") << "signed out" << QStringList{"servers", "--cached"}
                                                    << none << 0 << "✓ Амстердам\n  Рига" << none;
        QTest::newRow("select") << "active" << QStringList{"select", "Рига"} << none << 0
                                << "Выбран сервер Рига" << none;
        QTest::newRow("select unknown") << "active" << QStringList{"select", "рыга"} << none << 1 << ""
                                        << "Нет сервера «рыга». Похожие: Рига";
        QTest::newRow("connect") << "active" << QStringList{"connect"} << none << 0
                                 << "Подключено · Амстердам" << none;
        QTest::newRow("connect, probe fails")
            << "refusing" << QStringList{"connect"} << none << 1 << "Отключено"
            << "Сервер не пропустил трафик";
        QTest::newRow("connect inactive") << "inactive" << QStringList{"connect"} << none << 1 << ""
                                          << "Подписка не активна";
        QTest::newRow("disconnect") << "active" << QStringList{"disconnect"} << none << 0
                                    << "Туннель отключён" << none;
        QTest::newRow("mode socks") << "active" << QStringList{"mode", "socks"} << none << 0
                                    << "Режим: Только SOCKS-прокси 127.0.0.1:10808 (socks)" << none;
        QTest::newRow("mode while connected")
            << "tunnel on" << QStringList{"mode", "desktop_proxy"} << none << 0
            << "Режим: Через системный прокси (desktop_proxy)\nПрограммы, которые следуют настройкам прокси "
               "GNOME или KDE; без прав администратора\nРежим сменится при следующем подключении"
            << none;
        QTest::newRow("usage: unknown mode") << "active" << QStringList{"mode", "vpn"} << none << 2 << ""
                                             << "режим: system, desktop_proxy или socks";
        QTest::newRow("login") << "active" << QStringList{"login", " u@example.com"} << "secret" << 0
                               << "Вход выполнен" << none;
        QTest::newRow("login refused")
            << "refusing" << QStringList{"login", "u@example.com"} << "secret" << 1 << ""
            << "Неверный пароль";
        QTest::newRow("login without password")
            << "active" << QStringList{"login", "u@example.com"} << none << 1 << ""
            << "Пароль не введён";
        QTest::newRow("telegram") << "active" << QStringList{"telegram"} << none << 0
                                  << "Откройте бота: https://t.me/vemko_bot?start=k1\nВход выполнен" << none;
        QTest::newRow("telegram expired")
            << "refusing" << QStringList{"telegram"} << none << 1 << "Откройте бота"
            << "Ссылка для входа устарела";
        QTest::newRow("link") << "active" << QStringList{"link", "vemko://auth?token=t1"} << none << 0
                              << "Вход выполнен" << none;
        QTest::newRow("link from input")
            << "active" << QStringList{"link"} << "vemko://auth?token=t1" << 0 << "Вход выполнен" << none;
        QTest::newRow("not a sign-in link")
            << "active" << QStringList{"link", "https://vemko.app"} << none << 2 << ""
            << "это не ссылка входа";
        QTest::newRow("trial") << "active" << QStringList{"trial"} << none << 0 << "Пробный доступ включён"
                               << none;
        QTest::newRow("promo: the service's word")
            << "active" << QStringList{"promo", "X1"} << none << 0 << "Код не найден" << none;
        QTest::newRow("devices") << "active" << QStringList{"devices"} << none << 0
                                 << "✓ abc  ThinkPad (этот компьютер)\nЗанято 1 из 3" << none;
        QTest::newRow("unbind this") << "active" << QStringList{"unbind", "--this"} << none << 0
                                     << "Устройство отвязано" << none;
        QTest::newRow("plans")
            << "active" << QStringList{"plans"} << none << 0
            << "m1  30 дней  299 ₽ · 299 ₽ за месяц\nПодписка картой (vemkoctl "
               "subscribe "
               "УСТРОЙСТВА "
               "month|year):\n  3 устройства: $4.99 в месяц; $49.90 в год · $4.16 в месяц\n"
               "  3 дня бесплатно, списание только после них"
            << none;
        QTest::newRow("plans for 2") << "active" << QStringList{"plans", "--devices", "2"} << none << 0
                                     << "Разовых тарифов на 2 нет" << none;
        QTest::newRow("pay") << "active" << QStringList{"pay", "m1", "sbp"} << none << 0
                             << "Страница оплаты: https://pay.example/77\nОплата прошла, подписка продлена"
                             << none;
        QTest::newRow("pay, never confirmed")
            << "refusing" << QStringList{"pay", "m1", "crypto"} << none << 1 << "Страница оплаты"
            << "Оплата пока не подтверждена (заказ 77)";
        QTest::newRow("pay unknown plan") << "active" << QStringList{"pay", "m9", "sbp"} << none << 1 << ""
                                          << "Нет тарифа «m9». Тарифы: m1";
        QTest::newRow("subscribe") << "active" << QStringList{"subscribe", "3", "year"} << none << 0
                                   << "Оформление подписки: https://checkout.example/s" << none;
        QTest::newRow("subscribe, no page")
            << "refusing" << QStringList{"subscribe", "3", "month"} << none << 1 << ""
            << "Сервис не прислал страницу оплаты";
        QTest::newRow("update: newer") << "newer build" << QStringList{"update", "check"} << none << 0
                                       << "Доступна версия 1.3 (сборка 43)" << none;
        QTest::newRow("update: current") << "active" << QStringList{"update", "check"} << none << 0
                                         << "Установлена последняя версия 1.2.3 (сборка 42)" << none;
        QTest::newRow("update: service down")
            << "refusing" << QStringList{"update", "check"} << none << 1 << ""
            << "Не удалось проверить обновление";
        QTest::newRow("usage: unbind both")
            << "active" << QStringList{"unbind", "abc", "--this"} << none << 2 << ""
            << "укажите HWID или --this";
        QTest::newRow("usage: option of another command")
            << "active" << QStringList{"status", "--this"} << none << 2 << ""
            << "--this не относится к команде status";
        QTest::newRow("usage: pay method") << "active" << QStringList{"pay", "m1", "card"} << none << 2 << ""
                                           << "способ оплаты: sbp или crypto";
    }

    void commands() {
        QFETCH(QString, scenario);
        QFETCH(QStringList, arguments);
        QFETCH(QString, password);
        QFETCH(int, exit);
        QFETCH(QString, out);
        QFETCH(QString, err);
        CliRig rig;
        prepare(rig, scenario);
        if (!password.isNull())
            rig.console.input = password;

        QCOMPARE(rig.run(arguments), exit);
        QVERIFY2(rig.out().contains(out), qPrintable(rig.out()));
        if (err.isNull())
            QVERIFY2(rig.err().isEmpty(), qPrintable(rig.err()));
        else
            QVERIFY2(rig.err().contains(err), qPrintable(rig.err()));
    }

    // What the commands changed, beyond what they printed.
    void effects() {
        {
            CliRig rig;
            prepare(rig, u"active"_qs);
            QCOMPARE(rig.run({"connect", "Рига"}), 0);
            QCOMPARE(rig.stored(u"profile_name"_qs), u"Рига"_qs);
            QCOMPARE(rig.tunnels.connection()->startedServers, QStringList{u"Рига"_qs});
        }
        {
            // The mode is stored for the window and read back by the next command.
            CliRig rig;
            prepare(rig, u"signed out"_qs);
            QCOMPARE(rig.run({"mode", "desktop_proxy"}), 0);
            QCOMPARE(rig.stored(u"tunnel_mode"_qs), u"desktop_proxy"_qs);
            QCOMPARE(rig.run({"mode", "--json"}), 0);
            QVERIFY(rig.console.outLines.last().contains(uR"("mode":"desktop_proxy")"_qs));
            rig.api.defaults.full = true; // a change that cannot be saved fails, and says why
            QCOMPARE(rig.run({"mode", "socks"}), 1);
            QCOMPARE(rig.console.errLines.last(), u"Настройка не сохранилась: нет места на диске"_qs);
        }
        {
            CliRig rig;
            prepare(rig, u"active"_qs);
            rig.console.input = u"secret"_qs;
            QCOMPARE(rig.run({"login", "u@example.com"}), 0);
            QCOMPARE(rig.token(), u"fresh"_qs);
            // One load cycle per command: the model's own start-up load stays off.
            QCOMPARE(rig.count(u"me"_qs), 1);
        }
        {
            CliRig rig;
            prepare(rig, u"active"_qs);
            QCOMPARE(rig.run({"unbind", "--this"}), 0);
            QCOMPARE(rig.service()
                         .requests("POST", "/api/v1/devices/delete")
                         .first()
                         .json()[u"hwid"_qs]
                         .toString(),
                     u"abc"_qs);
        }
        {
            // The payment page opens only where a desktop is.
            CliRig rig;
            prepare(rig, u"active"_qs);
            rig.console.desktop = true;
            QCOMPARE(rig.run({"pay", "m1", "sbp"}), 0);
            QCOMPARE(rig.desktop.opened, QList<QUrl>{QUrl(u"https://pay.example/77"_qs)});
        }
    }

    // --json: one object on standard output, the same facts under stable names.
    void json_data() {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exit");
        QTest::addColumn<QString>("facts"); // members that must be there, with their values as JSON

        // status: the same members in every state ("*": there, not null).
        QTest::newRow("status signed out")
            << "signed out" << QStringList{"--json", "status"} << 0
            << R"({"ok":true,"status":"off","line":"Подписка не активна","signed_in":false,"active":null,)"
               R"("server":null,"exit":null,"since":null,"connected":null,"engine":"V2Ray 4.34.0","recovering":false})";
        QTest::newRow("status off")
            << "active" << QStringList{"--json", "status"} << 0
            << R"({"ok":true,"status":"off","line":"Отключено","signed_in":true,"active":true,)"
               R"("server":null,"exit":null,"since":null,"connected":null,"engine":"V2Ray 4.34.0","recovering":false})";
        QTest::newRow("status off, not subscribed")
            << "inactive" << QStringList{"--json", "status"} << 0
            << R"({"ok":true,"status":"off","line":"Подписка не активна","signed_in":true,"active":false,)"
               R"("server":null,"exit":null,"since":null,"connected":null,"engine":"V2Ray 4.34.0","recovering":false})";
        QTest::newRow("status connecting")
            << "tunnel connecting" << QStringList{"--json", "status"} << 0
            << R"({"ok":true,"status":"connecting","line":"Подключаюсь…","signed_in":true,"active":true,)"
               R"("server":null,"exit":null,"since":null,"connected":null,"engine":"V2Ray 4.34.0","recovering":false})";
        QTest::newRow("status on")
            << "tunnel on" << QStringList{"--json", "status"} << 0
            << R"({"ok":true,"status":"on","line":"Подключено · Рига","signed_in":true,"active":true,)"
               R"("server":"Рига","exit":"*","since":"*","connected":"*","engine":"V2Ray 4.34.0","recovering":false})";
        QTest::newRow("account")
            << "active" << QStringList{"account", "--json"} << 0
            << R"({"ok":true,"email":"u@example.com","telegram":null,"active":true,)"
               R"("expire_at":"2026-03-01T00:00:00Z","expire":"01.03.2026","days_left":44,)"
               R"("devices_used":1,"devices_limit":3})";
        QTest::newRow("servers")
            << "active" << QStringList{"servers", "--json"} << 0
            << R"({"ok":true,"selected":"Амстердам","servers":[{"name":"Амстердам","selected":true,)"
               R"("unusable":null},{"name":"Рига","selected":false,"unusable":null}]})";
        QTest::newRow("plans")
            << "active" << QStringList{"plans", "--json"} << 0
            << R"({"ok":true,"devices":3,"plans":[{"code":"m1","days":30,"devices":3,"price":299,)"
               R"("monthly":299}],"card":true,"card_trial_days":3})";
        QTest::newRow("connect")
            << "active" << QStringList{"connect", "--json"} << 0
            << R"({"ok":true,"status":"on","server":"Амстердам","line":"Подключено · Амстердам"})";
        QTest::newRow("select unknown")
            << "active" << QStringList{"select", "Рыга", "--json"} << 1
            << R"({"ok":false,"error":"Нет сервера «Рыга». Похожие: Рига","close":["Рига"]})";
        QTest::newRow("pay") << "active" << QStringList{"pay", "m1", "sbp", "--json"} << 0
                             << R"({"ok":true,"order_id":77,"url":"https://pay.example/77","paid":true})";
        QTest::newRow("signed out") << "signed out" << QStringList{"devices", "--json"} << 1
                                    << R"({"ok":false})";
    }

    void json() {
        QFETCH(QString, scenario);
        QFETCH(QStringList, arguments);
        QFETCH(int, exit);
        QFETCH(QString, facts);
        CliRig rig;
        prepare(rig, scenario);

        QCOMPARE(rig.run(arguments), exit);
        QCOMPARE(rig.console.outLines.size(), 1);
        QJsonParseError error;
        const QJsonObject object =
            QJsonDocument::fromJson(rig.console.outLines.first().toUtf8(), &error).object();
        QCOMPARE(error.error, QJsonParseError::NoError);
        const QJsonObject wanted = QJsonDocument::fromJson(facts.toUtf8()).object();
        for (auto it = wanted.begin(); it != wanted.end(); ++it)
            QVERIFY2(it.value() == u"*"_qs ? !object.value(it.key()).isNull()
                                           : object.value(it.key()) == it.value(),
                     qPrintable(it.key() + u" in "_qs + rig.console.outLines.first()));
        if (arguments.contains(u"status"_qs))
            QCOMPARE(object.keys(), wanted.keys());
    }

    // Ctrl-C while a connect waits for the tunnel: the tunnel is stopped and the status is 130.
    void interruptStopsAConnect() {
        CliRig rig;
        prepare(rig, u"active"_qs);
        rig.tunnels.connectAfter = std::nullopt; // the platform never reports connected
        auto parsed = parseCommandLine({u"connect"_qs});
        std::optional<int> code;
        startMainTask([](Cli& cli, Invocation in, std::optional<int>& result) -> QCoro::Task<> {
            result = co_await cli.run(std::move(in));
        }(rig.cli(), std::get<Invocation>(parsed), code));
        QVERIFY(drive([&] { return rig.tunnels.connection() && !rig.tunnels.connection()->starts.isEmpty(); },
                      &rig.clock));
        QCOMPARE(rig.cli().interrupt(), 130);
        QCOMPARE(rig.tunnels.connection()->stops, 1);
        QCOMPARE(rig.tunnel().status(), VpnStatus::Off);
        QVERIFY(rig.err().contains(u"Прервано: подключение остановлено"_qs));
        QVERIFY(drive([&] { return code.has_value(); }, &rig.clock));
    }
};

QTEST_GUILESS_MAIN(CliCommandsTest)
#include "tst_cli_commands.moc"

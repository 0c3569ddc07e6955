// The vemkoctl program itself, as a child process against the test service: what only a real
// process shows (exit statuses, the password on standard input or from a terminal without echo,
// one JSON object on standard output, Ctrl-C).

#include "cli/CommandLine.h"
#include "model/AppCore.h"
#include "support/TestService.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

struct Result {
    int exit = -1;
    QString out;
    QString err;
};

} // namespace

class VemkoctlTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    std::unique_ptr<TestService> m_service;

    QString program() const { return qEnvironmentVariable("VEMKO_BUILD_DIR") + u"/bin/vemkoctl"_qs; }

    // A signed-out user of this machine (no Secret Service) whose settings hold two cached servers.
    void prepare(QProcess& process) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"XDG_CONFIG_HOME"_qs, m_home.filePath(u"config"_qs));
        env.insert(u"XDG_RUNTIME_DIR"_qs, m_home.filePath(u"run"_qs));
        env.insert(u"VEMKO_API_ORIGIN"_qs, m_service->origin());
        env.insert(u"DBUS_SESSION_BUS_ADDRESS"_qs, u"unix:path=/nonexistent"_qs);
        env.remove(u"DISPLAY"_qs);
        env.remove(u"WAYLAND_DISPLAY"_qs);
        process.setProcessEnvironment(env);
        process.setProgram(program());
    }

    // Runs to the end, the test service answering meanwhile.
    Result finish(QProcess& process) {
        Result result;
        if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 30000))
            return result;
        result.exit = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        result.out = QString::fromUtf8(process.readAllStandardOutput());
        result.err = QString::fromUtf8(process.readAllStandardError());
        return result;
    }

    Result run(const QStringList& arguments, const QByteArray& input = {}) {
        QProcess process;
        prepare(process);
        process.setArguments(arguments);
        process.start();
        if (!process.waitForStarted())
            return {};
        process.write(input);
        process.closeWriteChannel();
        return finish(process);
    }

private slots:
    void initTestCase() {
        QVERIFY2(QFileInfo(program()).isExecutable(), qPrintable(program()));
        // Рига is a VMess server; Европа авто's entry names no server at all.
        const auto server = [](const char* name) {
            const QJsonObject vnext{
                {"address", "lv.example"}, {"port", 443}, {"users", QJsonArray{QJsonObject{{"id", "u"}}}}};
            return name == QByteArray("Рига")
                       ? QJsonObject{{"remarks", name},
                                     {"outbounds",
                                      QJsonArray{QJsonObject{
                                          {"protocol", "vmess"},
                                          {"settings", QJsonObject{{"vnext", QJsonArray{vnext}}}}}}}}
                       : QJsonObject{{"remarks", name}};
        };
        const QJsonObject stored{
            {"configs",
             QString::fromUtf8(QJsonDocument(QJsonArray{server("Европа авто"), server("Рига")}).toJson())},
            {"profile_name", "Рига"}};
        QVERIFY(QDir().mkpath(m_home.filePath(u"config/vemko-vpn"_qs)));
        QDir().mkpath(m_home.filePath(u"run"_qs));
        QFile file(m_home.filePath(u"config/vemko-vpn/defaults.json"_qs));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QJsonDocument(stored).toJson());
    }

    void init() {
        m_service = std::make_unique<TestService>();
        m_service->on("POST", "/api/v1/auth/login",
                      ScriptedReply::json(401, QJsonObject{{"error", "Неверный пароль"}}));
    }

    void exitStatuses_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exit");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        QTest::newRow("version") << QStringList{"--version"} << 0 << "vemkoctl 1.0.0 (сборка 1)\n"
                                 << "";
        QTest::newRow("no command") << QStringList{} << 2 << ""
                                    << "Использование: vemkoctl";
        QTest::newRow("unknown command") << QStringList{"conect"} << 2 << ""
                                         << "неизвестная команда «conect»";
        QTest::newRow("unknown option") << QStringList{"status", "--verbose"} << 2 << ""
                                        << "неизвестный параметр --verbose";
        QTest::newRow("help for a command")
            << QStringList{"select", "--help"} << 0 << "Использование: vemkoctl select СЕРВЕР"
            << "";
        QTest::newRow("missing argument") << QStringList{"promo"} << 2 << ""
                                          << "использование: vemkoctl promo КОД";
        QTest::newRow("bad device count") << QStringList{"plans", "--devices", "0"} << 2 << ""
                                          << "от 1 до 10";
        QTest::newRow("signed out") << QStringList{"account"} << 1 << ""
                                    << "Вы не вошли";
        QTest::newRow("servers of the cache")
            << QStringList{"servers", "--cached"} << 0
            << "  Европа авто (недоступен: в настройках сервера нет списка outbounds)\n✓ Рига\n"
            << "";
    }

    void exitStatuses() {
        QFETCH(QStringList, arguments);
        QFETCH(int, exit);
        QFETCH(QString, out);
        QFETCH(QString, err);
        const Result result = run(arguments);
        QCOMPARE(result.exit, exit);
        QVERIFY2(out.isEmpty() ? result.out.isEmpty() : result.out.startsWith(out), qPrintable(result.out));
        QVERIFY2(err.isEmpty() ? result.err.isEmpty() : result.err.contains(err), qPrintable(result.err));
    }

    // The password is the first line of standard input, sent as typed; a refusal is the service's text.
    void passwordFromStandardInput() {
        const Result result = run({u"login"_qs, u"u@example.com"_qs}, "pa ss\r\nsecond line\n");
        QCOMPARE(result.exit, 1);
        QCOMPARE(result.err, u"Неверный пароль\n"_qs);
        const auto logins = m_service->requests("POST", "/api/v1/auth/login");
        QVERIFY(!logins.isEmpty());
        QCOMPARE(logins.first().json()[u"password"_qs].toString(), u"pa ss"_qs);
        QCOMPARE(logins.first().json()[u"email"_qs].toString(), u"u@example.com"_qs);

        QCOMPARE(run({u"login"_qs, u"u@example.com"_qs}, "").exit, 1); // no input at all: nothing is sent
        QCOMPARE(m_service->requests("POST", "/api/v1/auth/login").size(), logins.size());
    }

    // On a terminal the password is asked for without echo, and the terminal is left as it was.
    void passwordPromptDoesNotEcho() {
        int master = -1;
        int slave = -1;
        QVERIFY(::openpty(&master, &slave, nullptr, nullptr, nullptr) == 0);
        termios before{};
        QVERIFY(::tcgetattr(slave, &before) == 0);
        QVERIFY(before.c_lflag & ECHO);

        QProcess process;
        prepare(process);
        process.setArguments({u"login"_qs, u"u@example.com"_qs});
        // The child inherits our standard input, for the moment the terminal.
        process.setInputChannelMode(QProcess::ForwardedInputChannel);
        const int ownInput = ::dup(STDIN_FILENO);
        ::dup2(slave, STDIN_FILENO);
        process.start();
        const bool started = process.waitForStarted();
        ::dup2(ownInput, STDIN_FILENO);
        ::close(ownInput);
        QVERIFY(started);
        QByteArray prompt;
        QTRY_VERIFY_WITH_TIMEOUT((prompt += process.readAllStandardError()).contains("Пароль: "), 20000);
        // The prompt is up: echo is off until the line is read.
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                termios now{};
                return ::tcgetattr(slave, &now) == 0 && !(now.c_lflag & ECHO);
            }(),
            20000);
        QVERIFY(::write(master, "hunter2\n", 8) == 8);
        const Result result = finish(process);
        QCOMPARE(result.exit, 1);
        QCOMPARE(m_service->requests("POST", "/api/v1/auth/login").first().json()[u"password"_qs].toString(),
                 u"hunter2"_qs);

        ::fcntl(master, F_SETFL, O_NONBLOCK);
        char echoed[256] = {};
        const ssize_t n = ::read(master, echoed, sizeof echoed - 1);
        QVERIFY2(n <= 0 || !QByteArray(echoed, int(n)).contains("hunter2"), echoed);
        termios after{};
        QVERIFY(::tcgetattr(slave, &after) == 0);
        QVERIFY(after.c_lflag & ECHO);
        ::close(master);
        ::close(slave);
    }

    // --json: exactly one JSON object on standard output (its members are the command tests'),
    // errors on standard error as well.
    void jsonIsOneObject() {
        Result result = run({u"--json"_qs, u"status"_qs});
        QCOMPARE(result.exit, 0);
        QCOMPARE(result.out.count(u'\n'), 1);
        QCOMPARE(QJsonDocument::fromJson(result.out.toUtf8()).object().value(u"ok"_qs), QJsonValue(true));

        result = run({u"select"_qs, u"Рыга"_qs, u"--json"_qs});
        QCOMPARE(result.exit, 1);
        const QJsonObject object = QJsonDocument::fromJson(result.out.toUtf8()).object();
        QCOMPARE(object.value(u"ok"_qs), QJsonValue(false));
        QCOMPARE(result.err, object.value(u"error"_qs).toString() + u'\n');
    }

    // The shipped bash completion (through vemkoctl's hidden _servers): the cached server names
    // quoted for the shell, a command's fixed words, and every command of the help.
    void bashCompletion_data() {
        QTest::addColumn<QStringList>("words"); // after "vemkoctl"; the last one is being completed
        QTest::addColumn<QString>("offered");
        QTest::newRow("server names") << QStringList{"connect", "Ев"} << "Европа\\ авто\n";
        QTest::newRow("modes") << QStringList{"mode", "s"} << "system\nsocks\n";
        QTest::newRow("commands") << QStringList{""}
                                  << commandNames().join(u'\n') + "\n--json\n--help\n--version\n";
    }
    void bashCompletion() {
        QFETCH(QStringList, words);
        QFETCH(QString, offered);
        QProcess bash;
        prepare(bash);
        QProcessEnvironment env = bash.processEnvironment();
        env.insert(u"PATH"_qs, QFileInfo(program()).absolutePath() + u':' + env.value(u"PATH"_qs));
        env.insert(u"LC_ALL"_qs, u"C.UTF-8"_qs); // bash quotes Cyrillic as $'\320…' in a C locale
        bash.setProcessEnvironment(env);
        bash.setProgram(u"bash"_qs);
        bash.setArguments(
            QStringList{u"-c"_qs, uR"(source "$1"; shift; COMP_WORDS=(vemkoctl "$@"); COMP_CWORD=$#;
                                          _vemkoctl; printf '%s\n' "${COMPREPLY[@]}")"_qs,
                        u"bash"_qs, QStringLiteral(VEMKO_SOURCE_DIR "/data/vemkoctl.bash-completion")}
            << words);
        bash.start();
        QCOMPARE(finish(bash).out, offered);
    }

    // Ctrl-C during a wait ends it at once with the shell's status for an interrupt.
    void interruptEndsAWait() {
        m_service->on(
            "POST", "/api/v1/auth/tg/start",
            ScriptedReply::json(200, QJsonObject{{"key", "k"}, {"url", "https://t.me/vemko_bot?start=k"}}));
        m_service->on("GET", "/api/v1/auth/tg/poll", ScriptedReply::empty(204));
        QProcess process;
        prepare(process);
        process.setArguments({u"telegram"_qs});
        process.start();
        QTRY_VERIFY_WITH_TIMEOUT(!m_service->requests("POST", "/api/v1/auth/tg/start").isEmpty(), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(process.bytesAvailable() > 0, 20000);
        ::kill(static_cast<pid_t>(process.processId()), SIGINT);
        const Result result = finish(process);
        QCOMPARE(result.exit, 130);
        QVERIFY2(result.out.contains(u"Откройте бота: https://t.me/vemko_bot?start=k"_qs),
                 qPrintable(result.out));
        QVERIFY2(result.err.contains(u"Прервано"_qs), qPrintable(result.err));
    }

    // The app that is open (its controllers as the window holds them, on the same settings)
    // follows a server chosen with vemkoctl, both ways, without being asked to look.
    void choiceReachesTheOpenApp() {
        QProcess settings;
        prepare(settings);
        for (const QString& name : settings.processEnvironment().keys())
            qputenv(name.toLocal8Bit(), settings.processEnvironment().value(name).toLocal8Bit());
        AppCore open;
        QCOMPARE(open.model().selected()->name, u"Рига"_qs);
        for (const QString& choice : {u"Европа авто"_qs, u"Рига"_qs}) {
            QCOMPARE(run({u"select"_qs, choice}).exit, 0);
            QTRY_COMPARE_WITH_TIMEOUT(open.model().selected()->name, choice, 5000);
        }
    }
};

QTEST_GUILESS_MAIN(VemkoctlTest)
#include "tst_vemkoctl.moc"

#include "cli/CommandLine.h"

#include "platform/BundleInfo.h"

namespace {

// How each command is typed. `minWords`/`maxWords` count the positional arguments; -1: any.
struct CommandSpec {
    QString name;
    QString synopsis;
    QString summary;
    QString details;
    int minWords = 0;
    int maxWords = 0;
    QStringList options; // beyond --json and --help
    bool hidden = false;
};

const QList<CommandSpec>& specs() {
    static const QList<CommandSpec> table{
        {"status",
         "status",
         "состояние туннеля одной строкой",
         "Печатает строку состояния, как в меню в трее: «Подключено · сервер», «Подключаюсь…»,\n"
         "«Отключено» или «Подписка не активна». При подключении также адрес выхода и время\n"
         "подключения.",
         0,
         0,
         {}},
        {"login",
         "login ЭЛ.ПОЧТА",
         "вход по электронной почте и паролю",
         "Пароль вводится без отображения, если вход идёт с терминала, иначе читается одна строка\n"
         "со стандартного ввода. Пароль никогда не передаётся аргументом.",
         1,
         1,
         {}},
        {"signup",
         "signup ЭЛ.ПОЧТА",
         "создать аккаунт",
         "Как login, но создаёт новый аккаунт. Пароль вводится так же: без отображения или со\n"
         "стандартного ввода.",
         1,
         1,
         {}},
        {"telegram",
         "telegram",
         "вход через Telegram-бота",
         "Печатает ссылку на бота (и открывает её, если есть рабочий стол), затем ждёт\n"
         "подтверждения до 5 минут. Ctrl-C прерывает ожидание.",
         0,
         0,
         {}},
        {"link",
         "link [ССЫЛКА]",
         "вход по ссылке vemko://auth?token=…",
         "Без аргумента ссылка читается со стандартного ввода (так токен не виден в списке\n"
         "процессов).",
         0,
         1,
         {}},
        {"account",
         "account",
         "аккаунт и подписка",
         "Электронная почта или имя в Telegram, активна ли подписка, дата окончания, сколько\n"
         "осталось, сколько устройств занято из доступных.",
         0,
         0,
         {}},
        {"servers",
         "servers [--cached]",
         "список серверов",
         "Серверы в порядке сервиса; выбранный отмечен «✓». С --cached — без запроса к сервису,\n"
         "из сохранённого списка.",
         0,
         0,
         {"--cached"}},
        {"select",
         "select СЕРВЕР",
         "выбрать сервер",
         "Точное имя сервера. Для неизвестного имени печатает похожие и завершается с кодом 1.\n"
         "Если туннель включён, переподключает его на выбранный сервер.",
         1,
         -1,
         {}},
        {"connect",
         "connect [СЕРВЕР]",
         "подключиться",
         "Подключает выбранный (или названный) сервер, проверяя, что трафик идёт, и при\n"
         "необходимости пробует следующие. Код 0 только если проверка прошла. Ctrl-C\n"
         "останавливает подключение.",
         0,
         -1,
         {}},
        {"disconnect", "disconnect", "отключиться", "Останавливает туннель.", 0, 0, {}},
        {"trial",
         "trial",
         "включить пробный день",
         "Включает пробный доступ, если он ещё доступен.",
         0,
         0,
         {}},
        {"promo",
         "promo КОД",
         "применить промокод",
         "Применяет промокод и показывает ответ сервиса.",
         1,
         1,
         {}},
        {"devices",
         "devices",
         "привязанные устройства",
         "Устройства аккаунта; этот компьютер отмечен «✓».",
         0,
         0,
         {}},
        {"unbind",
         "unbind HWID | unbind --this",
         "отвязать устройство",
         "Отвязывает устройство по его идентификатору (см. devices) или, с --this, этот компьютер.",
         0,
         1,
         {"--this"}},
        {"plans",
         "plans [--devices N]",
         "тарифы",
         "Разовые тарифы для N устройств (по умолчанию — сколько разрешено аккаунту), от короткого\n"
         "к длинному, с ценой в месяц; и подписка картой, если сервис её предлагает.",
         0,
         0,
         {"--devices"}},
        {"pay",
         "pay ТАРИФ sbp|crypto",
         "оплатить тариф",
         "Создаёт платёж (СБП или криптовалютой), печатает и открывает страницу оплаты, затем\n"
         "ждёт подтверждения оплаты (около двух минут).",
         2,
         2,
         {}},
        {"subscribe",
         "subscribe УСТРОЙСТВА month|year",
         "подписка картой",
         "Открывает страницу оформления подписки картой на месяц или на год.",
         2,
         2,
         {}},
        {"update",
         "update check|install",
         "обновление приложения",
         "check — есть ли новая версия; install — скачать, проверить подпись и установить её.",
         1,
         1,
         {}},
        {"help", "help [КОМАНДА]", "справка", "Общая справка или справка по команде.", 0, 1, {}},
        {"_servers", "_servers", "", "", 0, 0, {}, true},
    };
    return table;
}

const CommandSpec* findSpec(const QString& name) {
    for (const CommandSpec& spec : specs())
        if (spec.name == name)
            return &spec;
    return nullptr;
}

QString versionText() {
    const BundleInfo bundle = BundleInfo::compiled();
    return QStringLiteral("vemkoctl %1 (сборка %2)")
        .arg(bundle.shortVersion.value_or(QStringLiteral("1.0.0")),
             bundle.version.value_or(QStringLiteral("1")));
}

Immediate usageError(const QString& text, const QString& command = {}) {
    const QString hint = command.isEmpty() ? QStringLiteral("vemkoctl --help")
                                           : QStringLiteral("vemkoctl %1 --help").arg(command);
    return {exitcode::usage, {}, QStringLiteral("vemkoctl: %1\nПодробнее: %2").arg(text, hint)};
}

} // namespace

QString generalHelp() {
    QString text = QStringLiteral("Использование: vemkoctl [--json] КОМАНДА [АРГУМЕНТЫ]\n"
                                  "Вемко VPN из терминала: те же вход, подписка, туннель и обновления, "
                                  "что и в окне.\n\nКоманды:\n");
    for (const CommandSpec& spec : specs()) {
        if (!spec.hidden)
            text += QStringLiteral("  %1%2\n").arg(spec.synopsis.leftJustified(34), spec.summary);
    }
    text += QStringLiteral("\nПараметры:\n"
                           "  --json      один объект JSON с теми же сведениями (для скриптов)\n"
                           "  --help, -h  справка по команде\n"
                           "  --version   версия\n\n"
                           "Коды выхода: 0 — готово, 1 — действие не удалось, 2 — ошибка в команде,\n"
                           "130 — прервано (Ctrl-C).\n");
    return text;
}

std::optional<QString> commandHelp(const QString& command) {
    const CommandSpec* spec = findSpec(command);
    if (!spec || spec->hidden)
        return std::nullopt;
    return QStringLiteral("Использование: vemkoctl %1 [--json]\n%2.\n\n%3\n")
        .arg(spec->synopsis, spec->summary.left(1).toUpper() + spec->summary.mid(1), spec->details);
}

QStringList commandNames() {
    QStringList names;
    for (const CommandSpec& spec : specs())
        if (!spec.hidden)
            names.append(spec.name);
    return names;
}

std::variant<Invocation, Immediate> parseCommandLine(const QStringList& arguments) {
    Invocation invocation;
    bool help = false;
    bool version = false;
    bool optionsEnded = false;
    QStringList positional;
    QStringList seenOptions;

    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (optionsEnded || !argument.startsWith(u'-') || argument == QLatin1String("-")) {
            positional.append(argument);
            continue;
        }
        if (argument == QLatin1String("--")) {
            optionsEnded = true;
        } else if (argument == QLatin1String("--json")) {
            invocation.json = true;
        } else if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            help = true;
        } else if (argument == QLatin1String("--version")) {
            version = true;
        } else if (argument == QLatin1String("--this")) {
            invocation.thisDevice = true;
            seenOptions.append(argument);
        } else if (argument == QLatin1String("--cached")) {
            invocation.cached = true;
            seenOptions.append(argument);
        } else if (argument == QLatin1String("--devices") ||
                   argument.startsWith(QLatin1String("--devices="))) {
            QString value;
            if (argument.contains(u'='))
                value = argument.section(u'=', 1);
            else if (i + 1 < arguments.size())
                value = arguments[++i];
            bool number = false;
            const qint64 devices = value.toLongLong(&number);
            if (!number || devices < 1 || devices > 10)
                return usageError(QStringLiteral("--devices: число устройств от 1 до 10"),
                                  QStringLiteral("plans"));
            invocation.devices = devices;
            seenOptions.append(QStringLiteral("--devices"));
        } else {
            return usageError(QStringLiteral("неизвестный параметр %1").arg(argument));
        }
    }

    if (version && positional.isEmpty())
        return Immediate{exitcode::ok, versionText(), {}};
    if (positional.isEmpty()) {
        if (help)
            return Immediate{exitcode::ok, generalHelp(), {}};
        return Immediate{exitcode::usage, {}, generalHelp()};
    }

    invocation.command = positional.takeFirst();
    invocation.words = positional;
    const CommandSpec* spec = findSpec(invocation.command);
    if (!spec)
        return usageError(QStringLiteral("неизвестная команда «%1»").arg(invocation.command));
    if (invocation.command == QLatin1String("help")) {
        if (positional.isEmpty())
            return Immediate{exitcode::ok, generalHelp(), {}};
        if (const auto text = commandHelp(positional.first()))
            return Immediate{exitcode::ok, *text, {}};
        return usageError(QStringLiteral("неизвестная команда «%1»").arg(positional.first()));
    }
    if (help)
        return Immediate{exitcode::ok, *commandHelp(invocation.command), {}};
    if (version)
        return usageError(QStringLiteral("--version не сочетается с командой"));

    for (const QString& option : seenOptions)
        if (!spec->options.contains(option))
            return usageError(QStringLiteral("%1 не относится к команде %2").arg(option, spec->name),
                              spec->name);
    const int count = static_cast<int>(invocation.words.size());
    if (count < spec->minWords || (spec->maxWords >= 0 && count > spec->maxWords))
        return usageError(QStringLiteral("использование: vemkoctl %1").arg(spec->synopsis), spec->name);

    // Command-specific shapes the counts cannot express.
    const QString& command = invocation.command;
    if (command == QLatin1String("unbind") && invocation.thisDevice == !invocation.words.isEmpty())
        return usageError(QStringLiteral("укажите HWID или --this"), command);
    if (command == QLatin1String("update") && invocation.words.first() != QLatin1String("check") &&
        invocation.words.first() != QLatin1String("install"))
        return usageError(QStringLiteral("update check или update install"), command);
    if (command == QLatin1String("pay") && invocation.words[1] != QLatin1String("sbp") &&
        invocation.words[1] != QLatin1String("crypto"))
        return usageError(QStringLiteral("способ оплаты: sbp или crypto"), command);
    if (command == QLatin1String("subscribe")) {
        bool number = false;
        const qint64 devices = invocation.words[0].toLongLong(&number);
        if (!number || devices < 1)
            return usageError(QStringLiteral("число устройств — целое больше нуля"), command);
        if (invocation.words[1] != QLatin1String("month") && invocation.words[1] != QLatin1String("year"))
            return usageError(QStringLiteral("срок: month или year"), command);
    }
    for (const QString& word : invocation.words)
        if (word.trimmed().isEmpty())
            return usageError(QStringLiteral("пустой аргумент"), command);
    return invocation;
}

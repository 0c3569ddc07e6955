// vemkoctl: the app from a terminal, over the same controllers as the window.

#include "cli/Cli.h"
#include "cli/Console.h"
#include "model/AppCore.h"
#include "platform/Clock.h"
#include "platform/Interrupts.h"
#include "platform/MainTask.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QTimer>

namespace {

QCoro::Task<> runAndQuit(Cli& cli, Invocation invocation) {
    const int code = co_await cli.run(std::move(invocation));
    QCoreApplication::exit(code);
}

void print(Console& console, const QString& text, bool toError) {
    if (text.isEmpty())
        return;
    const QString body = text.endsWith(u'\n') ? text.chopped(1) : text;
    if (toError)
        console.err(body);
    else
        console.out(body);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vemkoctl"));
    ProcessConsole console;

    auto parsed = parseCommandLine(QCoreApplication::arguments().mid(1));
    if (const auto* immediate = std::get_if<Immediate>(&parsed)) {
        print(console, immediate->out, false);
        print(console, immediate->err, true);
        return immediate->exit;
    }
    // The updater's journal lines are for the journal, not the terminal (QT_LOGGING_RULES still wins).
    QLoggingCategory::setFilterRules(QStringLiteral("app.vemko.vpn.*=false"));

    AppCore core;
    core.model().skipStartupLoad(); // each command runs the load it needs
    Cli cli({core.model(), core.vpn(), core.updater(), core.store(), core.desktop(), Clock::system()},
            console);
    const Interrupts interrupts([&cli] { QCoreApplication::exit(cli.interrupt()); });
    QTimer::singleShot(0, &app, [&cli, invocation = std::get<Invocation>(std::move(parsed))]() mutable {
        startMainTask(runAndQuit(cli, std::move(invocation)));
    });
    return QCoreApplication::exec();
}

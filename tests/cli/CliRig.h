#pragma once

// The command line over the model rig: the same AppModel, Vpn (on the fake tunnel service) and an
// Updater, all against the test service on the virtual clock. Output lands in lists.

#include "cli/Cli.h"
#include "cli/CommandLine.h"
#include "cli/Console.h"
#include "model/ModelRig.h"
#include "update/Updater.h"

#include <QTemporaryDir>

class RecordingConsole final : public Console {
public:
    void out(const QString& line) override { outLines.append(line); }
    void err(const QString& line) override { errLines.append(line); }
    bool terminal() const override { return false; }
    void progress(const QString&) override {}
    std::optional<QString> secret(const QString&) override { return input; }
    bool hasDesktop() const override { return desktop; }

    QStringList outLines;
    QStringList errLines;
    std::optional<QString> input;
    bool desktop = false;
};

struct CliRig : ModelRig {
    CliRig() {
        setup.installPath = dir.filePath(u"opt/Vemko VPN.AppDir"_qs);
        setup.tempDir = dir.filePath(u"tmp"_qs);
        updater = std::make_unique<Updater>(api.api, api.store, desktop, api.network, Clock::system(), setup);
    }

    // The controllers as vemkoctl builds them: the model runs no load of its own at start.
    Cli& cli() {
        if (!m_cli) {
            make().skipStartupLoad();
            m_cli = std::make_unique<Cli>(Controllers{*model, tunnel(), *updater, api.store, desktop, clock},
                                          console);
        }
        return *m_cli;
    }

    // Parses and runs one command line to its end; the exit status (-1: it never ended).
    int run(const QStringList& arguments) {
        auto parsed = parseCommandLine(arguments);
        if (const auto* immediate = std::get_if<Immediate>(&parsed)) {
            if (!immediate->out.isEmpty())
                console.outLines.append(immediate->out);
            if (!immediate->err.isEmpty())
                console.errLines.append(immediate->err);
            return immediate->exit;
        }
        const auto code = runTask(cli().run(std::get<Invocation>(std::move(parsed))), &clock);
        return code.value_or(-1);
    }

    QString out() const { return console.outLines.join(u'\n'); }
    QString err() const { return console.errLines.join(u'\n'); }

    RecordingConsole console;
    QTemporaryDir dir;
    UpdaterSetup setup;
    std::unique_ptr<Updater> updater;

private:
    std::unique_ptr<Cli> m_cli; // before the model goes
};

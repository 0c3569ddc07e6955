// vemko-screenshots OUTDIR: renders the main screens in representative states to PNG files,
// offscreen, over the real controllers on the fake tunnel and the test service, every animation
// at a fixed phase. Run through `make screenshots` (fixed fonts, scale 1, UTC).

#include "MainWindow.h"
#include "MenuBarView.h"
#include "RootView.h"
#include "screens/Brand.h"
#include "screens/HomeView.h"
#include "screens/Phase.h"
#include "screens/PowerButton.h"
#include "screens/UiRig.h"

#include <QDir>
#include <QMenu>
#include <cstdio>

namespace {

QString outDir;
int failures = 0;

void save(QWidget& widget, const QString& name) {
    settle();
    QApplication::processEvents();
    const QString path = QDir(outDir).filePath(name + QStringLiteral(".png"));
    if (!widget.grab().toImage().convertToFormat(QImage::Format_RGB32).save(path, "PNG")) {
        std::fprintf(stderr, "vemko-screenshots: cannot write %s\n", qPrintable(path));
        ++failures;
        return;
    }
    std::printf("%s\n", qPrintable(path));
}

// One window over a rig prepared by `prepare`, then `act` run with the window shown.
void shoot(const QString& name, const std::function<void(UiRig&)>& prepare,
           const std::function<void(UiRig&, MainWindow&)>& act = {}) {
    UiRig rig;
    rig.service().on("GET", "/json", ok(R"({"ip":"203.0.113.7","city":"Amsterdam"})"));
    prepare(rig);
    MainWindow window(rig.context());
    window.show();
    settle();
    if (act)
        act(rig, window);
    // Rings half way through their cycle; the gradient at the start of its drift.
    for (PowerButton* power : window.findChildren<PowerButton*>())
        power->rings()->setSeconds(0.6);
    save(window, name);
}

const QStringList servers{"Амстердам", "Франкфурт", "Хельсинки", "Рига"};
const QStringList europe{"Европа Wi-Fi 1", "Европа авто", "Европа резерв", "Амстердам"};

// On through "Европа Wi-Fi 1"; from then on the probe passes only through the servers in `alive`,
// and the tunnel cannot come up on those in `silent`.
void connectThenLose(UiRig& rig, const QStringList& alive, const QStringList& silent) {
    startMainTask(rig.tunnel().connect(*rig.model->selected()));
    drive([&] { return rig.tunnel().exit().has_value(); }, &rig.clock);
    for (const QString& server : silent)
        rig.tunnels.connectAfterByServer.insert(server, std::nullopt);
    const auto answer = [&rig, alive] {
        const bool passes = alive.contains(rig.tunnels.connection()->startedServers.last());
        rig.service().on("GET", "/api/v1/ip",
                         passes ? ok(R"({"exit":"203.0.113.9"})") : refusal(500, "down"));
    };
    QObject::connect(&rig.tunnels, &TunnelSystem::statusChanged, &rig.tunnels, answer);
    answer();
    emit rig.tunnels.trafficTrouble();
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (app.arguments().size() != 2) {
        std::fprintf(stderr, "usage: vemko-screenshots OUTDIR\n");
        return 2;
    }
    outDir = app.arguments()[1];
    QDir().mkpath(outDir);
    Brand::applyLook(app);
    stillStyle();

    shoot("signed-out", [](UiRig& rig) {
        rig.serveAccount();
        rig.make();
    });
    shoot("home-off", [](UiRig& rig) { rig.account(true, 44, servers); });
    shoot(
        "home-connecting", [](UiRig& rig) { rig.account(true, 44, servers); },
        [](UiRig& rig, MainWindow&) {
            rig.extensions.autoFinish = false; // stays connecting
            startMainTask(rig.tunnel().connect(*rig.model->selected()));
        });
    shoot(
        "home-on", [](UiRig& rig) { rig.account(true, 44, servers); },
        [](UiRig& rig, MainWindow& window) {
            startMainTask(rig.tunnel().connect(*rig.model->selected()));
            drive([&] { return rig.tunnel().exit().has_value(); }, &rig.clock);
            // Under the watch's four-minute recheck, which the fake tunnel could not pass.
            rig.clock.advance(std::chrono::seconds(3 * 60 + 21));
            settle();
            // The subtitle's own one-second tick, at once.
            for (HomeView* home : window.findChildren<HomeView*>())
                home->tick()->setSeconds(0);
        });
    shoot(
        "home-trying-next", [](UiRig& rig) { rig.account(true, 44, europe); },
        [](UiRig& rig, MainWindow&) {
            rig.tunnels.connectAfterByServer = {{"Европа Wi-Fi 1", std::nullopt},
                                                {"Европа авто", std::nullopt}};
            startMainTask(rig.tunnel().connect(*rig.model->selected()));
            drive([&] { return rig.tunnel().profileName() == QStringLiteral("пробую: Европа авто"); },
                  &rig.clock);
        });
    shoot(
        "home-recovering", [](UiRig& rig) { rig.account(true, 44, europe); },
        [](UiRig& rig, MainWindow&) {
            connectThenLose(rig, {}, {"Европа авто"});
            drive([&] { return rig.tunnel().profileName() == QStringLiteral("пробую: Европа авто"); },
                  &rig.clock);
        });
    shoot(
        "home-failed-over", [](UiRig& rig) { rig.account(true, 44, europe); },
        [](UiRig& rig, MainWindow& window) {
            connectThenLose(rig, {"Европа авто"}, {});
            drive([&] { return rig.model->message().has_value(); }, &rig.clock);
            drive([&] { return rig.tunnel().exit().has_value(); }, &rig.clock);
            for (HomeView* home : window.findChildren<HomeView*>())
                home->tick()->setSeconds(0);
        });
    shoot("home-device-limit", [](UiRig& rig) {
        rig.service().on("GET", "/api/v1/configs", refusal(403, "Лимит устройств исчерпан", "device_limit"));
        rig.account(true, 44, servers);
        rig.service().on("GET", "/api/v1/configs", refusal(403, "Лимит устройств исчерпан", "device_limit"));
        rig.cache(configs(servers));
        rig.finish(rig.model->load());
        rig.model->clearNotices();
    });
    shoot(
        "home-error", [](UiRig& rig) { rig.account(true, 2, servers); },
        [](UiRig& rig, MainWindow&) {
            rig.extensions.failWith = QStringLiteral("Не найден vemko-tunnel: переустановите Vemko VPN");
            rig.finish(rig.tunnel().connect(*rig.model->selected()));
        });
    shoot(
        "home-kill-switch", [](UiRig& rig) { rig.account(true, 44, servers); },
        [](UiRig& rig, MainWindow&) {
            // The system-wide tunnel lost its engine: everything stays refused.
            startMainTask(rig.tunnel().connect(*rig.model->selected()));
            drive([&] { return rig.tunnel().exit().has_value(); }, &rig.clock);
            rig.tunnels.connection()->holdsKillSwitch = true;
            rig.tunnels.connection()->setStatus(TunnelStatus::Reasserting);
            settle();
        });
    shoot(
        "home-unusable-server",
        [](UiRig& rig) {
            rig.account(true, 44, servers);
            // A REALITY server among them: Debian's v2ray cannot run it.
            QByteArray document = configs(servers);
            document.chop(1);
            document +=
                R"(,{"remarks":"Нидерланды","outbounds":[{"protocol":"vless","settings":{"vnext":[)"
                R"({"address":"nl.example.net","port":443,"users":[{"id":"u","flow":"xtls-rprx-vision"}]}]},)"
                R"("streamSettings":{"security":"reality","realitySettings":{"publicKey":"k"}}}]}])";
            rig.service().on("GET", "/api/v1/configs", ok(document));
            rig.finish(rig.model->load());
        },
        [](UiRig& rig, MainWindow&) {
            rig.model->select(rig.model->profiles().last());
            rig.finish(rig.tunnel().connect(*rig.model->selected()));
        });
    shoot("home-no-subscription", [](UiRig& rig) { rig.account(false, 0, {}, true); });

    {
        UiRig rig;
        rig.account(true, 44, servers);
        MenuBarView menu(
            *rig.model, rig.tunnel(), rig.desktop, rig.service().origin(), [] {}, [] {});
        menu.menu()->popup(QPoint(0, 0));
        save(*menu.menu(), "tray-menu");
        menu.menu()->hide();
    }
    return failures == 0 ? 0 : 1;
}

// vemko-account-screenshots OUTDIR: renders the sign-in screen and the tariffs, devices and more
// tabs in the main window, in representative states, offscreen over the real controllers on the
// test service. Run through `make screenshots` (fixed fonts, scale 1, UTC).

#include "GuiDesktop.h"
#include "MainWindow.h"
#include "RootView.h"
#include "VemkoVPNApp.h"
#include "platform/TunnelMode.h"
#include "screens/AccountRig.h"
#include "screens/Brand.h"
#include "screens/GlowMascot.h"
#include "screens/Phase.h"
#include "screens/UiRig.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <cstdio>

namespace {

QString outDir;
int failures = 0;

// With `bottom`, the shown screen scrolled to its end first.
void save(QWidget& widget, const QString& name, bool bottom = false) {
    settle();
    QApplication::processEvents();
    if (bottom)
        for (QScrollArea* scroll : widget.findChildren<QScrollArea*>())
            if (scroll->isVisible())
                scroll->verticalScrollBar()->setValue(scroll->verticalScrollBar()->maximum());
    for (GlowMascot* mascot : widget.findChildren<GlowMascot*>())
        mascot->phase()->setSeconds(0.65);
    const QString path = QDir(outDir).filePath(name + QStringLiteral(".png"));
    if (!widget.grab().toImage().convertToFormat(QImage::Format_RGB32).save(path, "PNG")) {
        std::fprintf(stderr, "vemko-account-screenshots: cannot write %s\n", qPrintable(path));
        ++failures;
        return;
    }
    std::printf("%s\n", qPrintable(path));
}

// The window over a rig prepared by `prepare`, on `tab`, then `act` with the window shown.
void shoot(const QString& name, Tab tab, const std::function<void(AccountRig&)>& prepare,
           const std::function<void(AccountRig&, MainWindow&)>& act = {}) {
    AccountRig rig;
    prepare(rig);
    MainWindow window(rig.context());
    window.root()->setTab(tab);
    window.show();
    settle();
    if (act)
        act(rig, window);
    save(window, name);
}

QJsonObject plan(const QString& code, qint64 days, qint64 devices, qint64 price) {
    return {{"code", code}, {"days", days}, {"devices", devices}, {"price", price}};
}

QJsonObject catalogue(bool card) {
    QJsonArray plans;
    for (qint64 devices : {1, 3, 5})
        for (auto [days, price] : {std::pair<qint64, qint64>{30, 199}, {90, 499}, {180, 899}, {365, 1590}})
            plans.append(
                plan(QStringLiteral("p%1_%2").arg(devices).arg(days), days, devices, price * devices));
    QJsonArray tiers{QJsonObject{{"devices", 3}, {"monthly", 6.99}, {"yearly", 69.0}},
                     QJsonObject{{"devices", 1}, {"monthly", 4.5}, {"yearly", 48.0}},
                     QJsonObject{{"devices", 5}, {"monthly", 9.99}, {"yearly", 99.0}}};
    return {{"plans", plans},
            {"payments", true},
            {"card", card},
            {"stripe_tiers", card ? tiers : QJsonArray{}},
            {"stripe_trial_days", card ? 3 : 0}};
}

void signedOut(AccountRig& rig) {
    rig.serveAccount();
    rig.api.defaults.setString("email", "lisa@example.com");
    rig.make();
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (app.arguments().size() != 2) {
        std::fprintf(stderr, "usage: vemko-account-screenshots OUTDIR\n");
        return 2;
    }
    outDir = app.arguments()[1];
    QDir().mkpath(outDir);
    Brand::applyLook(app);
    stillStyle();

    shoot("signin", Tab::Home, signedOut);
    shoot("signin-create-error", Tab::Home, signedOut, [](AccountRig& rig, MainWindow& window) {
        rig.service().on("POST", "/api/v1/auth/register",
                         refusal(409, "Аккаунт с этой почтой уже есть — войдите или восстановите пароль"));
        window.findChild<QLineEdit*>("passwordField")->setText("секретный-пароль");
        window.findChild<QPushButton*>("modeButton")->click();
        window.findChild<QPushButton*>("mainButton")->click();
        drive([&] { return rig.model->error().has_value(); }, &rig.clock);
    });
    shoot("tariffs", Tab::Tariffs, [](AccountRig& rig) {
        rig.signedIn({{"devices_limit", 3}}, catalogue(true));
    });
    shoot("tariffs-one-off", Tab::Tariffs, [](AccountRig& rig) {
        rig.signedIn({{"devices_limit", 1}}, catalogue(false));
    });
    // A payment page opened: the screen waits for order 1042.
    shoot("tariffs-payment-waiting", Tab::Tariffs, [](AccountRig& rig) {
        rig.signedIn({{"devices_limit", 1}}, catalogue(false));
        rig.service().on("POST", "/api/v1/pay",
                         ok(R"({"order_id":1042,"amount":199,"url":"https://pay.example/1042"})"));
        rig.finish(rig.model->pay("p1_30", "sbp", {}));
    });
    {
        // No browser opens the page (no xdg-open): the link to copy.
        GuiDesktop desktop;
        desktop.openUrl(QUrl("https://vemko.app/checkout/5f1c0e7a2b9d4c83"));
        for (QWidget* top : QApplication::topLevelWidgets())
            if (top->objectName() == "linkDialog")
                save(*top, "link-to-copy");
    }
    {
        // A sign-in link while signed in asks first.
        AccountRig rig;
        rig.signedIn({{"email", "lisa@example.com"}});
        VemkoVPNApp app(rig.context(), rig.service().origin());
        app.handleArguments({"vemko-vpn", "--", "vemko://auth?token=t"});
        if (auto* prompt = app.window()->findChild<QWidget*>("switchAccountPrompt"))
            save(*prompt, "switch-account");
    }

    const QJsonArray devices{
        QJsonObject{
            {"hwid", "other-1"}, {"model", "MacBook Air"}, {"os", "macOS 14.5"}, {"version", "1.2.0"}},
        QJsonObject{{"hwid", "local"},
                    {"model", "ThinkPad X1 Carbon Gen 11"},
                    {"os", "Debian GNU/Linux 12 (bookworm)"},
                    {"version", "1.2.3"}},
        QJsonObject{{"hwid", "other-2"}, {"os", "Windows 11"}}};
    shoot("devices", Tab::Devices, [&](AccountRig& rig) {
        QJsonArray marked = devices;
        QJsonObject local = marked[1].toObject();
        local["hwid"] = rig.api.store.hwid();
        marked[1] = local;
        rig.signedIn({{"devices", marked}, {"devices_used", 3}, {"devices_limit", 5}});
    });
    shoot("devices-empty", Tab::Devices, [](AccountRig& rig) { rig.signedIn({{"devices_used", 0}}); });

    const auto account = [](AccountRig& rig) {
        rig.serve();
        rig.service().on("GET", "/api/v1/referral",
                         ok(R"({"code":"VEMKO-4F2K","link":"https://vemko.app/r/VEMKO-4F2K","invited":12,)"
                            R"("paid":5,"days":59,"days_invite":2,"days_paid":7,"days_friend":1})"));
        rig.signedIn({{"email", "lisa@example.com"}, {"promo_available", true}});
    };
    const auto offer = [](AccountRig& rig) {
        rig.service().on(
            "GET", "/api/v1/app/version",
            ScriptedReply::json(200, QJsonObject{{"version_code", 43},
                                                 {"version_name", "1.4.0"},
                                                 {"url", rig.service().origin() + "/u.zip"},
                                                 {"notes", "Быстрее подключается, меньше батареи"}}));
        rig.service().on("GET", "/u.zip", ScriptedReply::text(200, "not a zip", "application/zip"));
        rig.finish(rig.updater->check(false));
    };
    shoot("more", Tab::More, account);
    // The tunnel mode: each one chosen, with and without the helper, and a refused install.
    const auto modes = [&](TunnelMode mode, bool helper) {
        return [=](AccountRig& rig) {
            account(rig);
            rig.helperPresent = helper;
            rig.api.store.setTunnelMode(mode);
        };
    };
    const auto behaviour = [](AccountRig&, MainWindow& window) {
        if (auto* card = window.findChild<QWidget*>("behaviourCard"))
            for (QScrollArea* scroll : window.findChildren<QScrollArea*>())
                if (scroll->isVisible())
                    scroll->ensureWidgetVisible(card, 0, 0);
    };
    shoot("more-mode-system", Tab::More, modes(TunnelMode::System, true), behaviour);
    shoot("more-mode-desktop-proxy", Tab::More, modes(TunnelMode::DesktopProxy, false), behaviour);
    shoot("more-mode-socks", Tab::More, modes(TunnelMode::Socks, true), behaviour);
    shoot("more-helper-refused", Tab::More, modes(TunnelMode::Socks, false),
          [&](AccountRig& rig, MainWindow& window) {
              behaviour(rig, window);
              window.findChild<QAbstractButton*>("mode_system")->click();
              drive([&] { return !rig.helper->running(); }, &rig.clock);
              behaviour(rig, window);
          });
    {
        // The installation stops at 60 % while the archive is unpacked: the picture is taken there.
        AccountRig rig;
        account(rig);
        offer(rig);
        MainWindow window(rig.context());
        window.root()->setTab(Tab::More);
        window.show();
        settle();
        QObject::connect(rig.updater.get(), &Updater::progressChanged, &window, [&] {
            if (rig.updater->progress() == 60)
                save(window, "more-updating", true);
        });
        window.findChild<QPushButton*>("installButton")->click();
        drive([&] { return rig.updater->hasMessage(); }, &rig.clock);
        save(window, "more-update-failed", true);
    }
    return failures == 0 ? 0 : 1;
}

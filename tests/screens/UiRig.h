#pragma once

// The screens over the real AppModel and Vpn (fake tunnel service, test service, virtual clock),
// with animations switched off through the style; one screen at a time shown in `view`.

#include "model/ModelRig.h"
#include "screens/KeyActivation.h"
#include "screens/Screens.h"
#include "update/Updater.h"

#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QProxyStyle>
#include <QWidget>

// The style a user who switched animations off gets: views show their resting state.
class StillStyle : public QProxyStyle {
public:
    StillStyle() : QProxyStyle(QStringLiteral("Fusion")) {}
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* data) const override {
        if (hint == SH_Widget_Animate || hint == SH_Widget_Animation_Duration)
            return 0;
        return QProxyStyle::styleHint(hint, option, widget, data);
    }
};

inline void stillStyle() {
    QApplication::setStyle(new StillStyle);
    installKeyActivation(*qApp);
}

// A plain active account with `fields` laid over it (a null field reads as absent).
inline QJsonObject accountWith(const QJsonObject& fields = {}) {
    QJsonObject account = QJsonDocument::fromJson(R"({"email":"u@example.com","active":true,"devices":[],
        "expire_at":"2026-03-01T00:00:00Z","devices_limit":3,"devices_used":1,"trial_available":false,
        "promo_available":false,"support_url":"https://t.me/vemko_support"})")
                              .object();
    for (auto it = fields.begin(); it != fields.end(); ++it)
        account.insert(it.key(), it.value());
    return account;
}

struct UiRig : ModelRig {
    // The updater's tools are real processes: their time limits run on the real clock, which
    // virtual time never jumps past.
    UiRig() : updater(std::make_unique<Updater>(api.api, api.store, desktop, api.network, Clock::system())) {}

    ScreenContext context() { return {*model, tunnel(), *updater, api.store, desktop, clock}; }

    // Signed in with `days` left (active) or inactive, servers per `names`; first load done.
    AppModel& account(bool active, qint64 days = 44, const QStringList& servers = {"Амстердам", "Рига"},
                      bool trial = false) {
        serveAccount(active, servers.isEmpty() ? QByteArray("[]") : configs(servers));
        const QDateTime expiry = clock.now().addSecs(days * 86400 + 3600);
        service().on("GET", "/api/v1/me",
                     ScriptedReply::json(200, accountWith({{"active", active},
                                                           {"expire_at", expiry.toString(Qt::ISODate)},
                                                           {"trial_available", trial}})));
        api.signIn();
        make();
        finish(model->load());
        service().clearRequests();
        return *model;
    }

    // A payment started: the service takes it as order 7, which it then reports paid.
    bool pendingPaidOrder() {
        service().on("POST", "/api/v1/pay", ok(R"({"order_id":7,"amount":299,"url":"https://p.example/7"})"));
        service().on("GET", "/api/v1/pay/7", ok(R"({"status":"paid"})"));
        return runTask(model->pay("m1", "sbp", {}));
    }

    // Takes `made`, sized as the window's screen area, and shows it.
    QWidget* show(QWidget* made) {
        view.reset(made);
        view->resize(460, 660);
        view->show();
        settle();
        return made;
    }

    template <typename T> T* find(const QString& name) const {
        T* found = view->findChild<T*>(name);
        if (!found)
            qWarning("no child %s", qPrintable(name));
        return found;
    }
    template <typename T> T* find(const QString& parent, const QString& name) const {
        QWidget* outer = find<QWidget>(parent);
        return outer ? outer->findChild<T*>(name) : nullptr;
    }
    bool shown(const QString& name) const { return find<QWidget>(name)->isVisibleTo(view.get()); }
    QString text(const QString& name) const { return find<QLabel>(name)->text(); }

    std::unique_ptr<Updater> updater;
    std::unique_ptr<QWidget> view; // goes before the controllers
};

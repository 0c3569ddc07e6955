#pragma once

// The screens over the real AppModel and Vpn (fake tunnel service, test service, virtual clock),
// with animations switched off through the style.

#include "model/ModelRig.h"
#include "screens/KeyActivation.h"
#include "screens/Screens.h"
#include "update/Updater.h"

#include <QApplication>
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

// An account reply with `days` left from the rig's clock (and the given devices and trial).
inline ScriptedReply meWith(const QDateTime& now, bool active, qint64 days, bool trial = false, int used = 1,
                            int limit = 3) {
    return ok(QString(R"({"email":"u@example.com","active":%1,"expire_at":"%2","devices_limit":%3,)"
                      R"("devices_used":%4,"devices":[],"trial_available":%5,"promo_available":false,)"
                      R"("support_url":"https://t.me/v"})")
                  .arg(active ? "true" : "false", now.addSecs(days * 86400 + 3600).toString(Qt::ISODate))
                  .arg(limit)
                  .arg(used)
                  .arg(trial ? "true" : "false"));
}

struct UiRig : ModelRig {
    UiRig() : updater(api.api, api.store, desktop, api.network) {}

    ScreenContext context() { return {*model, tunnel(), updater, api.store, desktop, clock}; }

    // Signed in with `days` left (active) or inactive, servers per `names`; first load done.
    AppModel& account(bool active, qint64 days = 44, const QStringList& servers = {"Амстердам", "Рига"},
                      bool trial = false) {
        serveAccount(active, servers.isEmpty() ? QByteArray("[]") : configs(servers));
        service().on("GET", "/api/v1/me", meWith(clock.now(), active, days, trial));
        api.signIn();
        make();
        finish(model->load());
        service().clearRequests();
        return *model;
    }

    Updater updater;
};

template <typename T> T* child(QObject* parent, const QString& name) {
    T* found = parent->findChild<T*>(name);
    if (!found)
        qWarning("no child %s", qPrintable(name));
    return found;
}

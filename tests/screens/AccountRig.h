#pragma once

// The account screens over the real AppModel (test service, virtual clock), a real Updater whose
// files live in a temporary folder, and a fake login item.

#include "model/ModelRig.h"
#include "screens/Screens.h"
#include "support/FakeLoginItem.h"
#include "update/Updater.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QJsonArray>
#include <QJsonObject>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QWidget>

struct AccountRig : ModelRig {
    AccountRig() {
        setup.installPath = temp.filePath(QStringLiteral("opt/Vemko VPN.AppDir"));
        setup.tempDir = temp.filePath(QStringLiteral("update"));
        setup.publicKey = temp.filePath(QStringLiteral("key.pem"));
        setup.codesign = QStringLiteral("/bin/false");
        setup.unzip = QStringLiteral("/usr/bin/unzip");
        updater = std::make_unique<Updater>(api.api, api.store, desktop, api.network, setup);
    }

    // Signed in, first load done: the account is a plain active one with `fields` laid over it (a
    // null field removes that member);
    // `plans` (when given) is the whole plans document.
    AppModel& signedIn(const QJsonObject& fields = {}, const QJsonObject& plans = {}) {
        if (!served)
            serveAccount();
        QJsonObject account{{"email", "u@example.com"},
                            {"active", true},
                            {"expire_at", "2026-03-01T00:00:00Z"},
                            {"devices_limit", 3},
                            {"devices_used", 1},
                            {"devices", QJsonArray{}},
                            {"trial_available", false},
                            {"promo_available", false},
                            {"support_url", "https://t.me/vemko_support"}};
        for (auto it = fields.begin(); it != fields.end(); ++it) {
            if (it.value().isNull())
                account.remove(it.key()); // null: the member is absent
            else
                account.insert(it.key(), it.value());
        }
        service().on("GET", "/api/v1/me", ScriptedReply::json(200, account));
        if (!plans.isEmpty())
            service().on("GET", "/api/v1/plans", ScriptedReply::json(200, plans));
        api.signIn();
        make();
        finish(model->load());
        service().clearRequests();
        return *model;
    }

    // The plain account's routes now, so that a test can replace some before signing in.
    void serve() {
        serveAccount();
        served = true;
    }

    ScreenContext context() {
        ScreenContext context{*model, tunnel(), *updater, api.store, desktop, clock};
        context.loginItem = &loginItem;
        context.apiOrigin = service().origin();
        return context;
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

    bool served = false;
    QTemporaryDir temp;
    UpdaterSetup setup;
    std::unique_ptr<Updater> updater;
    FakeLoginItem loginItem;
    std::unique_ptr<QWidget> view; // goes before the controllers
};

// The controls under `root` that an assistive tool would misread: a button whose accessible name
// is not its visible text, a checkable one that hides its state, a field without a name.
inline QStringList misnamedControls(QWidget* root) {
    QStringList wrong;
    for (QAbstractButton* button : root->findChildren<QAbstractButton*>()) {
        if (!button->isVisibleTo(root))
            continue;
        QAccessibleInterface* face = QAccessible::queryAccessibleInterface(button);
        if (!face || face->text(QAccessible::Name) != button->text())
            wrong.append(button->text() + QStringLiteral(": named ") +
                         (face ? face->text(QAccessible::Name) : QString()));
        else if (button->isCheckable() &&
                 (!face->state().checkable || bool(face->state().checked) != button->isChecked()))
            wrong.append(button->text() + QStringLiteral(": state hidden"));
    }
    for (QLineEdit* field : root->findChildren<QLineEdit*>()) {
        QAccessibleInterface* face = QAccessible::queryAccessibleInterface(field);
        if (field->isVisibleTo(root) && (!face || face->text(QAccessible::Name).isEmpty()))
            wrong.append(field->objectName() + QStringLiteral(": no name"));
    }
    return wrong;
}

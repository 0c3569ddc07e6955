#pragma once

// The account screens over the screens' rig with a real Updater whose files live in a temporary
// folder, a fake login item and a helper installer that installs nothing as root.

#include "platform/HelperInstaller.h"
#include "screens/UiRig.h"
#include "support/FakeLoginItem.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>

struct AccountRig : UiRig {
    AccountRig() {
        setup.installPath = temp.filePath(QStringLiteral("opt/Vemko VPN.AppDir"));
        setup.tempDir = temp.filePath(QStringLiteral("update"));
        setup.publicKey = temp.filePath(QStringLiteral("key.pem"));
        setup.codesign = QStringLiteral("/bin/false");
        updater = std::make_unique<Updater>(api.api, api.store, desktop, api.network, Clock::system(), setup);
    }
    ~AccountRig() { // the screen and the updater go before the folder, login item and helper they use
        view.reset();
        updater.reset();
    }

    // Signed in, first load done: the account is accountWith(`fields`); `plans` (when given) is
    // the whole plans document.
    AppModel& signedIn(const QJsonObject& fields = {}, const QJsonObject& plans = {}) {
        if (!served)
            serveAccount();
        service().on("GET", "/api/v1/me", ScriptedReply::json(200, accountWith(fields)));
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
        ScreenContext context = UiRig::context();
        context.loginItem = &loginItem;
        context.apiOrigin = service().origin();
        context.helperInstaller = &helperInstaller();
        return context;
    }

    // Installs nothing as root: `elevate` stands in for pkexec (it gets "/bin/sh -c SCRIPT NAME STAGE
    // FILE=SHA256..."), and the helper counts as installed with `helperPresent` or once the stand-in
    // made `helperMark()`.
    HelperInstaller& helperInstaller() {
        if (!helper) {
            const QString bundle = temp.filePath(QStringLiteral("bundle"));
            QDir().mkpath(bundle);
            for (const QString& name : HelperInstaller::files()) {
                QFile file(QDir(bundle).filePath(name));
                file.open(QIODevice::WriteOnly);
            }
            helper = std::make_unique<HelperInstaller>(
                elevate, bundle, [this] { return helperPresent || QFile::exists(helperMark()); });
        }
        return *helper;
    }
    QString helperMark() const { return temp.filePath(QStringLiteral("helper-installed")); }

    bool served = false;
    QTemporaryDir temp;
    UpdaterSetup setup;
    FakeLoginItem loginItem;
    QStringList elevate{QStringLiteral("sh"), QStringLiteral("-c"), QStringLiteral("exit 126")};
    bool helperPresent = false;
    std::unique_ptr<HelperInstaller> helper;
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

#include "MenuBarView.h"

#include "model/AppModel.h"
#include "model/StatusLine.h"
#include "platform/Desktop.h"
#include "platform/MainTask.h"
#include "tunnel/Texts.h"
#include "tunnel/Vpn.h"

#include <QMenu>
#include <QUrl>

MenuBarView::MenuBarView(AppModel& model, Vpn& vpn, Desktop& desktop, QString apiOrigin,
                         std::function<void()> openWindow, std::function<void()> quit, QObject* parent)
    : QObject(parent), m_model(model), m_vpn(vpn), m_desktop(desktop), m_apiOrigin(std::move(apiOrigin)),
      m_openWindow(std::move(openWindow)), m_quit(std::move(quit)), m_menu(new QMenu) {
    m_menu->setObjectName(QStringLiteral("trayMenu"));
    rebuild();
    for (auto signal : {&AppModel::meChanged, &AppModel::profilesChanged, &AppModel::selectedChanged})
        connect(&m_model, signal, this, &MenuBarView::rebuild);
    for (auto signal : {&Vpn::statusChanged, &Vpn::profileNameChanged, &Vpn::recoveringChanged})
        connect(&m_vpn, signal, this, &MenuBarView::rebuild);
}

MenuBarView::~MenuBarView() {
    delete m_menu;
}

bool MenuBarView::subscribed() const {
    const auto me = m_model.me();
    return me && me->active;
}

void MenuBarView::rebuild() {
    m_menu->clear();
    // clear() keeps submenus alive as children: the old server list goes explicitly.
    delete m_servers;
    const auto named = [this](QAction* action, const char* name) {
        action->setObjectName(QString::fromLatin1(name));
        return action;
    };

    const QString status = statusLine(m_vpn.status(), m_vpn.profileName(), m_model.me(), m_vpn.recovering());
    // An inert line: enabled so it reads clearly, but choosing it does nothing.
    named(m_menu->addAction(status), "statusLine");
    m_menu->addSeparator();

    const auto selected = m_model.selected();
    if (m_vpn.status() != VpnStatus::Off) {
        connect(named(m_menu->addAction(QStringLiteral("Отключить")), "mainAction"), &QAction::triggered,
                this, [this] { m_vpn.disconnect(); });
    } else if (subscribed() && selected) {
        connect(named(m_menu->addAction(QStringLiteral("Подключить · ") + selected->name), "mainAction"),
                &QAction::triggered, this,
                [this, server = *selected] { startMainTask(m_vpn.connect(server)); });
    } else {
        connect(named(m_menu->addAction(QStringLiteral("Нужна подписка")), "mainAction"), &QAction::triggered,
                this, [this] { m_openWindow(); });
    }

    const QList<ServerProfile> profiles = m_model.profiles();
    if (!profiles.isEmpty()) {
        QMenu* servers = m_servers = m_menu->addMenu(QStringLiteral("Сервер"));
        servers->setObjectName(QStringLiteral("serverMenu"));
        servers->menuAction()->setObjectName(QStringLiteral("serverMenuAction"));
        const auto carrier = m_vpn.carrier();
        for (const ServerProfile& profile : profiles) {
            const bool chosen = selected && selected->name == profile.name;
            QString title = chosen ? QStringLiteral("✓ ") + profile.name : profile.name;
            // After a fail-over the tunnel runs through another server than the one chosen.
            if (!chosen && carrier == profile.name)
                title += tunnel_texts::carries;
            QAction* entry = servers->addAction(title);
            connect(entry, &QAction::triggered, this, [this, profile] {
                m_model.select(profile);
                if (m_vpn.status() == VpnStatus::Off && subscribed())
                    startMainTask(m_vpn.connect(profile));
            });
        }
    }

    m_menu->addSeparator();
    connect(named(m_menu->addAction(QStringLiteral("Открыть Вемко")), "openWindow"), &QAction::triggered,
            this, [this] { m_openWindow(); });
    connect(named(m_menu->addAction(QStringLiteral("Личный кабинет")), "account"), &QAction::triggered, this,
            [this] {
                const QUrl page(m_apiOrigin + QStringLiteral("/account"), QUrl::StrictMode);
                if (page.isValid() && !page.scheme().isEmpty() && !page.host().isEmpty())
                    m_desktop.openUrl(page);
            });
    m_menu->addSeparator();
    connect(named(m_menu->addAction(QStringLiteral("Выйти из программы")), "quit"), &QAction::triggered, this,
            [this] {
                // Quitting from the menu always stops the tunnel first.
                m_vpn.disconnect();
                m_quit();
            });
}

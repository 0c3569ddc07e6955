#include "VemkoVPNApp.h"

#include "LinkSignIn.h"
#include "MainWindow.h"
#include "MenuBarView.h"
#include "RootView.h"
#include "Tray.h"
#include "model/AppModel.h"
#include "model/Startup.h"
#include "platform/Desktop.h"
#include "platform/MainTask.h"
#include "tunnel/Vpn.h"

#include <QGuiApplication>
#include <QPointer>

VemkoVPNApp::VemkoVPNApp(const ScreenContext& context, QString apiOrigin, QObject* parent)
    : QObject(parent), m_context(context), m_window(std::make_unique<MainWindow>(context)) {
    m_menu = std::make_unique<MenuBarView>(
        context.model, context.vpn, context.desktop, std::move(apiOrigin), [this] { openWindow(); },
        [this] { m_context.desktop.terminate(); });
    m_tray = std::make_unique<Tray>(*m_menu, context.vpn, [this] { openWindow(); });
    m_links = std::make_unique<LinkSignIn>(context.model, *m_window);
    connect(m_window.get(), &MainWindow::opened, this, &VemkoVPNApp::opened);
    connect(&context.model, &AppModel::pendingOrderChanged, this, &VemkoVPNApp::watchPayment);
    connect(m_window.get(), &MainWindow::closedForGood, this, [this] { m_context.desktop.terminate(); });
    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state == Qt::ApplicationActive)
            becameActive();
    });
}

VemkoVPNApp::~VemkoVPNApp() = default;

void VemkoVPNApp::openWindow() {
    m_window->bringForward();
}

void VemkoVPNApp::handleArguments(const QStringList& arguments) {
    const qsizetype optionsEnd = arguments.indexOf(QStringLiteral("--"));
    const bool hidden =
        arguments.mid(1, optionsEnd < 0 ? -1 : optionsEnd - 1).contains(QStringLiteral("--hidden"));
    if (!hidden || !m_tray->check()) {
        openWindow();
    } else if (!m_updateLoopStarted) {
        // Started at login into the tray: the start-up sequence runs without the window.
        opened(true);
    }
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument.startsWith(QLatin1String("vemko:"), Qt::CaseInsensitive))
            m_links->handle(argument);
    }
}

void VemkoVPNApp::opened(bool first) {
    if (!first)
        m_window->root()->setTab(Tab::Home);
    // One update loop per process, however often the window is reopened.
    startMainTask(runStartup(m_context.model, m_context.vpn, m_context.updater, m_context.store,
                             m_context.clock, !m_updateLoopStarted));
    m_updateLoopStarted = true;
    watchPayment();
}

void VemkoVPNApp::watchPayment() {
    if (!m_window->isVisible() || !m_context.model.pendingOrder())
        return;
    // While the window is shown the payment is followed as it happens, not only on coming back.
    const QPointer<MainWindow> window(m_window.get());
    startMainTask(m_context.model.watchPayment([window] { return window && window->isVisible(); }));
}

void VemkoVPNApp::becameActive() {
    m_tray->check();
    startMainTask(refreshOnActivation());
}

QCoro::Task<> VemkoVPNApp::refreshOnActivation() {
    const QPointer<AppModel> model(&m_context.model);
    const QPointer<Vpn> vpn(&m_context.vpn);
    co_await model->load();
    if (!model)
        co_return;
    if (!model->watchingPayment()) // a watch already polls it
        co_await model->checkPayment();
    if (vpn)
        vpn->syncStatus();
}

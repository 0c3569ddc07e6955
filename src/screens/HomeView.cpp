#include "HomeView.h"

#include "Brand.h"
#include "Card.h"
#include "Label2.h"
#include "Palette.h"
#include "Phase.h"
#include "PowerButton.h"
#include "ScreenHeader.h"
#include "ServerRow.h"
#include "StatusPanel.h"
#include "format/Format.h"
#include "model/AppModel.h"
#include "platform/MainTask.h"
#include "tunnel/Texts.h"
#include "tunnel/Vpn.h"

#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

namespace {

const QString approvalText =
    QStringLiteral("Подтвердите доступ Vemko VPN к сети в системном окне запроса пароля. Окно уже открыто.");

QLabel* textLabel(QWidget* parent, const QString& name, int pixels = 13) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setWordWrap(true);
    label->setFont(Brand::font(pixels));
    return label;
}

Card* captionedCard(QWidget* parent, const QString& name, const QString& caption) {
    auto* card = new Card(parent);
    card->setObjectName(name);
    card->body()->addWidget(new Label2(caption, card));
    return card;
}

} // namespace

HomeView::HomeView(AppModel& model, Vpn& vpn, Clock& clock, QWidget* parent)
    : QWidget(parent), m_model(model), m_vpn(vpn), m_clock(clock),
      m_tick(new Phase(this, 1, [this] { refreshSubtitle(); })) {
    setObjectName(QStringLiteral("homeView"));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setFocusPolicy(Qt::NoFocus); // focus goes to the controls; the area follows it
    Brand::makeQuietScrolling(scroll);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->viewport()->setAutoFillBackground(false);
    outer->addWidget(scroll);

    auto* content = new QWidget(scroll);
    content->setAutoFillBackground(false);
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(14, 16, 14, 16);
    column->setSpacing(4);
    scroll->setWidget(content);

    m_header = new ScreenHeader(QStringLiteral("Vemko VPN"), {}, content);
    auto* headerRow = new QVBoxLayout;
    headerRow->setContentsMargins(6, 0, 6, 8);
    headerRow->addWidget(m_header);
    column->addLayout(headerRow);

    m_panel = new StatusPanel(content);
    auto* panelRow = new QVBoxLayout;
    panelRow->setContentsMargins(6, 0, 6, 6);
    panelRow->addWidget(m_panel);
    column->addLayout(panelRow);
    connect(m_panel->powerButton(), &QAbstractButton::clicked, this, &HomeView::pressPower);

    m_approvalCard =
        captionedCard(content, QStringLiteral("approvalCard"), QStringLiteral("Нужно разрешение"));
    QLabel* approval = textLabel(m_approvalCard, QStringLiteral("approvalText"));
    approval->setText(approvalText);
    m_approvalCard->body()->addWidget(approval);
    auto* settings = new QPushButton(QStringLiteral("Открыть настройки ещё раз"), m_approvalCard);
    settings->setObjectName(QStringLiteral("openSettingsButton"));
    Brand::makeBordered(settings);
    connect(settings, &QPushButton::clicked, this, [this] { m_vpn.openExtensionSettings(); });
    m_approvalCard->body()->addWidget(settings, 0, Qt::AlignLeft);
    column->addWidget(m_approvalCard);

    m_limitCard =
        captionedCard(content, QStringLiteral("deviceLimitCard"), QStringLiteral("Лимит устройств"));
    m_limitText = textLabel(m_limitCard, QStringLiteral("deviceLimitText"));
    m_limitCard->body()->addWidget(m_limitText);
    column->addWidget(m_limitCard);

    m_errorCard =
        captionedCard(content, QStringLiteral("errorCard"), QStringLiteral("Не удалось подключиться"));
    m_errorText = textLabel(m_errorCard, QStringLiteral("errorText"));
    m_errorCard->body()->addWidget(m_errorText);
    column->addWidget(m_errorCard);

    Card* servers = captionedCard(content, QStringLiteral("serverCard"), QStringLiteral("Куда выходим"));
    m_serversEmpty = textLabel(servers, QStringLiteral("serversEmpty"));
    m_serversEmpty->setText(QStringLiteral("Список серверов появится после оплаты подписки"));
    QPalette grey = m_serversEmpty->palette();
    grey.setColor(QPalette::WindowText, Brand::secondaryText());
    m_serversEmpty->setPalette(grey);
    servers->body()->addWidget(m_serversEmpty);
    m_rows = new QVBoxLayout;
    m_rows->setSpacing(2);
    servers->body()->addLayout(m_rows);
    column->addWidget(servers);

    Card* subscription =
        captionedCard(content, QStringLiteral("subscriptionCard"), QStringLiteral("Подписка"));
    m_headline = textLabel(subscription, QStringLiteral("subscriptionHeadline"), 17);
    m_headline->setFont(Brand::font(17, QFont::DemiBold));
    m_detail = textLabel(subscription, QStringLiteral("subscriptionDetail"), 12);
    m_detail->setPalette(grey);
    m_trial = new QPushButton(QStringLiteral("Пробный день"), subscription);
    m_trial->setObjectName(QStringLiteral("trialButton"));
    Brand::makeBordered(m_trial);
    connect(m_trial, &QPushButton::clicked, this, [this] { startMainTask(m_model.takeTrial()); });
    subscription->body()->addWidget(m_headline);
    subscription->body()->addWidget(m_detail);
    subscription->body()->addWidget(m_trial, 0, Qt::AlignLeft);
    column->addWidget(subscription);
    column->addStretch(1);

    // Render now, then follow every property shown.
    rebuildServers();
    connect(&m_model, &AppModel::profilesChanged, this, &HomeView::rebuildServers);
    connect(&m_vpn, &Vpn::profilesChanged, this, &HomeView::rebuildServers); // what this engine can run
    for (auto signal : {&AppModel::meChanged, &AppModel::selectedChanged, &AppModel::deviceLimitChanged})
        connect(&m_model, signal, this, &HomeView::refresh);
    for (auto signal :
         {&Vpn::statusChanged, &Vpn::profileNameChanged, &Vpn::errorChanged, &Vpn::sinceChanged,
          &Vpn::exitChanged, &Vpn::needsApprovalChanged, &Vpn::blockedChanged, &Vpn::recoveringChanged})
        connect(&m_vpn, signal, this, &HomeView::refresh);
}

bool HomeView::subscribed() const {
    const auto me = m_model.me();
    return me && me->active;
}

QString HomeView::title() const {
    switch (m_vpn.status()) {
    case VpnStatus::Connecting:
        return m_vpn.recovering() ? tunnel_texts::connectionLost : QStringLiteral("Подключаюсь…");
    case VpnStatus::On:
        return QStringLiteral("Подключено");
    case VpnStatus::Off:
        break;
    }
    if (m_model.deviceLimit())
        return QStringLiteral("Лимит устройств");
    return subscribed() ? QStringLiteral("Отключено") : QStringLiteral("Нужна подписка");
}

QString HomeView::subtitle(const QDateTime& at) const {
    switch (m_vpn.status()) {
    case VpnStatus::Connecting: // the server being tried ("пробую: " + name after the first)
        return m_vpn.profileName().value_or(QStringLiteral("поднимаю нору"));
    case VpnStatus::On: {
        const QString where = m_vpn.exit().value_or(m_vpn.profileName().value_or(QString()));
        return where + QStringLiteral(" · ") + clock(m_vpn.since(), at);
    }
    case VpnStatus::Off:
        break;
    }
    if (subscribed())
        return humanLeft(m_model.me()->expire_at, m_clock);
    return QStringLiteral("Оплатите тариф или включите пробный день");
}

void HomeView::refresh() {
    const auto me = m_model.me();
    const bool active = subscribed();
    const qint64 days = me ? daysLeft(me->expire_at, m_clock) : 0;

    m_header->setSubtitle(active ? QStringLiteral("подписка до ") + formatExpire(me->expire_at)
                                 : QStringLiteral("подписка не активна"));
    m_panel->setColors(Palette::statusColors(m_vpn.status(), active, days, m_model.deviceLimit()));
    m_panel->powerButton()->setStatus(m_vpn.status());
    refreshSubtitle();

    m_approvalCard->setVisible(m_vpn.needsApproval());
    m_limitCard->setVisible(m_model.deviceLimit());
    m_limitText->setText(
        QStringLiteral("Занято %1 из %2. Отвяжите лишнее устройство или возьмите тариф побольше.")
            .arg(me ? me->devices_used : 0)
            .arg(me ? me->devices_limit : 0));
    // While the kill switch holds, that is what the user must know first.
    const bool blocked = m_vpn.blocked();
    m_errorCard->setVisible(blocked || m_vpn.error().has_value());
    m_errorCard->findChild<Label2*>()->setCaption(blocked ? QStringLiteral("Интернет заблокирован")
                                                          : QStringLiteral("Не удалось подключиться"));
    const QString blockedText =
        m_vpn.blockedReason().isEmpty() ? tunnel_texts::killSwitch : m_vpn.blockedReason();
    m_errorText->setText(blocked ? blockedText : m_vpn.error().value_or(QString()));

    const auto selected = m_model.selected();
    const auto carrier = m_vpn.carrier();
    for (ServerRow* row : std::as_const(m_serverRows)) {
        row->setSelected(selected && selected->name == row->profile().name);
        row->setCarrying(carrier == row->profile().name);
    }

    if (active) {
        m_headline->setText(days > 0 ? QStringLiteral("%1 %2 осталось")
                                           .arg(days)
                                           .arg(plural(days, QStringLiteral("день"), QStringLiteral("дня"),
                                                       QStringLiteral("дней")))
                                     : QStringLiteral("Осталось ") + humanLeft(me->expire_at, m_clock));
        m_detail->setText(QStringLiteral("До %1 · устройств %2 из %3")
                              .arg(formatExpire(me->expire_at))
                              .arg(me->devices_used)
                              .arg(me->devices_limit));
    } else {
        m_headline->setText(QStringLiteral("Подписка не активна"));
    }
    m_detail->setVisible(active);
    m_trial->setVisible(!active && me && me->trial_available);
    updateTick();
}

void HomeView::refreshSubtitle() {
    m_panel->setTexts(title(), subtitle(m_clock.now()));
}

void HomeView::rebuildServers() {
    qDeleteAll(m_serverRows);
    m_serverRows.clear();
    const QList<ServerProfile> profiles = m_model.profiles();
    for (const ServerProfile& profile : profiles) {
        auto* row =
            new ServerRow(profile, false, m_vpn.unusableReason(profile.name), m_serversEmpty->parentWidget());
        connect(row, &QAbstractButton::clicked, this, [this, profile] { m_model.select(profile); });
        m_rows->addWidget(row);
        m_serverRows.append(row);
    }
    m_serversEmpty->setVisible(profiles.isEmpty());
    refresh();
}

void HomeView::pressPower() {
    if (m_vpn.status() != VpnStatus::Off) {
        m_vpn.disconnect();
        return;
    }
    const auto server = m_model.selected();
    if (subscribed() && server)
        startMainTask(m_vpn.connect(*server));
}

// The connected clock ticks once a second, only while it is on screen.
void HomeView::updateTick() {
    const bool wanted = isVisible() && m_vpn.status() == VpnStatus::On;
    if (wanted && !m_tick->running())
        m_tick->start();
    else if (!wanted)
        m_tick->stop();
}

void HomeView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    refreshSubtitle();
    updateTick();
}

void HomeView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    m_tick->stop();
}

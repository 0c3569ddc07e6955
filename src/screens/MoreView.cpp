#include "MoreView.h"

#include "Brand.h"
#include "Card.h"
#include "Label2.h"
#include "ScreenHeader.h"
#include "ScreenText.h"
#include "ScrollScreen.h"
#include "device/Store.h"
#include "format/Format.h"
#include "model/AppModel.h"
#include "model/OpenableUrl.h"
#include "platform/Defaults.h"
#include "platform/Desktop.h"
#include "platform/HelperInstaller.h"
#include "platform/LoginItem.h"
#include "platform/MainTask.h"
#include "tunnel/Texts.h"
#include "tunnel/Vpn.h"
#include "update/Updater.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QVBoxLayout>

namespace {

const QString telegramBot = QStringLiteral("https://t.me/vemko_bot");
const QString loginItemFailed = QStringLiteral("Не удалось изменить автозапуск");
const QString systemMode = QStringLiteral("system");
const QString helperMissing = QStringLiteral("Нужен помощник vemko-netd: он ставится один раз, с паролем "
                                             "администратора, когда вы выберете этот режим");
const QString helperInstalling =
    QStringLiteral("Устанавливаю помощник vemko-netd — подтвердите паролем администратора…");

QString number(qint64 n) {
    return QString::asprintf("%lld", static_cast<long long>(n));
}

Card* captioned(QWidget* parent, const QString& name, const QString& caption) {
    auto* card = new Card(parent);
    card->setObjectName(name);
    if (!caption.isEmpty())
        card->body()->addWidget(new Label2(caption, card));
    return card;
}

// A figure over its label.
QLabel* stat(QWidget* parent, QHBoxLayout* row, const QString& name, const QString& label) {
    auto* column = new QVBoxLayout;
    column->setSpacing(0);
    QLabel* value = screenLabel(parent, name, 17, QFont::DemiBold);
    QLabel* caption = screenLabel(parent, {}, 11, QFont::Normal, Brand::secondaryText());
    caption->setText(label);
    column->addWidget(value);
    column->addWidget(caption);
    row->addLayout(column, 1);
    return value;
}

QPushButton* button(QWidget* parent, const QString& name, const QString& text) {
    auto* pushButton = new QPushButton(text, parent);
    pushButton->setObjectName(name);
    pushButton->setCursor(Qt::PointingHandCursor);
    pushButton->setMinimumWidth(pushButton->sizeHint().width() + 14);
    return pushButton;
}

QString prominentStyle() {
    return QStringLiteral("QPushButton { background: %1; color: white; border: none; border-radius: 7px; "
                          "padding: 6px 14px; font-weight: 600; }"
                          "QPushButton:pressed { background: %2; }"
                          "QPushButton:focus { border: 2px solid %3; }")
        .arg(Brand::brand().name(), Brand::brand().darker(115).name(), Brand::brand().darker(150).name());
}

// White text on a capsule of the brand colour.
class Badge : public QLabel {
public:
    using QLabel::QLabel;
    QSize sizeHint() const override { return QLabel::sizeHint() + QSize(18, 6); }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Brand::brand());
        const QRectF area = rect();
        painter.drawRoundedRect(area, area.height() / 2, area.height() / 2);
        painter.setPen(Qt::white);
        painter.setFont(font());
        painter.drawText(rect(), Qt::AlignCenter, text());
    }
};

} // namespace

MoreView::MoreView(AppModel& model, Updater& updater, Store& store, Desktop& desktop, LoginItem& loginItem,
                   QString apiOrigin, QWidget* parent)
    : QWidget(parent), m_model(model), m_updater(updater), m_store(store), m_desktop(desktop),
      m_loginItem(loginItem), m_apiOrigin(std::move(apiOrigin)) {
    setObjectName(QStringLiteral("moreScreen"));
    QVBoxLayout* column = scrollColumn(this);
    QWidget* content = column->parentWidget();
    column->setSpacing(0);
    m_header = new ScreenHeader(QStringLiteral("Ещё"), {}, content);
    addInset(column, m_header);
    column->addSpacing(10);

    column->addWidget(m_referral = makeReferralCard(content));
    column->addWidget(m_promo = makePromoCard(content));
    m_behaviour = captioned(content, QStringLiteral("behaviourCard"), QStringLiteral("Поведение"));
    column->addWidget(m_behaviour);
    column->addWidget(makeHelpCard(content));
    column->addWidget(makeApplicationCard(content));
    column->addStretch(1);

    addBehaviourSwitch(
        QStringLiteral("loginItemSwitch"), QStringLiteral("Запускать при входе в систему"),
        [this] { return m_loginItem.enabled(); },
        [this](bool on) {
            try {
                m_loginItem.setEnabled(on);
            } catch (...) {
                m_model.reportError(loginItemFailed);
            }
        });
    addBehaviourSwitch(
        QStringLiteral("autoConnectSwitch"), QStringLiteral("Подключаться сразу при запуске"),
        [this] { return m_store.autoConnect(); },
        [this](bool on) { storeSwitch(QStringLiteral("auto_connect"), on); });

    refresh();
    for (auto signal : {&AppModel::meChanged, &AppModel::referralChanged, &AppModel::errorChanged})
        connect(&m_model, signal, this, &MoreView::refresh);
    for (auto signal : {&Updater::availableChanged, &Updater::progressChanged, &Updater::messageChanged})
        connect(&m_updater, signal, this, &MoreView::refresh);
}

QCheckBox* MoreView::addBehaviourSwitch(const QString& name, const QString& text, std::function<bool()> read,
                                        std::function<void(bool)> write) {
    auto* box = new QCheckBox(text, m_behaviour);
    box->setObjectName(name);
    box->setAccessibleName(text);
    box->setChecked(read());
    connect(box, &QCheckBox::clicked, this, [this, write = std::move(write)](bool on) {
        write(on);
        refresh(); // shows what really holds now, whatever was asked
    });
    m_behaviour->body()->addWidget(box);
    m_switches.append({box, std::move(read)});
    return box;
}

void MoreView::storeSwitch(const QString& key, bool on) {
    if (!m_store.d().setBoolean(key, on))
        m_model.reportError(m_store.d().notSavedText());
    refresh();
}

void MoreView::addTunnelModeChoice(Vpn& vpn, HelperInstaller& installer) {
    m_vpn = &vpn;
    m_installer = &installer;
    auto* choice = new QWidget(m_behaviour);
    choice->setObjectName(QStringLiteral("tunnelModeChoice"));
    auto* column = new QVBoxLayout(choice);
    column->setContentsMargins(0, 0, 0, 6);
    column->setSpacing(2);
    QLabel* title = screenLabel(choice, QStringLiteral("tunnelModeTitle"), 13, QFont::DemiBold);
    title->setText(QStringLiteral("Что идёт через VPN"));
    column->addWidget(title);
    m_modes = new QButtonGroup(choice);
    for (const tunnel_mode_texts::Choice& mode : tunnel_mode_texts::choices) {
        auto* radio = new QRadioButton(mode.title, choice);
        radio->setObjectName(QStringLiteral("mode_") + mode.mode);
        radio->setProperty("mode", mode.mode);
        radio->setAccessibleName(mode.title);
        radio->setAccessibleDescription(mode.covers);
        m_modes->addButton(radio);
        column->addWidget(radio);
        // The line saying what the mode covers sits under its title, aligned with the text.
        QLabel* covers = screenLabel(choice, QStringLiteral("covers_") + mode.mode, 11, QFont::Normal,
                                     Brand::secondaryText());
        covers->setText(mode.covers);
        covers->setContentsMargins(
            radio->style()->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, radio) +
                radio->style()->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, nullptr, radio),
            0, 0, 4);
        column->addWidget(covers);
        if (mode.mode != systemMode)
            continue;
        m_helperNote =
            screenLabel(choice, QStringLiteral("helperNote"), 11, QFont::Normal, Brand::secondaryText());
        m_helperNote->setText(helperMissing);
        m_helperNote->setContentsMargins(covers->contentsMargins());
        column->addWidget(m_helperNote);
        m_helperProgress = new QWidget(choice);
        m_helperProgress->setObjectName(QStringLiteral("helperProgress"));
        auto* progressColumn = new QVBoxLayout(m_helperProgress);
        progressColumn->setContentsMargins(covers->contentsMargins());
        auto* bar = new QProgressBar(m_helperProgress);
        bar->setRange(0, 0); // how long the administrator takes is not known
        bar->setTextVisible(false);
        bar->setMaximumHeight(6);
        bar->setAccessibleName(QStringLiteral("Установка помощника"));
        QLabel* progressText = screenLabel(m_helperProgress, QStringLiteral("helperProgressText"), 11,
                                           QFont::Normal, Brand::secondaryText());
        progressText->setText(helperInstalling);
        progressColumn->addWidget(bar);
        progressColumn->addWidget(progressText);
        column->addWidget(m_helperProgress);
        m_helperError = screenLabel(choice, QStringLiteral("helperError"), 11, QFont::Normal, failureRed());
        m_helperError->setContentsMargins(covers->contentsMargins());
        column->addWidget(m_helperError);
    }
    m_behaviour->body()->insertWidget(1, choice); // under the caption, above the switches
    connect(m_modes, &QButtonGroup::buttonClicked, this,
            [this](QAbstractButton* button) { chooseTunnelMode(button->property("mode").toString()); });
    connect(m_vpn, &Vpn::tunnelModeChanged, this, &MoreView::refreshTunnelMode);
    connect(m_vpn, &Vpn::profilesChanged, this, &MoreView::refreshEngine);
    refreshEngine();
    connect(m_installer, &HelperInstaller::changed, this, [this] {
        // A finished install of the helper completes the choice that asked for it.
        if (!m_installer->running() && !m_installer->failure() && m_installer->installed() &&
            !m_vpn->setTunnelMode(systemMode))
            m_model.reportError(m_store.d().notSavedText());
        refreshTunnelMode();
    });
    refreshTunnelMode();
}

void MoreView::chooseTunnelMode(const QString& mode) {
    if (mode == systemMode && !m_installer->installed())
        m_installer->install(); // the mode follows once the helper is there
    else if (!m_vpn->setTunnelMode(mode))
        m_model.reportError(m_store.d().notSavedText());
    refreshTunnelMode();
}

void MoreView::refreshTunnelMode() {
    if (!m_vpn)
        return;
    const QString current = m_vpn->tunnelMode();
    const bool installing = m_installer->running();
    for (QAbstractButton* button : m_modes->buttons()) {
        button->setChecked(button->property("mode").toString() == current);
        button->setEnabled(!installing);
    }
    const bool installed = m_installer->installed();
    m_helperNote->setVisible(!installed && !installing);
    m_helperProgress->setVisible(installing);
    m_helperError->setVisible(m_installer->failure().has_value());
    m_helperError->setText(m_installer->failure().value_or(QString()));
}

// Which engine carries the tunnel, and what to do when some servers need another one.
void MoreView::refreshEngine() {
    const QString name = m_vpn->engineName();
    m_engineLine->setVisible(true);
    m_engineLine->setText(name.isEmpty()
                              ? QStringLiteral("Движок туннеля не найден: ") + m_vpn->engineProblem()
                              : QStringLiteral("Движок туннеля: ") + name);
    qsizetype unusable = 0;
    for (const ServerProfile& profile : m_vpn->profiles())
        unusable += m_vpn->unusableReason(profile.name).has_value();
    m_engineAdvice->setVisible(name.isEmpty() || unusable > 0);
    m_engineAdvice->setText(
        name.isEmpty()
            ? QStringLiteral("Установите Xray (README, раздел «Движок туннеля») или пакет v2ray.")
            : QStringLiteral(
                  "%1 %2 не запустить на этом движке: установите Xray (README, раздел «Движок туннеля»).")
                  .arg(unusable)
                  .arg(plural(unusable, QStringLiteral("сервер"), QStringLiteral("сервера"),
                              QStringLiteral("серверов"))));
}

Card* MoreView::makeReferralCard(QWidget* content) {
    Card* card = captioned(content, QStringLiteral("referralCard"), {});
    auto* top = new QHBoxLayout;
    QLabel* title = screenLabel(card, QStringLiteral("referralTitle"), 17, QFont::DemiBold);
    title->setText(QStringLiteral("Зови друзей"));
    title->setWordWrap(false);
    top->addWidget(title);
    top->addStretch(1);
    m_badge = new Badge(card);
    m_badge->setObjectName(QStringLiteral("referralBadge"));
    m_badge->setFont(Brand::font(11, QFont::DemiBold));
    top->addWidget(m_badge, 0, Qt::AlignVCenter);
    card->body()->addLayout(top);

    m_referralText =
        screenLabel(card, QStringLiteral("referralText"), 12, QFont::Normal, Brand::secondaryText());
    card->body()->addWidget(m_referralText);

    auto* codeRow = new QHBoxLayout;
    m_code = screenLabel(card, QStringLiteral("referralCode"), 17);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPixelSize(17);
    m_code->setFont(mono);
    m_code->setWordWrap(false);
    m_code->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_code->setStyleSheet(
        QStringLiteral("QLabel { background: rgba(29,29,31,15); border-radius: 8px; padding: 5px 10px; }"));
    codeRow->addWidget(m_code);
    codeRow->addStretch(1);
    QPushButton* copy = button(card, QStringLiteral("copyLinkButton"), QStringLiteral("Копировать ссылку"));
    connect(copy, &QPushButton::clicked, this, [this] {
        if (const auto referral = m_model.referral())
            m_desktop.copyText(referral->link);
    });
    codeRow->addWidget(copy);
    card->body()->addLayout(codeRow);

    auto* stats = new QHBoxLayout;
    m_invited = stat(card, stats, QStringLiteral("statInvited"), QStringLiteral("пришли"));
    m_paid = stat(card, stats, QStringLiteral("statPaid"), QStringLiteral("оплатили"));
    m_days = stat(card, stats, QStringLiteral("statDays"), QStringLiteral("дней вам"));
    card->body()->addLayout(stats);
    return card;
}

Card* MoreView::makePromoCard(QWidget* content) {
    Card* card = captioned(content, QStringLiteral("promoCard"), {});
    QLabel* title = screenLabel(card, QStringLiteral("promoTitle"), 13, QFont::DemiBold);
    title->setText(QStringLiteral("Промокод"));
    card->body()->addWidget(title);
    auto* row = new QHBoxLayout;
    m_promoField = new QLineEdit(card);
    m_promoField->setObjectName(QStringLiteral("promoField"));
    m_promoField->setPlaceholderText(QStringLiteral("Например VEMKO7"));
    m_promoField->setAccessibleName(QStringLiteral("Промокод"));
    row->addWidget(m_promoField, 1);
    m_promoButton = button(card, QStringLiteral("promoButton"), QStringLiteral("Ввести"));
    row->addWidget(m_promoButton);
    card->body()->addLayout(row);
    connect(m_promoField, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_promoButton->setEnabled(!text.isEmpty()); });
    connect(m_promoButton, &QPushButton::clicked, this, &MoreView::submitPromo);
    connect(m_promoField, &QLineEdit::returnPressed, this, [this] {
        if (m_promoButton->isEnabled())
            submitPromo();
    });
    m_promoButton->setEnabled(false);
    return card;
}

void MoreView::submitPromo() {
    // The field empties once the flow has ended, whichever way it ended.
    startMainTask([](QPointer<MoreView> self, AppModel& model, QString code) -> QCoro::Task<> {
        co_await model.applyPromo(std::move(code));
        if (self)
            self->m_promoField->clear();
    }(this, m_model, m_promoField->text()));
}

Card* MoreView::makeHelpCard(QWidget* content) {
    Card* card = captioned(content, QStringLiteral("helpCard"), QStringLiteral("Помощь"));
    auto* row = new QHBoxLayout;
    QPushButton* support = button(card, QStringLiteral("supportButton"), QStringLiteral("Поддержка"));
    support->setStyleSheet(prominentStyle());
    connect(support, &QPushButton::clicked, this, [this] {
        const auto me = m_model.me();
        // A support address the desktop may not open (empty, some other scheme) falls back to the bot.
        const auto link = me ? openableUrl(me->support_url) : std::nullopt;
        m_desktop.openUrl(link.value_or(QUrl(telegramBot)));
    });
    QPushButton* account = button(card, QStringLiteral("accountButton"), QStringLiteral("Личный кабинет"));
    connect(account, &QPushButton::clicked, this,
            [this] { m_desktop.openUrl(QUrl(m_apiOrigin + QStringLiteral("/account"))); });
    row->addWidget(support);
    row->addWidget(account);
    row->addStretch(1);
    card->body()->addLayout(row);
    return card;
}

Card* MoreView::makeApplicationCard(QWidget* content) {
    Card* card = captioned(content, QStringLiteral("applicationCard"), QStringLiteral("Приложение"));
    m_updateTitle = screenLabel(card, QStringLiteral("updateTitle"), 13, QFont::DemiBold);
    m_updateNotes =
        screenLabel(card, QStringLiteral("updateNotes"), 12, QFont::Normal, Brand::secondaryText());
    m_install = button(card, QStringLiteral("installButton"), QStringLiteral("Обновить сейчас"));
    m_install->setStyleSheet(prominentStyle());
    connect(m_install, &QPushButton::clicked, this, [this] { startMainTask(m_updater.install()); });
    // A system package's updates come through the package manager: the card says so instead.
    m_packageNote =
        screenLabel(card, QStringLiteral("packageManagedNote"), 12, QFont::Normal, Brand::secondaryText());
    m_packageNote->setText(Updater::packageManagedText());

    m_progressRow = new QWidget(card);
    m_progressRow->setObjectName(QStringLiteral("progressRow"));
    auto* progressColumn = new QVBoxLayout(m_progressRow);
    progressColumn->setContentsMargins(0, 0, 0, 0);
    m_progress = new QProgressBar(m_progressRow);
    m_progress->setObjectName(QStringLiteral("updateProgress"));
    m_progress->setRange(0, 100);
    m_progress->setTextVisible(false);
    m_progress->setAccessibleName(QStringLiteral("Обновление"));
    m_progressText = screenLabel(m_progressRow, QStringLiteral("updateProgressText"), 12, QFont::Normal,
                                 Brand::secondaryText());
    progressColumn->addWidget(m_progress);
    progressColumn->addWidget(m_progressText);

    m_current =
        screenLabel(card, QStringLiteral("currentVersion"), 12, QFont::Normal, Brand::secondaryText());
    m_engineLine = screenLabel(card, QStringLiteral("engineLine"), 12, QFont::Normal, Brand::secondaryText());
    m_engineAdvice = screenLabel(card, QStringLiteral("engineAdvice"), 11, QFont::Normal, failureRed());
    m_engineLine->hide();
    m_engineAdvice->hide();
    m_check = button(card, QStringLiteral("checkButton"), QStringLiteral("Проверить обновление"));
    connect(m_check, &QPushButton::clicked, this, [this] { startMainTask(m_updater.check(false)); });
    m_updateMessage = screenLabel(card, QStringLiteral("updateMessage"), 12, QFont::Normal, failureRed());
    m_autoUpdate = new QCheckBox(QStringLiteral("Обновлять автоматически"), card);
    m_autoUpdate->setObjectName(QStringLiteral("autoUpdateSwitch"));
    m_autoUpdate->setAccessibleName(m_autoUpdate->text());
    connect(m_autoUpdate, &QCheckBox::clicked, this,
            [this](bool on) { storeSwitch(QStringLiteral("auto_update"), on); });
    QLabel* note =
        screenLabel(card, QStringLiteral("accountNote"), 11, QFont::Normal, Brand::secondaryText());
    note->setText(QStringLiteral("Аккаунт закреплён за этим компьютером: один компьютер — один аккаунт."));

    for (QWidget* part : std::initializer_list<QWidget*>{m_updateTitle, m_updateNotes})
        card->body()->addWidget(part);
    card->body()->addWidget(m_install, 0, Qt::AlignLeft);
    card->body()->addWidget(m_packageNote);
    card->body()->addWidget(m_progressRow);
    card->body()->addWidget(m_current);
    card->body()->addWidget(m_engineLine);
    card->body()->addWidget(m_engineAdvice);
    card->body()->addWidget(m_check, 0, Qt::AlignLeft);
    card->body()->addWidget(m_updateMessage);
    card->body()->addWidget(m_autoUpdate);
    card->body()->addWidget(note);
    return card;
}

void MoreView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    refresh();
}

void MoreView::refresh() {
    const auto me = m_model.me();
    QString subtitle = QStringLiteral("аккаунт");
    if (me && me->email)
        subtitle = *me->email;
    else if (me && me->telegram)
        subtitle = u'@' + *me->telegram;
    m_header->setSubtitle(subtitle);

    const auto referral = m_model.referral();
    m_referral->setVisible(referral.has_value());
    if (referral) {
        m_badge->setText(u'+' + number(referral->days_paid) + QStringLiteral(" дней бесплатно"));
        m_referralText->setText(QStringLiteral("Другу — ") + number(referral->days_friend) +
                                QStringLiteral(" день сразу. Вам — ") + number(referral->days_invite) +
                                QStringLiteral(" день за каждого и ещё ") + number(referral->days_paid) +
                                QStringLiteral(" дней, когда он впервые оплатит подписку."));
        m_code->setText(referral->code);
        m_invited->setText(number(referral->invited));
        m_paid->setText(number(referral->paid));
        m_days->setText(number(referral->days));
    }
    m_promo->setVisible(me && me->promo_available);

    for (const Switch& item : m_switches)
        item.box->setChecked(item.read());
    refreshTunnelMode();

    const bool available = m_updater.hasAvailable();
    const int progress = m_updater.progress();
    m_updateTitle->setVisible(available);
    m_updateTitle->setText(QStringLiteral("Есть версия ") + m_updater.availableVersionName());
    m_updateNotes->setText(m_updater.availableNotes());
    m_updateNotes->setVisible(available && !m_updater.availableNotes().isEmpty());
    const bool packaged = m_updater.packageManaged();
    m_install->setVisible(available && progress < 0 && !packaged);
    m_packageNote->setVisible(available && packaged);
    m_progressRow->setVisible(available && progress >= 0);
    m_progress->setValue(qBound(0, progress, 100));
    m_progressText->setText(QStringLiteral("Обновляю: ") + number(progress) + QStringLiteral(" %"));
    m_current->setVisible(!available);
    m_current->setText(QStringLiteral("Версия ") + m_store.appVersion() + QStringLiteral(" — самая свежая"));
    m_check->setVisible(!available);
    m_updateMessage->setVisible(m_updater.hasMessage());
    m_updateMessage->setText(m_updater.messageText());
    m_autoUpdate->setChecked(m_store.autoUpdate());
    m_autoUpdate->setVisible(!packaged);
}

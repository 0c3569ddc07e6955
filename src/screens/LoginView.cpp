#include "LoginView.h"

#include "Brand.h"
#include "BrandButton.h"
#include "GlowMascot.h"
#include "ScreenText.h"
#include "device/Store.h"
#include "model/AppModel.h"
#include "platform/Defaults.h"
#include "platform/Desktop.h"
#include "platform/MainTask.h"

#include <QLabel>
#include <QLineEdit>
#include <QLinearGradient>
#include <QPainter>
#include <QPushButton>
#include <QTextBoundaryFinder>
#include <QVBoxLayout>

namespace {

constexpr qsizetype minimumPassword = 8;

QLineEdit* field(QWidget* parent, const QString& name, const QString& placeholder) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setPlaceholderText(placeholder);
    edit->setAccessibleName(placeholder);
    edit->setFixedHeight(38);
    edit->setFrame(false);
    edit->setStyleSheet(QStringLiteral("QLineEdit { background: rgba(29,29,31,15); border: none; "
                                       "border-radius: 9px; padding: 0 12px; }"
                                       "QLineEdit:focus { background: rgba(29,29,31,22); }"));
    return edit;
}

} // namespace

qsizetype LoginView::perceivedLength(const QString& text) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() > 0)
        ++count;
    return count;
}

LoginView::LoginView(AppModel& model, Store& store, Desktop& desktop, QWidget* parent)
    : QWidget(parent), m_model(model), m_desktop(desktop) {
    setObjectName(QStringLiteral("signInScreen"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(34, 36, 34, 24);
    column->setSpacing(0);

    column->addWidget(new GlowMascot(128, this), 0, Qt::AlignHCenter);
    column->addSpacing(12);
    m_title = screenLabel(this, QStringLiteral("loginTitle"), 28, QFont::DemiBold);
    m_title->setAlignment(Qt::AlignHCenter);
    column->addWidget(m_title);
    column->addSpacing(6);
    m_subtitle =
        screenLabel(this, QStringLiteral("loginSubtitle"), 14, QFont::Normal, Brand::secondaryText());
    m_subtitle->setAlignment(Qt::AlignHCenter);
    column->addWidget(m_subtitle);
    column->addSpacing(22);

    m_email = field(this, QStringLiteral("emailField"), QStringLiteral("Почта"));
    m_email->setText(store.d().string(QStringLiteral("email")).value_or(QString()));
    m_password = field(this, QStringLiteral("passwordField"), QStringLiteral("Пароль"));
    m_password->setEchoMode(QLineEdit::Password);
    m_main = new BrandButton({}, BrandButton::Fill::Filled, this);
    m_main->setObjectName(QStringLiteral("mainButton"));
    m_telegram = new BrandButton(QStringLiteral("Войти через Telegram"), BrandButton::Fill::Unfilled, this);
    m_telegram->setObjectName(QStringLiteral("telegramButton"));
    for (QWidget* part : std::initializer_list<QWidget*>{m_email, m_password, m_main, m_telegram}) {
        column->addWidget(part);
        column->addSpacing(10);
    }

    m_mode = new QPushButton(this);
    m_mode->setObjectName(QStringLiteral("modeButton"));
    m_mode->setFlat(true);
    m_mode->setCursor(Qt::PointingHandCursor);
    m_mode->setStyleSheet(QStringLiteral("QPushButton { border: none; color: %1; padding: 4px; }"
                                         "QPushButton:focus { text-decoration: underline; }")
                              .arg(Brand::brand().darker(115).name()));
    column->addWidget(m_mode, 0, Qt::AlignHCenter);
    column->addSpacing(8);
    m_error = screenLabel(this, QStringLiteral("loginError"), 14, QFont::Normal, failureRed());
    m_error->setAlignment(Qt::AlignHCenter);
    column->addWidget(m_error);
    column->addStretch(1);

    connect(m_main, &QPushButton::clicked, this, &LoginView::pressMain);
    connect(m_password, &QLineEdit::returnPressed, this, [this] {
        if (mainEnabled())
            m_main->click();
    });
    connect(m_telegram, &QPushButton::clicked, this, [this] {
        startMainTask(m_model.signInWithTelegram([this](QUrl url) { m_desktop.openUrl(url); }));
    });
    connect(m_mode, &QPushButton::clicked, this, [this] {
        m_creating = !m_creating;
        refresh();
    });

    // Render now, then follow what the screen shows.
    refresh();
    for (auto signal : {&AppModel::busyChanged, &AppModel::errorChanged})
        connect(&m_model, signal, this, &LoginView::refresh);
    for (QLineEdit* edit : {m_email, m_password})
        connect(edit, &QLineEdit::textChanged, this, &LoginView::refresh);
}

bool LoginView::mainEnabled() const {
    if (m_model.busy())
        return false;
    if (!m_email->text().contains(u'@'))
        return false;
    return perceivedLength(m_password->text()) >= minimumPassword;
}

void LoginView::pressMain() {
    const QString email = m_email->text();
    const QString password = m_password->text();
    startMainTask(m_creating ? m_model.signUp(email, password) : m_model.signIn(email, password));
}

void LoginView::refresh() {
    m_title->setText(m_creating ? QStringLiteral("Заводим нору") : QStringLiteral("С возвращением"));
    m_subtitle->setText(m_creating ? QStringLiteral("Почта и пароль — подписка привяжется к аккаунту")
                                   : QStringLiteral("Войдите почтой или через Telegram"));
    m_main->setText(m_creating ? QStringLiteral("Создать аккаунт") : QStringLiteral("Войти"));
    m_main->setEnabled(mainEnabled());
    m_telegram->setEnabled(!m_model.busy());
    m_mode->setText(m_creating ? QStringLiteral("У меня уже есть аккаунт")
                               : QStringLiteral("Создать аккаунт"));
    const auto error = m_model.error();
    m_error->setText(error.value_or(QString()));
    m_error->setVisible(error.has_value());
}

void LoginView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    QLinearGradient wash(0, 0, 0, height() / 2.0);
    wash.setColorAt(0, Brand::tinted(Brand::brand(), 0.16));
    wash.setColorAt(1, Qt::transparent);
    painter.fillRect(rect(), wash);
}

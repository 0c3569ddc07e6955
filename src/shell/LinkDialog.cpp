#include "LinkDialog.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace {
const QString copyText = QStringLiteral("Копировать");
} // namespace

LinkDialog::LinkDialog(QWidget* parent)
    : QDialog(parent), m_link(new QLineEdit(this)), m_copy(new QPushButton(copyText, this)) {
    setObjectName(QStringLiteral("linkDialog"));
    setWindowTitle(QStringLiteral("Откройте ссылку в браузере"));
    auto* text = new QLabel(
        QStringLiteral("Не удалось открыть браузер. Скопируйте ссылку и откройте её в браузере сами:"), this);
    text->setWordWrap(true);
    m_link->setObjectName(QStringLiteral("linkText"));
    m_link->setReadOnly(true);
    m_link->setAccessibleName(QStringLiteral("Ссылка"));
    m_link->setMinimumWidth(360);
    m_copy->setObjectName(QStringLiteral("copyLink"));
    auto* close = new QPushButton(QStringLiteral("Закрыть"), this);
    close->setObjectName(QStringLiteral("closeLink"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_copy);
    buttons->addWidget(close);
    auto* column = new QVBoxLayout(this);
    column->addWidget(text);
    column->addWidget(m_link);
    column->addLayout(buttons);

    connect(m_copy, &QPushButton::clicked, this, [this] {
        QGuiApplication::clipboard()->setText(m_link->text());
        m_copy->setText(QStringLiteral("Скопировано"));
    });
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
}

void LinkDialog::showLink(const QUrl& url) {
    m_link->setText(url.toString(QUrl::FullyEncoded));
    m_link->selectAll();
    m_copy->setText(copyText);
    show();
    raise();
    activateWindow();
}

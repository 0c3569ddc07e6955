#include "DevicesView.h"

#include "Brand.h"
#include "Card.h"
#include "ScreenHeader.h"
#include "ScreenText.h"
#include "ScrollScreen.h"
#include "model/AppModel.h"
#include "platform/MainTask.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QString detailsLine(const Device& device) {
    QStringList parts;
    for (const auto& part : {device.os, device.version})
        if (part)
            parts.append(*part);
    return parts.join(u' ');
}

} // namespace

DevicesView::DevicesView(AppModel& model, QString localHwid, QWidget* parent)
    : QWidget(parent), m_model(model), m_localHwid(std::move(localHwid)) {
    setObjectName(QStringLiteral("devicesScreen"));
    QVBoxLayout* column = scrollColumn(this);
    QWidget* content = column->parentWidget();
    m_header = new ScreenHeader(QStringLiteral("Устройства"), {}, content);
    addInset(column, m_header);
    column->addSpacing(6);
    m_cards = new QVBoxLayout;
    m_cards->setSpacing(0);
    column->addLayout(m_cards);
    m_empty = screenLabel(content, QStringLiteral("devicesEmpty"), 13, QFont::Normal, Brand::secondaryText());
    m_empty->setText(QStringLiteral("Пока ни одного устройства"));
    addInset(column, m_empty);
    column->addStretch(1);

    refresh();
    connect(&m_model, &AppModel::meChanged, this, &DevicesView::refresh);
}

void DevicesView::refresh() {
    const auto me = m_model.me();
    m_header->setSubtitle(
        QStringLiteral("занято %1 из %2").arg(me ? me->devices_used : 0).arg(me ? me->devices_limit : 1));

    while (QLayoutItem* item = m_cards->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    const QList<Device> devices = me ? me->devices : QList<Device>{};
    QWidget* content = m_empty->parentWidget();
    for (qsizetype i = 0; i < devices.size(); ++i) {
        const Device& device = devices[i];
        auto* card = new Card(content);
        card->setObjectName(QStringLiteral("device_%1").arg(i));
        auto* row = new QHBoxLayout;
        auto* texts = new QVBoxLayout;
        texts->setSpacing(2);
        QLabel* name = screenLabel(card, QStringLiteral("deviceName"), 13, QFont::Medium);
        QString title = device.model.value_or(QStringLiteral("Устройство"));
        if (device.hwid && *device.hwid == m_localHwid)
            title += QStringLiteral(" · этот компьютер");
        name->setText(title);
        QLabel* details =
            screenLabel(card, QStringLiteral("deviceDetails"), 12, QFont::Normal, Brand::secondaryText());
        details->setText(detailsLine(device));
        texts->addWidget(name);
        texts->addWidget(details);
        row->addLayout(texts, 1);
        auto* unbind = new QPushButton(QStringLiteral("Отвязать"), card);
        unbind->setObjectName(QStringLiteral("unbindButton"));
        const std::optional<QString> hwid = device.hwid;
        connect(unbind, &QPushButton::clicked, this, [this, hwid] {
            if (hwid)
                startMainTask(m_model.unbind(*hwid));
        });
        row->addWidget(unbind, 0, Qt::AlignVCenter);
        card->body()->addLayout(row);
        m_cards->addWidget(card);
    }
    m_empty->setVisible(devices.isEmpty());
}

#include "Segmented.h"

#include "Brand.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QPushButton>

namespace {

QString segmentStyle() {
    const QColor brand = Brand::brand();
    return QStringLiteral("QPushButton { border: 1px solid rgba(29,29,31,28); border-left: none; "
                          "background: rgba(29,29,31,10); padding: 5px 0; min-width: 24px; color: #1d1d1f; }"
                          "QPushButton[first=\"true\"] { border-left: 1px solid rgba(29,29,31,28); "
                          "border-top-left-radius: 8px; border-bottom-left-radius: 8px; }"
                          "QPushButton[last=\"true\"] { border-top-right-radius: 8px; "
                          "border-bottom-right-radius: 8px; }"
                          "QPushButton:checked { background: %1; color: white; font-weight: 600; }"
                          "QPushButton:focus { border: 2px solid %2; }")
        .arg(brand.name(), brand.darker(140).name());
}

} // namespace

Segmented::Segmented(const QStringList& labels, const QList<int>& values, QWidget* parent)
    : QWidget(parent), m_group(new QButtonGroup(this)) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    setStyleSheet(segmentStyle());
    for (qsizetype i = 0; i < labels.size(); ++i) {
        auto* segment = new QPushButton(labels[i], this);
        segment->setObjectName(QStringLiteral("segment") + QString::number(values[i]));
        segment->setCheckable(true);
        segment->setAccessibleName(labels[i]);
        segment->setProperty("first", i == 0);
        segment->setProperty("last", i == labels.size() - 1);
        segment->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        segment->setCursor(Qt::PointingHandCursor);
        m_group->addButton(segment, values[i]);
        row->addWidget(segment);
    }
    connect(m_group, &QButtonGroup::idClicked, this, &Segmented::chosen);
}

std::optional<int> Segmented::value() const {
    if (!m_group->checkedButton())
        return std::nullopt;
    return m_group->checkedId();
}

void Segmented::setValue(int value) {
    QAbstractButton* wanted = m_group->button(value);
    if (wanted) {
        m_group->setExclusive(true);
        wanted->setChecked(true);
        return;
    }
    // An exclusive group keeps one button on; let go of it to show none.
    m_group->setExclusive(false);
    for (QAbstractButton* button : m_group->buttons())
        button->setChecked(false);
    m_group->setExclusive(true);
}

QPushButton* Segmented::segment(int value) const {
    return qobject_cast<QPushButton*>(m_group->button(value));
}

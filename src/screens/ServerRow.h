#pragma once

#include "service/ServerProfile.h"

#include <QAbstractButton>

// One server in the server card: its name, and when chosen a brand check mark on a brand tint.
// The whole row is the button.
class ServerRow : public QAbstractButton {
    Q_OBJECT
public:
    ServerRow(const ServerProfile& profile, bool selected, QWidget* parent = nullptr);

    const ServerProfile& profile() const { return m_profile; }
    bool selected() const { return m_selected; }
    void setSelected(bool selected);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    ServerProfile m_profile;
    bool m_selected = false;
    bool m_hover = false;
};

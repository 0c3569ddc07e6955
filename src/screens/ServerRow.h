#pragma once

#include "service/ServerProfile.h"

#include <QAbstractButton>

// One server in the server card: its name, and when chosen a brand check mark on a brand tint.
// The server that carries the tunnel when it is not the chosen one (after a fail-over) says so
// in brand letters. The whole row is the button.
class ServerRow : public QAbstractButton {
    Q_OBJECT
public:
    ServerRow(const ServerProfile& profile, bool selected, QWidget* parent = nullptr);

    const ServerProfile& profile() const { return m_profile; }
    bool selected() const { return m_selected; }
    void setSelected(bool selected);
    bool carrying() const { return m_carrying; }
    void setCarrying(bool carrying);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    ServerProfile m_profile;
    void updateAccessibleName();

    bool m_selected = false;
    bool m_carrying = false;
    bool m_hover = false;
};
